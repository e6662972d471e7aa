// crash-child: enables the crash reporter (in the XDG_CACHE_HOME it is given)
// and crashes the way its argument asks. Used by the crash capture tests.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashreporter/Source/DCRCrashReporter.h"
#include "platform/Thread.h"

extern "C" {
__attribute__((noinline)) void crashChildNullDereference() {
  volatile int* volatile nowhere = nullptr;  // volatile: the compiler may not drop the store
  *nowhere = 42;
}

// Recurses `depth` frames, then parks until the process ends.
__attribute__((noinline)) int crashChildParkDeep(int depth, std::atomic<int>* parked) {
  if (depth > 0) return crashChildParkDeep(depth - 1, parked) + 1;
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

void previousHandler(int, siginfo_t*, void*) {
  const char message[] = "previous handler\n";
  (void)!write(2, message, sizeof message - 1);
  _exit(42);
}

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
  if (!reporter.enableCrashReporter()) return 3;
  if (mode == "enable-twice") {
    crashreporter::DCRCrashReporter second("other", "1", std::nullopt, {});
    const platform::Status status = second.enableCrashReporter();
    return !status && status.error().code == 3 ? 0 : 4;
  }
  if (mode == "segv" || mode == "previous-handler" || mode == "ignored" || mode == "default") crashChildNullDereference();
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
  if (mode == "threads-64") {
    // 64 threads parked 512 frames deep, then the main thread crashes.
    std::atomic<int> parked{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 64; ++i) threads.emplace_back([&parked] { crashChildParkDeep(512, &parked); });
    while (parked.load() < 64) sched_yield();
    crashChildNullDereference();
  }
  return 1;
}
