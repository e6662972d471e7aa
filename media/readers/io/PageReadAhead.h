#pragma once
// Pages read ahead of a sequential reader as asynchronous kernel reads
// (io_uring), submitted and reaped by the reader itself: no other thread has
// to be woken before the disk gets the next read, which on a busy machine
// costs more than the read. With several slots the disk has several reads in
// hand while the demuxer copies. Where the kernel refuses the ring nothing is
// read ahead and every page is read when it is needed.
//
// Lives on: the thread driving the demuxer (one call at a time); nothing here
// runs on another thread.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace media {

class PageReadAhead {
 public:
  explicit PageReadAhead(std::size_t depth);
  ~PageReadAhead();
  PageReadAhead(const PageReadAhead&) = delete;
  PageReadAhead& operator=(const PageReadAhead&) = delete;

  // Pages of `pageSize` bytes from now on (waits for reads in flight and frees the old buffers).
  void setPageSize(std::uint64_t pageSize);
  // Starts reading the page of `fd` at `start` on an idle slot (nothing when
  // it is already asked for or every slot is busy).
  void request(int fd, std::int64_t start);
  // Waits for the page asked for that covers `offset`, swaps its buffer with
  // `*bytes` and sets `*start` to where it begins; its byte count. None when
  // no page covers it or its read failed (the caller reads it itself and
  // meets the error there): pages asked for are then forgotten.
  std::optional<ssize_t> take(std::int64_t offset, std::uint8_t** bytes, std::int64_t* start);
  // Waits for every read in flight (their descriptor may close next) and forgets them.
  void cancel();

 private:
  enum class State { Idle, Reading, Done };
  struct Slot {
    std::uint8_t* bytes = nullptr;
    std::int64_t start = -1;  // -1 once forgotten
    State state = State::Idle;
    ssize_t count = 0;
  };
  struct Ring;

  bool ringReady();
  // Files the results of finished reads; with `wait`, first waits for one.
  void reap(bool wait);
  void forget();
  void freeBuffers();

  std::uint64_t pageSize_ = 0;
  std::vector<Slot> slots_;
  std::unique_ptr<Ring> ring_;
  bool ringRefused_ = false;
};

}  // namespace media
