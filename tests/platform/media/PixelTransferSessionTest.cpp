#include "platform/media/PixelTransferSession.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform::media {
namespace {

using testing_support::readFileBytes;
using testing_support::runCommand;
using testing_support::shellQuoted;

constexpr std::size_t kWidth = 320;
constexpr std::size_t kHeight = 240;

class PixelTransferSessionTest : public testing::Test {
 protected:
  // A raw frame in `pixelFormat` (an ffmpeg name) made from the same picture.
  std::vector<std::uint8_t> rawFrame(const std::string& pixelFormat) {
    const auto path = directory_ / ("frame." + pixelFormat);
    EXPECT_TRUE(runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240 -frames:v 1 -pix_fmt " + pixelFormat +
                           " -f rawvideo " + shellQuoted(path)));
    return readFileBytes(path);
  }

  // ffmpeg's own conversion of the '2vuy' frame.
  std::vector<std::uint8_t> ffmpegConversion(const std::string& flags, std::size_t width, std::size_t height,
                                             const std::string& pixelFormat) {
    const auto source = directory_ / "frame.uyvy422";
    const auto path = directory_ / "converted.raw";
    EXPECT_TRUE(runCommand("ffmpeg -v error -y -f rawvideo -pix_fmt uyvy422 -s 320x240 -i " + shellQuoted(source) +
                           " -sws_flags " + flags + " -s " + std::to_string(width) + "x" + std::to_string(height) +
                           " -pix_fmt " + pixelFormat + " -f rawvideo " + shellQuoted(path)));
    return readFileBytes(path);
  }

  static std::shared_ptr<PixelBuffer> packedBuffer(std::vector<std::uint8_t>& bytes, std::size_t width,
                                                   std::size_t height, FourCharCode format, std::size_t bytesPerPixel) {
    std::shared_ptr<PixelBuffer> buffer;
    EXPECT_EQ(PixelBuffer::createWithBytes(width, height, format, bytes.data(), width * bytesPerPixel, nullptr, &buffer),
              kCVReturnSuccess);
    return buffer;
  }

  testing_support::TemporaryDirectory directory_;
};

TEST_F(PixelTransferSessionTest, ConvertsAndScalesLikeSwscaleDoes) {
  std::vector<std::uint8_t> source = rawFrame("uyvy422");
  ASSERT_EQ(source.size(), kWidth * kHeight * 2);
  auto sourceBuffer = packedBuffer(source, kWidth, kHeight, kPixelFormat422YpCbCr8, 2);
  struct Case {
    std::size_t width, height;
    PixelTransferScaling scaling;
    const char* flags;
  } cases[] = {
      {320, 240, PixelTransferScaling::Bilinear, "bilinear"},
      {160, 120, PixelTransferScaling::Bilinear, "bilinear"},
      {640, 360, PixelTransferScaling::Bicubic, "bicubic"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.flags);
    const std::vector<std::uint8_t> expected = ffmpegConversion(c.flags, c.width, c.height, "bgra");
    ASSERT_EQ(expected.size(), c.width * c.height * 4);
    std::shared_ptr<PixelBuffer> destination;
    ASSERT_EQ(PixelBuffer::create(c.width, c.height, kPixelFormat32BGRA, {}, &destination), kCVReturnSuccess);
    PixelTransferSession session;
    session.setScaling(c.scaling);
    ASSERT_EQ(session.transferImage(*sourceBuffer, *destination), kCVReturnSuccess);
    int worst = 0;
    for (std::size_t y = 0; y < c.height; ++y) {
      const std::uint8_t* row = destination->baseAddress() + y * destination->bytesPerRow();
      for (std::size_t x = 0; x < c.width * 4; ++x) {
        worst = std::max(worst, std::abs(row[x] - expected[y * c.width * 4 + x]));
      }
    }
    EXPECT_LE(worst, 1);
  }
}

