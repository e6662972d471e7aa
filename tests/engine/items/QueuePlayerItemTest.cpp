#include <gtest/gtest.h>

#include "engine/items/CVNFrameTextureWrapper.h"
#include "engine/items/CVNPauseFrame.h"
#include "engine/items/CVNQueuePlayerItem.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/support/CapturedDiagnostics.h"

namespace engine::items {
namespace {

using Calls = std::vector<std::string>;

class QueuePlayerItemTest : public ::testing::Test {
 protected:
  QueuePlayerItemTest() { item_->setDelegate(&delegate_); }
  item_fakes::RecordingItemDelegate delegate_;
  std::shared_ptr<CVNQueuePlayerItem> item_ = std::make_shared<CVNQueuePlayerItem>();
};

TEST_F(QueuePlayerItemTest, StateMovesForwardOnlyWithEveryIntermediateCallbackInOrder) {
  struct Row {
    std::int32_t from;
    std::int32_t to;
    Calls expected;
  };
  const Row rows[] = {
      {0, 5, {"initialized", "reading", "read all", "ready", "decompressed all", "rendered all"}},
      {0, 1, {"initialized"}},
      {1, 3, {"reading", "read all"}},
      {2, 4, {"read all", "ready", "decompressed all"}},
      {3, 3, {}},
      {4, 2, {}},
      {4, 5, {"rendered all"}},
  };
  for (const auto& row : rows) {
    auto item = std::make_shared<CVNQueuePlayerItem>();
    item->setItemState(row.from);
    item->setDelegate(&delegate_);
    delegate_.clear();
    item->setItemState(row.to);
    EXPECT_EQ(delegate_.calls(), row.expected) << row.from << " -> " << row.to;
    EXPECT_EQ(item->itemState(), std::max(row.from, row.to));
    // An item that reaches Finished decoding is always ready.
    if (item->itemState() >= kItemStateFinishedDecoding) {
      EXPECT_TRUE(item->isReadyForPlayback());
    }
  }
}

TEST_F(QueuePlayerItemTest, ReadinessAndFinishingAreAnnouncedOnce) {
  item_->markAsReadyForPlayback();
  item_->markAsReadyForPlayback();
  item_->setIsFinished(true);
  item_->setIsFinished(true);
  EXPECT_EQ(delegate_.calls(),
            (Calls{"ready", "initialized", "reading", "read all", "decompressed all", "rendered all"}));
  EXPECT_EQ(item_->remainingTime(), platform::media::MediaTime::zero());
}

TEST_F(QueuePlayerItemTest, SettingsTakeOnlyValuesOfTheExpectedClass) {
  item_->applySettingsFromDictionary({{"itemDisplayName", platform::Value(12)},
                                      {"playlistItemUniqueID", platform::Value("P-1")},
                                      {"itemHoldFirstFrame", platform::Value("yes")},
                                      {"itemEndBehaviour", platform::Value(2)},
                                      {"itemContentRect", foundation::Rect{{2, 4}, {100, 50}}},
                                      {"itemOutputBufferFormat", platform::Value(std::int64_t{0x32767579})},
                                      {"itemShouldPremultiplyByAlpha", platform::Value(true)},
                                      {"itemAudioRouting", platform::Value(3)}});
  EXPECT_EQ(item_->displayName(), std::string());
  EXPECT_EQ(item_->playlistItemUniqueID(), "P-1");
  EXPECT_FALSE(item_->holdFirstFrame());
  EXPECT_EQ(item_->endBehaviour(), 2);
  EXPECT_EQ(item_->contentRect(), (foundation::Rect{{2, 4}, {100, 50}}));
  EXPECT_EQ(item_->outputBufferFormat(), 0x32767579u);
  EXPECT_TRUE(item_->shouldPremultiplyByAlpha());
  EXPECT_TRUE(item_->hasAudioRoutingMode());
  EXPECT_EQ(item_->keyModeAudioSource(), 3);
  EXPECT_EQ(item_->itemDictionary().size(), 8u);
}

TEST_F(QueuePlayerItemTest, UpdateConsumesKnownKeysAndNamesTheRest) {
  item_->applySettingsFromDictionary({{"itemDisplayName", platform::Value("Clip")}, {"itemEndBehaviour", platform::Value(1)}});
  std::optional<std::string> error;
  EXPECT_TRUE(item_->updateWithAttributes({{"itemEndBehaviour", platform::Value(1)}}, &error));
  EXPECT_TRUE(delegate_.calls().empty()) << "an unchanged end behaviour tells nobody";
  EXPECT_FALSE(item_->updateWithAttributes({{"itemEndBehaviour", platform::Value(2)},
                                            {"itemHoldFirstFrame", platform::Value(true)},
                                            {"itemCGProjects", platform::Value(platform::Array{})},
                                            {"itemSpeed", platform::Value(2.0)},
                                            {"itemVolume", platform::Value(1.0)}},
                                           &error));
  EXPECT_EQ(error, "Failed to update properties itemSpeed, itemVolume of item Clip");
  EXPECT_EQ(delegate_.calls(), Calls{"end behaviour 1 to 2"});
  EXPECT_TRUE(item_->holdFirstFrame());
  EXPECT_TRUE(item_->itemDictionary().contains("itemCGProjects"));
}

TEST_F(QueuePlayerItemTest, DisplayModeFillsOnlyAZeroContentRect) {
  item_->setOutputDisplayMode(item_fakes::displayMode(1280, 720));
  EXPECT_EQ(item_->contentRect(), (foundation::Rect{{0, 0}, {1280, 720}}));
  auto other = std::make_shared<CVNQueuePlayerItem>();
  other->setContentRect({{10, 10}, {20, 20}});
  other->setOutputDisplayMode(item_fakes::displayMode(1280, 720));
  EXPECT_EQ(other->contentRect(), (foundation::Rect{{10, 10}, {20, 20}}));
}

TEST_F(QueuePlayerItemTest, MissingOverridesLogAndAnswerNothing) {
  testing_support::CapturedDiagnostics diagnostics;
  item_->startReading();
  EXPECT_EQ(item_->copyCurrentPixelBuffer(), nullptr);
  EXPECT_EQ(item_->nextPixelBufferByAllowingItemToDequeue(true, 2), nullptr);
  EXPECT_EQ(item_->nextTexture(), nullptr);
  EXPECT_EQ(diagnostics.count("missing override for startReading"), 1u);
  EXPECT_EQ(diagnostics.count("missing override for nextPixelBufferWithStatusPlaying"), 1u);
  EXPECT_EQ(diagnostics.count("missing override for nextTexture"), 1u);
  item_->setAllowedReadAheadDurationInSeconds(0);
  EXPECT_EQ(diagnostics.count("missing override for startReading"), 1u) << "no read-ahead asks for no reading";
}

TEST_F(QueuePlayerItemTest, ExtendedDictionaryAddsTimesToTheSettings) {
  item_->applySettingsFromDictionary({{"itemDisplayName", platform::Value("Clip")}});
  item_->setPlaybackDuration(12.5);
  const auto extended = item_->extendedItemDictionary();
  EXPECT_EQ(numberForKey(extended, "itemDuration"), 12.5);
  EXPECT_EQ(numberForKey(extended, "remainingTime"), 0.0);
  EXPECT_EQ(numberForKey(extended, "elapsedTime"), 0.0);
  EXPECT_EQ(*stringForKey(extended, "itemDisplayName"), "Clip");
  EXPECT_FALSE(extended.contains("transitionEndOffset"));
  EXPECT_EQ(item_->descriptionForLogs(), "'Clip' (UID = '" + item_->uniqueID() + "')");
}

TEST(PauseFrameTest, WritesThreeDecimalsAndACleanName) {
  pugi::xml_document document;
  CVNPauseFrame("Break\x01 one", 12.3456).XMLElement(document);
  const auto element = document.child("PauseFrame");
  EXPECT_STREQ(element.attribute("timeInSeconds").value(), "12.346");
  EXPECT_STREQ(element.attribute("displayName").value(), "Break one");
  const auto read = CVNPauseFrame::fromXMLElement(element);
  EXPECT_DOUBLE_EQ(read.timeInSeconds(), 12.346);
  EXPECT_EQ(read.description(), "Break one 12.35");

  pugi::xml_document bare;
  const auto empty = CVNPauseFrame::fromXMLElement(bare.append_child("PauseFrame"));
  EXPECT_EQ(empty.displayName(), std::nullopt);
  EXPECT_EQ(empty.timeInSeconds(), 0.0);
  EXPECT_EQ(CVNPauseFrame().timeInSeconds(), -1.0);
}

TEST(FrameTextureWrapperTest, KeepsPlaneTexturesInOrder) {
  CVNFrameTextureWrapper wrapper(nullptr);
  const auto first = std::make_shared<render::Texture>();
  wrapper.addCVMetalTexture(nullptr, first);
  wrapper.addCVMetalTexture(nullptr, std::make_shared<render::Texture>());
  EXPECT_FALSE(wrapper.containsCVMetalTexture());
  EXPECT_EQ(wrapper.textureCount(), 2u);
  EXPECT_EQ(wrapper.textureForPlaneAtIndex(0), first);
  EXPECT_EQ(wrapper.textureForPlaneAtIndex(2), nullptr);
  wrapper.addCVMetalTexture(std::make_shared<render::CacheTexture>(), nullptr);
  EXPECT_TRUE(wrapper.containsCVMetalTexture());
  EXPECT_EQ(wrapper.textureCount(), 2u);
}

}  // namespace
}  // namespace engine::items
