#include <atomic>
#include <cstring>
#include <thread>

#include "tests/engine/mixer/MixerHarness.h"
#include "tests/support/RunLoopWait.h"

namespace mixer_tests {
namespace {

using engine::mixer::CVNVideoMixer;
using engine::mixer::MixerFrame;
using engine_host::frameNumberOf;

constexpr auto kFrame = std::chrono::milliseconds(20);  // 50 fps

std::int64_t pullFrameNumber(CVNVideoMixer& mixer) {
  MixerFrame frame;
  EXPECT_TRUE(mixer.copyNextPixelBuffer(&frame));
  return frame.picture ? frameNumberOf(*frame.picture) : -2;
}

TEST(MixerFormats, AcceptedFormatsAndTheirNames) {
  struct Case {
    platform::media::FourCharCode format;
    bool accepted;
    const char* name;
  };
  const Case cases[] = {
      {0x32767579, true, "2vuy 8-bit"}, {0x42475241, true, "BGRA"},
      {0x52474241, true, "RGBA"},       {0x76323130, true, "yuv 10-bit"},
      {0x5231324D, false, "Format not specified"},
      {0x72323130, false, "1915892016"},  // 'r210' by its decimal
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CVNVideoMixer::isBufferFormatAccepted(c.format), c.accepted) << c.name;
    EXPECT_EQ(CVNVideoMixer::descriptionForBufferFormat(c.format), c.name);
  }
}

class MixerStartTest : public MixerHarness {};

TEST_F(MixerStartTest, ChecksFailWithTheirTexts) {
  struct Case {
    const char* what;
    bool output;
    bool hostDelegate;
    platform::media::FourCharCode format;
    std::int32_t width;
    std::string expected;
  };
  const std::string r210Mode = pluginframework::CVNDisplayMode::descriptionForDisplayMode(mode(64, 36).get());
  const Case cases[] = {
      {"no output, no delegate", false, false, k2vuy, 64, "No selected output"},
      {"no host delegate", true, false, k2vuy, 64, "Video Mixer has no Delegate for MainQueue"},
      {"r210", true, true, 0x72323130, 64, "Invalid DisplayMode/BufferFormat: " + r210Mode + " 1915892016"},
      {"zero width", true, true, k2vuy, 0,
       "Invalid DisplayMode/BufferFormat: " + pluginframework::CVNDisplayMode::descriptionForDisplayMode(mode(0, 36).get()) +
           " 2vuy 8-bit"},
  };
  for (const auto& c : cases) {
    auto fresh = CVNVideoMixer::create();
    if (c.output) fresh->setSelectedOutput(std::make_shared<engine_host::TestOutput>(mode(c.width, 36), c.format));
    if (c.hostDelegate) fresh->setMainQueueDelegate(&host);
    fresh->setDelegate(&engineSide);
    EXPECT_EQ(fresh->startMixer().value_or("started"), c.expected) << c.what;
    EXPECT_FALSE(fresh->isRunning()) << c.what;
  }
}

TEST_F(MixerStartTest, StartPrimesThreeFramesAndStopIsRefusedTheSecondTime) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  EXPECT_EQ(rendersBegun(), 3u);
  EXPECT_EQ(mixer->startMixer().value_or(""), "VideoMixer must be stopped before starting it again");
  EXPECT_EQ(mixer->mainQueuePlayer()->displayName(), "MainQueue");

  EXPECT_EQ(mixer->stopMixer(), std::nullopt);
  EXPECT_EQ(mixer->bufferFormat(), engine::mixer::kFormatNotSpecified);
  EXPECT_EQ(mixer->stopMixer().value_or(""), "VideoMixer must be started before to be stopped");
  MixerFrame frame;
  EXPECT_FALSE(mixer->copyNextPixelBuffer(&frame));
}

TEST_F(MixerStartTest, AStalledFirstRenderFailsTheStartAfterOneSecond) {
  wireUp();
  control->stalling = true;
  std::optional<std::string> result;
  std::atomic<bool> done{false};
  std::thread starter([&] {
    result = mixer->startMixer();
    done = true;
  });
  ASSERT_TRUE(testing_support::advanceClockUntil(clock, std::chrono::milliseconds(100), [&] { return done.load(); }, 200));
  starter.join();
  EXPECT_EQ(result.value_or(""), "VideoMixer: the first frames could not be rendered in time");
  EXPECT_FALSE(mixer->isRunning());
}

class MixerFramesTest : public MixerHarness {};

