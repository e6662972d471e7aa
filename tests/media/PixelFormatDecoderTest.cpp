#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "media/decoders/CVNPixelFormatDecoder.h"
#include "platform/media/ImageSource.h"
#include "tests/media/PacketSource.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;

pm::SampleBufferRef pictureSample(std::shared_ptr<pm::PixelBuffer> picture) {
  pm::SampleBufferRef sample;
  pm::SampleTimingInfo timing{pm::MediaTime::make(1, 25), pm::MediaTime::make(7, 25), pm::MediaTime::make(7, 25)};
  pm::SampleBuffer::createForImageBuffer(picture, pm::FormatDescription::createForPixelBuffer(*picture), timing, &sample);
  return sample;
}

struct Result {
  bool success = false;
  std::optional<std::string> error;
  pm::SampleBufferRef output;
};

Result decode(CVNPixelFormatDecoder& decoder, const pm::SampleBufferRef& sample) {
  Result result;
  int calls = 0;
  decoder.decodeSampleBuffer(sample, true, [&](bool success, const std::optional<std::string>& error, const pm::SampleBufferRef& out) {
    ++calls;
    result = {success, error, out};
  });
  EXPECT_EQ(calls, 1);
  return result;
}

TEST(PixelFormatDecoderTest, StillsConvertLikeFfmpeg) {
  testing_support::TemporaryDirectory directory;
  for (const char* name : {"still.png", "still.tiff"}) {
    SCOPED_TRACE(name);
    const auto file = directory / name;
    ASSERT_TRUE(testing_support::makeFileOnce("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240 -frames:v 1 -pix_fmt rgb24",
                                              file));
    auto source = pm::ImageSource::createWithURL(file);
    ASSERT_TRUE(source.ok());
    auto picture = (*source)->createImage();
    ASSERT_TRUE(picture.ok());
    CVNPixelFormatDecoder decoder(pm::FormatDescription::createVideo(pm::fourCC("png "), {320, 240}), "still");
    ASSERT_TRUE(decoder.setup());
    const Result result = decode(decoder, pictureSample(*picture));
    ASSERT_TRUE(result.success) << result.error.value_or("");
    EXPECT_EQ(result.output->presentationTimeStamp(), pm::MediaTime::make(7, 25));
    EXPECT_FALSE(result.output->decodeTimeStamp().isValid());
    EXPECT_EQ(testing::pictureHash(*result.output->imageBuffer()),
              testing::ffmpegFrameHashes(file, "-sws_flags bilinear -pix_fmt uyvy422").at(0));
  }
}

// An uncompressed movie frame as the movie reader hands it out: its packet's
// rows in a picture of the track's format.
std::shared_ptr<pm::PixelBuffer> pictureOfPacket(const pm::SampleBuffer& packet, pm::FourCharCode format, std::size_t width,
                                                 std::size_t height) {
  std::shared_ptr<pm::PixelBuffer> picture;
  if (pm::PixelBuffer::create(width, height, format, {}, &picture) != 0) return nullptr;
  const auto bytes = packet.dataBuffer()->bytes();
  const std::size_t rowBytes = bytes.size() / height;
  picture->lockBaseAddress(pm::PixelBufferLockFlags::None);
  for (std::size_t row = 0; row < height; ++row) {
    std::copy_n(bytes.data() + row * rowBytes, std::min(rowBytes, picture->bytesPerRow()),
                picture->baseAddress() + row * picture->bytesPerRow());
  }
  picture->unlockBaseAddress(pm::PixelBufferLockFlags::None);
  return picture;
}

