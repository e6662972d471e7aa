// What every engine instance shares: auxiliary outputs, VANC packets, live
// subtitling, the audio format, and the base start and stop.

#include <algorithm>

#include "engine/CVNEngineBase.h"
#include "engine/OutputAudioConversion.h"
#include "engine/vudododuva/CVNVudodoDuvaOutput.h"
#include "foundation/CVNLogController.h"
#include "media/audio/CVNAudioUtilities.h"

namespace engine {
namespace {

foundation::CVNLogController& log() { return foundation::CVNLogController::sharedLogController(); }

bool sameOutput(const AuxiliaryOutput& a, const AuxiliaryOutput& b) {
  return a.index() == b.index() && std::visit(
                                       [&b](const auto& output) {
                                         using Pointer = std::decay_t<decltype(output)>;
                                         return output == std::get<Pointer>(b);
                                       },
                                       a);
}

}  // namespace

CVNEngineBase::CVNEngineBase(std::shared_ptr<const platform::Bundle> bundle) : bundle_(std::move(bundle)) {
  // Every engine shares its frames with other processes from the start.
  auxiliaryOutputs_.emplace_back(std::shared_ptr<pluginframework::CVNVideoOutput>(
      vudododuva::CVNVudodoDuvaOutput::create(bundle_ ? bundle_->name() : std::string())));
}

CVNEngineBase::~CVNEngineBase() = default;

void CVNEngineBase::addAuxiliaryOuput(AuxiliaryOutput output) {
  const std::lock_guard lock(auxiliaryOutputsLock_);
  auxiliaryOutputs_.push_back(std::move(output));
}

void CVNEngineBase::removeAuxiliaryOutput(const AuxiliaryOutput& output) {
  const std::lock_guard lock(auxiliaryOutputsLock_);
  std::erase_if(auxiliaryOutputs_, [&output](const AuxiliaryOutput& each) { return sameOutput(each, output); });
}

void CVNEngineBase::enumerateAuxiliaryOutputUsingBlock(
    const std::function<void(const AuxiliaryOutput& output, std::size_t index, bool* stop)>& block) {
  const std::lock_guard lock(auxiliaryOutputsLock_);
  bool stop = false;
  for (std::size_t i = 0; i < auxiliaryOutputs_.size() && !stop; ++i) block(auxiliaryOutputs_[i], i, &stop);
}

void CVNEngineBase::setEngineASBD(const platform::media::AudioStreamBasicDescription& asbd) {
  auto description = platform::media::FormatDescription::createAudio(asbd);
  const std::lock_guard lock(audioFormatLock_);
  engineASBD_ = asbd;
  engineAudioFormatDescription_ = std::move(description);
}

platform::media::AudioStreamBasicDescription CVNEngineBase::engineASBD() const {
  const std::lock_guard lock(audioFormatLock_);
  return engineASBD_;
}

platform::media::FormatDescriptionRef CVNEngineBase::engineAudioFormatDescription() const {
  const std::lock_guard lock(audioFormatLock_);
  return engineAudioFormatDescription_;
}

void CVNEngineBase::addVANCPacket(captions::VANCPacketRef packet) {
  const std::lock_guard lock(additionalVANCPacketsLock_);
  additionalVANCPackets_.push_back(std::move(packet));
}

pluginframework::VANCPackets CVNEngineBase::VANCPacketsToInsertInOutputStream() {
  const std::lock_guard lock(additionalVANCPacketsLock_);
  return std::exchange(additionalVANCPackets_, {});
}

bool CVNEngineBase::ziraSubtitlingEnabled() const {
  const std::lock_guard lock(subtitlingLock_);
  return ziraSubtitlingStatus_ == kZiraSubtitlingOn;
}

void CVNEngineBase::setZiraSubtitlingEnabled(bool enabled) {
  {
    const std::lock_guard lock(subtitlingLock_);
    if (enabled && ziraSubtitlingStatus_ != kZiraSubtitlingOn) {
      ziraSubtitlingStatus_ = kZiraSubtitlingOn;
    } else if (!enabled && ziraSubtitlingStatus_ == kZiraSubtitlingOn) {
      ziraSubtitlingStatus_ = kZiraSubtitlingStopping;
      ziraSubtitlingStoppingCounter_ = 0;
    } else {
      return;
    }
    ziraSubtitlesPacketizer_.setZiraSubtitleRecordToDisplay(nullptr);
  }
  if (const auto output = selectedOutput()) output->setVANCOverride(enabled);
}

bool CVNEngineBase::displaySubtitleRecord(captions::SubtitleRecordRef record) {
  const std::lock_guard lock(subtitlingLock_);
  ziraSubtitlesPacketizer_.setZiraSubtitleRecordToDisplay(std::move(record));
  return ziraSubtitlingStatus_ == kZiraSubtitlingOn;
}

void CVNEngineBase::logMessage(const std::string& message, std::int32_t level, bool show) {
  log().logMessage(message, level, show);
}

bool CVNEngineBase::startEngine() {
  VANCPacketsToInsertInOutputStream();
  const auto output = selectedOutput();
  const auto outputASBD = output ? output->audioStreamBasicDescription() : platform::media::AudioStreamBasicDescription{};
  const auto asbd = engineASBD();
  outputAudioMatchesEngine_ = media::CVNAudioUtilities::isAsbd(outputASBD, asbd);
  videoOutputConversion_ = outputAudioMatchesEngine_ ? nullptr : OutputAudioConversion::create(asbd, outputASBD);

  const auto mode = output ? output->selectedDisplayMode() : nullptr;
  {
    const std::lock_guard lock(subtitlingLock_);
    ziraSubtitlesPacketizer_.setSubtitleMode(mode && mode->isPAL() ? 2 : 1);
    ziraSubtitlesPacketizer_.setIsHD(mode && mode->height() >= 577);
  }

  enumerateAuxiliaryOutputUsingBlock([&](const AuxiliaryOutput& auxiliary, std::size_t, bool*) {
    if (const auto* other = std::get_if<std::shared_ptr<CVNAuxiliaryOutput>>(&auxiliary)) {
      (*other)->engineWillStart(*this);
      return;
    }
    const auto& video = std::get<std::shared_ptr<pluginframework::CVNVideoOutput>>(auxiliary);
    if (output) {
      video->setSelectedDisplayMode(mode);
      video->setBufferFormat(output->bufferFormat());
    }
    video->setNumberOfChannels(asbd.channelsPerFrame);
    video->setBitsPerChannel(asbd.bitsPerChannel);
    if (output) {
      video->setKeyModeAudioSource(output->keyModeAudioSource());
      video->setMainOutputAudioStreamBasicDescription(outputASBD);
    }
    platform::Error error;
    if (!video->startPlayback(&error))
      log().logMessageWithLevel(0, true, "%s %s", video->name().c_str(), error.localizedDescription.c_str());
  });
  return true;
}

bool CVNEngineBase::stopEngine() {
  enumerateAuxiliaryOutputUsingBlock([this](const AuxiliaryOutput& auxiliary, std::size_t, bool*) {
    if (const auto* video = std::get_if<std::shared_ptr<pluginframework::CVNVideoOutput>>(&auxiliary))
      (*video)->stopPlaybackWithReason("Engine stopped");
    else
      std::get<std::shared_ptr<CVNAuxiliaryOutput>>(auxiliary)->engineWillStop(*this);
  });
  freeAudioConverterAndBuffer();
  return true;
}

void CVNEngineBase::freeAudioConverterAndBuffer() {
  videoOutputConversion_.reset();
  outputAudioMatchesEngine_ = true;
}

}  // namespace engine
