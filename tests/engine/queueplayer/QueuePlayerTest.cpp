#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <utility>
#include <optional>
#include <string>
#include <vector>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "tests/engine/items/ScriptedSession.h"
#include "tests/engine/queueplayer/QueuePlayerHarness.h"
#include "tests/support/RunLoopWait.h"

namespace engine::queueplayer {
namespace {

using queueplayer_fakes::FakeScript;
using queueplayer_fakes::QueuePlayerHarness;
using Harness = QueuePlayerHarness;

items::ItemDictionary endBehaviour(std::int32_t behaviour) {
  return {{"itemEndBehaviour", platform::Value(behaviour)}};
}

std::vector<std::optional<FakeScript>> clips(const std::string& names, double seconds = 4.0) {
  std::vector<std::optional<FakeScript>> scripts;
  for (const char name : names) scripts.push_back(FakeScript{.name = std::string(1, name), .seconds = seconds});
  return scripts;
}

// A live input whose session runs (status 2) but has given no picture yet.
queueplayer_fakes::ItemRef liveInputWithRunningSession(CVNQueuePlayer& player) {
  std::shared_ptr<item_fakes::ScriptedSession> session;
  auto item = items::CVNMediaQueuePlayerItem::create(
      item_fakes::scriptedFactory({.clipType = items::kClipTypeLiveInput}, &session));
  item->setDelegate(&player);
  item->setOutputDisplayMode(player.outputDisplayMode());
  item->applySettingsFromDictionary({{"itemIsZiraInput", platform::Value(true)},
                                     {"itemDisplayName", platform::Value("Studio")},
                                     {"itemZiraSource", std::shared_ptr<media::CVNZiraSource>()}});
  session->setStatus(2);
  return item;
}

struct Row {
  const char* name{};
  std::vector<std::optional<FakeScript>> source{};  // answers in order; nullopt answers nil
  std::function<void(Harness&)> act{};
  std::uint64_t status{};
  std::string current{};                       // "-" for none
  std::optional<std::string> queue{};          // names in order, when checked
  std::vector<std::string> trace{};            // the frames' notes, when checked
  std::optional<std::size_t> requests{};       // data source requests, when checked
  std::string logText{};                       // a log text and how often it appears
  std::size_t logCount = 0;
  std::function<void(Harness&)> check{};
};

TEST(QueuePlayerTest, FrameStepsAndControlFollowTheQueue) {
  const std::vector<Row> rows = {
      {.name = "read-ahead asks while less than 10 s of 4 s items is queued",
       .source = clips("ABCDE"),
       .act = [](Harness& h) {
         h.start();
         h.frames(1);
       },
       .status = kQueuePlayerPlaying,
       .current = "A",
       .queue = "A B C",
       .requests = 3,
       .logText = "'Main': Asking next item in order to fill readAhead buffer",
       .logCount = 2,
       .check = [](Harness& h) {
         EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return h.delegate.count("initialized C") == 1; }));
       }},
      {.name = "a finished Hold item stays current and the status becomes 4",
       .source = {FakeScript{.name = "A", .seconds = 1.0, .endBehaviour = 2}, FakeScript{.name = "B"}},
       .act = [](Harness& h) {
         h.start();
         h.frames(30);
       },
       .status = kQueuePlayerHoldingLastFrame,
       .current = "A",
       .trace = {"-/A/- A"}},
      {.name = "a hand-over waits for the next item's readiness and says so once",
       .source = {FakeScript{.name = "A", .seconds = 1.0}, FakeScript{.name = "B", .readyWhenReading = false}},
       .act = [](Harness& h) {
         h.start();
         h.frames(40);
         h.onPlayerQueue([&] { h.source.item("B")->makeReady(); });
         h.frames(1);
       },
       .status = kQueuePlayerPlaying,
       .current = "B",
       .queue = "B",
       .trace = {"-/A/- A", "-/B/- B"},
       .logText = "'Main': Don't change current items as \"B\" is not ready for playback",
       .logCount = 1},
      {.name = "a transition keeps A until its previous-item mix point and cuts to B at its next-item mix point",
       .source = {FakeScript{.name = "A", .seconds = 2.0}, FakeScript{.name = "B", .seconds = 2.0}},
       .act = [](Harness& h) {
         h.start();
         h.frames(1);
         auto transition = queueplayer_fakes::makeItem(
             {.name = "T", .seconds = 1.0, .transition = true, .previousMixPoint = 1.0, .nextMixPoint = 0.5});
         h.extraItems.push_back(transition);
         h.onPlayerQueue([&] { h.player->insertItem(transition, 1); });
         h.frames(60);
       },
       .status = kQueuePlayerPlaying,
       .current = "B",
       .queue = "B",
       // B keeps the transition as its fade-out for the part of it after the cut.
       .trace = {"-/A/- A", "A/T/- A", "A/T/B B", "T/B/- B", "-/B/- B"}},
      {.name = "stepForward while paused plays one picture and ends paused",
       .source = clips("A"),
       .act = [](Harness& h) {
         h.player->prepare();
         h.flush();
         h.frames(2);
         h.player->stepForward();
         h.frames(2);
       },
       .status = kQueuePlayerPaused,
       .current = "A",
       .check = [](Harness& h) {
         EXPECT_EQ(h.source.item("A")->dequeues, 1);
         EXPECT_EQ(h.delegate.count("status 2"), 0u);
       }},
      {.name = "an empty queue with preventFromNilCurrentItem keeps the current item and logs nothing",
       .source = {FakeScript{.name = "A", .seconds = 1.0}},
       .act = [](Harness& h) {
         h.player->setPreventFromNilCurrentItem(true);
         h.start();
         h.frames(30);
       },
       .status = kQueuePlayerPlaying,
       .current = "A",
       .logText = "'Main': There is nothing left to play in Playlist or Schedule",
       .logCount = 0},
      {.name = "an empty queue without preventFromNilCurrentItem clears the current item and stops",
       .source = {FakeScript{.name = "A", .seconds = 1.0}},
       .act = [](Harness& h) {
         h.start();
         h.frames(30);
       },
       .status = kQueuePlayerStopped,
       .current = "-",
       .trace = {"-/A/- A", "-/-/- -"},
       .logText = "'Main': There is nothing left to play in Playlist or Schedule",
       .logCount = 1},
      {.name = "a forced live input whose session runs goes on air before it is ready",
       .act = [](Harness& h) {
         h.source.addAnswer(liveInputWithRunningSession);
         h.start();
         h.frames(1);
       },
       .status = kQueuePlayerPlaying,
       .current = "Studio"},
      {.name = "a live input silent past its time-out is skipped",
       .source = clips("ABCD"),
       .act = [](Harness& h) {
         h.start();
         h.frames(1);
         const auto session = std::make_shared<media::CVNSessionBase>(media::CVNSessionBase::DelegateRef(), nullptr);
         h.onPlayerQueue([&] {
           h.player->ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(*session, 5.0, *h.source.item("B"));
         });
         h.flush();
       },
       .status = kQueuePlayerPlaying,
       .current = "A",
       .queue = "A C",
       .logText = "'Main': Vovi Source 'B': Did not receive any frames since 5.00 sec. Time out reached, skipping to "
                  "next clip",
       .logCount = 1,
       .check = [](Harness& h) { EXPECT_EQ(h.source.item("B")->stopCalls, 1); }},
      {.name = "Loop drops the items after it, then asks afresh",
       .source = clips("ABCDE"),
       .act = [](Harness& h) {
         h.start();
         h.frames(1);
         h.player->updateItem("A-id", endBehaviour(4), nullptr);
         h.flush();
       },
       .status = kQueuePlayerPlaying,
       .current = "A",
       .queue = "A D E",
       .requests = 5,
       .logText = "'Main' changing clip end behavior to \"Loop\" for Item",
       .logCount = 1,
       .check = [](Harness& h) { EXPECT_EQ(h.source.requests()[3].afterItem, "A"); }},
      {.name = "Cue Next makes the next item hold its first picture",
       .source = clips("ABC"),
       .act = [](Harness& h) {
         h.start();
         h.frames(1);
         h.player->updateItem("B-id", endBehaviour(7), nullptr);
         h.flush();
       },
       .status = kQueuePlayerPlaying,
       .current = "A",
       .queue = "A B C",
       .check = [](Harness& h) {
         EXPECT_FALSE(h.source.item("A")->holdFirstFrame());
         EXPECT_FALSE(h.source.item("B")->holdFirstFrame());
         EXPECT_TRUE(h.source.item("C")->holdFirstFrame());
       }},
      {.name = "Cue Next on the last item sets no hold flag",
       .source = clips("ABC"),
       .act = [](Harness& h) {
         h.start();
         h.frames(1);
         h.player->updateItem("C-id", endBehaviour(7), nullptr);
         h.flush();
       },
       .status = kQueuePlayerPlaying,
       .current = "A",
       .queue = "A B C",
       .check = [](Harness& h) {
         for (const auto& item : h.source.items()) EXPECT_FALSE(item->holdFirstFrame()) << item->uniqueID();
       }},
      {.name = "out of clips, nothing is asked until the application claims an item",
       .source = {std::nullopt, FakeScript{.name = "A"}},
       .act = [](Harness& h) {
         h.start();
         h.frames(3);
         EXPECT_EQ(h.source.requestCount(), 1u);
         h.player->claimNextItem();
         h.flush();
       },
       // The claim asks until the data source runs dry again.
       .status = kQueuePlayerStopped,
       .current = "-",
       .queue = "A",
       .requests = 3,
       .logText = "'Main': There is nothing left to play in Playlist or Schedule",
       .logCount = 2,
       .check = [](Harness& h) { EXPECT_EQ(h.source.requests()[2].afterItem, "A"); }},
      {.name = "a data source answering only invalid items is left alone after 16 until claimed",
       .act = [](Harness& h) {
         auto made = std::make_shared<int>(0);
         h.source.setGenerator([made](CVNQueuePlayer& player) -> queueplayer_fakes::ItemRef {
           auto item = queueplayer_fakes::makeItem({.name = "missing " + std::to_string(++*made), .valid = false});
           item->setDelegate(&player);
           item->setItemState(items::kItemStateInitialized);
           return item;
         });
         const char* stopLine = "'Main': 16 invalid items in a row, no further item asked until the next is claimed";
         // Items already asked for when the 16th turns out invalid are still answered.
         const auto askedUntilStopped = [&](std::size_t stops) {
           EXPECT_TRUE(testing_support::waitForCondition([&] { return h.log.linesWith(stopLine) == stops; }));
           h.flush();
           const std::size_t asked = h.source.requestCount();
           h.frames(3);
           h.flush();
           EXPECT_EQ(h.source.requestCount(), asked);
           return asked;
         };
         h.start();
         const std::size_t first = askedUntilStopped(1);
         EXPECT_GE(first, 16u);
         h.player->claimNextItem();
         EXPECT_GE(askedUntilStopped(2) - first, 16u);
       },
       .status = kQueuePlayerStopped,
       .current = "-",
       .queue = "",
       .check = [](Harness& h) {
         const auto requests = h.source.requests();
         EXPECT_FALSE(requests.front().becauseOfError);
         EXPECT_TRUE(requests[1].becauseOfError);
       }},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Harness h;
    for (const auto& script : row.source) h.source.add(script);
    row.act(h);
    EXPECT_EQ(h.status(), row.status);
    EXPECT_EQ(h.current(), row.current);
    if (row.queue) {
      EXPECT_EQ(h.queueNames(), *row.queue);
    }
    if (!row.trace.empty()) {
      EXPECT_EQ(h.trace, row.trace);
    }
    if (row.requests) {
      EXPECT_EQ(h.source.requestCount(), *row.requests);
    }
    if (!row.logText.empty()) {
      EXPECT_EQ(h.log.linesWith(row.logText), row.logCount);
    }
    if (row.check) row.check(h);
  }
}

}  // namespace
}  // namespace engine::queueplayer

