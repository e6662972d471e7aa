#include <thread>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "media/live/CVNZiraSource.h"
#include "tests/engine/mixer/MixerHarness.h"
#include "tests/media/live/LiveFakes.h"
#include "tests/support/RunLoopWait.h"

namespace mixer_tests {
namespace {

using engine::items::ItemDictionary;
using engine::mixer::engineStatusFromCVNPlaybackStatus;
using platform::Value;

ItemDictionary clip(const std::string& name) { return {{"itemDisplayName", Value(name)}}; }

struct LiveScript {
  double duration = 10.0;
  bool enabled = true;
  bool running = true;
  std::int32_t width = 64;
};

ItemDictionary live(const std::string& name, const LiveScript& script) {
  auto input = std::make_shared<media::testing::ScriptedInput>("Input", "input-1");
  input->setSelectedDisplayMode(mode(script.width, 36));
  auto source = std::make_shared<media::CVNZiraSource>();
  source->setInput(input);
  source->setIsEnabled(script.enabled);
  if (script.running)
    input->startCapture(nullptr);
  else
    input->stopCapture();
  return {{"itemDisplayName", Value(name)},
          {"itemIsZiraInput", Value(true)},
          {"itemDuration", Value(script.duration)},
          {"itemZiraSource", source}};
}

class MixerDataSourceTest : public MixerHarness {
 protected:
  std::shared_ptr<engine::items::CVNQueuePlayerItem> ask(platform::Dictionary* info = nullptr) {
    return mixer->nextItemForQueuePlayer(*mixer->mainQueuePlayer(), nullptr, false, info);
  }
  const std::string* displayNameOf(const std::shared_ptr<engine::items::CVNQueuePlayerItem>& item) {
    return item ? engine::items::stringForKey(item->itemDictionary(), "itemDisplayName") : nullptr;
  }
};

TEST_F(MixerDataSourceTest, AcceptedItemsGetTheOutputKeys) {
  struct Case {
    std::int32_t width;
    std::int32_t height;
    bool force169;
    bool sdAspectRatio;
  };
  const Case cases[] = {{720, 576, true, true}, {720, 576, false, false}, {1920, 1080, true, false}};
  for (const auto& c : cases) {
    auto fresh = engine::mixer::CVNVideoMixer::create();
    fresh->setRendererFactory([control = control](engine::queueplayer::CVNQueuePlayer&) {
      return std::make_unique<engine_host::NumberedFrameRenderer>(control);
    });
    auto out = std::make_shared<engine_host::TestOutput>(mode(c.width, c.height), kBGRA);
    out->forces169 = c.force169;
    fresh->setSelectedOutput(out);
    fresh->setMainQueueDelegate(&host);
    fresh->setDelegate(&engineSide);
    ASSERT_EQ(fresh->startMixer(), std::nullopt);
    host.script({clip("Clip")});
    const auto item = fresh->nextItemForQueuePlayer(*fresh->mainQueuePlayer(), nullptr, false, nullptr);
    ASSERT_NE(item, nullptr);
    const auto& dictionary = item->itemDictionary();
    EXPECT_EQ(engine::items::integerForKey(dictionary, "itemTimeScale"), 50000);
    EXPECT_EQ(engine::items::integerForKey(dictionary, "itemFrameDuration"), 1000);
    EXPECT_EQ(engine::items::integerForKey(dictionary, "itemOutputBufferFormat"), kBGRA);
    EXPECT_EQ(engine::items::integerForKey(dictionary, "itemSDAspectRatio").has_value(), c.sdAspectRatio) << c.width;
    EXPECT_EQ(item->delegate(), fresh->mainQueuePlayer().get());
    fresh->stopMixer();
  }
}

TEST_F(MixerDataSourceTest, UnplayableLiveItemsAreSkippedAndTheNextIsAskedForWithTheErrorFlag) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  const std::pair<const char*, LiveScript> cases[] = {
      {"zero duration", {.duration = 0.0}},
      {"disabled", {.enabled = false}},
      {"not running", {.running = false}},
      {"other frame size", {.width = 32}},
  };
  for (const auto& [what, script] : cases) {
    const auto asked = host.count("nextItemAfterItem");
    host.script({live("Camera", script), clip("After")});
    const auto item = ask();
    ASSERT_NE(displayNameOf(item), nullptr) << what;
    EXPECT_EQ(*displayNameOf(item), "After") << what;
    const auto calls = host.calls();
    ASSERT_EQ(calls.size(), asked + 2) << what;
    EXPECT_FALSE(calls[asked].becauseOfError) << what;
    EXPECT_TRUE(calls[asked + 1].becauseOfError) << what;
  }
  host.script({live("Camera", {})});
  EXPECT_EQ(*displayNameOf(ask()), "Camera") << "a running source of the output's size plays";
}

// A looping playlist of disabled sources would recurse without end: the
// data source gives up after a bounded number of skips, with a reason.
TEST_F(MixerDataSourceTest, ALoopOfDisabledSourcesEndsWithNoItemAndAReason) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  host.setRepeat(live("Camera", {.enabled = false}));
  platform::Dictionary info;
  EXPECT_EQ(ask(&info), nullptr);
  EXPECT_EQ(host.count("nextItemAfterItem"), static_cast<std::size_t>(engine::mixer::kMaxSkippedLiveItems));
  EXPECT_TRUE(info.count(engine::queueplayer::kPlaybackControllerNoNextItemReasonKey));
}

