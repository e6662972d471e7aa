// Two launches of a program with the crash service: the first buffers five
// logs while the server refuses them and crashes; the second turns the pending
// report into one crash log, replays the buffer and leaves nothing behind.
// Kept out of the sanitizer preset (its handlers would take the child's signals).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "crashreporter/Source/DCRCrashProcessInfo.h"
#include "crashreporter/Source/DCRCrashReport.h"
#include "nlohmann/json.hpp"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::crashes {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

class CrashServiceEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto self = crashreporter::DCRCrashProcessInfo::currentProcessInfo();
    if (self && self->isTraced()) GTEST_SKIP() << "a tracer would take the child's signals";
  }

  // Runs the child in the shared home; its exit status.
  std::optional<int> launch(const std::string& mode, const std::string& url, std::string* output = nullptr,
                            const std::string& extra = "0") {
    std::string error;
    const fs::path home = home_.path();
    auto child = testing_support::ChildProcess::start(
        {CRASH_SERVICE_CHILD, mode, url, extra},
        {{"HOME", home.string()},
         {"XDG_CACHE_HOME", (home / "cache").string()},
         {"XDG_DATA_HOME", (home / "data").string()},
         {"XDG_CONFIG_HOME", (home / "config").string()}},
        &error);
    EXPECT_TRUE(child) << error;
    if (!child) return std::nullopt;
    EXPECT_TRUE(child->signalAndWaitForExit(0, std::chrono::seconds(40))) << mode << " did not end";
    if (output) *output = child->standardOutput();
    if (!child->exitStatus()) ADD_FAILURE() << mode << ": " << child->standardError();
    return child->exitStatus();
  }

  fs::path sdkFolder() const {
    for (const auto& entry : fs::recursive_directory_iterator(home_.path() / "data")) {
      if (entry.path().filename() == "TelemetryCore") return entry.path();
    }
    return {};
  }

  static std::vector<std::pair<std::string, nlohmann::json>> logsOf(const testing_support::HttpCaptureServer& server) {
    std::vector<std::pair<std::string, nlohmann::json>> logs;
    for (const auto& request : server.requests()) {
      std::string body = request.body;
      if (request.header("Content-Encoding") == "gzip") {
        testing_support::TemporaryDirectory folder;
        std::ofstream(folder.path() / "body.gz", std::ios::binary) << body;
        body = run("gzip -dc '" + (folder.path() / "body.gz").string() + "'");
      }
      const auto parsed = nlohmann::json::parse(body, nullptr, false);
      if (parsed.is_object() && parsed.contains("logs")) {
        for (const auto& log : parsed["logs"]) logs.emplace_back(request.path, log);
      }
    }
    return logs;
  }

  // Run 1: five logs wait in the buffer while the server refuses, then the crash.
  void crashOnce() {
    testing_support::HttpCaptureServer refusing(R"([{"status":503}])");
    const auto status = launch("crash", refusing.baseUrl());
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGSEGV);
  }

  // A launch that stores what it can and exits; its printed lines.
  std::string storeAndExit(const std::string& url, std::int64_t maxStorageBytes = 0) {
    std::string output;
    const auto status = launch("store", url, &output, std::to_string(maxStorageBytes));
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << output;
    return output;
  }

  // A launch that must deliver the crash log; the crash logs the server got.
  std::vector<nlohmann::json> deliver() {
    testing_support::HttpCaptureServer server;
    std::string output;
    const auto status = launch("deliver", server.baseUrl(), &output);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << output;
    std::vector<nlohmann::json> crashLogs;
    for (const auto& [path, log] : logsOf(server)) {
      if (log.value("type", "") == "appleError") crashLogs.push_back(log);
    }
    return crashLogs;
  }

  fs::path pendingReport() const {
    return home_.path() / "cache" / "CrashReporterData" / "crash-service-child" / "zira_report.drcrash";
  }

  testing_support::TemporaryDirectory home_;
};

TEST_F(CrashServiceEndToEndTest, ACrashAndItsBufferedLogsArriveOnceAtTheNextLaunch) {
  ASSERT_NO_FATAL_FAILURE(crashOnce());
  const fs::path sdk = sdkFolder();
  ASSERT_FALSE(sdk.empty());

  testing_support::HttpCaptureServer server;
  std::string output;
  const auto status = launch("deliver", server.baseUrl(), &output);
  ASSERT_TRUE(status && WIFEXITED(*status)) << output;
  EXPECT_EQ(WEXITSTATUS(*status), 0) << output;
  EXPECT_NE(output.find("crashed-last-session 1"), std::string::npos) << output;

  int crashLogs = 0;
  std::map<std::string, int> buffered;
  for (const auto& [path, log] : logsOf(server)) {
    if (log.value("type", "") == "appleError") {
      ++crashLogs;
      EXPECT_NE(path.find("/logs"), std::string::npos) << path;
      EXPECT_EQ(log["fatal"], true);
      EXPECT_EQ(log["osExceptionType"], "SIGSEGV");
      EXPECT_EQ(log["sid"], "session-1") << log.dump();
      EXPECT_EQ(log["userId"], "user-1");
    } else if (log.value("type", "") == "event") {
      ++buffered[log["properties"]["name"].get<std::string>()];
    }
  }
  EXPECT_EQ(crashLogs, 1);
  ASSERT_EQ(buffered.size(), 5u);
  for (const auto& [name, count] : buffered) EXPECT_EQ(count, 1) << name;

  EXPECT_TRUE(fs::is_empty(sdk / "crashes"));
  for (const auto& entry : fs::directory_iterator(sdk / "crasheslogbuffer")) {
    EXPECT_NE(entry.path().extension(), ".targettoken") << entry.path();
    EXPECT_EQ(fs::file_size(entry.path()), 0u) << entry.path();
  }
  EXPECT_EQ(run("sqlite3 '" + (sdk / "Logs.sqlite").string() + "' 'SELECT COUNT(*) FROM logs;'"), "0\n");
}

}  // namespace
}  // namespace telemetry::crashes

