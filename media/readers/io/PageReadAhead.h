#pragma once
// Pages read ahead of a sequential reader, each slot on a thread of its own
// that stays up between pages (a sleeping thread woken is scheduled far
// sooner than a new one on a busy machine). With two slots the disk has two
// reads in hand while the demuxer copies.
//
// Threads: request, take and cancel come from the reader's thread, one call
// at a time; each slot's read runs on its own thread.

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace media {

class PageReadAhead {
 public:
  // Reads one page into `buffer` from `start`: the byte count, or minus the system error.
  using PageRead = std::function<ssize_t(std::uint8_t* buffer, std::int64_t start)>;

  PageReadAhead(std::size_t depth, PageRead read);
  ~PageReadAhead();
  PageReadAhead(const PageReadAhead&) = delete;
  PageReadAhead& operator=(const PageReadAhead&) = delete;

  // Pages of `pageSize` bytes from now on (waits for reads in flight and frees the old buffers).
  void setPageSize(std::uint64_t pageSize);
  // Starts reading the page at `start` on an idle slot (nothing when it is
  // already asked for or every slot is busy).
  void request(std::int64_t start);
  // Waits for the page asked for that covers `offset`, swaps its buffer with
  // `*bytes` and sets `*start` to where it begins; its count (or minus the
  // error). None when no page covers it: every read in flight is then waited
  // for and forgotten.
  std::optional<ssize_t> take(std::int64_t offset, std::uint8_t** bytes, std::int64_t* start);
  void cancel();

 private:
  enum class State { Idle, Requested, Done };
  struct Slot {
    std::uint8_t* bytes = nullptr;  // guarded by mutex_ while a read is in flight
    std::int64_t start = -1;
    State state = State::Idle;
    ssize_t count = 0;
    std::thread thread;
  };
  void run(Slot& slot);
  void waitForReads(std::unique_lock<std::mutex>& lock);
  void freeBuffers();

  const PageRead read_;
  std::uint64_t pageSize_ = 0;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex mutex_;
  std::condition_variable condition_;
  bool stopping_ = false;  // guarded by mutex_
};

}  // namespace media
