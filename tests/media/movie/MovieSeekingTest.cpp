// Seeking: a precise seek delivers from the key frame a decoder needs, marks
// the frames before the target not to be shown, shows every frame from the
// target on and reports that frame through syncPTS; targets before the start
// and past the out point are clamped; I-frame-only codecs deliver nothing
// before the target; a seek past the last key frame keeps the end.

#include <gtest/gtest.h>

#include <cmath>
#include <set>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/media/movie/MovieFixtures.h"

namespace {

using media::CVNFFmpegMovieAssetReader;
using media::MediaURL;
namespace pm = platform::media;

constexpr double kRate = 25.0;

std::unique_ptr<CVNFFmpegMovieAssetReader> readingReader(const std::string& name) {
  auto reader = std::make_unique<CVNFFmpegMovieAssetReader>(MediaURL::fileURLWithPath(movie_fixtures::fixture(name)),
                                                            "test");
  reader->loadInfo(false, false);
  reader->initReading();
  return reader;
}

// Frame numbers (from the clip start) of the video samples read to the end.
struct Delivered {
  std::vector<long> all;
  std::vector<long> shown;
};

Delivered readVideo(CVNFFmpegMovieAssetReader& reader) {
  Delivered delivered;
  while (auto sample = reader.nextSampleBufferForTrackIndex(nullptr)) {
    if (sample->formatDescription()->mediaType() != pm::kMediaTypeVideo) continue;
    const long frame = std::lround(sample->presentationTimeStamp().seconds() * kRate);
    delivered.all.push_back(frame);
    if (!sample->sampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay).booleanOr(false)) {
      delivered.shown.push_back(frame);
    }
  }
  return delivered;
}

std::set<long> keyFrames(const std::string& name, const CVNFFmpegMovieAssetReader& reader) {
  std::set<long> keys;
  const AVRational timeBase = reader.videoStream()->time_base;
  for (const auto& packet : movie_fixtures::probePackets(movie_fixtures::fixture(name), "v:0")) {
    if (!packet.key || !packet.pts) continue;
    const double seconds = static_cast<double>(*packet.pts * timeBase.num) / timeBase.den - reader.startOffset().seconds();
    keys.insert(std::lround(seconds * kRate));
  }
  return keys;
}

struct SeekCase {
  double seconds;
  long firstShown;  // frame number
};

TEST(MovieSeeking, PreciseSeeksShowFromTheTargetFrame) {
  // 2 s at 25 frames a second, groups of 12 with B-frames; frame middles
  // round to the next frame.
  const SeekCase cases[] = {
      {-1.0, 0},   {0.0, 0},   {0.4, 10},  {0.42, 11}, {0.5, 13},         {0.94, 24},  // before and at key frames
      {1.3, 33},   {1.86, 47}, {2.0, 49},  {5.0, 49},  // mid-group, after the last key frame, at and past the out point
  };
  for (const char* name : {"x264.mkv", "x264.mov", "mpeg2.ts"}) {
    auto reader = readingReader(name);
    ASSERT_TRUE(reader->isValid()) << name;
    const auto keys = keyFrames(name, *reader);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(c.seconds));
      reader->seekToTime(c.seconds, true, false);
      const auto delivered = readVideo(*reader);
      ASSERT_FALSE(delivered.all.empty());
      ASSERT_FALSE(delivered.shown.empty());
      EXPECT_TRUE(keys.count(delivered.all.front())) << "first delivered frame " << delivered.all.front();
      const long first = *std::min_element(delivered.shown.begin(), delivered.shown.end());
      EXPECT_EQ(first, c.firstShown);
      EXPECT_NEAR(reader->syncPTS().seconds(), c.firstShown / kRate, 1e-9);
      // Every frame from the target to the end is shown once.
      std::set<long> shown(delivered.shown.begin(), delivered.shown.end());
      EXPECT_EQ(shown.size(), delivered.shown.size());
      EXPECT_EQ(static_cast<long>(shown.size()), 50 - c.firstShown);
    }
  }
}

TEST(MovieSeeking, ImpreciseSeeksStartAtTheKeyFrame) {
  auto reader = readingReader("x264.mkv");
  const auto keys = keyFrames("x264.mkv", *reader);
  reader->seekToTime(1.3, false, false);
  const auto delivered = readVideo(*reader);
  ASSERT_FALSE(delivered.all.empty());
  EXPECT_TRUE(keys.count(delivered.all.front()));
  EXPECT_LE(delivered.all.front(), 33);
  EXPECT_NEAR(reader->syncPTS().seconds(), delivered.all.front() / kRate, 1e-9);
}

TEST(MovieSeeking, IFrameOnlyCodecsDeliverNothingBeforeTheTarget) {
  auto reader = readingReader("prores.mov");
  ASSERT_TRUE(reader->isIFrameOnlyCodec());
  for (const SeekCase& c : {SeekCase{0.5, 13}, SeekCase{0.42, 11}, SeekCase{0.0, 0}, SeekCase{3.0, 24}}) {
    SCOPED_TRACE(c.seconds);
    reader->seekToTime(c.seconds, true, false);
    const auto delivered = readVideo(*reader);
    ASSERT_FALSE(delivered.all.empty());
    EXPECT_EQ(delivered.all.front(), c.firstShown);
    EXPECT_EQ(delivered.all, delivered.shown);
  }
}

TEST(MovieSeeking, NearestIndexEntryStaysWithinOneFrame) {
  auto reader = readingReader("x264.mov");
  const AVRational timeBase = reader->videoStream()->time_base;
  const std::int64_t frame = timeBase.den / 25;
  // The second key frame's entry (entries are one a frame).
  AVStream* stream = reader->videoStream();
  std::int64_t key = AV_NOPTS_VALUE;
  for (int i = 1; i < avformat_index_get_entries_count(stream) && key == AV_NOPTS_VALUE; ++i) {
    const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
    if (entry->flags & AVINDEX_KEYFRAME) key = entry->timestamp;
  }
  ASSERT_NE(key, AV_NOPTS_VALUE);
  // Within a frame of the key frame: the nearer entry wins, a tie goes by the preference.
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(key + frame / 4, true, frame), key);
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(key + frame * 3 / 4, false, frame), key + frame);
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(key + frame / 2, true, frame), key + frame);
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(key + frame / 2, false, frame), key);
  // Further from a key frame than one frame: only a time stamp on an entry stands.
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(key + frame * 3 + frame / 2, true, frame), AV_NOPTS_VALUE);
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(key + frame * 3, true, frame), key + frame * 3);
  // Past the last entry there is no entry after the time stamp.
  EXPECT_EQ(reader->v2nearestTsFromAVIndexEntryForTimestamp(500 * frame, true, frame), AV_NOPTS_VALUE);
}

TEST(MovieSeeking, SeekToStartPointKeepsTheSequenceHeaderInFront) {
  auto reader = readingReader("mpeg2.ts");
  reader->setInPointInSeconds(1.0);
  reader->seekToStartPoint();
  const auto first = reader->nextSampleBufferForTrackIndex(nullptr);
  ASSERT_TRUE(first);
  // The first packet of the file, carrying the sequence header, is delivered first and not shown.
  EXPECT_NEAR(first->presentationTimeStamp().seconds(), 0.0, 1e-9);
  EXPECT_TRUE(first->sampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay).booleanOr(false));
  const auto rest = readVideo(*reader);
  ASSERT_FALSE(rest.shown.empty());
  EXPECT_EQ(*std::min_element(rest.shown.begin(), rest.shown.end()), 25);
}

}  // namespace
