#include "media/readers/CVNAssetReader.h"

#include <gtest/gtest.h>

#include <cmath>

#include "media/readers/AssetReaderRegistry.h"
#include "platform/media/TypeIdentifiers.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/MediaFixtures.h"
#include "tests/media/FilesOfEachKind.h"

namespace media {
namespace {

using platform::media::MediaTime;

// A reader whose answers the test sets.
class ScriptedReader : public CVNAssetReader {
 public:
  ScriptedReader(MediaURL url, std::optional<std::string> description, std::string kind = "scripted")
      : CVNAssetReader(std::move(url), std::move(description)), kind_(std::move(kind)) {}
  double framerate() const override { return rate_; }
  void setRate(double rate) { rate_ = rate; }
  void setVideoWidth(std::int32_t width) {
    videoFormatDescription_ = platform::media::FormatDescription::createVideo(platform::media::fourCC("avc1"), {width, 480});
  }
  void setTimeCode(std::uint32_t flags, std::int32_t firstFrame) {
    timeCodeFormatDescription_ = platform::media::FormatDescription::createTimeCode(
        platform::media::fourCC("tmcd"), MediaTime::make(1001, 30000), 30, flags);
    firstFrameNumber_ = firstFrame;
  }
  const std::string& kind() const { return kind_; }