namespace engine::queueplayer {
namespace {

using queueplayer_fakes::QueuePlayerHarness;

TEST(QueuePlayerWaitTest, RefusesAWaitFromItsOwnQueueWithTheNeutralAnswer) {
  QueuePlayerHarness h;
  h.source.add(queueplayer_fakes::FakeScript{.name = "A"});
  std::optional<std::uint64_t> askedInside;
  h.delegate.setOnStatusChange([&](CVNQueuePlayer& player) {
    if (!askedInside) askedInside = player.playbackStatus();
  });
  h.start();
  h.frames(1);
  EXPECT_EQ(h.status(), kQueuePlayerPlaying);
  EXPECT_EQ(askedInside, kQueuePlayerStopped);
  EXPECT_EQ(h.log.linesWith("'Main': playbackStatus refused: asked from the player's own queue"), 1u);
}

TEST(QueuePlayerWaitTest, GivesUpOnABusyQueueAtTheTimeLimit) {
  testing_support::Signal release;  // outlives the player, whose queue waits on it
  QueuePlayerHarness h;
  h.player->playerItemDelegateDispatchQueue()->async([&] { release.waitFor(); });
  std::thread renderer([&] { EXPECT_EQ(h.player->nextPixelBuffer(), nullptr); });
  EXPECT_TRUE(testing_support::waitForCondition([&] { return h.clock.waiterCount() > 0; }));
  h.clock.advance(kQueuePlayerSyncTimeout);
  renderer.join();
  release.raise();
  EXPECT_EQ(h.log.linesWith("'Main': nextPixelBuffer gave up: the player's queue did not answer in time"), 1u);
}

// Counters that reset when read, as a session's are.
class CountingSession final : public media::CVNSessionBase {
 public:
  CountingSession(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> queue, double elapsed,
                  std::int32_t count)
      : media::CVNSessionBase(std::move(delegate), std::move(queue)), elapsed_(elapsed), count_(count) {}
  platform::media::MediaTime frameRateAsCMTime() const override { return platform::media::MediaTime::make(25, 1); }
  std::int32_t decompressionPerformanceCpt() override { return std::exchange(count_, 0); }
  double decompressionPerformanceElapsedTime() override { return std::exchange(elapsed_, 0.0); }
  bool isValid() const override { return true; }

