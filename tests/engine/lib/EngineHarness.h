#pragma once
// An engine on a manual clock wired to the headless host: a scripted host
// delegate, a test output in 16-bit stereo like the engine, numbered frames,
// and the shown log lines collected.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CVNDozirIvizurLib.h"
#include "foundation/CVNLogController.h"
#include "platform/DispatchQueue.h"
#include "tests/engine/mixer/MixerHarness.h"
#include "tests/support/RunLoopWait.h"

namespace engine_lib_tests {

inline platform::media::AudioStreamBasicDescription pcm16(std::uint32_t channels) {
  return {48000.0, 0x6C70636D, platform::media::kAudioFormatFlagIsSignedInteger | platform::media::kAudioFormatFlagIsPacked,
          2 * channels, 1, 2 * channels, channels, 16, 0};
}

class ShownLog final : public foundation::CVNLogControllerDelegate {
 public:
  bool implementsDisplayLogMessage() const override { return true; }
  void displayLogMessage(const std::string& message, std::int32_t) override {
    const std::lock_guard lock(mutex_);
    messages_.push_back(message);
  }
  bool contains(const std::string& text) const {
    const std::lock_guard lock(mutex_);
    for (const auto& message : messages_)
      if (message.find(text) != std::string::npos) return true;
    return false;
  }
  bool waitFor(const std::string& text) const {
    return testing_support::waitForCondition([&] { return contains(text); }, text);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;  // guarded by mutex_
};

class EngineHarness : public ::testing::Test {
 protected:
  EngineHarness() { foundation::CVNLogController::sharedLogController().setLogDelegate(&shown); }
  ~EngineHarness() override {
    for (const auto& engine : engines_) engine->stopEngine();
    drainMainQueue();
    foundation::CVNLogController::sharedLogController().setLogDelegate(nullptr);
  }

  // An engine rendering numbered frames, in the test output's audio format.
  std::shared_ptr<engine::CVNDozirIvizurLib> makeEngine() {
    auto engine = engine::CVNDozirIvizurLib::initWithBundle(nullptr);
    engine->videoMixer()->setRendererFactory([control = control](engine::queueplayer::CVNQueuePlayer&) {
      return std::make_unique<engine_host::NumberedFrameRenderer>(control);
    });
    engine->setEngineASBD(pcm16(2));
    engines_.push_back(engine);
    return engine;
  }
  std::shared_ptr<engine_host::TestOutput> makeOutput() {
    auto output = std::make_shared<engine_host::TestOutput>(mixer_tests::mode(64, 36), mixer_tests::k2vuy);
    output->audioFormat = pcm16(2);
    return output;
  }
  std::shared_ptr<engine::CVNDozirIvizurLib> wiredEngine() {
    auto engine = makeEngine();
    engine->setDelegate(&host);
    engine->setSelectedOutput(output);
    return engine;
  }
  static void drainMainQueue() {
    testing_support::runMainLoopUntil([] { return platform::DispatchQueue::main().pendingCount() == 0; },
                                      "the main queue to drain");
  }

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride{clock};
  ShownLog shown;
  engine_host::ScriptedHostDelegate host;
  std::shared_ptr<engine_host::NumberedFrameRenderer::Control> control =
      std::make_shared<engine_host::NumberedFrameRenderer::Control>();
  std::shared_ptr<engine_host::TestOutput> output = makeOutput();

 private:
  std::vector<std::shared_ptr<engine::CVNDozirIvizurLib>> engines_;
};

}  // namespace engine_lib_tests
