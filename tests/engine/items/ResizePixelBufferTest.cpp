#include <gtest/gtest.h>

#include <cstring>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "engine/items/PixelBufferCentring.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine::items {
namespace {

namespace pm = platform::media;

constexpr const char* kFFmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i ";

struct Case {
  const char* what;
  pm::FourCharCode format;
  std::size_t fromWidth, fromHeight, toWidth, toHeight;
  const char* filter;  // what ffmpeg does to the source picture
  std::int64_t x, y;   // where the picture lands (negative: cropped)
};

// The encoder's own options for a format, after its format filter.
std::string encoding(pm::FourCharCode format) {
  return format == pm::kPixelFormat422YpCbCr10 ? " -c:v v210 -f rawvideo" : " -pix_fmt uyvy422 -f rawvideo";
}
std::string formatFilter(pm::FourCharCode format) {
  return format == pm::kPixelFormat422YpCbCr10 ? "format=yuv422p10le" : "format=uyvy422";
}

// One frame of ffmpeg's test pattern at the case's source size, filtered.
std::vector<std::uint8_t> ffmpegFrame(const testing_support::TemporaryDirectory& folder, const Case& c,
                                      const std::string& name, const std::string& extraFilter) {
  const std::string command = std::string(kFFmpeg) + "testsrc2=size=" + std::to_string(c.fromWidth) + "x" +
                              std::to_string(c.fromHeight) + ":rate=25 -frames:v 1 -vf " + formatFilter(c.format) +
                              extraFilter + encoding(c.format);
  const auto path = folder.path() / name;
  if (!testing_support::makeFileOnce(command, path)) return {};
  return testing_support::readFileBytes(path);
}

std::shared_ptr<pm::PixelBuffer> bufferFromRows(const std::vector<std::uint8_t>& bytes, pm::FourCharCode format,
                                                std::size_t width, std::size_t height) {
  std::shared_ptr<pm::PixelBuffer> buffer;
  pm::PixelBuffer::create(width, height, format, {}, &buffer);
  const std::size_t stride = bytes.size() / height;
  for (std::size_t y = 0; y < height; ++y) {
    std::memcpy(buffer->baseAddress() + y * buffer->bytesPerRow(), bytes.data() + y * stride,
                std::min(stride, buffer->bytesPerRow()));
  }
  return buffer;
}

// Every 10-bit component equal, except that ffmpeg pads with chroma 514
// where video black is 512 (the 8-bit 128 of the '2vuy' fill).
bool sameV210Row(const std::uint8_t* ours, const std::uint8_t* theirs, std::size_t bytes, std::size_t y, const Case& c) {
  static constexpr int kPixelOfComponent[12] = {0, 0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5};
  const auto row = static_cast<std::int64_t>(y);
  const bool pictureRow = row >= c.y && row < c.y + static_cast<std::int64_t>(c.fromHeight);
  for (std::size_t word = 0; word < bytes / 4; ++word) {
    std::uint32_t a, b;
    std::memcpy(&a, ours + word * 4, 4);
    std::memcpy(&b, theirs + word * 4, 4);
    for (int slot = 0; slot < 3; ++slot) {
      const int component = static_cast<int>(word % 4) * 3 + slot;
      const auto x = static_cast<std::int64_t>(word / 4 * 6) + kPixelOfComponent[component];
      const bool inPicture = pictureRow && x >= c.x && x < c.x + static_cast<std::int64_t>(c.fromWidth);
      const bool chroma = component % 2 == 0;
      std::uint32_t mine = (a >> (slot * 10)) & 0x3FF;
      const std::uint32_t peer = (b >> (slot * 10)) & 0x3FF;
      if (!inPicture && chroma && mine == 512 && x < static_cast<std::int64_t>(c.toWidth)) mine = 514;
      if (mine != peer) return false;
    }
  }
  return true;
}

class ResizePixelBufferTest : public ::testing::TestWithParam<Case> {};

TEST_P(ResizePixelBufferTest, EqualsFFmpegPadOrCropByteForByte) {
  const auto& c = GetParam();
  testing_support::TemporaryDirectory folder;
  const auto source = ffmpegFrame(folder, c, "source.raw", "");
  const auto expected = ffmpegFrame(folder, c, "expected.raw", std::string(",") + c.filter);
  ASSERT_FALSE(source.empty());
  ASSERT_FALSE(expected.empty());

  auto item = CVNMediaQueuePlayerItem::create();
  const auto pool = item_fakes::outputPool(c.format, c.toWidth, c.toHeight);
  ASSERT_NE(pool, nullptr);
  {
    // The pool hands back recycled buffers: one full of an old picture.
    std::shared_ptr<pm::PixelBuffer> used;
    ASSERT_EQ(pool->createPixelBuffer(&used), pm::kCVReturnSuccess);
    std::memset(used->baseAddress(), 0xAA, used->bytesPerRow() * used->height());
  }
  item->setSharedPixelBufferPool(pool);
  const auto resized = item->resizePixelBuffer(bufferFromRows(source, c.format, c.fromWidth, c.fromHeight));
  ASSERT_EQ(resized->width(), c.toWidth);

  const std::size_t stride = expected.size() / c.toHeight;
  ASSERT_LE(stride, resized->bytesPerRow());
  std::size_t differingRows = 0;
  for (std::size_t y = 0; y < c.toHeight; ++y) {
    const std::uint8_t* ours = resized->baseAddress() + y * resized->bytesPerRow();
    const std::uint8_t* theirs = expected.data() + y * stride;
    const bool same = c.format == pm::kPixelFormat422YpCbCr10 ? sameV210Row(ours, theirs, stride, y, c)
                                                              : std::memcmp(ours, theirs, stride) == 0;
    if (!same && differingRows++ == 0) ADD_FAILURE() << c.what << ": first differing row " << y;
  }
  EXPECT_EQ(differingRows, 0u) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    PadAndCrop, ResizePixelBufferTest,
    ::testing::Values(Case{"2vuy 720p into 1080", pm::kPixelFormat422YpCbCr8, 1280, 720, 1920, 1080,
                           "pad=1920:1080:320:180:black", 320, 180},
                      Case{"2vuy 1080 into 720p", pm::kPixelFormat422YpCbCr8, 1920, 1080, 1280, 720,
                           "crop=1280:720:320:180", -320, -180},
                      Case{"v210 720p into 1080", pm::kPixelFormat422YpCbCr10, 1280, 720, 1920, 1080,
                           "pad=1920:1080:318:180:black", 318, 180},
                      Case{"v210 1080 into 720p", pm::kPixelFormat422YpCbCr10, 1920, 1080, 1280, 720,
                           "crop=1280:720:318:180", -318, -180}));

TEST(CentringOffsetsTest, V210MovesInWholeGroupsAndOthersInPairs) {
  EXPECT_EQ(centringOffsets(pm::kPixelFormat422YpCbCr10, 1280, 720, 1920, 1080).x, 318);
  EXPECT_EQ(centringOffsets(pm::kPixelFormat422YpCbCr10, 1920, 1080, 1280, 720).x, -318);
  EXPECT_EQ(centringOffsets(pm::kPixelFormat422YpCbCr8, 1280, 720, 1920, 1080).x, 320);
  EXPECT_EQ(centringOffsets(pm::kPixelFormat32BGRA, 1918, 1078, 1920, 1080).y, 2);
}

}  // namespace
}  // namespace engine::items
