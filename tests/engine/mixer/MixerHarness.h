#pragma once
// A video mixer on a manual clock, wired to the headless host: a scripted
// host delegate, a recording engine and a test output, rendering numbered
// frames unless a test keeps the default renderer.

#include <gtest/gtest.h>

#include <memory>

#include "engine/mixer/CVNVideoMixer.h"
#include "platform/Clock.h"
#include "tests/support/engine/HeadlessHost.h"

namespace mixer_tests {

inline constexpr platform::media::FourCharCode k2vuy = 0x32767579;
inline constexpr platform::media::FourCharCode kBGRA = 0x42475241;

inline std::shared_ptr<const pluginframework::CVNDisplayMode> mode(std::int32_t width, std::int32_t height,
                                                                   std::int64_t frameDuration = 1000,
                                                                   std::int32_t timeScale = 50000) {
  return std::make_shared<const pluginframework::CVNDisplayMode>("test", frameDuration, timeScale, width, height,
                                                                 pluginframework::FieldDominance::Progressive);
}

class MixerHarness : public ::testing::Test {
 protected:
  MixerHarness() { useNumberedFrames(); }
  ~MixerHarness() override {
    releaseStall();
    if (mixer->isRunning()) mixer->stopMixer();
  }

  void useNumberedFrames() {
    mixer->setRendererFactory([control = control](engine::queueplayer::CVNQueuePlayer&) {
      return std::make_unique<engine_host::NumberedFrameRenderer>(control);
    });
  }
  std::shared_ptr<engine_host::TestOutput> wireUp(
      std::shared_ptr<const pluginframework::CVNDisplayMode> outputMode = mode(64, 36),
      platform::media::FourCharCode format = k2vuy) {
    output = std::make_shared<engine_host::TestOutput>(std::move(outputMode), format);
    mixer->setSelectedOutput(output);
    mixer->setMainQueueDelegate(&host);
    mixer->setDelegate(&engineSide);
    return output;
  }
  void releaseStall() {
    const std::lock_guard lock(control->mutex);
    control->stalling = false;
    control->changed.notify_all();
  }
  std::size_t rendersBegun() {
    const std::lock_guard lock(control->mutex);
    return control->begun.size();
  }

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride{clock};
  engine_host::ScriptedHostDelegate host;
  engine_host::RecordingEngine engineSide;
  std::shared_ptr<engine_host::TestOutput> output;
  std::shared_ptr<engine_host::NumberedFrameRenderer::Control> control =
      std::make_shared<engine_host::NumberedFrameRenderer::Control>();
  std::shared_ptr<engine::mixer::CVNVideoMixer> mixer = engine::mixer::CVNVideoMixer::create();
};

}  // namespace mixer_tests
