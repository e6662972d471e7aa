#pragma once
// The process-wide lock around the libavformat and libavcodec calls that must
// not run concurrently: stream probing and codec opening and closing.
//
// The lock has an owner: only the thread that holds it can release it, and
// isLocked() answers YES only while some thread holds it (not while a thread
// merely waits). A release by another thread is refused, so one caller can
// never free another caller's hold.
//
// Any thread.

#include <atomic>
#include <mutex>
#include <thread>

namespace media {

class CVNMutex {
 public:
  CVNMutex() = default;
  CVNMutex(const CVNMutex&) = delete;
  CVNMutex& operator=(const CVNMutex&) = delete;

  // The shared instance, created on first use and never destroyed.
  static CVNMutex& sharedMutex();

  void lock();
  // False (and nothing changes) when the calling thread does not hold the lock.
  bool unlock();
  bool isLocked() const { return owner_.load() != std::thread::id(); }
  bool isHeldByCurrentThread() const { return owner_.load() == std::this_thread::get_id(); }

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

// Holds the lock for a scope.
class CVNMutexHold {
 public:
  explicit CVNMutexHold(CVNMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~CVNMutexHold() { mutex_.unlock(); }
  CVNMutexHold(const CVNMutexHold&) = delete;
  CVNMutexHold& operator=(const CVNMutexHold&) = delete;

 private:
  CVNMutex& mutex_;
};

}  // namespace media
