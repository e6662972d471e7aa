// A clip item over the real session, reader and decoder, on a clip made with
// ffmpeg at test time: pulled like the output would, once a picture is due.
#include <gtest/gtest.h>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/engine/items/RealClipPlayback.h"

namespace engine::items {
namespace {

namespace pm = platform::media;

TEST(MediaItemRealClipTest, PlaysEveryPictureOnceInOrderToTheEnd) {
  item_fakes::RealClipFolder clips;
  const auto clip = clips.make("testsrc2.mov", "-f lavfi -i testsrc2=size=640x360:rate=25 -t 3 -c:v mpeg2video -q:v 2");
  ASSERT_FALSE(clip.empty());

  item_fakes::RecordingItemDelegate delegate;
  const auto mode = item_fakes::displayMode(640, 360);
  auto item = CVNMediaQueuePlayerItem::create();
  item->setDelegate(&delegate);
  item->setOutputDisplayMode(mode);
  item->setSharedPixelBufferPool(item_fakes::outputPool(pm::kPixelFormat422YpCbCr8, 640, 360));
  delegate.runOnQueue([&] {
    item->applySettingsFromDictionary({{"itemURL", platform::Value(clip.string())},
                                       {"itemTimeScale", platform::Value(25000)},
                                       {"itemFrameDuration", platform::Value(1000)},
                                       {"itemOutputBufferFormat", platform::Value(std::int64_t{pm::kPixelFormat422YpCbCr8})}});
  });
  ASSERT_TRUE(item_fakes::readUntilReady(delegate, *item, 8));
  EXPECT_EQ(item->type(), kClipTypeMovie);
  EXPECT_EQ(item->playbackDuration(), 3.0);

  const auto frames = item_fakes::playToTheEnd(delegate, *item, 640, 200);
  ASSERT_EQ(frames.size(), 75u);
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], frames[0] + std::int64_t(i)) << i;
  EXPECT_EQ(clips.log().linesWith("Start duplicating frames"), 0u);
  EXPECT_EQ(item->itemState(), kItemStateFinished);
  EXPECT_EQ(delegate.calls().back(), "rendered all");
  EXPECT_TRUE(delegate.allCallsOnQueue());
}

}  // namespace
}  // namespace engine::items