TEST_F(PixelTransferSessionTest, PlanarFourTwoTwoRepacksExactly) {
  std::vector<std::uint8_t> planar = rawFrame("yuv422p");
  // ffmpeg's own repacking of the same planes.
  const auto packedPath = directory_ / "repacked.uyvy";
  ASSERT_TRUE(runCommand("ffmpeg -v error -y -f rawvideo -pix_fmt yuv422p -s 320x240 -i " +
                         shellQuoted(directory_ / "frame.yuv422p") + " -pix_fmt uyvy422 -f rawvideo " +
                         shellQuoted(packedPath)));
  const std::vector<std::uint8_t> packed = readFileBytes(packedPath);
  ASSERT_EQ(packed.size(), kWidth * kHeight * 2);
  ASSERT_EQ(planar.size(), kWidth * kHeight * 2);
  std::vector<PixelBufferPlane> planes = {
      {planar.data(), kWidth, kWidth, kHeight},
      {planar.data() + kWidth * kHeight, kWidth / 2, kWidth / 2, kHeight},
      {planar.data() + kWidth * kHeight * 3 / 2, kWidth / 2, kWidth / 2, kHeight},
  };
  std::shared_ptr<PixelBuffer> source;
  ASSERT_EQ(PixelBuffer::createWithPlanarBytes(kWidth, kHeight, kPixelFormat422YpCbCr8Planar, planes, nullptr, &source),
            kCVReturnSuccess);
  std::shared_ptr<PixelBuffer> destination;
  ASSERT_EQ(PixelBuffer::create(kWidth, kHeight, kPixelFormat422YpCbCr8, {}, &destination), kCVReturnSuccess);
  PixelTransferSession session;
  ASSERT_EQ(session.transferImage(*source, *destination), kCVReturnSuccess);
  for (std::size_t y = 0; y < kHeight; ++y) {
    ASSERT_EQ(std::memcmp(destination->baseAddress() + y * destination->bytesPerRow(), packed.data() + y * kWidth * 2,
                          kWidth * 2),
              0)
        << "row " << y;
  }
}

TEST_F(PixelTransferSessionTest, CropsTheSourceAndFillsOnlyTheCleanAperture) {
  std::vector<std::uint8_t> source = rawFrame("bgra");
  auto sourceBuffer = packedBuffer(source, kWidth, kHeight, kPixelFormat32BGRA, 4);
  std::shared_ptr<PixelBuffer> destination;
  ASSERT_EQ(PixelBuffer::create(100, 100, kPixelFormat32BGRA, {}, &destination), kCVReturnSuccess);
  for (std::size_t y = 0; y < 100; ++y) std::memset(destination->baseAddress() + y * destination->bytesPerRow(), 7, 400);
  PixelTransferSession session;
  session.setScaling(PixelTransferScaling::Point);
  session.setSourceCropRect(PixelRect{10, 20, 50, 40});
  session.setDestinationCleanAperture(PixelRect{30, 40, 50, 40});
  ASSERT_EQ(session.transferImage(*sourceBuffer, *destination), kCVReturnSuccess);
  // Same size: a straight copy of the crop into the aperture; the border untouched.
  for (std::size_t y = 0; y < 40; ++y) {
    EXPECT_EQ(std::memcmp(destination->baseAddress() + (40 + y) * destination->bytesPerRow() + 30 * 4,
                          source.data() + ((20 + y) * kWidth + 10) * 4, 50 * 4),
              0)
        << "row " << y;
  }
  EXPECT_EQ(destination->baseAddress()[0], 7);
  EXPECT_EQ(destination->baseAddress()[99 * destination->bytesPerRow() + 399], 7);

  session.setSourceCropRect(PixelRect{300, 0, 50, 40});
  EXPECT_EQ(session.transferImage(*sourceBuffer, *destination), kCVReturnInvalidArgument);
  std::shared_ptr<PixelBuffer> rgb10;
  ASSERT_EQ(PixelBuffer::create(48, 2, kPixelFormat30RGB, {}, &rgb10), kCVReturnSuccess);
  EXPECT_EQ(session.transferImage(*rgb10, *destination), kCVReturnInvalidPixelFormat);
}

}  // namespace
}  // namespace platform::media
