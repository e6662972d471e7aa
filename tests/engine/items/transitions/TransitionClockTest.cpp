// The clock of layer and shader transition items: ready at once, one step per
// dequeuing pull (a field on interlaced output), finished when time runs out.
#include <gtest/gtest.h>

#include "engine/items/CVNMediaQueuePlayerItem.h"

#include "engine/items/transitions/CVNShaderTransitionQueuePlayerItem.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine::items {
namespace {

using pluginframework::FieldDominance;

enum class Pull { Texture, PixelBuffer };

// One output pull as the queue player makes it on either path.
void pull(CVNQueuePlayerItem& item, Pull kind, bool dequeue) {
  if (kind == Pull::Texture) {
    item.prepareNextTextureUsingCommandBuffer(nullptr, dequeue, kPlaybackStatusPlaying);
    EXPECT_EQ(item.nextTexture(), nullptr);
  } else {
    EXPECT_EQ(item.nextPixelBufferByAllowingItemToDequeue(dequeue, kPlaybackStatusPlaying), nullptr);
  }
}

std::shared_ptr<CVNShaderTransitionQueuePlayerItem> shaderItem(CVNQueuePlayerItem::DisplayModeRef mode,
                                                               CVNQueuePlayerItemDelegate* delegate = nullptr) {
  auto item = std::make_shared<CVNShaderTransitionQueuePlayerItem>(std::make_shared<CVNShaderTransition>());
  item->setDelegate(delegate);
  item->setOutputDisplayMode(std::move(mode));
  return item;
}

struct ClockCase {
  const char* what;
  std::int64_t frameDuration;
  std::int32_t timeScale;
  FieldDominance dominance;
  Pull pull;
  int finishingPull;
};

// Texture pulls come per field of interlaced output, pixel-buffer pulls per frame.
TEST(TransitionClockTest, OneSecondEndsOnTheLastPullOfItsFramesOrFields) {
  constexpr auto kProgressive = FieldDominance::Progressive;
  constexpr auto kTopFirst = FieldDominance::TopFieldFirst;
  const ClockCase cases[] = {
      {"25p, texture", 1000, 25000, kProgressive, Pull::Texture, 25},
      {"25p, pixel buffer", 1000, 25000, kProgressive, Pull::PixelBuffer, 25},
      {"25p, frame duration 1", 1, 25, kProgressive, Pull::Texture, 25},
      {"25i, texture", 1000, 25000, kTopFirst, Pull::Texture, 50},
      {"25i, texture, frame duration 1", 1, 25, FieldDominance::BottomFieldFirst, Pull::Texture, 50},
      {"29.97i, texture, odd frame duration", 1001, 30000, kTopFirst, Pull::Texture, 60},
      {"25i, pixel buffer", 1000, 25000, kTopFirst, Pull::PixelBuffer, 25},
      {"25i, pixel buffer, frame duration 1", 1, 25, kTopFirst, Pull::PixelBuffer, 25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto item = shaderItem(item_fakes::displayMode(1920, 1080, c.frameDuration, c.timeScale, c.dominance));
    item->startReading();
    int pulls = 0;
    while (!item->isFinished() && pulls < 1000) {
      pull(*item, c.pull, true);
      ++pulls;
    }
    EXPECT_EQ(pulls, c.finishingPull);
    EXPECT_EQ(item->itemState(), kItemStateFinished);
    EXPECT_EQ(item->remainingTime().value, 0);
    EXPECT_GE(item->elapsedTime().seconds(), 1.0);
  }
}

TEST(TransitionClockTest, ReadsOnceIsReadyAtOnceAndPausedPullsKeepTheClock) {
  item_fakes::RecordingItemDelegate delegate;
  auto item = shaderItem(item_fakes::displayMode(1920, 1080), &delegate);
  item->setPlaybackDuration(0.5);
  item->setAllowedReadAheadDurationInSeconds(4);
  EXPECT_EQ(delegate.calls(), (std::vector<std::string>{"initialized", "reading", "read all", "ready",
                                                        "decompressed all"}));
  EXPECT_TRUE(item->isReadyForPlayback());
  EXPECT_EQ(item->currentReadAheadDurationInSeconds(), 0.5);

  pull(*item, Pull::Texture, true);
  pull(*item, Pull::PixelBuffer, true);
  for (int i = 0; i < 5; ++i) {
    pull(*item, Pull::Texture, false);
    pull(*item, Pull::PixelBuffer, false);
  }
  EXPECT_EQ(item->elapsedTime().seconds(), 0.08);
  EXPECT_EQ(item->remainingTime().seconds(), 0.42);

  // A second start (the player renews the read-ahead every frame) keeps the clock going.
  item->startReading();
  item->setAllowedReadAheadDurationInSeconds(4);
  EXPECT_EQ(item->elapsedTime().seconds(), 0.08);
  EXPECT_EQ(item->currentReadAheadDurationInSeconds(), 0.42);
  EXPECT_EQ(delegate.calls().size(), 5u);
}

TEST(TransitionClockTest, AnOutputThatCannotKeepTimeEndsTheTransitionAtOnce) {
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder.path() / "defaults.plist");
  testing_support::CapturedTechnicalLog log(defaults);
  const std::pair<const char*, CVNQueuePlayerItem::DisplayModeRef> cases[] = {
      {"no display mode", nullptr},
      {"frame duration 0", item_fakes::displayMode(1920, 1080, 0, 25000)},
      {"time scale too large to double", item_fakes::displayMode(1920, 1080, 1, INT32_MAX, FieldDominance::TopFieldFirst)},
  };
  for (const auto& [what, mode] : cases) {
    SCOPED_TRACE(what);
    auto item = shaderItem(mode);
    item->startReading();
    EXPECT_TRUE(item->isFinished());
    pull(*item, Pull::Texture, true);
    EXPECT_TRUE(item->isFinished());
  }
  EXPECT_EQ(log.linesWith("No output frame duration to time the transition"), std::size(cases));
}

}  // namespace
}  // namespace engine::items
