// Live reports of the test process itself: the other threads are stopped by
// the capture signal, walked and let go again.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "CrashReportFixtures.h"
#include "crashreporter/Source/DCRCrashReport.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/Source/DCRCrashReporter.h"

namespace crashreporter {
namespace {

std::size_t threadsOfThisProcess() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// A thread parked two calls deep in a blocking call; it keeps the return
// address into its caller, which the walk of its captured state must reach.
class ParkedThread {
 public:
  explicit ParkedThread(bool blockSignals) {
    thread_ = std::thread([this, blockSignals] {
      if (blockSignals) {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
      }
      tid_.store(static_cast<pid_t>(syscall(SYS_gettid)));
      park(this);
    });
    while (tid_.load() == 0 || !parked_.load()) std::this_thread::yield();
  }
  ~ParkedThread() {
    release_.store(true);
    release_.notify_all();
    thread_.join();
  }
  pid_t tid() const { return tid_.load(); }
  std::uint64_t returnAddress() const { return returnAddress_.load(); }

 private:
  __attribute__((noinline)) static void park(ParkedThread* self) {
    self->returnAddress_.store(reinterpret_cast<std::uint64_t>(__builtin_return_address(0)));
    self->parked_.store(true);
    self->release_.wait(false);  // a futex wait in the kernel
    asm volatile("" ::: "memory");  // keeps the call from becoming a jump
  }

  std::atomic<pid_t> tid_{0};
  std::atomic<bool> parked_{false};
  std::atomic<bool> release_{false};
  std::atomic<std::uint64_t> returnAddress_{0};
  std::thread thread_;
};

std::shared_ptr<const DCRCrashReport> decode(const platform::Result<std::vector<std::uint8_t>>& bytes) {
  if (!bytes.ok()) {
    ADD_FAILURE() << bytes.error().localizedDescription;
    return nullptr;
  }
  auto report = DCRCrashReport::initWithData(*bytes);
  EXPECT_TRUE(report.ok());
  return report.ok() ? *report : nullptr;
}

DCRCrashReporter makeReporter() {
  return DCRCrashReporter("com.dirarovazovo/live-report-test", "1", std::nullopt, DCRCrashReporterConfig(0, 1, false));
}

TEST(LiveReportTest, ReportsAnotherThreadByIdWithItsCallers) {
  ParkedThread parked(false);
  DCRCrashReporter reporter = makeReporter();
  const auto report = decode(reporter.generateZiraReportWithThread(parked.tid()));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
  EXPECT_EQ(report->signalInfo()->code(), "TRAP_TRACE");
  EXPECT_EQ(report->threads().size(), threadsOfThisProcess() - 1) << "every thread but the calling one";
  std::shared_ptr<const DCRCrashReportThreadInfo> crashed;
  for (const auto& thread : report->threads()) {
    if (thread->crashed()) {
      EXPECT_FALSE(crashed) << "one crashed thread";
      crashed = thread;
    }
  }
  ASSERT_TRUE(crashed);
  EXPECT_FALSE(crashed->registers().empty());
  bool reachedCaller = false;
  for (const auto& frame : crashed->stackFrames()) reachedCaller |= frame.instructionPointer() == parked.returnAddress();
  EXPECT_TRUE(reachedCaller) << "the walk from the captured context reaches the parked function's caller";
}

TEST(LiveReportTest, ReportOfTheCallingThreadHoldsTheOthersAndSkipsOnesThatDoNotAnswer) {
  ParkedThread answering(false);
  ParkedThread silent(true);  // blocks the capture signal
  DCRCrashReporter reporter = makeReporter();
  const auto bytes = reporter.generateZiraReport();
  ASSERT_TRUE(bytes.ok());
  const std::string decoded =
      crash_test::decodeMessage(crash_test::Bytes(bytes->begin() + kDrcrashHeaderLength, bytes->end()));
  EXPECT_NE(decoded.find("user_requested: true"), std::string::npos) << "asked for, not a crash";
  const auto report = decode(bytes);
  ASSERT_TRUE(report);
  ASSERT_EQ(report->threads().size(), threadsOfThisProcess());
  std::size_t crashed = 0, withoutFrames = 0;
  bool answeringWalked = false;
  for (const auto& thread : report->threads()) {
    crashed += thread->crashed() ? 1 : 0;
    withoutFrames += thread->stackFrames().empty() ? 1 : 0;
    for (const auto& frame : thread->stackFrames()) answeringWalked |= frame.instructionPointer() == answering.returnAddress();
  }
  EXPECT_EQ(crashed, 1u);
  EXPECT_EQ(withoutFrames, 1u) << "the thread that blocks the signal is written without frames";
  EXPECT_TRUE(answeringWalked);

  // Both threads run on after the report: a second one works the same way.
  EXPECT_TRUE(decode(reporter.generateZiraReportWithThread(answering.tid())));
}

TEST(LiveReportTest, RefusesAThreadIdNotInThisProcess) {
  pid_t gone = 0;
  std::thread([&gone] { gone = static_cast<pid_t>(syscall(SYS_gettid)); }).join();
  DCRCrashReporter reporter = makeReporter();
  const auto bytes = reporter.generateZiraReportWithThread(gone);
  ASSERT_FALSE(bytes.ok());
  EXPECT_EQ(bytes.error().code, 0);
}

}  // namespace
}  // namespace crashreporter
