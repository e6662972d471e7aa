// Crashes a child process on purpose and reads the report it left. Kept out of
// the sanitizer preset (the sanitizer's own handlers would take the signals)
// and skipped under a tracer, which would see the signals first.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CrashReportFixtures.h"
#include "crashreporter/Source/DCRCrashProcessInfo.h"
#include "crashreporter/Source/DCRCrashReport.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/Source/DCRCrashReportTextFormatter.h"
#include "tests/support/TemporaryDirectory.h"

extern char** environ;

namespace crashreporter {
namespace {

struct ChildResult {
  bool exited = false;     // within the time limit
  int status = 0;
  std::vector<std::uint8_t> report;
};

std::string runCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  std::array<char, 4096> buffer;
  while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
  pclose(pipe);
  return output;
}

class CrashCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto self = DCRCrashProcessInfo::currentProcessInfo();
    if (self && self->isTraced()) GTEST_SKIP() << "a tracer would take the child's signals";
  }

  ChildResult crash(const std::string& mode) {
    ChildResult result;
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("XDG_CACHE_HOME=", 0) != 0) environment.emplace_back(*e);
    }
    environment.push_back("XDG_CACHE_HOME=" + cache_.path().string());
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = CRASH_TEST_CHILD;
    std::string argument = mode;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return result;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd wait{pidfd, POLLIN, 0};
    result.exited = pidfd >= 0 && poll(&wait, 1, 10000) == 1;
    if (!result.exited) kill(pid, SIGKILL);
    waitpid(pid, &result.status, 0);
    if (pidfd >= 0) close(pidfd);
    std::ifstream in(reportPath(), std::ios::binary);
    result.report.assign(std::istreambuf_iterator<char>(in), {});
    return result;
  }

  std::filesystem::path reportPath() const {
    return cache_.path() / "CrashReporterData" / "com.dirarovazovo_crash-child" / "zira_report.drcrash";
  }

  std::shared_ptr<const DCRCrashReport> read(const ChildResult& result) {
    auto report = DCRCrashReport::initWithData(result.report);
    EXPECT_TRUE(report.ok()) << (report.ok() ? "" : report.error().localizedDescription) << " (" << result.report.size()
                             << " bytes)";
    return report.ok() ? *report : nullptr;
  }

  testing_support::TemporaryDirectory cache_;
};

std::vector<std::shared_ptr<const DCRCrashReportThreadInfo>> crashedThreads(const DCRCrashReport& report) {
  std::vector<std::shared_ptr<const DCRCrashReportThreadInfo>> crashed;
  for (const auto& thread : report.threads()) {
    if (thread->crashed()) crashed.push_back(thread);
  }
  return crashed;
}

// [start, end) of a function of crash-child, relative to its load address.
std::pair<std::uint64_t, std::uint64_t> functionRange(const std::string& name) {
  const std::string listing = runCommand(std::string(CRASH_TEST_NM) + " -S " + CRASH_TEST_CHILD);
  const auto at = listing.find(" " + name + "\n");
  if (at == std::string::npos) return {0, 0};
  const auto lineStart = listing.rfind('\n', at) + 1;
  unsigned long long value = 0, size = 0;
  std::sscanf(listing.c_str() + lineStart, "%llx %llx", &value, &size);
  return {value, value + size};
}