// Frame n carries n: it leaves on pull n, three pulls after its render began.
TEST_F(MixerFramesTest, EachFrameLeavesThreePullsAfterItsRenderBegan) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  for (std::int64_t n = 0; n < 8; ++n) {
    ASSERT_TRUE(testing_support::waitForCondition([&] { return rendersBegun() == static_cast<std::size_t>(n + 3); }));
    EXPECT_EQ(pullFrameNumber(*mixer), n);
  }
}

TEST_F(MixerFramesTest, FailedRendersGoOutBlackOnTimeAndTheQueueRecovers) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  {
    const std::lock_guard lock(control->mutex);
    control->failing = true;
  }
  for (std::int64_t n = 0; n < 3; ++n) EXPECT_EQ(pullFrameNumber(*mixer), n);
  // No clock advance needed: a failed render still finishes its frame, in black.
  for (int n = 0; n < 3; ++n) EXPECT_EQ(pullFrameNumber(*mixer), -1);
  // Renders 6 to 8 were started while failing; they go out black too.
  ASSERT_TRUE(testing_support::waitForCondition([&] { return rendersBegun() == 9; }));
  {
    const std::lock_guard lock(control->mutex);
    control->failing = false;
  }
  EXPECT_EQ(pullFrameNumber(*mixer), -1);
  EXPECT_EQ(pullFrameNumber(*mixer), -1);
  EXPECT_EQ(pullFrameNumber(*mixer), -1);
  EXPECT_EQ(pullFrameNumber(*mixer), 9);
}

TEST_F(MixerFramesTest, AStalledRenderGivesBlackAfterTwoFramesThenFramesResumeInOrder) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  {
    const std::lock_guard lock(control->mutex);
    control->stalling = true;
  }
  for (std::int64_t n = 0; n < 3; ++n) EXPECT_EQ(pullFrameNumber(*mixer), n);

  const auto before = clock.now();
  std::atomic<std::int64_t> pulled{-2};
  std::thread output([&] { pulled = pullFrameNumber(*mixer); });
  ASSERT_TRUE(testing_support::advanceClockUntil(clock, std::chrono::milliseconds(5),
                                                 [&] { return pulled.load() != -2; }, 100));
  output.join();
  EXPECT_EQ(pulled.load(), -1);
  EXPECT_GE(clock.now() - before, 2 * kFrame) << "a pull waits two frame durations before black";

  releaseStall();
  for (std::int64_t n = 3; n < 7; ++n) EXPECT_EQ(pullFrameNumber(*mixer), n);
}

TEST_F(MixerFramesTest, AudioFollowsThe2997CadenceAndIsSilentWithoutItems) {
  wireUp(mode(64, 36, 1001, 30000));
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  std::uint32_t total = 0;
  for (int n = 0; n < 5; ++n) {
    MixerFrame frame;
    ASSERT_TRUE(mixer->copyNextPixelBuffer(&frame));
    ASSERT_NE(frame.audio, nullptr);
    const std::vector<std::uint8_t> silence(frame.audioFrameCount * engineSide.asbd.bytesPerFrame, 0);
    EXPECT_EQ(std::memcmp(frame.audio, silence.data(), silence.size()), 0);
    EXPECT_EQ(frame.closedCaption, nullptr) << "the placeholder goes out as null";
    EXPECT_NE(frame.timecode, nullptr);
    total += frame.audioFrameCount;
  }
  EXPECT_EQ(total, 8008u);
}

TEST_F(MixerFramesTest, RenderingRatioIsZeroWhenReadAgainWithoutNewFrames) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  mixer->renderingPerformanceRatio();
  EXPECT_EQ(mixer->renderingPerformanceRatio(), 0.0);
}

TEST_F(MixerFramesTest, StopWhileTheOutputPullsInALoop) {
  wireUp();
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  std::atomic<int> pulls{0};
  std::atomic<bool> stopped{false};
  std::thread output([&] {
    MixerFrame frame;
    while (mixer->copyNextPixelBuffer(&frame)) {
      ++pulls;
      if (frame.audio) [[maybe_unused]] volatile std::uint8_t first = frame.audio[0];
    }
    stopped = true;
  });
  ASSERT_TRUE(testing_support::waitForCondition([&] { return pulls.load() > 20; }, "pulls"));
  EXPECT_EQ(mixer->stopMixer(), std::nullopt);
  ASSERT_TRUE(testing_support::advanceClockUntil(clock, kFrame, [&] { return stopped.load(); }, 100));
  output.join();
}

}  // namespace
}  // namespace mixer_tests
