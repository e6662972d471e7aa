#include <gtest/gtest.h>

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
    ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240 -frames:v 1 -pix_fmt rgb24 " +
                                            testing_support::shellQuoted(file)));
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
