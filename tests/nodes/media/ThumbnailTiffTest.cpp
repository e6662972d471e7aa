#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "nodes/media/TiffImage.h"

namespace nodes {
namespace {

RGBAImage gradient(std::uint32_t width, std::uint32_t height) {
  RGBAImage image{width, height, {}};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      image.rgba.push_back(static_cast<std::uint8_t>(x * 7));
      image.rgba.push_back(static_cast<std::uint8_t>(y * 13));
      image.rgba.push_back(static_cast<std::uint8_t>(x + y));
      image.rgba.push_back(static_cast<std::uint8_t>(255 - x));  // alpha varies, not premultiplied
    }
  }
  return image;
}

// A minimal uncompressed little-endian TIFF of 8-bit grey pixels, one row a
// strip, written by hand so the test does not depend on our encoder.
platform::Data greyTiff(std::uint16_t width, std::uint16_t height, const std::vector<std::uint8_t>& pixels) {
  platform::Data bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&](std::uint32_t v) {
    bytes.push_back(v & 0xFF);
    bytes.push_back((v >> 8) & 0xFF);
  };
  auto put32 = [&](std::uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  constexpr std::uint16_t kEntries = 9;
  const std::uint32_t dataOffset = 8 + 2 + kEntries * 12 + 4;
  auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
    put16(tag);
    put16(type);
    put32(1);
    if (type == 3) {
      put16(value);
      put16(0);
    } else {
      put32(value);
    }
  };
  put16(kEntries);
  entry(256, 3, width);
  entry(257, 3, height);
  entry(258, 3, 8);                              // bits per sample
  entry(259, 3, 1);                              // no compression
  entry(262, 3, 1);                              // black is zero
  entry(273, 4, dataOffset);                     // strip offset
  entry(277, 3, 1);                              // samples per pixel
  entry(278, 3, height);                         // rows per strip
  entry(279, 4, std::uint32_t{width} * height);  // strip byte count
  put32(0);
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  return bytes;
}

TEST(ThumbnailTiffTest, OwnEncodingRoundTripsExactly) {
  for (auto [width, height] : {std::pair{1u, 1u}, {3u, 2u}, {64u, 48u}, {1u, 300u}}) {
    SCOPED_TRACE(::testing::Message() << width << " x " << height);
    const RGBAImage image = gradient(width, height);
    platform::Result<platform::Data> tiff = tiffDataFromImage(image);
    ASSERT_TRUE(tiff.ok()) << tiff.error().describe();
    platform::Result<RGBAImage> decoded = imageFromTiffData(*tiff);
    ASSERT_TRUE(decoded.ok()) << decoded.error().describe();
    EXPECT_EQ(*decoded, image);
  }
}

TEST(ThumbnailTiffTest, ReadsOtherTiffLayoutsAsOpaqueRGBA) {
  platform::Result<RGBAImage> decoded = imageFromTiffData(greyTiff(2, 1, {0x00, 0xFF}));
  ASSERT_TRUE(decoded.ok()) << decoded.error().describe();
  EXPECT_EQ(*decoded, (RGBAImage{2, 1, {0, 0, 0, 255, 255, 255, 255, 255}}));
}

TEST(ThumbnailTiffTest, RefusesPicturesThatCannotBeEncoded) {
  struct Case {
    const char* what;
    RGBAImage image;
  } cases[] = {
      {"empty", RGBAImage{}},
      {"zero height", RGBAImage{4, 0, {}}},
      {"too few bytes", RGBAImage{2, 2, std::vector<std::uint8_t>(15)}},
      {"too many bytes", RGBAImage{2, 2, std::vector<std::uint8_t>(17)}},
      {"wider than allowed",
       RGBAImage{kMaxTiffImageSide + 1, 1, std::vector<std::uint8_t>((kMaxTiffImageSide + 1) * 4)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::Result<platform::Data> tiff = tiffDataFromImage(c.image);
    ASSERT_FALSE(tiff.ok());
    EXPECT_TRUE(tiff.error().is(kTiffImageErrorDomain, TiffImageErrorCode::InvalidImage));
  }
}

TEST(ThumbnailTiffTest, RefusesBadBytesWithAnError) {
  platform::Data own = *tiffDataFromImage(gradient(32, 32));
  platform::Data truncated(own.begin(), own.begin() + static_cast<std::ptrdiff_t>(own.size() / 2));
  platform::Data badMagic = own;
  badMagic[2] = 0x00;
  platform::Data shortStrip = greyTiff(4, 4, {1, 2, 3});  // 3 of 16 pixel bytes
  struct Case {
    const char* what;
    platform::Data bytes;
    TiffImageErrorCode code;
  } cases[] = {
      {"empty", {}, TiffImageErrorCode::Malformed},
      {"not a tiff", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, TiffImageErrorCode::Malformed},
      {"header only", {'I', 'I', 42, 0, 8, 0, 0, 0}, TiffImageErrorCode::Malformed},
      {"bad magic", badMagic, TiffImageErrorCode::Malformed},
      {"truncated", truncated, TiffImageErrorCode::Malformed},
      {"short strip", shortStrip, TiffImageErrorCode::Malformed},
      {"too large", greyTiff(65535, 65535, {}), TiffImageErrorCode::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::Result<RGBAImage> decoded = imageFromTiffData(c.bytes);
    ASSERT_FALSE(decoded.ok());
    EXPECT_TRUE(decoded.error().is(kTiffImageErrorDomain, c.code)) << decoded.error().describe();
  }
}

}  // namespace
}  // namespace nodes
