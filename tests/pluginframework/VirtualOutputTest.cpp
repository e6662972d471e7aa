#include <gtest/gtest.h>

#include <mutex>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "pluginframework/CVNDeviceController.h"
#include "pluginframework/PluginVideoOutput.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace pluginframework {
namespace {

// Records each pull: the frame index, the audio asked for and the clock's time.
class RecordingPull final : public CVNVideoOutputDelegate {
 public:
  explicit RecordingPull(const platform::Clock& clock) : clock_(clock) {}
  bool outputWantsFrame(std::int64_t frameIndex, std::uint32_t audioFrames,
                        std::shared_ptr<platform::media::PixelBuffer>*, std::int16_t* audio) override {
    std::fill(audio, audio + audioFrames * 2, std::int16_t{7});
    std::lock_guard guard(mutex_);
    pulls_.push_back({frameIndex, audioFrames, clock_.now().time_since_epoch()});
    return true;
  }
  struct Pull {
    std::int64_t index;
    std::uint32_t audioFrames;
    platform::Clock::Duration at;
  };
  std::vector<Pull> pulls() const {
    std::lock_guard guard(mutex_);
    return pulls_;
  }

 private:
  const platform::Clock& clock_;
  mutable std::mutex mutex_;
  std::vector<Pull> pulls_;  // guarded by mutex_
};

TEST(VirtualOutputTest, PullsAtExactFrameTimesWithTheAudioCadenceOf2997) {
  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder.path() / "defaults.plist");
  testing_support::CapturedTechnicalLog log(defaults);
  platform::NotificationCenter center;
  platform::SerialQueue mainQueue("test.main");
  CVNDeviceController controller(CVNDeviceController::Environment{&center, &mainQueue});
  controller.loadPluginsFromFolder(VZ_PLUGINS);

  auto device = controller.createVirtualOutputWithName("Virtual Output", "Virtual Output", true);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(controller.outputNames(), std::vector<std::string>{"Virtual Output"});
  auto output = std::dynamic_pointer_cast<PluginVideoOutput>(device->outputs().at(0));
  ASSERT_NE(output, nullptr);
  EXPECT_TRUE(output->setSetting("displayModeName", "1080p2997"));
  EXPECT_FALSE(output->setSetting("displayModeName", "4K"));
  output->setBufferFormat(platform::media::fourCC("v210"));
  EXPECT_EQ(output->bufferFormat(), platform::media::fourCC("v210"));
  output->setNumberOfChannels(3);
  EXPECT_EQ(output->audioStreamBasicDescription().channelsPerFrame, 2u) << "2, 8 or 16 channels only";

  RecordingPull recorder(clock);
  output->setDelegate(&recorder);
  ASSERT_TRUE(output->startPlayback(nullptr));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return recorder.pulls().size() == 1; }));
  const auto start = recorder.pulls()[0].at;
  constexpr std::int64_t kFrames = 30;
  for (std::int64_t n = 1; n < kFrames; ++n) {
    const auto due = start + std::chrono::nanoseconds(n * 1'000'000'000LL * 1001 / 30000);
    clock.advance(due - clock.now().time_since_epoch());
    ASSERT_TRUE(testing_support::waitForCondition([&] { return recorder.pulls().size() == static_cast<std::size_t>(n + 1); }));
  }
  output->stopPlayback();
  EXPECT_FALSE(output->isRunning());

  const auto pulls = recorder.pulls();
  ASSERT_EQ(pulls.size(), static_cast<std::size_t>(kFrames));
  std::uint32_t fiveFrames = 0;
  for (std::int64_t n = 0; n < kFrames; ++n) {
    EXPECT_EQ(pulls[n].index, n);
    EXPECT_EQ(pulls[n].at, start + std::chrono::nanoseconds(n * 1'000'000'000LL * 1001 / 30000)) << n;
    EXPECT_TRUE(pulls[n].audioFrames == 1601 || pulls[n].audioFrames == 1602) << pulls[n].audioFrames;
    fiveFrames += pulls[n].audioFrames;
    if (n % 5 == 4) {
      EXPECT_EQ(fiveFrames, 8008u) << "frames " << n - 4 << " to " << n;
      fiveFrames = 0;
    }
  }
}

}  // namespace
}  // namespace pluginframework