TEST_F(CrashCaptureTest, NullDereferenceLeavesAReportOfTheCrashedThread) {
  const ChildResult result = crash("segv");
  ASSERT_TRUE(result.exited);
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  EXPECT_LE(result.report.size(), 262144u);
  const auto report = read(result);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
  EXPECT_EQ(report->signalInfo()->code(), "SEGV_MAPERR");
  EXPECT_EQ(report->signalInfo()->address(), 0u);
  ASSERT_TRUE(report->uuidRef());
  ASSERT_EQ(report->threads().size(), 1u);
  const auto& thread = *report->threads()[0];
  EXPECT_EQ(thread.threadNumber(), 0);
  EXPECT_TRUE(thread.crashed());
  ASSERT_EQ(thread.registers().size(), 21u);
  EXPECT_EQ(thread.registers()[0].registerName(), "rip");
  ASSERT_FALSE(thread.stackFrames().empty());
  const std::uint64_t pc = thread.stackFrames()[0].instructionPointer();
  EXPECT_EQ(thread.registers()[0].registerValue(), pc);
  const auto image = report->imageForAddress(pc);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->imageName(), std::string(CRASH_TEST_CHILD));
  const auto [start, end] = functionRange("crashChildNullDereference");
  ASSERT_NE(end, 0u);
  EXPECT_GE(pc - image->imageBaseAddress(), start);
  EXPECT_LT(pc - image->imageBaseAddress(), end);
  EXPECT_GE(thread.stackFrames().size(), 3u) << "the walk goes on past the crashing function";
  const auto& symbol = thread.stackFrames()[0].symbolInfo();
  ASSERT_TRUE(symbol) << "frames are named from the dynamic symbols";
  EXPECT_EQ(symbol->symbolName(), "crashChildNullDereference");
  EXPECT_EQ(symbol->startAddress() - image->imageBaseAddress(), start);

  const std::string notes = runCommand(std::string("readelf -n ") + CRASH_TEST_CHILD);
  const auto at = notes.find("Build ID: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(image->imageUUID(), notes.substr(at + 10, 32));

  // protoc reads the same file: a crash, not a report the program asked for.
  const std::string decoded = crash_test::decodeMessage(
      crash_test::Bytes(result.report.begin() + kDrcrashHeaderLength, result.report.end()));
  EXPECT_NE(decoded.find("user_requested: false"), std::string::npos) << decoded.substr(0, 2000);
  EXPECT_NE(decoded.find("signal {\n  name: \"SIGSEGV\"\n  code: \"SEGV_MAPERR\"\n  address: 0\n"), std::string::npos)
      << decoded.substr(0, 2000);

  EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), "com.dirarovazovo/crash-child");
  EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), "1.2");
  EXPECT_EQ(report->processInfo()->processName(), "crash-child");
  EXPECT_EQ(report->systemInfo()->operatingSystem(), DCRCrashReportSystemInfo::OSUnknown);
  EXPECT_EQ(report->machineInfo()->processorInfo()->type(), 16777223u);
  const std::string text = DCRCrashReportTextFormatter::stringValueForCrashReport(*report, 0);
  EXPECT_NE(text.find("Exception Type:  SIGSEGV"), std::string::npos);
}

