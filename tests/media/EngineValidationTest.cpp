#include "media/validation/CVNEngineValidation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace media {
namespace {

using namespace platform::media;

TEST(CVNEngineValidationTest, ReasonTexts) {
  struct Case {
    std::int32_t reason;
    const char* text;
  } cases[] = {
      {-1, "Invalid Clip (reason unknown)"}, {0, ""}, {1, "Invalid Clip (file not found)"},
      {2, "Invalid Clip (not a movie file)"}, {3, ""}, {4, ""}, {5, "Invalid Clip (video codec not found)"},
      {6, "Invalid Clip (video codec not supported)"}, {7, "Invalid Clip (movie does not have a video track)"},
      {8, ""}, {9, ""}, {10, "Invalid Clip (format is not supported)"}, {11, ""},
      {12, "Invalid Vovi (input is not available)"}, {13, "Invalid Vovi (live is disabled)"},
      {14, "Invalid Vovi (input not started)"}, {15, "Invalid Vovi (input format is invalid)"}, {16, ""},
      {17, "Invalid Stream Clip (Stream not found)"}, {18, ""}, {19, "Invalid Stream Clip (URL not supported)"},
      {20, "Invalid Clip (media file is too short for the in/out points)"}, {21, "Clip is incomplete (truncated)"},
      {22, ""}, {-2, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CVNEngineValidation::stringFromValidationErrorReason(c.reason), c.text) << c.reason;
}

std::uint32_t word(const std::uint8_t* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return w;  // little-endian machine
}

TEST(CVNEngineValidationTest, BlackBuffersReadBackGroupByGroup) {
  CVReturn status = -1;
  auto v210 = CVNEngineValidation::createEmptyPixelBufferWithSize({1920, 1080}, kPixelFormat422YpCbCr10, true, &status);
  ASSERT_EQ(status, kCVReturnSuccess);
  ASSERT_NE(v210, nullptr);
  EXPECT_TRUE(v210->surfaceID());
  for (std::size_t y = 0; y < 1080; ++y) {
    const std::uint8_t* row = v210->baseAddress() + y * v210->bytesPerRow();
    for (std::size_t x = 0; x < 5120; x += 16) {
      // Each 32-bit word holds three 10-bit samples: Cb Y Cr, Y Cb Y, Cr Y Cb, Y Cr Y.
      for (int w = 0; w < 4; ++w) {
        const std::uint32_t v = word(row + x + 4 * w);
        const std::uint32_t samples[3] = {v & 0x3ff, (v >> 10) & 0x3ff, (v >> 20) & 0x3ff};
        for (int s = 0; s < 3; ++s) {
          const bool luma = (3 * w + s) % 2 == 1;
          ASSERT_EQ(samples[s], luma ? 64u : 512u) << "row " << y << " byte " << x;
        }
      }
    }
  }
  auto uyvy = CVNEngineValidation::createEmptyPixelBufferWithSize({1920, 1080}, kPixelFormat422YpCbCr8, false, &status);
  ASSERT_NE(uyvy, nullptr);
  EXPECT_FALSE(uyvy->surfaceID());
  for (std::size_t y = 0; y < 1080; ++y) {
    const std::uint8_t* row = uyvy->baseAddress() + y * uyvy->bytesPerRow();
    for (std::size_t x = 0; x < 3840; x += 4) {
      ASSERT_EQ(word(row + x), 0x10801080u) << "row " << y;
    }
  }
  auto bgra = CVNEngineValidation::createEmptyPixelBufferWithSize({4, 4}, kPixelFormat32BGRA, false, &status);
  ASSERT_NE(bgra, nullptr);
  EXPECT_EQ(bgra->baseAddress()[15], 0);
  // Outside the table: returned as created.
  auto planar = CVNEngineValidation::createEmptyPixelBufferWithSize({16, 16}, kPixelFormat420YpCbCr8Planar, false, &status);
  EXPECT_NE(planar, nullptr);
  EXPECT_EQ(CVNEngineValidation::createEmptyPixelBufferWithSize({-5, 10}, kPixelFormat32BGRA, false, &status), nullptr);
  EXPECT_EQ(status, kCVReturnInvalidSize);
  EXPECT_EQ(CVNEngineValidation::createEmptyPixelBufferWithSize({NAN, 10}, kPixelFormat32BGRA, false, &status), nullptr);
}

}  // namespace
}  // namespace media
