// Stills: loading, codec codes, the single ARGB sample at the desired size
// (compared with ffmpeg's own scaling), reading once, and refusals.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>

#include "media/readers/image/CVNImageAssetReader.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/media/PixelFormat.h"
#include "tests/media/movie/MovieFixtures.h"
#include "tests/support/MediaFixtures.h"

namespace {

using media::CVNImageAssetReader;
using media::MediaURL;
using platform::media::fourCC;

std::filesystem::path makeImage(const std::string& name, const std::string& arguments) {
  const auto path = movie_fixtures::fixtureFolder() / name;
  if (!std::filesystem::exists(path)) {
    testing_support::makeFileOnce("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " -frames:v 1", path);
  }
  return path;
}

std::filesystem::path testImage(const std::string& name, int width, int height) {
  return makeImage(name, "-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                             ":rate=1 -pix_fmt rgba");
}

std::unique_ptr<CVNImageAssetReader> loaded(const std::filesystem::path& path, bool withMetadata = false) {
  auto reader = std::make_unique<CVNImageAssetReader>(MediaURL::fileURLWithPath(path), "still");
  std::promise<void> done;
  reader->loadInfoWithMetadata(withMetadata, false, [&] { done.set_value(); });
  done.get_future().wait();
  return reader;
}

TEST(ImageAssetReader, CodecCodesFollowTheType) {
  struct Case {
    const char* name;
    const char* arguments;
    const char* code;
  } const cases[] = {
      {"c.jpg", "-f lavfi -i testsrc2=size=64x48:rate=1", "jpeg"},
      {"c.png", "-f lavfi -i testsrc2=size=64x48:rate=1", "png "},
      {"c.gif", "-f lavfi -i testsrc2=size=64x48:rate=1", "gif "},
      {"c.bmp", "-f lavfi -i testsrc2=size=64x48:rate=1", "bmp "},
      {"c.tiff", "-f lavfi -i testsrc2=size=64x48:rate=1", "tiff"},
      {"c.webp", "-f lavfi -i testsrc2=size=64x48:rate=1 -c:v libwebp", "img "},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const auto path = makeImage(item.name, item.arguments);
    ASSERT_TRUE(CVNImageAssetReader::canOpenAssetWithMediaURL(MediaURL::fileURLWithPath(path)));
    auto reader = loaded(path);
    ASSERT_TRUE(reader->isValid());
    EXPECT_EQ(reader->assetType(), media::kAssetTypeImage);
    EXPECT_EQ(platform::media::fourCCString(reader->videoFormatDescription()->mediaSubType()), item.code);
    EXPECT_EQ(reader->displaySize(), (foundation::Size{64, 48}));
  }
  EXPECT_EQ(CVNImageAssetReader::codecTypeForTypeIdentifier("public.heic"), fourCC("img "));
  EXPECT_FALSE(CVNImageAssetReader::canOpenAssetWithMediaURL(MediaURL::fileURLWithPath("/clips/a.mov")));
}

TEST(ImageAssetReader, OneEvenWidthSampleThenNothing) {
  auto reader = loaded(makeImage("odd.png", "-f lavfi -i color=c=red:size=1082x62:rate=1 -vf format=rgba,crop=1081:61:0:0"));
  ASSERT_TRUE(reader->isValid());
  std::int32_t track = 77;
  const auto sample = reader->nextSampleBufferForTrackIndex(&track);
  ASSERT_TRUE(sample);
  EXPECT_EQ(track, 77);
  const auto& image = sample->imageBuffer();
  EXPECT_EQ(image->width(), 1082u);
  EXPECT_EQ(image->height(), 61u);
  EXPECT_EQ(image->pixelFormatType(), platform::media::kPixelFormat32ARGB);
  EXPECT_EQ(sample->duration(), platform::media::MediaTime::make(1, 25));
  EXPECT_FALSE(reader->nextSampleBufferForTrackIndex(&track));
  // Loading again on the loaded still lets the kept sample be read once more.
  std::promise<void> again;
  reader->loadInfoWithMetadata(false, false, [&] { again.set_value(); });
  again.get_future().wait();
  EXPECT_EQ(reader->nextSampleBufferForTrackIndex(&track), sample);
}

TEST(ImageAssetReader, ScalesLikeFFmpegWithoutKeepingTheAspect) {
  const auto path = testImage("scale.png", 320, 240);
  const std::string scaled = testing_support::commandOutputOnce("ffmpeg -nostdin -hide_banner -loglevel error -i", path,
                                                                "-vf scale=1920:1080:flags=bicubic -pix_fmt argb -f rawvideo -");
  const std::vector<unsigned char> expected(scaled.begin(), scaled.end());
  ASSERT_EQ(expected.size(), 1920u * 1080u * 4u);

  auto reader = loaded(path);
  reader->setDesiredDimensions(1920, 1080);
  const auto sample = reader->nextSampleBufferForTrackIndex(nullptr);
  ASSERT_TRUE(sample);
  const auto& image = sample->imageBuffer();
  ASSERT_EQ(image->width(), 1920u);
  ASSERT_EQ(image->height(), 1080u);
  int worst = 0;
  for (std::size_t y = 0; y < 1080; ++y) {
    const std::uint8_t* row = image->baseAddress() + y * image->bytesPerRow();
    for (std::size_t x = 0; x < 1920 * 4; ++x) worst = std::max(worst, std::abs(row[x] - expected[y * 1920 * 4 + x]));
  }
  EXPECT_LE(worst, 2);
}

TEST(ImageAssetReader, RefusalsAndTiming) {
  const auto broken = movie_fixtures::fixtureFolder() / "broken.png";
  std::ofstream(broken) << "not a picture";
  EXPECT_EQ(loaded(broken)->validationError(), media::kValidationReasonFormatNotSupported);
  // A header claiming a picture past the size limits.
  const auto huge = makeImage("huge.png", "-f lavfi -i color=size=20000x8:rate=1");
  auto hugeReader = loaded(huge);
  EXPECT_FALSE(hugeReader->isValid());
  EXPECT_EQ(hugeReader->validationError(), media::kValidationReasonFormatNotSupported);

  auto reader = loaded(testImage("timing.png", 64, 48));
  reader->setFrameDuration(platform::media::MediaTime::make(1001, 30000));
  EXPECT_NEAR(reader->framerate(), 29.97, 0.01);
  EXPECT_EQ(reader->fieldOrder(), 1);
  EXPECT_TRUE(reader->isIFrameOnlyCodec());
  reader->setDuration(platform::media::MediaTime::make(25, 25));
  reader->updatePlaybackDuration(4.0);
  EXPECT_DOUBLE_EQ(reader->duration().seconds(), 4.0);
  EXPECT_DOUBLE_EQ(reader->outPoint().seconds(), 4.0);
}

}  // namespace
