// The playout recording fixture read against a file ffmpeg makes directly as
// the node's output should be: A whole, B from 0.4 s to 1.6 s, C whole, then
// C's last frame held.
#include <gtest/gtest.h>

#include "tests/node-standin/support/PlayoutRecording.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace standin::testing_playout {
namespace {

using testing_support::shellQuoted;

class PlayoutRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const RampClip& clip : kRampClips) {
      ASSERT_TRUE(makeRampClip(clip, clipPath(clip.name))) << clip.name;
    }
  }
  std::filesystem::path clipPath(char name) const { return folder_.path() / (std::string(1, name) + ".mov"); }

  testing_support::TemporaryDirectory folder_;
};

TEST_F(PlayoutRecordingTest, NamesEveryFrameAndTheToneOfEachSegment) {
  const auto recording = folder_.path() / "expected.mkv";
  const std::string graph =
      "[1:v]trim=start_frame=10:end_frame=40,setpts=PTS-STARTPTS[bv];"
      "[1:a]atrim=0.4:1.6,asetpts=PTS-STARTPTS[ba];"
      "[2:v]tpad=stop_mode=clone:stop=10[cv];[2:a]apad=pad_dur=0.4[ca];"
      "[0:v][0:a][bv][ba][cv][ca]concat=n=3:v=1:a=1[v][a]";
  ASSERT_TRUE(testing_support::runCommand(
      "ffmpeg -v error -nostdin -y -i " + shellQuoted(clipPath('A')) + " -i " + shellQuoted(clipPath('B')) + " -i " +
      shellQuoted(clipPath('C')) + " -filter_complex \"" + graph +
      "\" -map \"[v]\" -map \"[a]\" -c:v ffv1 -c:a pcm_s16le " + shellQuoted(recording)));

  EXPECT_EQ(describeRuns(nameRecordedFrames(recording)), "A0-49 B10-39 C0-49 C49x10");
  struct Segment {
    double from, to;
    int toneHz;
  };
  // Each segment away from its edges; the held frames are silent.
  for (const Segment& segment : {Segment{0.1, 1.9, 440}, Segment{2.1, 3.1, 660}, Segment{3.3, 5.1, 990},
                                 Segment{5.25, 5.55, 0}}) {
    EXPECT_NEAR(toneFrequency(recording, segment.from, segment.to), segment.toneHz, segment.toneHz * 0.02 + 1)
        << segment.from << " s to " << segment.to << " s";
  }
}

TEST(PlayoutRunsTest, ShowMissingRepeatedAndForeignFrames) {
  const std::vector<FrameName> frames = {{'A', 0}, {'A', 1}, {'A', 3}, {'A', 3}, {'-', 0}, {'-', 0}, {'?', 0}};
  EXPECT_EQ(describeRuns(frames), "A0-1 A3x2 -x2 ?0");
}

}  // namespace
}  // namespace standin::testing_playout