TEST_F(CrashCaptureTest, EachCrashNamesItsSignalAndCode) {
  const struct {
    const char* mode;
    int signal;
    const char* name;
    const char* code;
  } cases[] = {
      {"abort", SIGABRT, "SIGABRT", "#-6"},
      {"fpe", SIGFPE, "SIGFPE", "FPE_INTDIV"},
      {"trap", SIGILL, "SIGILL", "ILL_ILLOPN"},
      {"bus", SIGBUS, "SIGBUS", "BUS_ADRERR"},
      {"ignored", SIGSEGV, "SIGSEGV", "SEGV_MAPERR"},
      {"default", SIGSEGV, "SIGSEGV", "SEGV_MAPERR"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(reportPath());
    const ChildResult result = crash(c.mode);
    ASSERT_TRUE(result.exited) << c.mode;
    ASSERT_TRUE(WIFSIGNALED(result.status)) << c.mode;
    EXPECT_EQ(WTERMSIG(result.status), c.signal) << c.mode;
    const auto report = read(result);
    ASSERT_TRUE(report) << c.mode;
    EXPECT_EQ(report->signalInfo()->name(), c.name) << c.mode;
    EXPECT_EQ(report->signalInfo()->code(), c.code) << c.mode;
  }
}

TEST_F(CrashCaptureTest, PassesTheSignalToTheHandlerInstalledBefore) {
  const ChildResult result = crash("previous-handler");
  ASSERT_TRUE(result.exited);
  ASSERT_TRUE(WIFEXITED(result.status));
  EXPECT_EQ(WEXITSTATUS(result.status), 42);
  EXPECT_TRUE(read(result));
}

TEST_F(CrashCaptureTest, ACallbackThatDeclinesEndsTheProcessWithoutAReport) {
  const ChildResult result = crash("declined");
  ASSERT_TRUE(result.exited) << "the default action ends the process; the handler never runs again";
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  EXPECT_TRUE(result.report.empty()) << "the reporter's callback came after the one that declined";
}

TEST_F(CrashCaptureTest, ReportsAStackOverflowOnAPlatformThread) {
  const ChildResult result = crash("overflow-thread");
  ASSERT_TRUE(result.exited);
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  const auto report = read(result);
  ASSERT_TRUE(report);
  ASSERT_EQ(report->threads().size(), 2u) << "the main thread and the overflowing one";
  const auto crashed = crashedThreads(*report);
  ASSERT_EQ(crashed.size(), 1u);
  EXPECT_EQ(crashed[0]->stackFrames().size(), 512u) << "the walk stops at 512 frames";
  EXPECT_EQ(crashed[0]->threadNumber(), 1) << "threads in the kernel's order: the main thread first";
}

TEST_F(CrashCaptureTest, RecordsAnUncaughtExceptionOnce) {
  const ChildResult result = crash("exception");
  ASSERT_TRUE(result.exited);
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGABRT);
  const auto report = read(result);
  ASSERT_TRUE(report);
  ASSERT_TRUE(report->hasExceptionInfo());
  EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
  EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "cue list is empty");
  ASSERT_TRUE(report->exceptionInfo()->stackFrames());
}

TEST_F(CrashCaptureTest, TwoFaultingThreadsWriteOneReport) {
  const ChildResult result = crash("two-threads");
  ASSERT_TRUE(result.exited) << "the second thread must not hang the process";
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  const auto report = read(result);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->threads().size(), 3u);
  EXPECT_EQ(crashedThreads(*report).size(), 1u) << "one report, one crashed thread";
}

TEST_F(CrashCaptureTest, CapturesEveryThreadOfTheProcess) {
  const ChildResult result = crash("threads-64");
  ASSERT_TRUE(result.exited);
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  EXPECT_LE(result.report.size(), 262144u);
  const auto report = read(result);
  ASSERT_TRUE(report);
  const auto& threads = report->threads();
  ASSERT_EQ(threads.size(), 65u) << "the main thread and the 64 parked ones";
  std::size_t crashed = 0, parkedAndNamed = 0;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    EXPECT_EQ(threads[i]->threadNumber(), static_cast<std::int64_t>(i));
    if (threads[i]->crashed()) {
      ++crashed;
      EXPECT_FALSE(threads[i]->registers().empty());
      continue;
    }
    EXPECT_TRUE(threads[i]->registers().empty()) << "registers only for the crashed thread";
    const auto& frames = threads[i]->stackFrames();
    if (frames.empty()) continue;
    std::size_t deep = 0;
    for (const auto& frame : frames) {
      if (frame.symbolInfo() && frame.symbolInfo()->symbolName() == "crashChildParkDeep") ++deep;
    }
    // Frames were cut to fit the size limit, evenly across the parked threads.
    if (deep + 1 >= frames.size() / 2 && deep > 0) ++parkedAndNamed;
  }
  EXPECT_EQ(crashed, 1u);
  EXPECT_EQ(parkedAndNamed, 64u) << "every parked thread answered the capture and was walked";
}

TEST_F(CrashCaptureTest, SecondEnableInOneProcessIsRefused) {
  const ChildResult result = crash("enable-twice");
  ASSERT_TRUE(result.exited);
  ASSERT_TRUE(WIFEXITED(result.status));
  EXPECT_EQ(WEXITSTATUS(result.status), 0);
  EXPECT_TRUE(std::filesystem::is_directory(reportPath().parent_path() / "queued_reports"));
}

}  // namespace
}  // namespace crashreporter
