#include "media/readers/io/PageReadAhead.h"

#include <liburing.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "media/readers/io/CVNFileContext.h"

namespace media {

struct PageReadAhead::Ring {
  io_uring ring{};
  ~Ring() { io_uring_queue_exit(&ring); }
};

PageReadAhead::PageReadAhead(std::size_t depth) : slots_(depth) {}

PageReadAhead::~PageReadAhead() {
  cancel();
  freeBuffers();
}

void PageReadAhead::freeBuffers() {
  for (auto& slot : slots_) {
    std::free(slot.bytes);
    slot.bytes = nullptr;
  }
}

void PageReadAhead::setPageSize(std::uint64_t pageSize) {
  cancel();
  if (pageSize == pageSize_) return;
  freeBuffers();
  pageSize_ = pageSize;
}

bool PageReadAhead::ringReady() {
  if (ring_) return true;
  if (ringRefused_) return false;
  auto ring = std::make_unique<Ring>();
  // Refused in some sandboxes and where an administrator turned it off.
  if (io_uring_queue_init(static_cast<unsigned>(slots_.size()), &ring->ring, 0) < 0) {
    ringRefused_ = true;
    return false;
  }
  ring_ = std::move(ring);
  return true;
}

void PageReadAhead::reap(bool wait) {
  io_uring_cqe* completion = nullptr;
  for (;;) {
    const int result = wait ? io_uring_wait_cqe(&ring_->ring, &completion) : io_uring_peek_cqe(&ring_->ring, &completion);
    if (result == -EINTR || (wait && (result == -EAGAIN || result == -EBUSY))) continue;
    // Reads in flight into our buffers cannot be abandoned safely.
    if (result < 0 && wait) std::abort();
    if (result < 0) return;
    Slot& slot = slots_[io_uring_cqe_get_data64(completion)];
    slot.count = completion->res;
    slot.state = slot.start < 0 ? State::Idle : State::Done;
    io_uring_cqe_seen(&ring_->ring, completion);
    wait = false;
  }
}

void PageReadAhead::request(int fd, std::int64_t start) {
  if (pageSize_ == 0 || !ringReady()) return;
  // Reads forgotten after a jump free their slots once they finish.
  reap(false);
  Slot* idle = nullptr;
  for (auto& slot : slots_) {
    if (slot.state != State::Idle && slot.start == start) return;
    if (!idle && slot.state == State::Idle) idle = &slot;
  }
  if (!idle) return;
  if (!idle->bytes) {
    void* bytes = nullptr;
    if (::posix_memalign(&bytes, CVNFileContext::kBlockSize, pageSize_) != 0) return;
    idle->bytes = static_cast<std::uint8_t*>(bytes);
  }
  io_uring_sqe* submission = io_uring_get_sqe(&ring_->ring);
  if (!submission) return;
  io_uring_prep_read(submission, fd, idle->bytes, static_cast<unsigned>(pageSize_), static_cast<std::uint64_t>(start));
  io_uring_sqe_set_data64(submission, static_cast<std::uint64_t>(idle - slots_.data()));
  if (io_uring_submit(&ring_->ring) < 1) return;
  idle->start = start;
  idle->state = State::Reading;
}

std::optional<ssize_t> PageReadAhead::take(std::int64_t offset, std::uint8_t** bytes, std::int64_t* start) {
  const auto size = static_cast<std::int64_t>(pageSize_);
  for (auto& slot : slots_) {
    if (slot.state == State::Idle || slot.start < 0 || offset < slot.start || offset >= slot.start + size) continue;
    while (slot.state == State::Reading) reap(true);
    slot.state = State::Idle;
    // A page the end of the file cut short may not reach the offset.
    if (slot.count <= 0 || offset >= slot.start + slot.count) continue;
    std::swap(*bytes, slot.bytes);
    *start = slot.start;
    return slot.count;
  }
  forget();
  return std::nullopt;
}

void PageReadAhead::forget() {
  for (auto& slot : slots_) {
    if (slot.state == State::Done) slot.state = State::Idle;
    slot.start = -1;
  }
}

void PageReadAhead::cancel() {
  forget();
  for (auto& slot : slots_) {
    while (slot.state == State::Reading) reap(true);
  }
}

}  // namespace media
