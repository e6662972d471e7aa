#pragma once
// A named byte ring that carries interleaved audio from one producer thread
// to one consumer thread. The store is three times the capacity, so unread
// data is never split: a reader always finds every unread byte in one run at
// the read pointer, and a writer always has room for one write of up to the
// capacity in one run at the write pointer. On overflow the oldest bytes
// are dropped (logged), keeping the newest `byteCapacity` bytes. Only the
// writer moves data (compaction), at most once per capacity consumed.
// No allocation after creation.
//
// Threads: one producer and one consumer. The pointers are atomics, and the
// two advance operations exclude each other, so either side may read them
// while the other moves them. reset() only while neither side is active.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace media {

class CVNCircularBuffer {
 public:
  CVNCircularBuffer(std::string name, std::uint64_t byteCapacity);
  explicit CVNCircularBuffer(std::uint64_t byteCapacity) : CVNCircularBuffer("", byteCapacity) {}
  CVNCircularBuffer(const CVNCircularBuffer&) = delete;
  CVNCircularBuffer& operator=(const CVNCircularBuffer&) = delete;

  std::string name() const;
  void setName(std::string name);
  std::uint64_t byteCapacity() const { return capacity_; }

  std::uint64_t availableBytesForReading() const;
  // The capacity less the unread bytes.
  std::uint64_t availableBytesForWriting() const;
  // Where the unread bytes start (availableBytesForReading of them).
  std::uint8_t* getReadPointer() const;
  // Where the next write goes (room for byteCapacity bytes).
  std::uint8_t* getWritePointer() const;

  // Consumes min(n, unread) bytes.
  void advanceReadPointer(std::uint64_t n);
  // Commits n written bytes: on overflow logs "Error: Circular Buffer '%@' is
  // full" and drops the oldest; moves the unread bytes to the start of the
  // store once the read pointer passes the capacity. A commit beyond the
  // capacity (outside the calling rules) is cut to the capacity and logged.
  void advanceWritePointer(std::uint64_t n);
  void reset();
  // "%p - > %p": the store's first byte and the address just past it.
  std::string memoryRangeString() const;

 private:
  void log(const std::string& text) const;

  const std::uint64_t capacity_;
  std::unique_ptr<std::uint8_t[]> store_;  // 3 x capacity, zero-filled
  std::atomic<std::uint64_t> readOffset_{0};
  std::atomic<std::uint64_t> writeOffset_{0};
  std::mutex pointerMutex_;  // makes the two advance operations exclusive
  mutable std::mutex nameMutex_;
  std::string name_;  // guarded by nameMutex_
};

}  // namespace media
