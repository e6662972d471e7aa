#include <gtest/gtest.h>

#include <cmath>

#include "tests/engine/items/MediaItemFixture.h"

namespace engine::items {
namespace {

using Calls = std::vector<std::string>;

TEST_F(MediaItemTest, SettingsOutOfOrderMakeAnInvalidItemInsteadOfStopping) {
  auto item = CVNMediaQueuePlayerItem::create(item_fakes::scriptedFactory({}, &session_));
  item->applySettingsFromDictionary(clip());
  EXPECT_FALSE(item->isValid());
  EXPECT_EQ(item->invalidReason(), "Settings applied before the delegate was set");
  EXPECT_EQ(session_, nullptr);
  item->setDelegate(&delegate_);
  item->applySettingsFromDictionary(clip());
  EXPECT_EQ(item->invalidReason(), "Settings applied before the output display mode was set");
}

TEST_F(MediaItemTest, SettingsIgnoreValuesOfAnotherClass) {
  make(clip({{"itemAllowSmartResize", platform::Value("yes")},
             {"itemResizeMode", platform::Value("2")},
             {"itemReverseFieldOrder", platform::Value(true)},
             {"itemResizeModeOption", platform::Value(7)},
             {"itemStaticOverlayLogoURL", platform::Value("/logo.png")}}));
  EXPECT_FALSE(item_->allowDeinterlace());
  EXPECT_EQ(item_->resizeMode(), kResizeModeLetterbox);
  EXPECT_TRUE(item_->explicitFieldInversion());
  EXPECT_EQ(item_->resizeModeOption(), 7);
  EXPECT_EQ(item_->staticOverlayLogoURL(), std::nullopt);
  // A path given as text is a file; the clip is named after it.
  EXPECT_EQ(item_->URL()->path(), "/media/news/clip.mov");
  EXPECT_EQ(item_->displayName(), "clip.mov");
}

TEST_F(MediaItemTest, DurationIsCountedInWholeFramesOf64Bits) {
  struct Row {
    const char* what;
    ItemDictionary settings;
    bool stillImage;
    pm::MediaTime expected;
  };
  const Row rows[] = {
      {"10 s at 25 fps", clip({{"itemDuration", platform::Value(10.01)}}), false, pm::MediaTime::make(250000, 25000)},
      {"negative is unbounded", clip({{"itemDuration", platform::Value(-1.0)}}), false,
       pm::MediaTime::make(9223372036854775, 25000)},
      {"a day at 90 kHz ticks", clip({{"itemDuration", platform::Value(86400.0)}, {"itemTimeScale", platform::Value(90000)},
                                      {"itemFrameDuration", platform::Value(1)}}),
       false, pm::MediaTime::make(7776000000, 90000)},
      {"still image without duration", clip(), true, pm::MediaTime::make(250000, 25000)},
      {"still image ends at its out point", clip({{"itemOutPoint", platform::Value(4.0)}}), true,
       pm::MediaTime::make(100000, 25000)},
  };
  for (const auto& row : rows) {
    make(row.settings, {.stillImage = row.stillImage});
    EXPECT_EQ(session_->durationSet, row.expected) << row.what << ": " << session_->durationSet.value;
  }
}

TEST_F(MediaItemTest, MissingFrameDurationTakesTheSessionsOwnOrInvalidatesTheItem) {
  ItemDictionary settings = clip({{"itemDuration", platform::Value(4.0)}});
  settings.erase("itemFrameDuration");
  make(settings);
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(session_->durationSet, pm::MediaTime::make(100000, 25000));
  EXPECT_EQ(item_->itemState(), kItemStateInitialized);

  make(settings, {.rate = pm::MediaTime::make(0, 1)});
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(item_->invalidReason(), "No frame duration to count the frames of the clip");
  EXPECT_TRUE(item_->isFinished());
}

TEST_F(MediaItemTest, ReadingAskedBeforeInitialisationStartsWithIt) {
  make(clip({{"itemInPoint", platform::Value(std::nan(""))}, {"itemNextItemMixPoint", platform::Value(3.5)}}));
  onQueue([&] { item_->startReading(); });
  EXPECT_EQ(session_->startBufferingCalls, 0);
  EXPECT_EQ(item_->requestedItemState(), kItemStateReading);
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(session_->startBufferingCalls, 1);
  EXPECT_EQ(item_->itemState(), kItemStateReading);
  EXPECT_EQ(delegate_.calls(), (Calls{"initialized", "reading"}));
  EXPECT_TRUE(delegate_.allCallsOnQueue());
  EXPECT_TRUE(item_->hasNextItemMixPoint());
  EXPECT_EQ(item_->nextItemMixPointFromInPoint(), 3.5);
  EXPECT_EQ(session_->outputFrameDuration(), pm::MediaTime::make(1000, 25000));
}

TEST_F(MediaItemTest, InvalidClipsAndFailedStartsFinishTheItem) {
  make(clip(), {.content = media::kContentNothing, .invalidReason = std::string("Unsupported codec")});
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(item_->invalidReason(), "Unsupported codec");
  EXPECT_EQ(item_->itemState(), kItemStateFinished);

  make(clip(), {.startsBuffering = false});
  onQueue([&] {
    session_->initialize();
    item_->startReading();
  });
  EXPECT_TRUE(item_->isFinished());
  EXPECT_EQ(log_.linesWith("Error: Failed to start Buffering item ''clip.mov' (UID: '"), 1u);
}

TEST_F(MediaItemTest, LiveInputWinsOverLiveEventAndDescribesItsSource) {
  make({{"itemIsZiraEvent", platform::Value(true)},
        {"itemIsZiraInput", platform::Value(true)},
        {"itemDisplayName", platform::Value("Studio")},
        {"itemZiraSource", std::shared_ptr<media::CVNZiraSource>()},
        {"itemEndBehaviour", platform::Value(2)},
        {"itemWaitForActionCompletionCallBack", platform::Value(true)},
        {"itemVirtualSourceUniqueID", platform::Value("VS-9")}},
       {.clipType = kClipTypeLiveInput});
  ASSERT_NE(live_, nullptr);
  EXPECT_TRUE(item_->isZiraInput());
  EXPECT_TRUE(live_->waitsForAction);
  EXPECT_TRUE(item_->playForever());
  item_->setEndBehaviour(0);
  EXPECT_FALSE(item_->playForever());
  EXPECT_EQ(item_->descriptionForLogs(),
            "'Studio' (Vovi Input 'Camera 1' - UID: '" + item_->uniqueID() + "') - VS Source ID: \"VS-9\"");
  std::optional<std::string> error;
  EXPECT_TRUE(item_->updateWithAttributes({{"itemWaitForActionCompletionCallBack", platform::Value(true)}}, &error));
  EXPECT_FALSE(live_->waitsForAction);
  // A live input forwards every scrub, even to where it is.
  onQueue([&] {
    item_->scrubToTime(0, true);
    item_->scrubToTime(0, true);
  });
  EXPECT_EQ(session_->seeks.size(), 2u);
  onQueue([&] { item_->ziraSessionDidNotReceiveAnyFramesSince(*session_, 5); });
  EXPECT_EQ(delegate_.calls().back(), "no frames since 5");
}

TEST_F(MediaItemTest, FieldDominanceOfEachDecoderFieldOrder) {
  const std::tuple<std::int32_t, std::int32_t, const char*> rows[] = {
      {0, 0, "/!\\ Unknown field order"},
      {1, 3, "Progressive"},
      {2, 2, "Top coded_first, top displayed first"},
      {3, 1, "Bottom coded first, bottom displayed first"},
      {4, 2, "Top coded first, bottom displayed first"},
      {5, 1, "Bottom coded first, top displayed first"},
      {6, 0, ""},
      {-1, 0, ""},
  };
  for (const auto& [order, dominance, text] : rows) {
    std::string out = "unset";
    EXPECT_EQ(CVNMediaQueuePlayerItem::fieldDominanceFromAVFieldOrder(order, &out), dominance) << order;
    EXPECT_EQ(out, text) << order;
  }
  EXPECT_EQ(CVNMediaQueuePlayerItem::stringFromQueuePlayerItemState(6), "Missing state string");
}

TEST_F(MediaItemTest, VideoFrameSizeIsEvenOrTheOutputs) {
  make(clip());
  item_->setVideoFrameSize({1279, 721});
  EXPECT_EQ(item_->videoFrameSize(), (foundation::Size{1280, 722}));
  item_->setVideoFrameSize({0, 720});
  EXPECT_EQ(item_->videoFrameSize(), (foundation::Size{1920, 1080}));
}

}  // namespace
}  // namespace engine::items

