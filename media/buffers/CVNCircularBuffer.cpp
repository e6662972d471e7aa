#include "media/buffers/CVNCircularBuffer.h"

#include <cstdio>
#include <cstring>

#include "foundation/CVNLogController.h"

namespace media {

CVNCircularBuffer::CVNCircularBuffer(std::string name, std::uint64_t byteCapacity)
    : capacity_(byteCapacity), store_(new std::uint8_t[3 * byteCapacity + 1]()), name_(std::move(name)) {}

std::string CVNCircularBuffer::name() const {
  std::lock_guard lock(nameMutex_);
  return name_;
}

void CVNCircularBuffer::setName(std::string name) {
  std::lock_guard lock(nameMutex_);
  name_ = std::move(name);
}

std::uint64_t CVNCircularBuffer::availableBytesForReading() const {
  const std::uint64_t read = readOffset_.load(std::memory_order_acquire);
  const std::uint64_t write = writeOffset_.load(std::memory_order_acquire);
  return write > read ? write - read : 0;
}

std::uint64_t CVNCircularBuffer::availableBytesForWriting() const {
  const std::uint64_t unread = availableBytesForReading();
  return unread >= capacity_ ? 0 : capacity_ - unread;
}

std::uint8_t* CVNCircularBuffer::getReadPointer() const {
  return store_.get() + readOffset_.load(std::memory_order_acquire);
}

std::uint8_t* CVNCircularBuffer::getWritePointer() const {
  return store_.get() + writeOffset_.load(std::memory_order_acquire);
}

void CVNCircularBuffer::log(const std::string& text) const {
  foundation::CVNLogController::sharedLogController().logMessage(text, 0, false);
}

void CVNCircularBuffer::advanceReadPointer(std::uint64_t n) {
  std::lock_guard lock(pointerMutex_);
  const std::uint64_t read = readOffset_.load(std::memory_order_relaxed);
  const std::uint64_t write = writeOffset_.load(std::memory_order_relaxed);
  const std::uint64_t unread = write > read ? write - read : 0;
  readOffset_.store(read + std::min(unread, n), std::memory_order_release);
}

void CVNCircularBuffer::advanceWritePointer(std::uint64_t n) {
  if (n == 0) return;
  bool cut = false;
  bool full = false;
  {
    std::lock_guard lock(pointerMutex_);
    // The store only has room for one capacity past the write pointer.
    if (n > capacity_) {
      n = capacity_;
      cut = true;
    }
    std::uint64_t read = readOffset_.load(std::memory_order_relaxed);
    const std::uint64_t write = writeOffset_.load(std::memory_order_relaxed) + n;
    if (write - read > capacity_) {
      full = true;
      read = write - capacity_;
    }
    if (read >= capacity_) {
      // Compaction: the unread bytes go back to the start of the store. The
      // source starts at least one capacity in, so the runs never overlap.
      std::memcpy(store_.get(), store_.get() + read, write - read);
      writeOffset_.store(write - read, std::memory_order_release);
      readOffset_.store(0, std::memory_order_release);
    } else {
      writeOffset_.store(write, std::memory_order_release);
      readOffset_.store(read, std::memory_order_release);
    }
  }
  if (cut) log("Error: Circular Buffer '" + name() + "' write cut to its capacity");
  if (full) log("Error: Circular Buffer '" + name() + "' is full");
}

void CVNCircularBuffer::reset() {
  std::lock_guard lock(pointerMutex_);
  readOffset_.store(0, std::memory_order_release);
  writeOffset_.store(0, std::memory_order_release);
}

std::string CVNCircularBuffer::memoryRangeString() const {
  char text[64];
  std::snprintf(text, sizeof text, "%p - > %p", static_cast<const void*>(store_.get()),
                static_cast<const void*>(store_.get() + 3 * capacity_));
  return text;
}

}  // namespace media
