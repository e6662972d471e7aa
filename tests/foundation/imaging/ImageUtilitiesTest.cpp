#include <gtest/gtest.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <cstring>

#include "foundation/imaging/CGImageUtil.h"
#include "foundation/imaging/CVNCoreVideoUtility.h"
#include "foundation/imaging/CVNDeinterlaceCIFilter.h"
#include "foundation/imaging/CVNImageUtil.h"
#include "foundation/imaging/CVNMetalUtility.h"
#include "foundation/imaging/CVNVImageUtility.h"
#include "platform/media/PixelBuffer.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace foundation {
namespace {

using namespace platform::media;

// RGBA pixels of a TIFF file read back through libtiff, top row first.
std::vector<std::uint32_t> readTiff(const std::filesystem::path& path, std::uint32_t* width, std::uint32_t* height) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return {};
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, height);
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(*width) * *height);
  const int ok = TIFFReadRGBAImageOriented(tiff, *width, *height, pixels.data(), ORIENTATION_TOPLEFT, 0);
  TIFFClose(tiff);
  return ok ? pixels : std::vector<std::uint32_t>{};
}

std::shared_ptr<PixelBuffer> filled(FourCharCode format, std::size_t width, std::size_t height,
                                    const std::array<std::uint8_t, 4>& pixel) {
  std::shared_ptr<PixelBuffer> buffer;
  EXPECT_EQ(PixelBuffer::create(width, height, format, {}, &buffer), kCVReturnSuccess);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) std::memcpy(buffer->baseAddress() + y * buffer->bytesPerRow() + 4 * x, pixel.data(), 4);
  }
  return buffer;
}

TEST(CVNCoreVideoUtilityTest, NameTables) {
  EXPECT_EQ(CVNCoreVideoUtility::stringFromCVReturn(0), "Success");
  EXPECT_EQ(CVNCoreVideoUtility::stringFromCVReturn(-6689), "WouldExceedAllocationThreshold");
  EXPECT_EQ(CVNCoreVideoUtility::stringFromCVReturn(-6684), "Missing return code (-6684)");
  EXPECT_EQ(CVNCoreVideoUtility::pixelSizeForCVPixelFormat(kPixelFormat422YpCbCr8), 2u);
  EXPECT_EQ(CVNCoreVideoUtility::pixelSizeForCVPixelFormat(kPixelFormat24BGR), 3u);
  EXPECT_EQ(CVNCoreVideoUtility::pixelSizeForCVPixelFormat(fourCC("y420")), 1u);
  EXPECT_EQ(CVNMetalUtility::stringFromBlendFactor(18), "One Minus Source 1 Alpha");
  EXPECT_EQ(CVNMetalUtility::stringFromBlendFactor(19), "Invalid Blend Factor");
  EXPECT_EQ(CVNMetalUtility::stringFromBlendOperation(1), "Substract");
  EXPECT_EQ(CVNMetalUtility::stringFromBlendOperation(5), "Invalid Blend Opeartion");
  EXPECT_EQ(CVNMetalUtility::stringFromSamplerMinMagFilter(2), "Invalid Sampler Min Mag Filter");
  EXPECT_EQ(CVNMetalUtility::stringFromSamplerMipFilter(2), "Mip Linear");
  CVReturn result = 0;
  auto pool = CVNCoreVideoUtility::createPixelBufferPoolWithFormat(kPixelFormat32BGRA, {0, 10}, true, 1, &result);
  EXPECT_EQ(pool, nullptr);
  EXPECT_EQ(result, kCVReturnInvalidSize);
  pool = CVNCoreVideoUtility::createPixelBufferPoolWithFormat(kPixelFormat32BGRA, {8, 8}, true, 1, &result);
  ASSERT_NE(pool, nullptr);
  std::shared_ptr<PixelBuffer> buffer;
  ASSERT_EQ(pool->createPixelBuffer(&buffer), kCVReturnSuccess);
  EXPECT_TRUE(buffer->surfaceID());
}

