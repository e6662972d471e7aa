#include "platform/media/ImageSource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/media/TypeIdentifiers.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform::media {
namespace {

using testing_support::commandOutputOnce;
using testing_support::makeFileOnce;
using testing_support::readFileBytes;

class ImageSourceTest : public testing::Test {
 protected:
  std::filesystem::path still(const std::string& extension) {
    const auto path = directory_ / ("still." + extension);
    EXPECT_TRUE(makeFileOnce("ffmpeg -v error -y -f lavfi -i testsrc2=s=1081x607,format=rgb24 -frames:v 1", path));
    return path;
  }

  testing_support::TemporaryDirectory directory_;
};

TEST_F(ImageSourceTest, ReadsEachStillLikeFfmpeg) {
  struct Case {
    const char* extension;
    const char* type;
  } cases[] = {
      {"png", "public.png"},   {"jpg", "public.jpeg"},         {"tiff", "public.tiff"},
      {"bmp", "public.bmp"}, {"gif", "public.gif"}, {"webp", "public.webp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    const auto path = still(c.extension);
    const std::string size =
        commandOutputOnce("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0", path);
    ASSERT_EQ(size, "1081,607\n");
    const std::string decoded = commandOutputOnce("ffmpeg -v error -i", path, "-pix_fmt rgba -f rawvideo -");
    const std::vector<std::uint8_t> reference(decoded.begin(), decoded.end());
    ASSERT_EQ(reference.size(), 1081u * 607 * 4);

    auto source = ImageSource::createWithURL(path);
    ASSERT_TRUE(source.ok()) << source.error().describe();
    EXPECT_EQ((*source)->type(), c.type);
    EXPECT_EQ(fileTypeForPath(path)->identifier, c.type);
    auto properties = (*source)->properties();
    ASSERT_TRUE(properties.ok());
    EXPECT_EQ((*properties)[kImagePropertyPixelWidth].integerOr(0), 1081);
    EXPECT_EQ((*properties)[kImagePropertyPixelHeight].integerOr(0), 607);
    auto image = (*source)->createImage();
    ASSERT_TRUE(image.ok());
    ASSERT_EQ((*image)->pixelFormatType(), kPixelFormat32RGBA);
    int worst = 0;
    for (std::size_t y = 0; y < 607; ++y) {
      const std::uint8_t* row = (*image)->baseAddress() + y * (*image)->bytesPerRow();
      for (std::size_t x = 0; x < 1081 * 4; ++x) worst = std::max(worst, std::abs(row[x] - reference[y * 1081 * 4 + x]));
    }
    EXPECT_LE(worst, 2);
  }
}

TEST_F(ImageSourceTest, RefusesDamagedUnknownAndOversizedPictures) {
  const auto png = readFileBytes(still("png"));
  ASSERT_GT(png.size(), 100u);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    ImageSourceError error;
    bool refusedAtOpen;
  };
  std::vector<Case> cases;
  cases.push_back({"text", {'h', 'e', 'l', 'l', 'o'}, ImageSourceError::UnknownType, true});
  cases.push_back({"empty", {}, ImageSourceError::UnknownType, true});
  cases.push_back({"truncated png", std::vector<std::uint8_t>(png.begin(), png.begin() + 60), ImageSourceError::Damaged, false});
  // A PNG header claiming 20000 x 8 pixels: wider than any buffer may be.
  std::vector<std::uint8_t> wide(png.begin(), png.begin() + 33);
  wide[16] = 0, wide[17] = 0, wide[18] = 0x4e, wide[19] = 0x20;  // width 20000
  wide[20] = 0, wide[21] = 0, wide[22] = 0, wide[23] = 8;        // height 8
  wide.insert(wide.end(), png.begin() + 33, png.end());
  cases.push_back({"too wide", wide, ImageSourceError::TooLarge, false});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto source = ImageSource::createWithData(c.bytes);
    if (c.refusedAtOpen) {
      ASSERT_FALSE(source.ok());
      EXPECT_EQ(source.error().code, static_cast<int>(c.error));
      continue;
    }
    ASSERT_TRUE(source.ok());
    auto image = (*source)->createImage();
    ASSERT_FALSE(image.ok());
    EXPECT_EQ(image.error().code, static_cast<int>(c.error)) << image.error().describe();
  }
  // 20000 x 20000 is refused too, without allocating the picture.
  std::vector<std::uint8_t> huge = wide;
  huge[22] = 0x4e, huge[23] = 0x20;
  auto source = ImageSource::createWithData(huge);
  ASSERT_TRUE(source.ok());
  EXPECT_FALSE((*source)->createImage().ok());
  EXPECT_FALSE(ImageSource::createWithURL(directory_ / "missing.png").ok());
}

TEST(TypeIdentifiersTest, ExtensionTable) {
  EXPECT_EQ(mediaFileKindForPath("/a/b/Clip.MOV"), MediaFileKind::Movie);
  EXPECT_EQ(mediaFileKindForPath("x.mxf"), MediaFileKind::Movie);
  EXPECT_EQ(mediaFileKindForPath("x.JPEG"), MediaFileKind::Image);
  EXPECT_EQ(mediaFileKindForPath("x.wav"), MediaFileKind::Audio);
  EXPECT_EQ(mediaFileKindForPath("x.m4p"), MediaFileKind::ProtectedAudio);
  EXPECT_EQ(mediaFileKindForPath("x.txt"), MediaFileKind::Unknown);
  EXPECT_EQ(mediaFileKindForPath("noextension"), MediaFileKind::Unknown);
}

}  // namespace
}  // namespace platform::media