namespace telemetry::crashes {
namespace {

// Nothing of a crash is lost: each way a launch can fail to pass the crash on
// leaves it for the launch after, which then delivers exactly one crash log.
TEST_F(CrashServiceEndToEndTest, ACrashFolderThatCannotBeWrittenKeepsThePendingReport) {
  ASSERT_NO_FATAL_FAILURE(crashOnce());
  const fs::path crashes = sdkFolder() / "crashes";
  // A file in the folder's place: no write can succeed there, even for root.
  fs::remove_all(crashes);
  std::ofstream(crashes) << "in the way";
  testing_support::HttpCaptureServer refusing(R"([{"status":503}])");
  const std::string output = storeAndExit(refusing.baseUrl());
  EXPECT_NE(output.find("crash-files 0\nstored-crash-logs 0"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(pendingReport()));

  fs::remove(crashes);
  const auto crashLogs = deliver();
  ASSERT_EQ(crashLogs.size(), 1u);
  EXPECT_EQ(crashLogs[0]["sid"], "session-1");
  EXPECT_FALSE(fs::exists(pendingReport()));
}

TEST_F(CrashServiceEndToEndTest, ACrashLogRefusedBySendingStaysStoredForTheNextLaunch) {
  ASSERT_NO_FATAL_FAILURE(crashOnce());
  testing_support::HttpCaptureServer refusing(R"([{"status":503}])");
  const std::string output = storeAndExit(refusing.baseUrl());
  EXPECT_NE(output.find("crash-files 0\nstored-crash-logs 1"), std::string::npos) << output;

  const auto crashLogs = deliver();
  ASSERT_EQ(crashLogs.size(), 1u);
  EXPECT_EQ(crashLogs[0]["userId"], "user-1");
}

TEST_F(CrashServiceEndToEndTest, ACrashLogTheStoreRefusesKeepsItsCrashFile) {
  ASSERT_NO_FATAL_FAILURE(crashOnce());
  // A store of ten pages cannot take a crash log of several dozen kilobytes.
  testing_support::HttpCaptureServer refusing(R"([{"status":503}])");
  const std::string output = storeAndExit(refusing.baseUrl(), 40960);
  EXPECT_NE(output.find("crash-files 1\nstored-crash-logs 0"), std::string::npos) << output;
  EXPECT_EQ(std::distance(fs::directory_iterator(sdkFolder() / "crashes"), fs::directory_iterator()), 1);

  const auto crashLogs = deliver();
  ASSERT_EQ(crashLogs.size(), 1u);
  EXPECT_TRUE(fs::is_empty(sdkFolder() / "crashes"));
}

}  // namespace
}  // namespace telemetry::crashes

namespace telemetry::crashes {
namespace {

// An uncaught C++ exception is reported under its own type, with the stack of
// its throw, also when the C++ runtime library itself throws, and so is one
// the application object caught around an event handler and forwarded.
TEST_F(CrashServiceEndToEndTest, AnUncaughtExceptionIsReportedWithTheStackOfItsThrow) {
  struct Case {
    const char* mode;
    const char* type;
    const char* reason;
  };
  for (const Case& c : {Case{"runtime-error", "std::runtime_error", "boom"},
                        Case{"out-of-range", "std::out_of_range", nullptr},
                        Case{"event-exception", "std::runtime_error", "boom"}}) {
    SCOPED_TRACE(c.mode);
    std::string output;
    testing_support::HttpCaptureServer server;
    const auto status = launch(c.mode, server.baseUrl(), &output);
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT) << output;
    const std::uint64_t thrower = std::stoull(output.substr(output.find("thrower ") + 8), nullptr, 16);
    const std::uint64_t caller = std::stoull(output.substr(output.find("caller ") + 7), nullptr, 16);
    const std::uint64_t end = caller > thrower ? std::min(caller, thrower + 256) : thrower + 256;

    std::ifstream in(pendingReport(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const auto report = crashreporter::DCRCrashReport::initWithData(bytes);
    ASSERT_TRUE(report.ok());
    const auto& exception = (*report)->exceptionInfo();
    ASSERT_TRUE(exception);
    EXPECT_EQ(exception->exceptionName(), c.type);
    if (c.reason) {
      EXPECT_EQ(exception->exceptionReason(), c.reason);
    }
    ASSERT_TRUE(exception->stackFrames());
    bool throwSite = false;
    for (const auto& frame : *exception->stackFrames()) {
      throwSite |= frame.instructionPointer() > thrower && frame.instructionPointer() < end;
    }
    EXPECT_TRUE(throwSite) << "no frame in the throwing function at " << std::hex << thrower;
    fs::remove(pendingReport());
  }
}

}  // namespace
}  // namespace telemetry::crashes