 private:
  std::string kind_;
  double rate_ = 25;
};

class AssetReaderTest : public testing::Test {
 protected:
  ScriptedReader reader_{MediaURL::fileURLWithPath("/clips/a.mov"), "clip A"};
};

TEST_F(AssetReaderTest, DurationFillsOnlyWhatWasNeverSet) {
  reader_.setInPoint(MediaTime::make(5, 25));
  reader_.setDuration(MediaTime::make(250, 25));
  EXPECT_EQ(reader_.inPoint(), MediaTime::make(5, 25));
  EXPECT_EQ(reader_.outPoint(), MediaTime::make(250, 25));
  EXPECT_EQ(reader_.startPosition(), MediaTime::make(0, 25));
  EXPECT_EQ(reader_.startPosition().timeScale, 25);
}

TEST_F(AssetReaderTest, InOutAndStartSetters) {
  reader_.setDuration(MediaTime::make(10000, 1000));  // 10 s
  struct Case {
    const char* what;
    double in, out, start;
    MediaTime expectedIn, expectedOut, expectedStart;
  } cases[] = {
      {"inside", 1.5, 8.25, 2, MediaTime::make(1500, 1000), MediaTime::make(8250, 1000), MediaTime::make(2000, 1000)},
      {"in at the duration is refused", 10, 10, 0, MediaTime::make(0, 1000), MediaTime::make(10000, 1000),
       MediaTime::make(0, 1000)},
      {"out 0 is the whole duration", 0, 0, 9.999, MediaTime::make(0, 1000), MediaTime::make(10000, 1000),
       MediaTime::make(9999, 1000)},
      {"out beyond the duration", 1, 11, 0, MediaTime::make(1000, 1000), MediaTime::make(10000, 1000),
       MediaTime::make(0, 1000)},
      {"start at out - in is refused", 2, 6, 4, MediaTime::make(2000, 1000), MediaTime::make(6000, 1000),
       MediaTime::make(0, 1000)},
      {"negative and not-a-number", -1, NAN, INFINITY, MediaTime::make(0, 1000), MediaTime::make(10000, 1000),
       MediaTime::make(0, 1000)},
      {"rounded to the nearest tick", 1.00049, 2.0005, 0, MediaTime::make(1000, 1000), MediaTime::make(2001, 1000),
       MediaTime::make(0, 1000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reader_.setOutPoint(reader_.duration());
    reader_.setInPointInSeconds(c.in);
    reader_.setOutPointInSeconds(c.out);
    reader_.setStartPositionInSeconds(c.start);
    EXPECT_EQ(reader_.inPoint(), c.expectedIn) << reader_.inPoint().describe();
    EXPECT_EQ(reader_.outPoint(), c.expectedOut) << reader_.outPoint().describe();
    EXPECT_EQ(reader_.startPosition(), c.expectedStart) << reader_.startPosition().describe();
  }
}

TEST_F(AssetReaderTest, InPointMustStayBeforeTheOutPoint) {
  reader_.setDuration(MediaTime::make(10, 1));
  reader_.setOutPointInSeconds(4);
  reader_.setInPointInSeconds(6);  // later than the out point: refused
  EXPECT_EQ(reader_.inPoint(), MediaTime::make(0, 1));
  reader_.setInPointInSeconds(3);
  reader_.setOutPointInSeconds(2);  // before the in point: refused, whole duration
  EXPECT_EQ(reader_.outPoint(), MediaTime::make(10, 1));
  EXPECT_EQ(reader_.inPoint(), MediaTime::make(3, 1));
}

TEST_F(AssetReaderTest, CaptionFormatDropFrameAndTimecode) {
  struct WidthCase {
    std::int32_t width;
    std::uint32_t subType;
    std::int32_t captioning;
  } widths[] = {{720, platform::media::fourCC("c608"), kCaptioningTypeCEA608},
                {721, platform::media::fourCC("c708"), kCaptioningTypeCEA708}};
  for (const WidthCase& c : widths) {
    ScriptedReader reader(MediaURL::fileURLWithPath("/x.mov"), std::nullopt);
    reader.setVideoWidth(c.width);
    reader.createCCSampleFormatDescription();
    ASSERT_NE(reader.closedCaptionFormatDescription(), nullptr);
    EXPECT_EQ(reader.closedCaptionFormatDescription()->mediaSubType(), c.subType);
    EXPECT_EQ(reader.captioningType(), c.captioning);
    reader.setVideoWidth(1920);
    reader.createCCSampleFormatDescription();  // a description exists: unchanged
    EXPECT_EQ(reader.closedCaptionFormatDescription()->mediaSubType(), c.subType);
  }
  struct RateCase {
    double rate;
    bool drop;
  } rates[] = {{29.97, true}, {59.94, true}, {23.976, false}, {25, false}, {30, false}};
  for (const RateCase& c : rates) {
    reader_.setRate(c.rate);
    EXPECT_EQ(reader_.isDropFrame(), c.drop) << c.rate;
  }
  EXPECT_FALSE(reader_.firstTimeCode());
  reader_.setRate(30000.0 / 1001);
  reader_.setTimeCode(platform::media::kTimeCodeFlagDropFrame, 1078920);
  EXPECT_EQ(reader_.firstTimeCode(), "10:00:00;00");
  reader_.setTimeCode(0, 0);
  EXPECT_FALSE(reader_.isDropFrame());
}

TEST_F(AssetReaderTest, TablesCountersAndMissingOverrides) {
  EXPECT_EQ(CVNAssetReader::stringFromAssetType(1), "QuickTimeMovie");
  EXPECT_EQ(CVNAssetReader::stringFromAssetType(11), "ZiraStream");
  EXPECT_EQ(CVNAssetReader::stringFromAssetType(0), "Unknown");
  EXPECT_EQ(CVNAssetReader::stringFromAssetType(12), "Unknown");
  EXPECT_EQ(CVNAssetReader::captioningTypeDescriptionForType(2), "CEA708");
  EXPECT_EQ(CVNAssetReader::captioningTypeDescriptionForType(0), "None");
  EXPECT_EQ(CVNAssetReader::captioningTypeDescriptionForType(7), "None");
  reader_.didReadFramesInSeconds(3, 0.5);
  reader_.didReadFramesInSeconds(2, 0.25);
  EXPECT_EQ(reader_.diskReadPerformanceCpt(), 5);
  EXPECT_EQ(reader_.diskReadPerformanceCpt(), 0);
  EXPECT_DOUBLE_EQ(reader_.diskReadPerformanceElapsedTime(), 0.75);
  EXPECT_DOUBLE_EQ(reader_.diskReadPerformanceElapsedTime(), 0.0);

  testing_support::CapturedDiagnostics diagnostics;
  bool called = false;
  reader_.loadInfoWithMetadata(true, [&] { called = true; });
  EXPECT_TRUE(called);
  EXPECT_EQ(reader_.frameDuration(), MediaTime::make(1, 1));
  EXPECT_EQ(diagnostics.count("Missing override"), 2u);
  EXPECT_EQ(reader_.audioFormatDescriptionForTrackIndex(0), nullptr);
  EXPECT_FALSE(reader_.isInterlaced());
}

TEST(AssetReaderFactoryTest, AsksMovieThenImageThenAudio) {
  const testing_support::FilesOfEachKind files;
  ASSERT_TRUE(files.made());

  using platform::media::MediaFileKind;
  auto registration = [](AssetReaderKind kind, std::vector<MediaFileKind> kinds, std::string name) {
    AssetReaderRegistration r;
    r.kind = kind;
    r.canOpenAssetWithMediaURL = [kinds](const MediaURL& url) {
      const MediaFileKind k = platform::media::mediaFileKindForPath(url.path());
      return CVNAssetReader::canReadAssetWithMediaURL(url) && std::find(kinds.begin(), kinds.end(), k) != kinds.end();
    };
    r.create = [name](const MediaURL& url, const std::optional<std::string>& description) {
      return std::make_shared<ScriptedReader>(url, description, name);
    };
    return r;
  };
  // The stand-in movie reader also claims stills: the movie reader must win.
  ScopedAssetReaderRegistration audio(registration(AssetReaderKind::Audio, {MediaFileKind::Audio}, "audio"));
  ScopedAssetReaderRegistration image(registration(AssetReaderKind::Image, {MediaFileKind::Image}, "image"));
  ScopedAssetReaderRegistration movieReader(
      registration(AssetReaderKind::Movie, {MediaFileKind::Movie, MediaFileKind::Image}, "movie"));

  struct Case {
    std::filesystem::path path;
    const char* reader;  // nullptr: none
    bool isImage, isAudioOnly;
  } cases[] = {{files.movie, "movie", false, false},
               {files.still, "movie", false, false},
               {files.sound, "audio", false, true},
               {files.text, nullptr, false, false},
               {files.movie.parent_path() / "missing.mov", nullptr, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.filename().string());
    auto reader = CVNAssetReader::assetReaderWithMediaURL(MediaURL::fileURLWithPath(c.path), "source");
    bool isImage = true, isAudioOnly = true;  // untouched when nothing answers
    const bool valid = CVNAssetReader::mediaURLIsValidAsset(MediaURL::fileURLWithPath(c.path), &isImage, &isAudioOnly);
    if (!c.reader) {
      EXPECT_EQ(reader, nullptr);
      EXPECT_FALSE(valid);
      EXPECT_TRUE(isImage && isAudioOnly);
      continue;
    }
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(static_cast<ScriptedReader&>(*reader).kind(), c.reader);
    EXPECT_FALSE(reader->shouldUpdateDurationWhenReadingAfterEOF());
    EXPECT_EQ(reader->sourceDescription(), "source");
    EXPECT_TRUE(valid);
    EXPECT_EQ(isImage, c.isImage);
    EXPECT_EQ(isAudioOnly, c.isAudioOnly);
  }
  {
    ScopedAssetReaderRegistration withoutMovie(registration(AssetReaderKind::Movie, {MediaFileKind::Movie}, "movie"));
    bool isImage = false;
    EXPECT_TRUE(CVNAssetReader::mediaURLIsValidAsset(MediaURL::fileURLWithPath(files.still), &isImage, nullptr));
    EXPECT_TRUE(isImage);
  }
  EXPECT_TRUE(CVNAssetReader::lastModificationDateForFileAtURL(MediaURL::fileURLWithPath(files.movie)));
  EXPECT_FALSE(CVNAssetReader::lastModificationDateForFileAtURL(MediaURL::fileURLWithPath(files.movie.parent_path() / "missing")));
  EXPECT_FALSE(CVNAssetReader::canReadAssetWithMediaURL(MediaURL::URLWithString("srt://127.0.0.1:9000")));
}

}  // namespace
}  // namespace media
