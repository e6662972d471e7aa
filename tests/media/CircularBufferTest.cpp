#include "media/buffers/CVNCircularBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "foundation/CVNLogController.h"

namespace media {
namespace {

// Writes `count` bytes numbered from `first` (mod 251).
void writeNumbered(CVNCircularBuffer& ring, std::uint64_t first, std::uint64_t count) {
  std::uint8_t* to = ring.getWritePointer();
  for (std::uint64_t i = 0; i < count; ++i) to[i] = static_cast<std::uint8_t>((first + i) % 251);
  ring.advanceWritePointer(count);
}

TEST(CVNCircularBufferTest, EdgeCases) {
  CVNCircularBuffer ring("ring", 100);
  EXPECT_EQ(ring.availableBytesForReading(), 0u);
  EXPECT_EQ(ring.availableBytesForWriting(), 100u);
  writeNumbered(ring, 0, 100);  // exactly the capacity
  EXPECT_EQ(ring.availableBytesForReading(), 100u);
  EXPECT_EQ(ring.availableBytesForWriting(), 0u);
  EXPECT_EQ(ring.getReadPointer()[99], 99);

  // Past the capacity: the newest 100 stay; the first readable byte is byte 30.
  writeNumbered(ring, 100, 30);
  ASSERT_EQ(ring.availableBytesForReading(), 100u);
  EXPECT_EQ(ring.getReadPointer()[0], 30);
  EXPECT_EQ(ring.getReadPointer()[99], 129);

  // Reading past the capacity moves the unread bytes to the start of the store.
  ring.advanceReadPointer(80);
  writeNumbered(ring, 130, 10);
  const std::string range = ring.memoryRangeString();
  EXPECT_EQ(ring.availableBytesForReading(), 30u);
  EXPECT_EQ(ring.getReadPointer()[0], 110);
  EXPECT_EQ(ring.getReadPointer()[29], 139);

  ring.advanceReadPointer(1000);  // more than is there
  EXPECT_EQ(ring.availableBytesForReading(), 0u);
  EXPECT_EQ(ring.getReadPointer(), ring.getWritePointer());
  ring.advanceWritePointer(0);
  EXPECT_EQ(ring.availableBytesForReading(), 0u);

  // A commit larger than the capacity is cut to it.
  writeNumbered(ring, 0, 100);
  ring.advanceWritePointer(250);
  EXPECT_EQ(ring.availableBytesForReading(), 100u);
  ring.reset();
  EXPECT_EQ(ring.availableBytesForReading(), 0u);

  // "%p - > %p" spans three times the capacity.
  void* first = nullptr;
  void* last = nullptr;
  ASSERT_EQ(std::sscanf(range.c_str(), "%p - > %p", &first, &last), 2);
  EXPECT_EQ(static_cast<std::uint8_t*>(last) - static_cast<std::uint8_t*>(first), 300);
  CVNCircularBuffer unnamed(8);
  EXPECT_EQ(unnamed.name(), "");
}

// A producer and a consumer thread move 1 GiB in random sizes through the
// 4,608,000-byte ring; every byte read is the next of the counter pattern.
TEST(CVNCircularBufferTest, ProducerAndConsumerThreads) {
  constexpr std::uint64_t kCapacity = 4608000;
  constexpr std::uint64_t kTotal = std::uint64_t{1} << 30;
  CVNCircularBuffer ring("threads", kCapacity);
  std::atomic<bool> mismatch{false};
  // The counter pattern (byte i is i mod 251), long enough for any chunk from any phase.
  std::vector<std::uint8_t> pattern(65536 + 251);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i % 251);
  std::thread producer([&] {
    std::mt19937 random(1);
    std::uint64_t written = 0;
    while (written < kTotal) {
      const std::uint64_t room = ring.availableBytesForWriting();
      if (room == 0) {
        std::this_thread::yield();
        continue;
      }
      const std::uint64_t n = std::min<std::uint64_t>({room, kTotal - written, 1 + random() % 65536});
      std::memcpy(ring.getWritePointer(), pattern.data() + written % 251, n);
      ring.advanceWritePointer(n);
      written += n;
    }
  });
  std::mt19937 random(2);
  std::uint64_t read = 0;
  while (read < kTotal && !mismatch) {
    const std::uint64_t available = ring.availableBytesForReading();
    if (available == 0) {
      std::this_thread::yield();
      continue;
    }
    const std::uint64_t n = std::min<std::uint64_t>(available, 1 + random() % 65536);
    if (std::memcmp(ring.getReadPointer(), pattern.data() + read % 251, n) != 0) mismatch = true;
    ring.advanceReadPointer(n);
    read += n;
  }
  producer.join();
  EXPECT_FALSE(mismatch);
  EXPECT_EQ(read, kTotal);
}

}  // namespace
}  // namespace media
