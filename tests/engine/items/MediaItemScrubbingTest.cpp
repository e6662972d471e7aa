#include "tests/engine/items/MediaItemFixture.h"

namespace engine::items {
namespace {

class MediaItemScrubbingTest : public MediaItemTest {
 protected:
  void SetUp() override {
    make(clip({{"itemDuration", platform::Value(10.0)}}));
    initializeAndPlay();
    pull();
  }
  void scrub(double seconds) {
    onQueue([&] { item_->scrubToTime(seconds, true); });
  }
};

TEST_F(MediaItemScrubbingTest, StaysPutWithinAFrameOrBeyondTheEnd) {
  session_->setElapsedSeconds(1.0);
  scrub(1.02);
  scrub(10.5);
  EXPECT_TRUE(session_->seeks.empty());
  EXPECT_EQ(log_.linesWith("Scrub at 1.020000 diff 0.020000 ''clip.mov' (UID: '"), 1u);
  EXPECT_EQ(log_.linesWith("Scrub at 10.500000 diff 9.500000"), 1u);
  EXPECT_TRUE(item_->isReadyForPlayback());
}

TEST_F(MediaItemScrubbingTest, SeeksOnceUntilThePictureAtTheNewTimeIsShown) {
  scrub(5.0);
  EXPECT_EQ(session_->seeks, std::vector<double>{5.0});
  EXPECT_FALSE(item_->isReadyForPlayback());
  EXPECT_EQ(log_.linesWith("Scrub to time: 5.000000 ''clip.mov' (UID: '" + item_->uniqueID() +
                           "')' - URL: '/media/news/clip.mov'"),
            1u);
  scrub(6.0);
  EXPECT_EQ(log_.linesWith("Scrub requested while already scrubbing ''clip.mov'"), 1u);

  const auto atFive = item_fakes::picture(1920, 1080, k2vuy, 125);
  onQueue([&] {
    session_->push(atFive);
    item_->decompressionSessionIsReadyForPlayback(*session_);
  });
  EXPECT_TRUE(item_->shouldForceTextureUpdate());
  scrub(6.0);
  EXPECT_EQ(log_.linesWith("Scrub requested while already scrubbing"), 2u) << "until the new picture is taken";
  EXPECT_EQ(pull(), atFive->imageBuffer());
  EXPECT_FALSE(item_->shouldForceTextureUpdate());
  scrub(6.0);
  EXPECT_EQ(session_->seeks, (std::vector<double>{5.0, 6.0}));
}

TEST_F(MediaItemScrubbingTest, FinishedClipReturnsToReadingWithoutReplayingCallbacks) {
  session_->setFinished(true);
  pull();
  ASSERT_EQ(item_->itemState(), kItemStateFinished);
  const auto callsBefore = delegate_.calls();
  scrub(2.0);
  EXPECT_FALSE(item_->isFinished());
  EXPECT_EQ(item_->itemState(), kItemStateReading);
  EXPECT_EQ(delegate_.calls(), callsBefore);
  // Forward again from there, with the callbacks of each state passed.
  onQueue([&] { item_->decompressionSessionDidReadAllFrames(*session_); });
  EXPECT_EQ(delegate_.calls().back(), "read all");
}

}  // namespace
}  // namespace engine::items
