// A movie transition item over the real session, reader and decoder, on a
// movie with alpha made with ffmpeg at test time.
#include <gtest/gtest.h>

#include "engine/items/transitions/CVNMovieTransitionQueuePlayerItem.h"
#include "engine/items/transitions/TransitionItemFactory.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/engine/items/RealClipPlayback.h"

namespace engine::items {
namespace {

namespace pm = platform::media;
using platform::Value;

TEST(MovieTransitionItemTest, ReadsEveryPictureOfTheAlphaMovieAndFinishes) {
  item_fakes::RealClipFolder clips;
  const auto movie = clips.make("burst.mov",
                                "-f lavfi -i testsrc2=size=160x90:rate=25 -t 1 -vf format=rgba,colorchannelmixer=aa=0.5 "
                                "-c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le");
  ASSERT_FALSE(movie.empty());

  item_fakes::RecordingItemDelegate delegate;
  const auto mode = item_fakes::displayMode(160, 90);
  const platform::Dictionary dictionary{
      {"uniqueID", Value("Burst")},           {"displayName", Value("Burst")},
      {"transitionType", Value("alphaMovie")}, {"duration", Value(1.0)},
      {"CutFrameNumber", Value(10)},          {"TransitionFilePath", Value(movie.string())},
      {"ShouldPremultiplyByAlpha", Value(true)}};
  std::shared_ptr<CVNMovieTransitionQueuePlayerItem> item;
  delegate.runOnQueue([&] {
    item = std::dynamic_pointer_cast<CVNMovieTransitionQueuePlayerItem>(
        transitionFromDictionary(dictionary, {nullptr, mode, pm::kPixelFormat422YpCbCr8, {}, &delegate}));
    ASSERT_NE(item, nullptr);
    item->setSharedPixelBufferPool(item_fakes::outputPool(pm::kPixelFormat422YpCbCr8, 160, 90));
  });
  ASSERT_NE(item, nullptr);
  ASSERT_TRUE(item_fakes::readUntilReady(delegate, *item, 4)) << item->invalidReason().value_or("");
  EXPECT_EQ(item->playbackDuration(), 1.0);
  EXPECT_DOUBLE_EQ(item->previousItemMixPointFromInPoint(), 0.4);
  EXPECT_DOUBLE_EQ(item->nextItemMixPointFromInPoint(), 0.4);

  const auto frames = item_fakes::playToTheEnd(delegate, *item, 160, 100);
  ASSERT_EQ(frames.size(), 25u);
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], frames[0] + std::int64_t(i)) << i;
  EXPECT_EQ(item->itemState(), kItemStateFinished);
  EXPECT_TRUE(item->shouldPremultiplyByAlpha());
  EXPECT_TRUE(delegate.allCallsOnQueue());
}

}  // namespace
}  // namespace engine::items