TEST(CVNVImageUtilityTest, AverageAlphaTakesTheAlphaByteOfEachFormat) {
  struct Case {
    FourCharCode format;
    std::array<std::uint8_t, 4> pixel;
    std::optional<double> expected;
  } cases[] = {
      {kPixelFormat32BGRA, {10, 20, 30, 255}, 1.0},
      {kPixelFormat32BGRA, {10, 20, 30, 0}, 0.0},
      {kPixelFormat32RGBA, {255, 255, 255, 0}, 0.0},
      {kPixelFormat32ARGB, {255, 0, 0, 0}, 1.0},  // the fourth byte is blue here
      {kPixelFormat32ARGB, {0, 255, 255, 255}, 0.0},
      {kPixelFormat32ABGR, {255, 1, 2, 3}, 1.0},
      {kPixelFormat422YpCbCr8, {128, 16, 128, 16}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fourCCString(c.format));
    auto buffer = filled(c.format, 16, 8, c.pixel);
    PixelHistograms histograms;
    const std::optional<double> alpha = CVNVImageUtility::averageAlphaFromPixelBuffer(*buffer, histograms);
    ASSERT_EQ(alpha.has_value(), c.expected.has_value());
    if (alpha) {
      EXPECT_DOUBLE_EQ(*alpha, *c.expected);
    }
  }
  // Half the pixels opaque.
  auto half = filled(kPixelFormat32BGRA, 16, 8, {0, 0, 0, 0});
  for (std::size_t y = 0; y < 4; ++y) {
    for (std::size_t x = 0; x < 16; ++x) half->baseAddress()[y * half->bytesPerRow() + 4 * x + 3] = 255;
  }
  PixelHistograms histograms;
  EXPECT_DOUBLE_EQ(*CVNVImageUtility::averageAlphaFromPixelBuffer(*half, histograms), 0.5);
  EXPECT_EQ(histograms[3][255], 64u);
}

TEST(CVNCoreVideoUtilityTest, WritesPixelBuffersAsTiff) {
  testing_support::TemporaryDirectory directory;
  struct Case {
    FourCharCode format;
    std::array<std::uint8_t, 4> pixel;
    std::uint32_t expectedABGR;  // libtiff's packed form: A B G R from the top byte
  } cases[] = {
      {kPixelFormat32ARGB, {255, 200, 100, 50}, 0xff3264c8},
      {kPixelFormat32BGRA, {50, 100, 200, 255}, 0xff3264c8},  // converted first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fourCCString(c.format));
    auto buffer = filled(c.format, 20, 10, c.pixel);
    std::string error = "unchanged";
    const auto path = directory / (fourCCString(c.format) + ".tiff");
    ASSERT_TRUE(CVNCoreVideoUtility::writePixelBuffer(*buffer, path, &error));
    EXPECT_EQ(error, "");
    std::uint32_t width = 0, height = 0;
    const auto pixels = readTiff(path, &width, &height);
    ASSERT_EQ(pixels.size(), 200u);
    EXPECT_EQ(width, 20u);
    EXPECT_EQ(pixels[0], c.expectedABGR);
    EXPECT_EQ(pixels[199], c.expectedABGR);
  }
  std::shared_ptr<PixelBuffer> v210;
  ASSERT_EQ(PixelBuffer::create(48, 2, kPixelFormat422YpCbCr10, {}, &v210), kCVReturnSuccess);
  std::string error;
  EXPECT_FALSE(CVNCoreVideoUtility::writePixelBuffer(*v210, directory / "v210.tiff", &error));
  EXPECT_EQ(error, "Failed to create TransferSession");
  auto argb = filled(kPixelFormat32ARGB, 4, 4, {255, 0, 0, 0});
  EXPECT_FALSE(CVNCoreVideoUtility::writePixelBuffer(*argb, directory / "missing" / "x.tiff", &error));
  EXPECT_FALSE(error.empty());
}

TEST(CVNImageUtilTest, WritesNumberedSamples) {
  testing_support::TemporaryDirectory directory;
  std::vector<std::uint8_t> bgra(8 * 2 * 4);
  for (std::size_t i = 0; i < 16; ++i) {
    bgra[4 * i] = 1, bgra[4 * i + 1] = 2, bgra[4 * i + 2] = 3, bgra[4 * i + 3] = 255;
  }
  const int first = CVNImageUtil::writeImageOfSize({8, 2}, kPixelFormat32BGRA, bgra.data(), directory.path());
  const int second = CVNImageUtil::writeImageOfSize({8, 2}, kPixelFormat422YpCbCr8, bgra.data(), directory.path());
  EXPECT_EQ(second, first + 1);
  const auto firstPath = directory / ("Sample " + std::to_string(first) + ".tiff");
  const auto secondPath = directory / ("Sample " + std::to_string(second) + ".tiff");
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return std::filesystem::exists(firstPath) && std::filesystem::exists(secondPath); }, "the samples"));
  std::uint32_t width = 0, height = 0;
  auto pixels = readTiff(firstPath, &width, &height);
  ASSERT_EQ(pixels.size(), 16u);
  EXPECT_EQ(pixels[0], 0xff010203u);  // B G R A bytes 1 2 3 become red 3, green 2, blue 1
  pixels = readTiff(secondPath, &width, &height);
  EXPECT_EQ(width, 4u);  // '2vuy': two pixels a group
  std::vector<std::uint8_t> copy(16);
  copyExchangingFirstAndThirdBytes(bgra.data(), copy.data(), 2, 2);
  EXPECT_EQ(copy[0], 3);
  exchangeFirstAndThirdBytes(copy.data(), 2, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(copy.begin(), copy.end()), std::vector<std::uint8_t>(bgra.begin(), bgra.begin() + 16));
}

