// The seam to the engine: the node's engine on its own bundle, playing to
// the virtual output its "PlugIns" folder holds.
#include "node-standin/PlayoutEngine.h"

#include "engine/CVNDozirIvizurLib.h"
#include "platform/media/AudioFormat.h"
#include "pluginframework/CVNDeviceController.h"
#include "pluginframework/PluginVideoOutput.h"

namespace standin {
namespace {

namespace pm = platform::media;

platform::Error startFailed(const std::string& why) {
  return platform::Error(kPlayoutEngineErrorDomain, PlayoutEngineErrorCode::StartFailed, why);
}

pm::AudioStreamBasicDescription engineAudioFormat() {
  pm::AudioStreamBasicDescription format;
  format.sampleRate = 48000;
  format.formatID = pm::kAudioFormatLinearPCM;
  format.formatFlags = pm::kAudioFormatFlagIsSignedInteger | pm::kAudioFormatFlagIsPacked;
  format.channelsPerFrame = 2;
  format.bitsPerChannel = 32;
  format.bytesPerFrame = 8;
  format.framesPerPacket = 1;
  format.bytesPerPacket = 8;
  return format;
}

platform::Result<std::shared_ptr<pluginframework::PluginVideoOutput>> virtualOutput(
    const PlayoutEngineSettings& settings) {
  const auto devices = pluginframework::CVNDeviceController::sharedDeviceController();
  auto output = std::dynamic_pointer_cast<pluginframework::PluginVideoOutput>(
      devices->outputWithUniqueID(pluginframework::kHiddenVirtualOutputUniqueID));
  if (!output) {
    const auto device = devices->createVirtualOutputWithName("Virtual Output",
                                                             pluginframework::kHiddenVirtualOutputUniqueID, true);
    if (device && !device->outputs().empty())
      output = std::dynamic_pointer_cast<pluginframework::PluginVideoOutput>(device->outputs().front());
  }
  if (!output) return startFailed("no virtual output plug-in in " + (settings.bundle / "PlugIns").string());
  const std::pair<const char*, std::string> asked[] = {
      {"displayModeName", settings.displayModeName},
      {"pixelFormat", settings.bufferFormat},
      {"recordingPath", settings.outputFile.string()},
      {"preview", settings.preview ? "1" : "0"},
  };
  for (const auto& [key, value] : asked) {
    if (!output->setSetting(key, value))
      return startFailed("the virtual output does not take " + std::string(key) + " '" + value + "'");
  }
  return output;
}

class EngineOnOutput final : public RunningPlayoutEngine {
 public:
  explicit EngineOnOutput(std::shared_ptr<engine::CVNDozirIvizurLib> engine) : engine_(std::move(engine)) {}
  ~EngineOnOutput() override {
    // The output's stop closes the recording whole.
    engine_->stopEngine();
    engine_->setDelegate(nullptr);
  }
  EngineOnOutput(const EngineOnOutput&) = delete;
  EngineOnOutput& operator=(const EngineOnOutput&) = delete;

  bool startPlayback() override { return engine_->startPlayback(); }
  void pausePlayback(bool pause) override { engine_->pausePlayback(pause); }
  bool stopPlayback() override { return engine_->stopPlayback(); }
  bool forceNextItem() override { return engine_->forceNextItem(); }
  void claimNextItem() override { engine_->claimNextItem(); }
  // The queue player bounds its wait for the scrub on the clock.
  bool setCurrentItemTime(double seconds) override { return engine_->setCurrentItemTime(seconds); }
  void updateItemWithUniqueID(const std::string& uniqueID, const platform::Dictionary& attributes,
                              UpdateCompletion completion) override {
    engine_->updateItemWithUniqueID(uniqueID, engine::items::itemDictionaryFromPlist(attributes), std::move(completion));
  }

 private:
  const std::shared_ptr<engine::CVNDozirIvizurLib> engine_;
};

}  // namespace

bool playoutEngineIsBuiltIn() { return true; }

platform::Result<std::unique_ptr<RunningPlayoutEngine>> startPlayoutEngine(const PlayoutEngineSettings& settings,
                                                                           engine::CVNEngineDelegate& delegate) {
  const auto engine =
      engine::CVNDozirIvizurLib::initWithBundle(std::make_shared<const platform::Bundle>(settings.bundle));
  engine->setEngineASBD(engineAudioFormat());
  engine->setDelegate(&delegate);
  platform::Result<std::shared_ptr<pluginframework::PluginVideoOutput>> output = virtualOutput(settings);
  if (!output) {
    engine->setDelegate(nullptr);
    return output.error();
  }
  engine->setSelectedOutput(output.value());
  if (!engine->startEngine()) {
    engine->setSelectedOutput(nullptr);
    engine->setDelegate(nullptr);
    return startFailed("the engine did not start on the virtual output (" + settings.displayModeName + ", " +
                       settings.bufferFormat + "); see the log above");
  }
  return std::unique_ptr<RunningPlayoutEngine>(std::make_unique<EngineOnOutput>(engine));
}

}  // namespace standin
