#include <atomic>
#include <functional>
#include <thread>

#include "foundation/RecordingAlertPresenter.h"
#include "tests/engine/lib/EngineHarness.h"

namespace engine_lib_tests {
namespace {

using engine::CVNDozirIvizurLib;

class EngineStartTest : public EngineHarness {};

TEST_F(EngineStartTest, ChecksFailWithTheirTextsAndStartNothing) {
  struct Case {
    const char* what;
    std::function<void(CVNDozirIvizurLib&, engine_host::TestOutput&)> setUp;
    const char* expected;
  };
  const Case cases[] = {
      {"no delegate, no output", [](auto& e, auto&) { e.setDelegate(nullptr); e.setSelectedOutput(nullptr); },
       "Error: Engine delegate not set"},
      {"no output", [](auto& e, auto&) { e.setSelectedOutput(nullptr); },
       "Error: No video output selected. Check that your video device is connected and drivers are up to date."},
      {"inactive output", [](auto&, auto& o) { o.connectionAvailable = false; },
       "Error: Output Test Output (UID: test-output) is 'inactive'. Change the connector mapping, or use another device."},
      {"running output", [](auto&, auto& o) { o.running = true; },
       "Error: Output needs to be stopped before starting it again"},
      {"no display mode", [](auto&, auto& o) { o.setSelectedDisplayMode(nullptr); }, "Invalid output display mode"},
      {"engine audio format never set", [](auto& e, auto&) { e.setEngineASBD({}); },
       "Error: Engine audio format not set (setEngineASBD was not called)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    output = makeOutput();
    const auto engine = wiredEngine();
    c.setUp(*engine, *output);
    EXPECT_FALSE(engine->startEngine());
    EXPECT_TRUE(shown.waitFor(c.expected));
    EXPECT_FALSE(engine->videoMixer()->isRunning());
    EXPECT_EQ(engine->enginePlaybackStatus(), 0);
  }
}

TEST_F(EngineStartTest, StartRunsTheOutputAndStopClosesIt) {
  const auto engine = wiredEngine();
  ASSERT_TRUE(engine->startEngine());
  EXPECT_TRUE(output->isRunning());
  EXPECT_EQ(engine->enginePlaybackStatusString(), "Stopped");
  std::shared_ptr<platform::media::PixelBuffer> picture;
  ASSERT_TRUE(output->pull(960, &picture));
  EXPECT_EQ(engine_host::frameNumberOf(*picture), 0);

  EXPECT_FALSE(engine->startEngine()) << "a second start";
  EXPECT_TRUE(shown.waitFor("Error: Output needs to be stopped before starting it again"));
  EXPECT_TRUE(engine->videoMixer()->isRunning());

  EXPECT_TRUE(engine->stopEngine());
  EXPECT_FALSE(output->isRunning());
  EXPECT_FALSE(engine->videoMixer()->isRunning());
  EXPECT_EQ(engine->enginePlaybackStatus(), 0);
  EXPECT_EQ(engine->projectsPlaybackController()->calls().back(), "stopAllProjects");
  EXPECT_FALSE(output->pull(960)) << "the output's delegate is cleared";
}

TEST_F(EngineStartTest, AnOutputThatFailsToStartLeavesEverythingStopped) {
  output->startError = "no reference signal";
  const auto engine = wiredEngine();
  EXPECT_FALSE(engine->startEngine());
  EXPECT_TRUE(shown.waitFor("Failed to start Playback on output Test Output. Error: no reference signal"));
  EXPECT_FALSE(engine->videoMixer()->isRunning());
  EXPECT_EQ(engine->enginePlaybackStatus(), 0);
  EXPECT_FALSE(output->pull(960));
}

TEST_F(EngineStartTest, StopWhileTheOutputPullsInALoop) {
  // Output audio in another format, so the pull converts into the ring the stop frees.
  output->audioFormat = pcm16(4);
  const auto engine = wiredEngine();
  ASSERT_TRUE(engine->startEngine());
  std::atomic<bool> done{false};
  std::atomic<int> pulls{0};
  std::thread device([&] {
    while (!done) {
      if (output->pull(960)) ++pulls;
    }
  });
  testing_support::waitForCondition([&] { return pulls.load() >= 20; }, "pulls");
  engine->stopEngine();
  const int pullsAtStop = pulls.load();
  done = true;
  device.join();
  EXPECT_EQ(pulls.load(), pullsAtStop) << "no frame after the stop";
  EXPECT_FALSE(engine->videoMixer()->isRunning());
}

TEST_F(EngineStartTest, StopWaitsForThePullInProgressBeforeFreeingWhatItUses) {
  output->audioFormat = pcm16(4);
  const auto engine = wiredEngine();
  ASSERT_TRUE(engine->startEngine());
  {
    const std::lock_guard lock(control->mutex);
    control->stalling = true;
  }
  // Three pulls take the primed frames; the fourth waits in the mixer for a render that stalls.
  std::thread device([&] {
    for (int i = 0; i < 4; ++i) output->pull(960);
  });
  testing_support::waitForCondition(
      [&] { return output->nextFrameIndex == 4 && output->pullsInProgress == 1; }, "the fourth pull");
  const int asked = output->delegateChangesAsked;
  std::thread stopper([&] { engine->stopEngine(); });
  testing_support::waitForCondition([&] { return output->delegateChangesAsked > asked; }, "the stop to reach the output");
  // The waiting pull gives up with black after two frame durations and converts its audio.
  testing_support::advanceClockUntil(clock, std::chrono::milliseconds(20), [&] { return output->pullsInProgress == 0; },
                                     10);
  device.join();
  {
    const std::lock_guard lock(control->mutex);
    control->stalling = false;
    control->changed.notify_all();
  }
  stopper.join();
  EXPECT_FALSE(engine->videoMixer()->isRunning());
}

TEST_F(EngineStartTest, DebugKeyOnlyRestartsOnlyARunningEngine) {
  const auto idle = wiredEngine();
  idle->setDebugOutputKeyOnly(true);
  EXPECT_FALSE(output->isRunning()) << "an engine never started stays stopped";
  EXPECT_FALSE(idle->videoMixer()->isRunning());
  EXPECT_TRUE(idle->videoMixer()->debugOutputKeyOnly());
  EXPECT_TRUE(idle->graphicContext().transparent());
  EXPECT_FALSE(idle->graphicContext().shouldRenderTiledBackground());
  idle->setSelectedOutput(nullptr);

  const auto running = wiredEngine();
  ASSERT_TRUE(running->startEngine());
  running->setDebugOutputKeyOnly(true);
  EXPECT_TRUE(output->isRunning());
  EXPECT_TRUE(running->videoMixer()->isRunning());
  EXPECT_EQ(running->enginePlaybackStatus(), 1);
}

class EngineDelegateTest : public EngineHarness {};

TEST_F(EngineDelegateTest, EachVersionGetsItsOwnCallsOnTheMainThread) {
  struct Case {
    const char* what;
    bool version2;
    bool timestamps;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"version 2", true, false, {"itemsOrStatusChanged 1", "itemsOrStatusChanged 0"}},
      {"version 1", false, false, {"playbackStatusDidChange 1", "playbackStatusDidChange 0"}},
      {"version 1 with timestamps", false, true, {"playbackStatusDidChange 1", "playbackStatusDidChange 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    engine_host::ScriptedHostDelegate delegate;
    delegate.setVersion2(c.version2);
    delegate.setTimestamps(c.timestamps);
    output = makeOutput();
    const auto engine = makeEngine();
    engine->setDelegate(&delegate);
    engine->setSelectedOutput(output);
    // The status changes come from another thread, as the mixer's do; a
    // status call reads the status when it runs, so each is let through.
    std::thread([&] { EXPECT_TRUE(engine->startEngine()); }).join();
    drainMainQueue();
    std::thread([&] { engine->stopEngine(); }).join();
    drainMainQueue();
    EXPECT_EQ(delegate.callNames(), c.expected);
    for (const auto& call : delegate.calls()) {
      EXPECT_EQ(call.thread, std::this_thread::get_id()) << call.name;
      EXPECT_EQ(call.timestamped, c.timestamps) << call.name;
    }
    engine->setDelegate(nullptr);
  }
}

TEST_F(EngineDelegateTest, ARepeatedStatusNotifiesOnce) {
  const auto engine = wiredEngine();
  engine->itemsOrStatusChanged(2, nullptr, nullptr, nullptr);
  engine->itemsOrStatusChanged(2, nullptr, nullptr, nullptr);
  engine->videoMixerStatusDidChange(2);
  engine->videoMixerStatusDidChange(1);  // waiting: no engine status
  drainMainQueue();
  EXPECT_EQ(host.callNames(), std::vector<std::string>{"playbackStatusDidChange 2"});
  EXPECT_EQ(engine->enginePlaybackStatus(), 2);
}

TEST_F(EngineDelegateTest, ConnectionChangesAlertThroughThePresenter) {
  const auto alerts = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter presenter(alerts);
  const auto engine = wiredEngine();
  output->connectionDescription().set("SDI 1");
  output->connectionDescription().set("SDI 2");
  drainMainQueue();
  const auto shownAlerts = alerts->alerts();
  ASSERT_EQ(shownAlerts.size(), 2u);
  const auto& last = shownAlerts.back();
  EXPECT_EQ(last.style, foundation::AlertStyle::Critical);
  EXPECT_EQ(last.title, "Test Output");
  EXPECT_EQ(last.message, "Ouput Connection changed from: SDI 1 to SDI 2");

  engine->setSelectedOutput(nullptr);
  output->connectionDescription().set("SDI 3");
  drainMainQueue();
  EXPECT_EQ(alerts->alerts().size(), 2u) << "a deselected output is no longer watched";
}

TEST(EngineStatusNames, NamesAndValues) {
  const std::pair<std::int32_t, const char*> names[] = {
      {0, "Closed"}, {2, "Playing"}, {7, "External Input Paused"}, {8, "Undefined"}, {-1, "Undefined"}};
  for (const auto& [status, name] : names) EXPECT_EQ(CVNDozirIvizurLib::stringFromEnginePlaybackStatus(status), name);
  const std::pair<const char*, std::int32_t> values[] = {{"Hold First Frame", 5}, {"playing", 8}, {"", 8}};
  for (const auto& [name, status] : values) EXPECT_EQ(CVNDozirIvizurLib::enginePlaybackStatusFromString(name), status) << name;
}

TEST(EngineErrors, ErrorsCarryTheClassAndDescription) {
  EXPECT_FALSE(CVNDozirIvizurLib::errorFromClass("", "text"));
  EXPECT_FALSE(CVNDozirIvizurLib::errorFromClass("CVNDozirIvizurLib", ""));
  const auto error = CVNDozirIvizurLib::errorFromClass("CVNDozirIvizurLib", "It failed");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "CVNDozirIvizurLib");
  EXPECT_EQ(error->code, 0);
  ASSERT_TRUE(error->userInfo.at("Description").string());
  EXPECT_EQ(*error->userInfo.at("Description").string(), "It failed");

  std::string message;
  EXPECT_FALSE(CVNDozirIvizurLib::isHardwareCompatible(&message));
  EXPECT_EQ(message, "Device is not compatible with Metal");
}

}  // namespace
}  // namespace engine_lib_tests
