#include "platform/Thread.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/ThreadHooks.h"

namespace platform {
namespace {

// Joins threads whose owner was destroyed on the thread itself. Each such
// thread is joined by the next Thread construction or destruction after its
// body returned, and the rest when the process exits.
class SelfOwnedThreadJoiner {
 public:
  ~SelfOwnedThreadJoiner() {
    std::vector<Entry> remaining;
    {
      std::lock_guard guard(mutex_);
      remaining.swap(entries_);
    }
    for (Entry& entry : remaining) entry.thread.join();
  }

  void adopt(std::jthread thread, std::shared_ptr<std::atomic<bool>> finished) {
    std::lock_guard guard(mutex_);
    entries_.push_back({std::move(thread), std::move(finished)});
  }

  void joinFinished() {
    std::vector<Entry> done;
    {
      std::lock_guard guard(mutex_);
      if (entries_.empty()) return;
      auto split = std::partition(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.finished->load(); });
      std::move(split, entries_.end(), std::back_inserter(done));
      entries_.erase(split, entries_.end());
    }
    // Joined outside the lock: a finished body may still be unwinding.
    for (Entry& entry : done) entry.thread.join();
  }

 private:
  struct Entry {
    std::jthread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;  // guarded by mutex_
};

SelfOwnedThreadJoiner& joiner() {
  static SelfOwnedThreadJoiner instance;
  return instance;
}

void setOsThreadName(const std::string& label) {
  constexpr std::size_t kMaxName = 15;
  std::string name = label.size() > kMaxName ? label.substr(label.size() - kMaxName) : label;
  pthread_setname_np(pthread_self(), name.c_str());
}

// Built at load time, so it outlives any object with static storage that
// owns a Thread (those are built later and destroyed earlier).
[[maybe_unused]] SelfOwnedThreadJoiner& joinerAtLoad = joiner();

// Finished flags, by thread, so a self-owned thread can be joined once done.
thread_local std::shared_ptr<std::atomic<bool>> currentFinishedFlag;

}  // namespace

namespace {
std::atomic<void (*)()> threadStartHook{nullptr};
std::atomic<void (*)()> threadEndHook{nullptr};
}  // namespace

void setThreadHooks(ThreadHooks hooks) {
  threadStartHook.store(hooks.onStart);
  threadEndHook.store(hooks.onEnd);
}

Thread::Thread(std::string label, Body body) : label_(std::move(label)) {
  joiner().joinFinished();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  thread_ = std::jthread([name = label_, body = std::move(body), finished](std::stop_token stop) {
    currentFinishedFlag = finished;
    setOsThreadName(name);
    if (auto* start = threadStartHook.load()) start();
    body(std::move(stop));
    if (auto* end = threadEndHook.load()) end();
    finished->store(true);
  });
}

Thread::~Thread() {
  thread_.request_stop();
  if (!thread_.joinable()) return;
  if (isCurrent()) {
    reportDiagnostic(DiagnosticLevel::Warning,
                     "Thread '" + label_ + "': destroyed from its own thread; it is joined once its body returns");
    joiner().adopt(std::move(thread_), currentFinishedFlag);
    return;
  }
  thread_.join();
}

}  // namespace platform
