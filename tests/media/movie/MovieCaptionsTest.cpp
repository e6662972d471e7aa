// Caption samples from a QuickTime 'c608' track made at test time from a
// Scenarist file: every first-field byte pair comes out once, in order, one
// per frame from the packet's time.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <vector>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/media/movie/MovieFixtures.h"
#include "tests/support/MediaFixtures.h"

namespace {

using media::CVNFFmpegMovieAssetReader;
using media::MediaURL;
namespace pm = platform::media;

TEST(MovieCaptions, EveryPairOfAQuickTime608TrackComesOutOncePerFrame) {
  const auto folder = movie_fixtures::fixtureFolder();
  const auto scenarist = folder / "captions.scc";
  const auto movie = folder / "c608.mov";
  std::ofstream(scenarist) << "Scenarist_SCC V1.0\n\n"
                              "00:00:00:05\t9420 9420 94ae 94ae 9452 9452 c1c2 c3c4 942f 942f\n\n"
                              "00:00:01:00\t942c 942c\n\n";
  ASSERT_TRUE(testing_support::runCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48:r=25:d=2 -i " + testing_support::shellQuoted(scenarist) +
      " -map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:s copy " + testing_support::shellQuoted(movie)));
  const auto packets = movie_fixtures::probePackets(movie, "s:0");
  ASSERT_EQ(packets.size(), 2U);

  CVNFFmpegMovieAssetReader reader(MediaURL::fileURLWithPath(movie), "test");
  reader.loadInfo(false, false);
  ASSERT_TRUE(reader.isValid());
  reader.initReading();
  std::vector<std::array<std::uint8_t, 2>> pairs;
  std::vector<pm::MediaTime> times;
  while (auto sample = reader.nextSampleBufferForTrackIndex(nullptr)) {
    if (sample->formatDescription()->mediaType() != pm::kMediaTypeClosedCaption) continue;
    ASSERT_EQ(sample->formatDescription(), reader.closedCaptionFormatDescription());
    ASSERT_EQ(sample->dataBuffer()->dataLength(), 2U);
    const std::uint8_t* bytes = sample->dataBuffer()->data();
    pairs.push_back({bytes[0], bytes[1]});
    times.push_back(sample->presentationTimeStamp());
  }
  const std::vector<std::array<std::uint8_t, 2>> expected{
      {0x94, 0x20}, {0x94, 0x20}, {0x94, 0xae}, {0x94, 0xae}, {0x94, 0x52}, {0x94, 0x52},
      {0xc1, 0xc2}, {0xc3, 0xc4}, {0x94, 0x2f}, {0x94, 0x2f}, {0x94, 0x2c}, {0x94, 0x2c}};
  EXPECT_EQ(pairs, expected);
  ASSERT_EQ(times.size(), expected.size());
  // The track's time base is 1/1000 here; each pair lasts one frame of 1/25 s.
  EXPECT_EQ(times[0], pm::MediaTime::make(*packets[0].pts, 1000));
  EXPECT_EQ(times[1] - times[0], pm::MediaTime::make(40, 1000));
  EXPECT_EQ(times[10], pm::MediaTime::make(*packets[1].pts, 1000));
}

}  // namespace
