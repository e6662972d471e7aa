#include "platform/media/PixelBuffer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/media/PixelBufferPool.h"

namespace platform::media {
namespace {

PixelBufferPoolAttributes poolOf(FourCharCode format, std::size_t width, std::size_t height) {
  PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = format;
  attributes.width = width;
  attributes.height = height;
  return attributes;
}

TEST(PixelBufferTest, LaysOutEveryFormat) {
  struct Case {
    FourCharCode format;
    std::size_t width, height;
    std::size_t planes;
    std::size_t minimumRow0, minimumRow1, height1;
  } cases[] = {
      {kPixelFormat32ARGB, 1920, 1080, 0, 7680, 0, 0},
      {kPixelFormat24RGB, 101, 3, 0, 303, 0, 0},
      {kPixelFormat24BGR, 101, 3, 0, 303, 0, 0},
      {kPixelFormat32BGRA, 3, 3, 0, 12, 0, 0},
      {kPixelFormat422YpCbCr8, 1920, 1080, 0, 3840, 0, 0},
      {kPixelFormat422YpCbCr8, 7, 1, 0, 16, 0, 0},  // odd widths round up to a pair
      {kPixelFormat422YpCbCr10, 1920, 1080, 0, 5120, 0, 0},  // 128 bytes per 48 pixels
      {kPixelFormat422YpCbCr10, 1280, 720, 0, 3456, 0, 0},
      {kPixelFormat30RGB, 10, 1, 0, 40, 0, 0},
      {kPixelFormat422YpCbCr16, 1920, 2, 0, 7680, 0, 0},
      {kPixelFormat4444AYpCbCr16, 1920, 2, 0, 15360, 0, 0},
      {kPixelFormat422YpCbCr10BiPlanarVideoRange, 1920, 1080, 2, 3840, 3840, 1080},
      {kPixelFormat444YpCbCr10BiPlanarFullRange, 1920, 1080, 2, 3840, 7680, 1080},
      {kPixelFormat420YpCbCr8BiPlanarVideoRange, 1920, 1081, 2, 1920, 1920, 541},
      {kPixelFormat420YpCbCr8Planar, 1920, 1080, 3, 1920, 960, 540},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fourCCString(c.format));
    std::shared_ptr<PixelBuffer> buffer;
    ASSERT_EQ(PixelBuffer::create(c.width, c.height, c.format, {}, &buffer), kCVReturnSuccess);
    EXPECT_EQ(buffer->planeCount(), c.planes);
    EXPECT_GE(buffer->bytesPerRowOfPlane(0), c.minimumRow0);
    EXPECT_LT(buffer->bytesPerRowOfPlane(0), c.minimumRow0 + 64);
    EXPECT_EQ(buffer->bytesPerRowOfPlane(0) % 64, 0u);
    if (c.planes > 1) {
      EXPECT_GE(buffer->bytesPerRowOfPlane(1), c.minimumRow1);
      EXPECT_EQ(buffer->heightOfPlane(1), c.height1);
      // Planes do not overlap.
      EXPECT_GE(buffer->baseAddressOfPlane(1),
                buffer->baseAddressOfPlane(0) + buffer->bytesPerRowOfPlane(0) * buffer->heightOfPlane(0));
    }
    std::memset(buffer->baseAddressOfPlane(0), 0xab, buffer->bytesPerRowOfPlane(0) * buffer->heightOfPlane(0));
  }
}

TEST(PixelBufferTest, RefusesBadSizesAndFormatsWithoutAllocating) {
  struct Case {
    std::size_t width, height;
    FourCharCode format;
    CVReturn expected;
  } cases[] = {
      {0, 1080, kPixelFormat32BGRA, kCVReturnInvalidSize},
      {1920, 0, kPixelFormat32BGRA, kCVReturnInvalidSize},
      {16385, 1, kPixelFormat32BGRA, kCVReturnInvalidSize},
      {16000, 16800, kPixelFormat32BGRA, kCVReturnInvalidSize},  // above 2^28 pixels
      {SIZE_MAX, SIZE_MAX, kPixelFormat32BGRA, kCVReturnInvalidSize},
      {16, 16, fourCC("nope"), kCVReturnInvalidPixelFormat},
      {16384, 16384 / 2, kPixelFormat422YpCbCr8, kCVReturnSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << fourCCString(c.format));
    std::shared_ptr<PixelBuffer> buffer;
    EXPECT_EQ(PixelBuffer::create(c.width, c.height, c.format, {}, &buffer), c.expected);
    EXPECT_EQ(buffer != nullptr, c.expected == kCVReturnSuccess);
  }
  std::shared_ptr<PixelBufferPool> pool;
  EXPECT_EQ(PixelBufferPool::create(poolOf(kPixelFormat32BGRA, 0, 10), &pool), kCVReturnInvalidSize);
  EXPECT_EQ(PixelBufferPool::create(poolOf(fourCC("nope"), 10, 10), &pool), kCVReturnInvalidPixelFormat);
}

TEST(PixelBufferTest, BorrowedMemoryIsReleasedWithTheLastReference) {
  std::vector<std::uint8_t> memory(64 * 4);
  int releases = 0;
  std::shared_ptr<PixelBuffer> buffer;
  ASSERT_EQ(PixelBuffer::createWithBytes(16, 4, kPixelFormat32BGRA, memory.data(), 64, [&] { ++releases; }, &buffer),
            kCVReturnSuccess);
  EXPECT_EQ(buffer->baseAddress(), memory.data());
  std::shared_ptr<PixelBuffer> second = buffer;
  buffer.reset();
  EXPECT_EQ(releases, 0);
  second.reset();
  EXPECT_EQ(releases, 1);
  // Rows shorter than the pixels are refused.
  EXPECT_EQ(PixelBuffer::createWithBytes(16, 4, kPixelFormat32BGRA, memory.data(), 60, nullptr, &buffer),
            kCVReturnInvalidArgument);
}

TEST(PixelBufferTest, LocksNestAndAttachmentsAreValues) {
  std::shared_ptr<PixelBuffer> buffer;
  ASSERT_EQ(PixelBuffer::create(8, 8, kPixelFormat32BGRA, {}, &buffer), kCVReturnSuccess);
  EXPECT_EQ(buffer->unlockBaseAddress(PixelBufferLockFlags::None), kCVReturnInvalidArgument);
  EXPECT_EQ(buffer->lockBaseAddress(PixelBufferLockFlags::ReadOnly), kCVReturnSuccess);
  EXPECT_EQ(buffer->lockBaseAddress(PixelBufferLockFlags::ReadOnly), kCVReturnSuccess);
  EXPECT_EQ(buffer->unlockBaseAddress(PixelBufferLockFlags::None), kCVReturnInvalidArgument);
  EXPECT_EQ(buffer->unlockBaseAddress(PixelBufferLockFlags::ReadOnly), kCVReturnSuccess);
  EXPECT_TRUE(buffer->isLocked());
  EXPECT_EQ(buffer->unlockBaseAddress(PixelBufferLockFlags::ReadOnly), kCVReturnSuccess);
  EXPECT_FALSE(buffer->isLocked());
  buffer->setAttachment("ColorMultiplier", 64);
  EXPECT_EQ(buffer->attachment("ColorMultiplier").integerOr(0), 64);
  buffer->removeAttachment("ColorMultiplier");
  EXPECT_TRUE(buffer->attachment("ColorMultiplier").isNone());
}

TEST(PixelBufferPoolTest, ReusesBuffersAndKeepsCount) {
  std::shared_ptr<PixelBufferPool> pool;
  PixelBufferPoolAttributes attributes = poolOf(kPixelFormat422YpCbCr8, 1920, 1080);
  attributes.minimumBufferCount = 2;
  attributes.maximumBufferCount = 3;
  ASSERT_EQ(PixelBufferPool::create(attributes, &pool), kCVReturnSuccess);
  EXPECT_EQ(pool->buffersCreated(), 2u);
  std::shared_ptr<PixelBuffer> a, b, c, d;
  ASSERT_EQ(pool->createPixelBuffer(&a), kCVReturnSuccess);
  ASSERT_EQ(pool->createPixelBuffer(&b), kCVReturnSuccess);
  ASSERT_EQ(pool->createPixelBuffer(&c), kCVReturnSuccess);
  EXPECT_EQ(pool->createPixelBuffer(&d), kCVReturnWouldExceedAllocationThreshold);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(pool->buffersInUse(), 3u);
  a->setAttachment("k", 1);
  std::uint8_t* memory = a->baseAddress();
  a.reset();
  EXPECT_EQ(pool->buffersInUse(), 2u);
  ASSERT_EQ(pool->createPixelBuffer(&d), kCVReturnSuccess);
  EXPECT_EQ(d->baseAddress(), memory);
  EXPECT_TRUE(d->attachments().empty());
  EXPECT_EQ(pool->buffersCreated(), 3u);
  // A buffer outliving its pool is simply freed.
  pool.reset();
  d.reset();
  std::shared_ptr<PixelBufferPool> bad;
  attributes.maximumBufferCount = 1;
  EXPECT_EQ(PixelBufferPool::create(attributes, &bad), kCVReturnInvalidPoolAttributes);
}

TEST(PixelBufferTest, ShareableBufferTravelsToAnotherProcess) {
  PixelBufferAttributes attributes;
  attributes.shareable = true;
  std::shared_ptr<PixelBuffer> buffer;
  ASSERT_EQ(PixelBuffer::create(64, 16, kPixelFormat422YpCbCr8, attributes, &buffer), kCVReturnSuccess);
  ASSERT_TRUE(buffer->surfaceID());
  EXPECT_EQ(SharedSurface::lookup(*buffer->surfaceID()), buffer->surface());

  int sockets[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child helper: maps what it receives, writes a pattern, answers one byte.
    ::close(sockets[0]);
    auto received = receivePixelBuffer(sockets[1]);
    if (!received || (*received)->width() != 64 || (*received)->height() != 16) ::_exit(2);
    for (std::size_t y = 0; y < 16; ++y) {
      std::memset((*received)->baseAddress() + y * (*received)->bytesPerRow(), static_cast<int>(y + 1), 128);
    }
    const char done = 'k';
    ::_exit(::write(sockets[1], &done, 1) == 1 ? 0 : 3);
  }
  ::close(sockets[1]);
  ASSERT_TRUE(sendPixelBuffer(sockets[0], *buffer).ok());
  char answer = 0;
  EXPECT_EQ(::read(sockets[0], &answer, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(sockets[0]);
  for (std::size_t y = 0; y < 16; ++y) {
    EXPECT_EQ(buffer->baseAddress()[y * buffer->bytesPerRow() + 127], y + 1) << "row " << y;
  }
}

TEST(PixelBufferTest, ReceivingRefusesMessagesThatAreNotSurfaces) {
  int sockets[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets), 0);
  // No descriptor.
  ASSERT_EQ(::write(sockets[0], "hello", 5), 5);
  EXPECT_FALSE(receivePixelBuffer(sockets[1]).ok());
  // A surface with a layout larger than the surface.
  auto surface = SharedSurface::create(4096);
  ASSERT_TRUE(surface.ok());
  std::vector<std::uint8_t> header(5 * 8 + 4 * 8, 0);
  auto put = [&](std::size_t index, std::uint64_t v) { std::memcpy(header.data() + index * 8, &v, 8); };
  put(0, 0x5346425850ull);
  put(1, 64);
  put(2, 64);
  put(3, kPixelFormat32BGRA);
  put(4, 1);
  put(5, 0);
  put(6, 256);
  put(7, 64);
  put(8, 64);
  ASSERT_TRUE(sendSurface(sockets[0], **surface, header).ok());
  auto refused = receivePixelBuffer(sockets[1]);
  EXPECT_FALSE(refused.ok());
  ::close(sockets[0]);
  ::close(sockets[1]);
}

}  // namespace
}  // namespace platform::media
