// crash-child: enables the crash reporter (in the XDG_CACHE_HOME it is given)
// and crashes the way its argument asks. Used by the crash capture tests.

#include <execinfo.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreporter/Source/DCRCrashReporter.h"
#include "crashreporter/Source/DCRCrashSignalHandler.h"
#include "platform/Thread.h"

extern "C" {
__attribute__((noinline)) void crashChildNullDereference() {
  volatile int* volatile nowhere = nullptr;  // volatile: the compiler may not drop the store
  *nowhere = 42;
}

std::atomic<long long> crashChildBacktraceNs{0};

// Recurses `depth` frames, then parks until the process ends. With `timed`,
// first takes a backtrace() of its own stack and adds its duration up.
__attribute__((noinline)) int crashChildParkDeep(int depth, std::atomic<int>* parked, bool timed) {
  if (depth > 0) return crashChildParkDeep(depth - 1, parked, timed) + 1;
  if (timed) {
    void* frames[1024];
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    backtrace(frames, 1024);
    clock_gettime(CLOCK_MONOTONIC, &end);
    crashChildBacktraceNs.fetch_add((end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec));
  }
  parked->fetch_add(1);
  while (parked->load() > 0) pause();
  return 0;
}

__attribute__((noinline)) int crashChildDivide(int numerator, int denominator) { return numerator / denominator; }

// Recurses until the stack runs out (the limit only keeps the compiler from calling it endless).
__attribute__((noinline)) int crashChildRecurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (depth > (1 << 30)) return frame[0];
  return crashChildRecurse(depth + 1) + frame[0];
}
}

namespace {

std::atomic<int> ready{0};

// The benchmark mode: where the figures go, and when the fault was made.
int benchOutput = -1;
timespec faultTime{};

// Runs after the report is written and closed, still on the alternate stack.
void reportBenchFigures(siginfo_t*, void*, void*) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long reportNs = (now.tv_sec - faultTime.tv_sec) * 1000000000LL + (now.tv_nsec - faultTime.tv_nsec);
  const unsigned long long peak = crashreporter::DCRCrashSignalHandler::alternateStackPeakUseOnCurrentThread();
  char line[128];
  // snprintf is no async-signal-safe call, but the benchmark child is about to die anyway.
  const int n = std::snprintf(line, sizeof line, "%lld %llu %lld\n", reportNs, peak, crashChildBacktraceNs.load());
  (void)!write(benchOutput, line, static_cast<std::size_t>(n));
}

void previousHandler(int, siginfo_t*, void*) {
  const char message[] = "previous handler\n";
  (void)!write(2, message, sizeof message - 1);
  _exit(42);
}

// Answers that it did not handle the signal and passes it on to nobody.
bool declineSignal(int, siginfo_t*, void*, void*, const crashreporter::DCRCrashSignalNext*) { return false; }

void runDeep(int depth) {
  if (depth > 0) return runDeep(depth - 1);
  crashChildNullDereference();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "previous-handler") {
    struct sigaction action {};
    action.sa_sigaction = previousHandler;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
  } else if (mode == "ignored") {
    signal(SIGSEGV, SIG_IGN);
  } else if (mode == "default") {
    signal(SIGSEGV, SIG_DFL);
  }
  crashreporter::DCRCrashReporter reporter("com.dirarovazovo/crash-child", "7", std::string("1.2"),
                                           crashreporter::DCRCrashReporterConfig(0, 1, true));
  if (mode == "bench") {
    benchOutput = argc > 3 ? std::atoi(argv[3]) : -1;
    crashreporter::DCRCrashReporterCallbacks callbacks;
    callbacks.handleSignal = reportBenchFigures;
    reporter.setCrashCallbacks(callbacks);
  }
  if (!reporter.enableCrashReporter()) return 3;
  if (mode == "enable-twice") {
    crashreporter::DCRCrashReporter second("other", "1", std::nullopt, {});
    const platform::Status status = second.enableCrashReporter();
    return !status && status.error().code == 3 ? 0 : 4;
  }
  if (mode == "declined") {
    auto& handler = crashreporter::DCRCrashSignalHandler::sharedHandler();
    if (!handler.registerHandlerForSignal(SIGSEGV, declineSignal, nullptr)) return 5;
  }
  if (mode == "segv" || mode == "previous-handler" || mode == "ignored" || mode == "default" || mode == "declined") {
    crashChildNullDereference();
  }
  if (mode == "abort") std::abort();
  if (mode == "fpe") std::printf("%d\n", crashChildDivide(7, argc - 2));
  if (mode == "trap") __builtin_trap();
  if (mode == "bus") {
    char path[] = "/tmp/crash-child-bus-XXXXXX";
    const int fd = mkstemp(path);
    unlink(path);
    if (fd < 0 || ftruncate(fd, 4096) != 0) return 5;
    auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) return 5;
    page[0] = 1;
  }
  if (mode == "exception") throw std::runtime_error("cue list is empty");
  if (mode == "overflow-thread") {
    platform::Thread thread("com.dirarovazovo.crash-child.overflow", [](std::stop_token) { crashChildRecurse(0); });
    for (;;) pause();
  }
  if (mode == "two-threads") {
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([] {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        crashChildNullDereference();
      });
    }
    for (auto& t : threads) t.join();
  }
  if (mode == "deep") runDeep(600);
  if (mode == "bench") {
    // `argv[2]` threads parked 512 frames deep (each timing a backtrace() of
    // its stack first), then the main thread crashes; the crash callback
    // writes "report-ns alternate-stack-peak backtrace-ns" to fd argv[3].
    const int count = argc > 2 ? std::atoi(argv[2]) : 0;
    std::atomic<int> parked{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back([&parked] { crashChildParkDeep(512, &parked, true); });
    while (parked.load() < count) sched_yield();
    clock_gettime(CLOCK_MONOTONIC, &faultTime);
    crashChildNullDereference();
  }
  if (mode == "threads-64") {
    // 64 threads parked 512 frames deep, then the main thread crashes.
    std::atomic<int> parked{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 64; ++i) threads.emplace_back([&parked] { crashChildParkDeep(512, &parked, false); });
    while (parked.load() < 64) sched_yield();
    crashChildNullDereference();
  }
  return 1;
}
