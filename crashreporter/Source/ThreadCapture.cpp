#include "crashreporter/Source/ThreadCapture.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace crashreporter {
namespace {

constexpr std::int64_t kAnswerWaitNs = 100'000'000;    // per thread, by the writer
constexpr std::int64_t kParkLimitNs = 2'000'000'000;   // the longest a stopped thread waits
constexpr std::int64_t kCrashLockWaitNs = 3'000'000'000;

// Slot states: the writer asks, the thread answers; a late answer to a slot
// the writer gave up on is refused by the compare-exchange.
enum : std::uint32_t { kIdle = 0, kRequested = 1, kCapturing = 2, kReady = 3, kAbandoned = 4 };

struct Slot {
  std::atomic<std::uint32_t> state{kIdle};
  std::atomic<pid_t> tid{0};
};

struct Capture {
  Slot slots[kDrcrashMaxThreads];
  drcrash_log_thread threads[kDrcrashMaxThreads];
};

std::once_flag initOnce;
bool initialised = false;
int taskDirectory = -1;
int captureSignal = 0;
Capture* capture = nullptr;  // mapped at init, never freed
std::atomic<bool> captureBusy{false};
std::atomic<std::uint32_t> releaseGeneration{0};

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Waits while *word == expected, at most until `deadline` (CLOCK_MONOTONIC ns).
// False once the deadline has passed.
bool futexWaitUntil(std::atomic<std::uint32_t>* word, std::uint32_t expected, std::int64_t deadline) {
  const std::int64_t remaining = deadline - monotonicNs();
  if (remaining <= 0) return false;
  timespec timeout{static_cast<time_t>(remaining / 1'000'000'000), static_cast<long>(remaining % 1'000'000'000)};
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, &timeout, nullptr, 0);
  return true;
}