namespace engine::items {
namespace {

TEST_F(MediaItemTest, ContentRectMovesOneLineWhenFieldOrdersDiffer) {
  struct Row {
    const char* what;
    std::int32_t decoderFieldOrder;
    bool reverse;
    double y;
  };
  const Row rows[] = {
      {"top first on a bottom-first output", 2, false, 1},
      {"same, inverted again by hand", 2, true, 0},
      {"bottom first on a bottom-first output", 3, false, 0},
      {"progressive", 1, false, 0},
  };
  mode_ = item_fakes::displayMode(1920, 1080, 1000, 25000, pluginframework::FieldDominance::BottomFieldFirst);
  for (const auto& row : rows) {
    make(clip({{"itemReverseFieldOrder", platform::Value(row.reverse)}}), {.fieldOrder = row.decoderFieldOrder});
    onQueue([&] { session_->initialize(); });
    EXPECT_EQ(item_->contentRect(), (foundation::Rect{{0, row.y}, {1920, 1080}})) << row.what;
    EXPECT_EQ(item_->textureRect().origin.y, -row.y / 1080) << row.what;
  }
}

}  // namespace
}  // namespace engine::items

namespace engine::items {
namespace {

TEST_F(MediaItemTest, StartTransitionHoldsTheFirstFrameInsteadOfTheClip) {
  auto factory = item_fakes::scriptedFactory({}, &session_);
  std::shared_ptr<CVNQueuePlayerItem> transition;
  platform::Dictionary given;
  factory.makeStartTransition = [&](const platform::Dictionary& dictionary, const StartTransitionContext& context) {
    given = dictionary;
    EXPECT_EQ(context.delegate, &delegate_);
    transition = std::make_shared<CVNQueuePlayerItem>();
    return transition;
  };
  item_ = CVNMediaQueuePlayerItem::create(factory);
  item_->setDelegate(&delegate_);
  item_->setOutputDisplayMode(mode_);
  const platform::Dictionary transitionSettings{{"transitionName", platform::Value("Dissolve")}};
  onQueue([&] {
    item_->applySettingsFromDictionary(
        clip({{"itemStartTransition", platform::Value(transitionSettings)}, {"itemHoldFirstFrame", platform::Value(true)}}));
  });
  ASSERT_EQ(item_->startTransition(), transition);
  EXPECT_EQ(given, transitionSettings);
  EXPECT_TRUE(transition->holdFirstFrame());
  EXPECT_FALSE(item_->holdFirstFrame());
  EXPECT_EQ(transition->playerItemAfterTransition(), item_);
  EXPECT_EQ((*transition->itemBDictionary())["itemURL"], platform::Value("/media/news/clip.mov"));
  transition->setPlayerItemAfterTransition(nullptr);  // as the queue player detaches a removed item
}

TEST_F(MediaItemTest, UnusualFrameRatesAreKeptAndLogged) {
  make(clip(), {.rate = pm::MediaTime::make(25, 2)});
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(item_->naturalPlaybackRate(), pm::MediaTime::make(25, 2));
  EXPECT_EQ(log_.linesWith("Warning: File uses a weird frame rate: 25/2 ('clip.mov' (UID: '"), 1u);
  make(clip(), {.rate = pm::MediaTime::make(29971, 1000)});
  onQueue([&] { session_->initialize(); });
  EXPECT_EQ(item_->naturalPlaybackRate(), pm::MediaTime::make(30000, 1001));
  EXPECT_EQ(log_.linesWith("weird frame rate"), 1u);
}

}  // namespace
}  // namespace engine::items
