#include "media/readers/io/PageReadAhead.h"

#include <cstdlib>

#include "media/readers/io/CVNFileContext.h"

namespace media {

PageReadAhead::PageReadAhead(std::size_t depth, PageRead read) : read_(std::move(read)) {
  for (std::size_t i = 0; i < depth; ++i) slots_.push_back(std::make_unique<Slot>());
}

PageReadAhead::~PageReadAhead() {
  {
    std::unique_lock lock(mutex_);
    waitForReads(lock);
    stopping_ = true;
  }
  condition_.notify_all();
  for (auto& slot : slots_) {
    if (slot->thread.joinable()) slot->thread.join();
  }
  freeBuffers();
}

void PageReadAhead::freeBuffers() {
  for (auto& slot : slots_) {
    std::free(slot->bytes);
    slot->bytes = nullptr;
  }
}

void PageReadAhead::setPageSize(std::uint64_t pageSize) {
  cancel();
  if (pageSize == pageSize_) return;
  freeBuffers();
  pageSize_ = pageSize;
}

void PageReadAhead::run(Slot& slot) {
  std::unique_lock lock(mutex_);
  for (;;) {
    condition_.wait(lock, [&] { return stopping_ || slot.state == State::Requested; });
    if (stopping_) return;
    const std::int64_t start = slot.start;
    lock.unlock();
    const ssize_t count = read_(slot.bytes, start);
    lock.lock();
    slot.count = count;
    slot.state = State::Done;
    condition_.notify_all();
  }
}

void PageReadAhead::request(std::int64_t start) {
  if (pageSize_ == 0) return;
  Slot* idle = nullptr;
  {
    std::lock_guard lock(mutex_);
    for (auto& slot : slots_) {
      if (slot->state != State::Idle && slot->start == start) return;
      if (!idle && slot->state == State::Idle) idle = slot.get();
    }
    if (!idle) return;
    if (!idle->bytes) {
      void* bytes = nullptr;
      if (::posix_memalign(&bytes, CVNFileContext::kBlockSize, pageSize_) != 0) return;
      idle->bytes = static_cast<std::uint8_t*>(bytes);
    }
    idle->start = start;
    idle->state = State::Requested;
  }
  if (!idle->thread.joinable()) idle->thread = std::thread([this, idle] { run(*idle); });
  condition_.notify_all();
}

std::optional<ssize_t> PageReadAhead::take(std::int64_t offset, std::uint8_t** bytes, std::int64_t* start) {
  std::unique_lock lock(mutex_);
  for (auto& slot : slots_) {
    const auto size = static_cast<std::int64_t>(pageSize_);
    if (slot->state == State::Idle || offset < slot->start || offset >= slot->start + size) continue;
    condition_.wait(lock, [&] { return slot->state == State::Done; });
    slot->state = State::Idle;
    // A page the end of the file cut short may not reach the offset.
    if (slot->count >= 0 && offset >= slot->start + slot->count) continue;
    std::swap(*bytes, slot->bytes);
    *start = slot->start;
    return slot->count;
  }
  waitForReads(lock);
  return std::nullopt;
}

void PageReadAhead::cancel() {
  std::unique_lock lock(mutex_);
  waitForReads(lock);
}

void PageReadAhead::waitForReads(std::unique_lock<std::mutex>& lock) {
  for (auto& slot : slots_) {
    condition_.wait(lock, [&] { return slot->state != State::Requested; });
    slot->state = State::Idle;
  }
}

}  // namespace media