void futexWakeAll(std::atomic<std::uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

// Runs on the thread being captured.
void captureHandler(int, siginfo_t* info, void* ucontext) {
  const int savedErrno = errno;
  // Only a capture sent by this process's own writer counts.
  if (capture != nullptr && info != nullptr && info->si_code == SI_TKILL && info->si_pid == getpid()) {
    const pid_t self = threadId();
    for (Slot& slot : capture->slots) {
      std::uint32_t requested = kRequested;
      if (slot.tid.load(std::memory_order_acquire) != self ||
          !slot.state.compare_exchange_strong(requested, kCapturing, std::memory_order_acq_rel)) {
        continue;
      }
      // Read before answering: the writer releases only after the answer.
      const std::uint32_t generation = releaseGeneration.load(std::memory_order_acquire);
      drcrash_log_thread& thread = capture->threads[&slot - capture->slots];
      drcrash_async_thread_state_ucontext_init(&thread.state, ucontext);
      thread.has_state = true;
      slot.state.store(kReady, std::memory_order_release);
      futexWakeAll(&slot.state);
      const std::int64_t deadline = monotonicNs() + kParkLimitNs;
      while (releaseGeneration.load(std::memory_order_acquire) == generation &&
             futexWaitUntil(&releaseGeneration, generation, deadline)) {
      }
      break;
    }
  }
  errno = savedErrno;
}

// A real-time signal nobody handles yet, highest first (low ones are the
// usual picks of libraries).
int pickSignal() {
  for (int signo = SIGRTMAX; signo >= SIGRTMIN; --signo) {
    struct sigaction current {};
    if (sigaction(signo, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL) return signo;
  }
  return 0;
}

void initialise() {
  taskDirectory = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  void* memory = mmap(nullptr, sizeof(Capture), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory != MAP_FAILED) capture = new (memory) Capture;
  captureSignal = pickSignal();
  if (taskDirectory < 0 || capture == nullptr || captureSignal == 0) return;
  struct sigaction action {};
  action.sa_sigaction = captureHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigfillset(&action.sa_mask);
  if (sigaction(captureSignal, &action, nullptr) != 0) return;
  initialised = true;
}

bool takeLock(bool wait) {
  const std::int64_t deadline = monotonicNs() + kCrashLockWaitNs;
  while (captureBusy.exchange(true, std::memory_order_acquire)) {
    if (!wait || monotonicNs() > deadline) return false;
    const timespec pause{0, 1'000'000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

pid_t parseTid(const char* name) {
  pid_t value = 0;
  if (*name == '\0') return 0;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return 0;
    value = value * 10 + (*name - '0');
  }
  return value;
}

// Fills the slots' tids in the kernel's order; returns the count.
std::size_t listThreads() {
  if (lseek(taskDirectory, 0, SEEK_SET) != 0) return 0;
  std::size_t count = 0;
  alignas(8) char buffer[2048];
  for (;;) {
    const long got = syscall(SYS_getdents64, taskDirectory, buffer, sizeof buffer);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
      at += entry->d_reclen;
      const pid_t tid = parseTid(entry->d_name);
      if (tid != 0 && count < kDrcrashMaxThreads) capture->slots[count++].tid.store(tid, std::memory_order_release);
    }
  }
  return count;
}

}  // namespace

bool drcrash_thread_capture_init() {
  std::call_once(initOnce, initialise);
  return initialised;
}

int drcrash_thread_capture_signal() { return captureSignal; }

std::size_t drcrash_thread_capture_suspend_all(const drcrash_thread_capture_options& options,
                                               const drcrash_log_thread** threads, bool* found_crashed) {
  *found_crashed = false;
  *threads = nullptr;
  if (!initialised || !takeLock(options.wait_for_lock)) return 0;
  const pid_t self = threadId();
  const pid_t process = getpid();
  const std::size_t count = listThreads();
  for (std::size_t i = 0; i < count; ++i) {
    drcrash_log_thread& thread = capture->threads[i];
    thread = drcrash_log_thread{};
    thread.tid = capture->slots[i].tid.load(std::memory_order_relaxed);
    thread.crashed = thread.tid == options.crashed;
    if (thread.crashed) *found_crashed = true;
    if (thread.tid == self) {
      thread.has_state = options.own != nullptr;
      if (thread.has_state) thread.state = *options.own;
      continue;
    }
    capture->slots[i].state.store(kRequested, std::memory_order_release);
    if (syscall(SYS_tgkill, process, thread.tid, captureSignal) != 0) {
      capture->slots[i].state.store(kAbandoned, std::memory_order_release);  // gone since the listing
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    Slot& slot = capture->slots[i];
    const std::int64_t deadline = monotonicNs() + kAnswerWaitNs;
    for (;;) {
      std::uint32_t state = slot.state.load(std::memory_order_acquire);
      if (state == kRequested) {
        if (futexWaitUntil(&slot.state, kRequested, deadline)) continue;
        if (slot.state.compare_exchange_strong(state, kAbandoned, std::memory_order_acq_rel)) break;
        continue;  // it began answering just now
      }
      if (state == kCapturing) {
        futexWaitUntil(&slot.state, kCapturing, monotonicNs() + kAnswerWaitNs);
        continue;
      }
      break;
    }
    if (slot.state.load(std::memory_order_acquire) != kReady && capture->threads[i].tid != self) {
      capture->threads[i].has_state = false;
    }
  }
  // The calling thread is left out when it has no state of its own.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (capture->threads[i].tid == self && options.own == nullptr) continue;
    capture->threads[kept++] = capture->threads[i];
  }
  *threads = capture->threads;
  return kept;
}

void drcrash_thread_capture_resume_all() {
  if (!initialised) return;
  for (Slot& slot : capture->slots) {
    slot.tid.store(0, std::memory_order_relaxed);
    slot.state.store(kIdle, std::memory_order_release);
  }
  releaseGeneration.fetch_add(1, std::memory_order_acq_rel);
  futexWakeAll(&releaseGeneration);
  captureBusy.store(false, std::memory_order_release);
}

}  // namespace crashreporter