 private:
  double elapsed_;
  std::int32_t count_;
};

TEST(QueuePlayerQueryTest, DecompressionRatioWeighsEveryFrameOfTheQueueOnce) {
  QueuePlayerHarness h;
  const std::pair<double, std::int32_t> counters[] = {{0.2, 10}, {0.6, 20}};
  for (const auto& counter : counters) {
    items::MediaItemSessionFactory factory;
    factory.makeClipSession = [counter](const media::MediaURL&, const std::string&,
                                               media::CVNSessionBase::DelegateRef delegate, auto queue) {
      return std::make_shared<CountingSession>(std::move(delegate), std::move(queue), counter.first,
                                               counter.second);
    };
    auto item = items::CVNMediaQueuePlayerItem::create(factory);
    item->setDelegate(h.player.get());
    item->setOutputDisplayMode(h.player->outputDisplayMode());
    h.onPlayerQueue([&] {
      item->applySettingsFromDictionary({{"itemURL", platform::Value("/media/clip.mov")},
                                         {"itemTimeScale", platform::Value(25000)},
                                         {"itemFrameDuration", platform::Value(1000)}});
      h.player->addItem(item);
    });
  }
  // (0.2 + 0.6) s x 25 fps over 30 frames, not an average of averages.
  EXPECT_DOUBLE_EQ(h.player->decompressionPerformanceRatio(), 20.0 / 30.0);
  EXPECT_EQ(h.player->decompressionPerformanceRatio(), 0.0);
}

TEST(QueuePlayerGPUPullTest, DequeuesAllThreeItemsAndOrdersTheTransitionAbove) {
  QueuePlayerHarness h;
  h.source.add(queueplayer_fakes::FakeScript{.name = "A", .seconds = 2.0});
  h.source.add(queueplayer_fakes::FakeScript{.name = "B", .seconds = 2.0});
  h.start();
  (void)h.player->nextQueuePlayerRenderingInfoUsingCommandBuffer(nullptr);
  auto transition = queueplayer_fakes::makeItem(
      {.name = "T", .seconds = 1.0, .transition = true, .previousMixPoint = 1.0, .nextMixPoint = 0.5});
  h.onPlayerQueue([&] { h.player->insertItem(transition, 1); });
  CVNQueuePlayerRenderingInfo info;
  queueplayer_fakes::ItemRef fadeIn;
  for (int frame = 0; frame < 60 && !fadeIn; ++frame) {
    info = h.player->nextQueuePlayerRenderingInfoUsingCommandBuffer(nullptr);
    h.player->getFadeOutItem(nullptr, nullptr, &fadeIn);
  }
  ASSERT_EQ(queueplayer_fakes::nameOf(fadeIn), "B");
  EXPECT_EQ(h.current(), "T");
  EXPECT_EQ(info.layers[CVNQueuePlayerRenderingInfo::kFadeOut].zOrder, 0);
  EXPECT_EQ(info.layers[CVNQueuePlayerRenderingInfo::kCurrent].zOrder, 4);
  EXPECT_EQ(info.layers[CVNQueuePlayerRenderingInfo::kFadeIn].zOrder, 2);
  // The outgoing clip, the transition's clock and the incoming clip all move on.
  EXPECT_EQ(h.source.item("A")->dequeues, 25 + transition->dequeues);
  EXPECT_EQ(h.source.item("B")->dequeues, 1);
}

TEST(QueuePlayerQueryTest, BuildsTransitionsWithTheFactoryItWasGiven) {
  QueuePlayerHarness h;
  EXPECT_EQ(h.player->transitionFromDictionary({}, nullptr, h.player->outputDisplayMode(), 0, {}, h.player.get()),
            nullptr);
  items::StartTransitionContext seen;
  const auto transition = queueplayer_fakes::makeItem({.name = "T", .transition = true});
  h.player->setTransitionFactory([&](const platform::Dictionary& dictionary, const items::StartTransitionContext& context) {
    seen = context;
    return dictionary.count("transitionType") ? transition : nullptr;
  });
  const platform::Dictionary dictionary{{"transitionType", platform::Value("shader")}};
  EXPECT_EQ(h.player->transitionFromDictionary(dictionary, nullptr, h.player->outputDisplayMode(), 0x42475241, {},
                                               h.player.get()),
            transition);
  EXPECT_EQ(seen.outputBufferFormat, 0x42475241u);
  EXPECT_EQ(seen.delegate, h.player.get());
  EXPECT_EQ(seen.outputDisplayMode, h.player->outputDisplayMode());
}

}  // namespace
}  // namespace engine::queueplayer