TEST_F(MixerDataSourceTest, HostCallsArriveOnTheMainThreadInOrder) {
  for (const bool timestamps : {false, true}) {
    engine_host::ScriptedHostDelegate recorder;
    recorder.setTimestamps(timestamps);
    wireUp();
    mixer->setMainQueueDelegate(&recorder);
    ASSERT_EQ(mixer->startMixer(), std::nullopt);
    auto item = engine::items::CVNMediaQueuePlayerItem::create();
    item->applySettingsFromDictionary(clip("Clip"));
    const auto player = mixer->mainQueuePlayer();
    std::thread queueThread([&] {
      mixer->queuePlayerDidInitializeValidItem(*player, item);
      mixer->queuePlayerDidStartItem(*player, item);
      mixer->queuePlayerDidStopItem(*player, item);
      mixer->queuePlayerLockedClipsChanged(*player, {});
    });
    queueThread.join();
    ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return recorder.calls().size() == 4; }));
    EXPECT_EQ(recorder.callNames(),
              (std::vector<std::string>{"itemWillChange", "itemDidChange", "itemDidStop", "queuedItemsDidChange"}));
    for (const auto& call : recorder.calls()) {
      EXPECT_EQ(call.thread, std::this_thread::get_id()) << call.name;
      if (call.name == "itemDidChange" || call.name == "itemDidStop") EXPECT_EQ(call.timestamped, timestamps);
    }
    mixer->stopMixer();
  }
}

TEST(MixerEngineStatus, QueuePlayerStatusesMapToEngineStatuses) {
  const std::pair<std::uint64_t, std::int32_t> cases[] = {{0, 1}, {1, 8}, {2, 2}, {3, 3}, {4, 4},
                                                          {5, 5}, {6, 8}, {99, 8}};
  for (const auto& [queuePlayerStatus, engineStatus] : cases)
    EXPECT_EQ(engineStatusFromCVNPlaybackStatus(queuePlayerStatus), engineStatus) << queuePlayerStatus;
}

TEST_F(MixerDataSourceTest, EventsOfAnotherQueuePlayerAreIgnored) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  const auto other = engine::queueplayer::CVNQueuePlayer::create("Other");
  host.script({clip("Clip")});
  EXPECT_EQ(mixer->nextItemForQueuePlayer(*other, nullptr, false, nullptr), nullptr);
  mixer->itemsOrStatusChangedForQueuePlayer(*other, 2, nullptr, nullptr, nullptr);
  mixer->itemsOrStatusChangedForQueuePlayer(*mixer->mainQueuePlayer(), 2, nullptr, nullptr, nullptr);
  EXPECT_EQ(engineSide.engineStatuses(), std::vector<std::int32_t>{2});
  EXPECT_EQ(host.count("nextItemAfterItem"), 0u);
}

}  // namespace
}  // namespace mixer_tests