TEST(CGImageUtilTest, LoadsConvertsAndRefuses) {
  testing_support::TemporaryDirectory directory;
  const auto png = directory / "still.png";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48,format=rgba -frames:v 1 " +
                                          testing_support::shellQuoted(png)));
  EXPECT_EQ(CGImageUtil::sizeOfImageAtURL(png), (Size{64, 48}));
  EXPECT_EQ(CGImageUtil::sizeOfImageAtURL(directory / "missing.png"), (Size{0, 0}));
  EXPECT_EQ(CGImageUtil::sizeOfImageAtURL(std::nullopt), (Size{0, 0}));

  platform::Error error;
  EXPECT_EQ(CGImageUtil::newImageRefFromURL(std::nullopt, &error), nullptr);
  EXPECT_EQ(error.code, 1000);
  EXPECT_EQ(error.localizedDescription, "Image Loading Error no URL");
  EXPECT_EQ(CGImageUtil::newImageRefFromURL(directory / "missing.png", &error), nullptr);
  EXPECT_EQ(error.code, 1001);
  ImageRef image = CGImageUtil::newImageRefFromURL(png, &error);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(error.code, 0);

  auto argb = CGImageUtil::createPixelBufferFromCGImage(image);
  ASSERT_NE(argb, nullptr);
  EXPECT_EQ(argb->pixelFormatType(), kPixelFormat32ARGB);
  EXPECT_EQ(argb->bytesPerRow(), 64u * 4);
  EXPECT_EQ(argb->baseAddress()[1], image->baseAddress()[0]);  // red after alpha
  // A buffer that cannot be made is none, not a stopped host.
  EXPECT_EQ(CGImageUtil::createPixelBufferColor(Color::calibratedRGB(1, 0, 0, 1), {0, 0}, kPixelFormat32BGRA), nullptr);
  auto red = CGImageUtil::createPixelBufferColor(Color::calibratedRGB(1, 0, 0, 0.5), {4, 2}, kPixelFormat32BGRA);
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(red->baseAddress(), red->baseAddress() + 4), (std::vector<std::uint8_t>{0, 0, 128, 128}));

  auto jpeg = CGImageUtil::bitmapImageDataForImage(image, {32, 24}, 0.8, nullptr);
  ASSERT_GT(jpeg.size(), 100u);
  tjhandle decoder = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  EXPECT_EQ(tjDecompressHeader3(decoder, jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colorspace), 0);
  tjDestroy(decoder);
  EXPECT_EQ(width, 32);
  EXPECT_EQ(height, 24);

  std::atomic<bool> done{false};
  ImageRef loaded;
  CGImageUtil::createMetalCompatibleCGImageFromURL(png, [&](ImageRef result, std::optional<std::string> text) {
    loaded = result;
    EXPECT_FALSE(text);
    done = true;
  });
  ASSERT_TRUE(testing_support::waitForCondition([&] { return done.load(); }, "the redraw"));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->bytesPerRow(), 64u * 4);
  std::optional<std::string> failure;
  CGImageUtil::createMetalCompatibleCGImageFromURL(directory / "missing.png",
                                                   [&](ImageRef, std::optional<std::string> text) { failure = text; });
  EXPECT_EQ(failure, "Failed to create ImageSource from URL");
}

TEST(CVNDeinterlaceCIFilterTest, KeepsEvenRowsAndAveragesOdd) {
  auto filter = CVNDeinterlaceCIFilter::filterWithName("anything");
  EXPECT_EQ(filter->name(), "CVNDeinterlaceCIFilter");
  EXPECT_EQ(filter->outputImage(), nullptr);
  std::shared_ptr<PixelBuffer> frame;
  ASSERT_EQ(PixelBuffer::create(2, 4, kPixelFormat32RGBA, {}, &frame), kCVReturnSuccess);
  for (std::size_t y = 0; y < 4; ++y) std::memset(frame->baseAddress() + y * frame->bytesPerRow(), static_cast<int>(y * 10), 8);
  filter->setValueForKey(frame, "inputImage");
  ImageRef output = filter->valueForKey("outputImage");
  ASSERT_NE(output, nullptr);
  const std::uint8_t expected[] = {0, 10, 20, 20};  // row 1 = (0 + 20) / 2, row 3 repeats row 2
  for (std::size_t y = 0; y < 4; ++y) EXPECT_EQ(output->baseAddress()[y * output->bytesPerRow()], expected[y]) << y;
}

}  // namespace
}  // namespace foundation