TEST(PixelFormatDecoderTest, UncompressedMovieFramesConvertLikeFfmpeg) {
  testing_support::TemporaryDirectory directory;
  struct Case {
    const char* name;
    const char* encode;
    pm::FourCharCode format;
    int tolerance;  // 10-bit samples rounded to 8 may differ by one
  };
  const Case cases[] = {
      {"2vuy.mov", "-c:v rawvideo -pix_fmt uyvy422", pm::kPixelFormat422YpCbCr8, 0},
      {"v210.mov", "-c:v v210", pm::kPixelFormat422YpCbCr10, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = directory / c.name;
    ASSERT_TRUE(testing_support::makeFileOnce("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=25 -t 1 " +
                                              std::string(c.encode), file));
    testing::PacketSource source(file, c.format);
    ASSERT_TRUE(source.ok());
    const std::string expected =
        testing_support::commandOutputOnce("ffmpeg -v error -i", file, "-f rawvideo -pix_fmt uyvy422 -");
    const std::size_t frameBytes = 320 * 2 * 240;
    ASSERT_EQ(expected.size(), frameBytes * source.samples().size());
    CVNPixelFormatDecoder decoder(source.description(), "raw");
    ASSERT_TRUE(decoder.setup());
    int worst = 0;
    for (std::size_t frame = 0; frame < source.samples().size(); ++frame) {
      const auto& packet = *source.samples()[frame];
      const Result result = decode(decoder, pictureSample(pictureOfPacket(packet, c.format, 320, 240)));
      ASSERT_TRUE(result.success) << result.error.value_or("");
      const pm::PixelBuffer& out = *result.output->imageBuffer();
      for (std::size_t row = 0; row < 240; ++row) {
        for (std::size_t i = 0; i < 640; ++i) {
          const int ours = out.baseAddress()[row * out.bytesPerRow() + i];
          const int theirs = static_cast<std::uint8_t>(expected[frame * frameBytes + row * 640 + i]);
          worst = std::max(worst, std::abs(ours - theirs));
        }
      }
    }
    EXPECT_LE(worst, c.tolerance);
  }
}

TEST(PixelFormatDecoderTest, RgbGoesThroughTheKeptIntermediatePicture) {
  std::shared_ptr<pm::PixelBuffer> bgra;
  ASSERT_EQ(pm::PixelBuffer::create(64, 48, pm::kPixelFormat32BGRA, {}, &bgra), 0);
  CVNPixelFormatDecoder decoder(pm::FormatDescription::createVideo(pm::kPixelFormat32BGRA, {64, 48}), "rgb");
  decoder.setOutputDimensions(32, 24);
  ASSERT_TRUE(decoder.setup());
  ASSERT_TRUE(decode(decoder, pictureSample(bgra)).success);
  const auto intermediate = decoder.resizedPixelBufferRGBAWithPixelFormat(pm::kPixelFormat32BGRA);
  ASSERT_NE(intermediate, nullptr);
  EXPECT_EQ(intermediate->width(), 32u);
  ASSERT_TRUE(decode(decoder, pictureSample(bgra)).success);
  EXPECT_EQ(decoder.resizedPixelBufferRGBAWithPixelFormat(pm::kPixelFormat32BGRA), intermediate);
  // '2vuy' goes straight to the output.
  std::shared_ptr<pm::PixelBuffer> yuv;
  ASSERT_EQ(pm::PixelBuffer::create(64, 48, pm::kPixelFormat422YpCbCr8, {}, &yuv), 0);
  const Result direct = decode(decoder, pictureSample(yuv));
  ASSERT_TRUE(direct.success);
  EXPECT_EQ(direct.output->imageBuffer()->width(), 32u);
  EXPECT_EQ(decoder.framesNeededForPlayback(), 1);
}

TEST(PixelFormatDecoderTest, FailuresAreReportedThroughTheHandler) {
  CVNPixelFormatDecoder decoder(pm::FormatDescription::createVideo(pm::kPixelFormat422YpCbCr8, {16, 16}), "bad");
  const Result beforeSetup = decode(decoder, nullptr);
  EXPECT_EQ(beforeSetup.error, "Can't decode nil SampleBuffer");
  ASSERT_TRUE(decoder.setup());
  pm::SampleBufferRef compressed;
  auto block = pm::BlockBuffer::createWithCopy(std::vector<std::uint8_t>{1, 2, 3});
  pm::SampleBuffer::createReady(block, pm::FormatDescription::createVideo(pm::fourCC("avc1"), {16, 16}), 1, {}, {3},
                                &compressed);
  const Result noPicture = decode(decoder, compressed);
  EXPECT_FALSE(noPicture.success);
  EXPECT_EQ(noPicture.error->rfind("Can't get imageBuffer from sampleBuffer", 0), 0u);
  // A picture format the converter cannot read.
  std::shared_ptr<pm::PixelBuffer> r210;
  ASSERT_EQ(pm::PixelBuffer::create(16, 16, pm::kPixelFormat30RGB, {}, &r210), 0);
  EXPECT_EQ(decode(decoder, pictureSample(r210)).error, "Could not resize and/or convert pixel buffer (-6680)");
}

}  // namespace
}  // namespace media
