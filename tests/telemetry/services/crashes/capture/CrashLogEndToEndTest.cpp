// From a real crash to the crash log: crash-child crashes with the reporter
// enabled, its pending report is decoded and formatted, and the log's compact
// JSON is checked, then read back from the telemetry archive. Kept out of the
// sanitizer preset (its handlers would take the child's signals).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

#include "crashreporter/Source/DCRCrashProcessInfo.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLCrashesArchiveClasses.h"
#include "telemetry/services/crashes/logs/DRTLErrorLogFormatter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::crashes {
namespace {

std::string runReadelfNotes() {
  std::string output;
  if (FILE* pipe = popen("readelf -n " CRASH_TEST_CHILD, "r")) {
    char buffer[4096];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

class CrashLogEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto self = crashreporter::DCRCrashProcessInfo::currentProcessInfo();
    if (self && self->isTraced()) GTEST_SKIP() << "a tracer would take the child's signals";
    registerCrashesArchiveClasses();
  }

  // Crashes the child; its decoded report, or none.
  std::shared_ptr<const crashreporter::DCRCrashReport> crash(const std::string& mode, int expectedSignal) {
    std::string error;
    auto child = testing_support::ChildProcess::start({CRASH_TEST_CHILD, mode},
                                                       {{"XDG_CACHE_HOME", cache_.path().string()}}, &error);
    EXPECT_TRUE(child) << error;
    if (!child) return nullptr;
    EXPECT_TRUE(child->signalAndWaitForExit(0, std::chrono::seconds(10))) << "the child did not end";
    const auto status = child->exitStatus();
    EXPECT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == expectedSignal) << mode;
    std::ifstream in(cache_.path() / "CrashReporterData" / "com.dirarovazovo_crash-child" / "zira_report.drcrash",
                     std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    auto report = crashreporter::DCRCrashReport::initWithData(bytes);
    EXPECT_TRUE(report.ok()) << mode;
    return report.ok() ? *report : nullptr;
  }

  testing_support::TemporaryDirectory cache_;
};

TEST_F(CrashLogEndToEndTest, NullDereferenceBecomesACrashLog) {
  const auto report = crash("segv", SIGSEGV);
  ASSERT_TRUE(report);
  // The child's folder two levels up stands for the user's home, wherever it lies.
  const std::filesystem::path child(CRASH_TEST_CHILD);
  const std::string home = child.parent_path().parent_path().string();
  const char* savedHome = std::getenv("HOME");
  const std::string saved = savedHome ? savedHome : "";
  setenv("HOME", home.c_str(), 1);
  const auto log = DRTLErrorLogFormatter::errorLogFromCrashReport(*report);
  setenv("HOME", saved.c_str(), 1);

  EXPECT_TRUE(log->isValid());
  const auto text = log->serializeLogWithPrettyPrinting(false);
  ASSERT_TRUE(text);
  const auto json = core::DRTLJSON::parse(*text);
  EXPECT_EQ(json["type"], "appleError");
  EXPECT_EQ(json["fatal"], true);
  EXPECT_EQ(json["osExceptionType"], "SIGSEGV");
  EXPECT_EQ(json["osExceptionCode"], "SEGV_MAPERR");
  EXPECT_EQ(json["osExceptionAddress"], "0x0");
  EXPECT_EQ(json["processName"], "crash-child");
  EXPECT_EQ(json["primaryArchitectureId"], 16777223u);
  ASSERT_EQ(json["threads"].size(), report->threads().size());
  const std::regex address("0x[0-9a-f]{16}");
  for (const auto& thread : json["threads"]) {
    EXPECT_FALSE(thread.contains("exception"));
    for (const auto& frame : thread["frames"]) {
      EXPECT_TRUE(std::regex_match(frame["address"].get<std::string>(), address)) << frame.dump();
    }
  }
  for (const auto& [name, value] : json["registers"].items()) {
    EXPECT_TRUE(std::regex_match(value.get<std::string>(), address)) << name;
  }
  const std::string anonymized = std::filesystem::path(home).parent_path().string() + "/USER/" +
                                 child.parent_path().filename().string() + "/crash-child";
  EXPECT_EQ(json["applicationPath"], anonymized);
  bool executableListed = false;
  for (const auto& binary : json["binaries"]) {
    if (binary["path"] != anonymized) continue;
    executableListed = true;
    EXPECT_EQ(binary["name"], "crash-child");
    const std::string notes = runReadelfNotes();
    EXPECT_NE(notes.find(binary["id"].get<std::string>()), std::string::npos) << "the build id readelf prints";
  }
  EXPECT_TRUE(executableListed);

  const auto archived = core::DRTLUtility::archiveKeyedData(log.get());
  const auto read = std::dynamic_pointer_cast<DRTLAppleErrorLog>(core::DRTLUtility::unarchiveKeyedData(archived));
  ASSERT_TRUE(read);
  EXPECT_TRUE(log->isEqual(read.get()));
}

TEST_F(CrashLogEndToEndTest, UncaughtExceptionRidesOnTheCrashedThreadOnly) {
  const auto report = crash("exception", SIGABRT);
  ASSERT_TRUE(report);
  const auto log = DRTLErrorLogFormatter::errorLogFromCrashReport(*report);
  EXPECT_EQ(log->exceptionType, "std::runtime_error");
  EXPECT_EQ(log->exceptionReason, "cue list is empty");
  std::size_t carrying = 0;
  for (const auto& thread : *log->threads) {
    if (!thread->exception) continue;
    ++carrying;
    EXPECT_EQ(thread->threadId, log->errorThreadId);
    EXPECT_FALSE(thread->exception->frames->empty());
  }
  EXPECT_EQ(carrying, 1u);
}

}  // namespace
}  // namespace telemetry::crashes
