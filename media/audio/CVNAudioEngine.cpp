#include "media/audio/CVNAudioEngine.h"

#include <algorithm>
#include <cstdio>

#include "foundation/CVNLogController.h"
#include "media/audio/AudioEngineSupport.h"
#include "media/audio/CVNAudioUtilities.h"

namespace media {

namespace pm = platform::media;
using pm::AudioStreamBasicDescription;

namespace {

constexpr double kMixerSampleRate = 48000.0;
constexpr std::uint64_t kGraphlessRingFrames = 96000;
constexpr std::uint64_t kConverterRingFrames = 144000;
constexpr std::uint32_t kMaximumFramesPerSlice = 4096;
constexpr std::uint32_t kMaximumChannels = 64;
// No effect units exist here.
constexpr AudioStatus kAudioUnitErrComponentNotFound = static_cast<AudioStatus>(pm::fourCC("!cmp"));
constexpr AudioStatus kAudioUnitErrUninitialized = -10867;

// The mixer's output and every converter's target: float planes at 48000 Hz.
AudioStreamBasicDescription mixerFormat(std::uint32_t channels) {
  AudioStreamBasicDescription format;
  format.sampleRate = kMixerSampleRate;
  format.formatID = pm::kAudioFormatLinearPCM;
  format.formatFlags = pm::kAudioFormatFlagIsFloat | pm::kAudioFormatFlagIsPacked | pm::kAudioFormatFlagIsNonInterleaved;
  format.bytesPerPacket = sizeof(float);
  format.framesPerPacket = 1;
  format.bytesPerFrame = sizeof(float);
  format.channelsPerFrame = channels;
  format.bitsPerChannel = 32;
  return format;
}

}  // namespace

CVNAudioEngine::CVNAudioEngine() = default;
CVNAudioEngine::~CVNAudioEngine() = default;

std::string CVNAudioEngine::name() const {
  std::lock_guard lock(propertyMutex_);
  return name_;
}

void CVNAudioEngine::setName(std::string name) {
  std::lock_guard lock(propertyMutex_);
  name_ = std::move(name);
}

AudioStreamBasicDescription CVNAudioEngine::outputFormat() const {
  std::lock_guard lock(propertyMutex_);
  return outputFormat_;
}

void CVNAudioEngine::setOutputFormat(const AudioStreamBasicDescription& format) {
  std::lock_guard lock(propertyMutex_);
  outputFormat_ = format;
}

CVNAudioEngine::OutputCallback CVNAudioEngine::outputCallback() const {
  std::lock_guard lock(propertyMutex_);
  return outputCallback_;
}

void CVNAudioEngine::setOutputCallback(OutputCallback callback) {
  std::lock_guard lock(propertyMutex_);
  outputCallback_ = std::move(callback);
}

void CVNAudioEngine::setOutputVolume(double volume) { outputVolume_ = std::clamp(volume, 0.0, 2.0); }

void CVNAudioEngine::setVarispeed(double rate) {
  if (enableVarispeed_) varispeed_ = std::clamp(rate, 0.03125, 32.0);
}

void CVNAudioEngine::addInputWithFormatDescription(const pm::FormatDescriptionRef& format, double volume) {
  addInputWithFormatDescription(format, volume, numberOfInputChannels_);
}

void CVNAudioEngine::addInputWithFormatDescription(const pm::FormatDescriptionRef& format, double volume,
                                                   std::uint64_t outputChannelOffset) {
  const AudioStreamBasicDescription* description = format ? format->audioStreamBasicDescription() : nullptr;
  if (!description) {
    audioEngineLog(1, true, "%s: audio input refused: no audio format", name().c_str());
    return;
  }
  const std::size_t before = inputs_.size();
  addInputWithAudioStreamBasicDescription(*description, volume, outputChannelOffset);
  const bool takesCookie = description->formatID == pm::fourCC("aac ") || description->formatID == pm::fourCC("alac");
  if (inputs_.size() > before && takesCookie && !format->magicCookie().empty()) {
    inputs_.back()->setMagicCookie(format->magicCookie());
  }
}

void CVNAudioEngine::addInputWithAudioStreamBasicDescription(const AudioStreamBasicDescription& format, double volume,
                                                             std::uint64_t outputChannelOffset) {
  if (format.channelsPerFrame == 0 || format.channelsPerFrame > kMaximumChannels || !(format.sampleRate > 0) ||
      (format.formatID == pm::kAudioFormatLinearPCM && format.bytesPerPacket == 0)) {
    audioEngineLog(1, true, "%s: audio input refused: %s", name().c_str(),
                   CVNAudioUtilities::stringFromAudioStreamBasicDescription(format).c_str());
    return;
  }
  const double clamped = std::clamp(volume, 0.0, 2.0);
  inputs_.push_back(std::make_unique<CVNAudioInputContext>(format, clamped, outputChannelOffset));
  numberOfInputChannels_ += format.channelsPerFrame;
  if (clamped != 1.0) shouldUseGraph_ = true;
}

bool CVNAudioEngine::start() {
  if (engineMode_ != kEngineModeOffline) {
    audioEngineLog(0, true, "%s: audio device output is not available; the audio engine runs offline only",
                   name().c_str());
    return false;
  }
  if (enableVarispeed_) {
    audioEngineLog(0, true, "%s: varispeed is not available", name().c_str());
    return false;
  }
  const AudioStreamBasicDescription output = outputFormat();
  // One ring cannot hold planes: non-interleaved output of several channels goes through the mixer.
  const bool planarOutput =
      (output.formatFlags & pm::kAudioFormatFlagIsNonInterleaved) != 0 && output.channelsPerFrame > 1;
  shouldUseGraph_ = shouldUseGraph_ || outputVolume_ != 1.0 || inputs_.size() > 1 || planarOutput;
  finishing_ = false;
  started_ = shouldUseGraph_ ? startGraph() : startWithoutGraph();
  return started_;
}

bool CVNAudioEngine::startWithoutGraph() {
  AudioStreamBasicDescription output = markPackedIfLinearPCM(outputFormat());
  setOutputFormat(output);
  zeroBytes_.assign(std::size_t{2048} * outputFrameBytes(output), 0);
  for (const auto& input : inputs_) {
    std::vector<std::unique_ptr<CVNCircularBuffer>> rings;
    rings.push_back(std::make_unique<CVNCircularBuffer>("", std::uint64_t{output.bytesPerPacket} * kGraphlessRingFrames));
    input->setCircularBuffers(std::move(rings));
    const AudioStreamBasicDescription format = markPackedIfLinearPCM(input->format());
    input->setFormat(format);
    input->setOutputFormat(format);
    input->setAudioConverter(nullptr);
    const bool equal = format.formatID == output.formatID && format.bitsPerChannel == output.bitsPerChannel &&
                       format.bytesPerPacket == output.bytesPerPacket && format.formatFlags == output.formatFlags &&
                       format.sampleRate == output.sampleRate && format.channelsPerFrame == output.channelsPerFrame;
    if (equal) continue;
    input->setOutputFormat(output);
    AudioStatus status = kAudioNoError;
    auto converter = AudioConverter::create(format, output, &status);
    if (!converter) {
      audioEngineLog(0, true, "Failed to create AudioConverter. Error: %i", status);
      return false;
    }
    if (!input->magicCookie().empty()) {
      status = converter->setDecompressionMagicCookie(input->magicCookie());
      if (status != kAudioNoError) audioEngineLog(0, true, "Failed to set magic cookie for AudioConverter. Error: %i", status);
    }
    setupChannelMapToAudioConverter(*converter);
    status = converter->prepare();
    if (status != kAudioNoError) {
      audioEngineLog(0, true, "Failed to create AudioConverter. Error: %i", status);
      return false;
    }
    input->setAudioConverter(std::move(converter));
  }
  return true;
}

bool CVNAudioEngine::startGraph() {
  const AudioStreamBasicDescription output = outputFormat();
  std::string message;
  AudioStatus status = kAudioNoError;
  const auto fail = [&](const char* text) {
    char line[512];
    std::snprintf(line, sizeof line, text, status, CVNAudioUtilities::stringFromFourCharCode(static_cast<std::uint32_t>(status)).c_str());
    message = line;
  };
  mixer_.reset();
  outputStage_.reset();
  if (audioEffectComponentSubType_ != 0 && audioEffectComponentManufacturer_ != 0) {
    std::int32_t node = 0;
    addAudioEffectWithDescription(audioEffectComponentDescription(), &node);  // built without the effect
  }
  const std::uint32_t channels = output.channelsPerFrame;
  const AudioStreamBasicDescription mixer = mixerFormat(channels);
  if (channels == 0 || channels > kMaximumChannels) {
    status = kAudioConverterErrFormatNotSupported;
    fail("Could not set output format on Output AU. Error: %i '%s'");
  } else {
    outputStage_ = AudioConverter::create(mixer, output, &status);
    if (outputStage_) status = outputStage_->prepare();
    if (!outputStage_ || status != kAudioNoError) fail("Could not set output format on Output AU. Error: %i '%s'");
  }
  for (std::size_t i = 0; message.empty() && i < inputs_.size(); ++i) {
    status = setUpInputForMixer(*inputs_[i], mixer);  // input i is mixer bus i
    if (status != kAudioNoError) fail("Failed to create AudioConverter. Error: %i '%s'");
  }
  if (!message.empty()) {
    audioEngineLog(0, true, "%s", message.c_str());
    audioEngineLog(0, false, "%s %s", name().c_str(), graphString().c_str());
    outputStage_.reset();
    return false;
  }
  std::vector<std::uint32_t> busChannels;
  for (const auto& input : inputs_) busChannels.push_back(input->outputFormat().channelsPerFrame);
  mixer_ = std::make_unique<MatrixMixer>(std::move(busChannels), channels, kMaximumFramesPerSlice);
  buildLevelMatrix();

  mixerPlanes_.assign(std::size_t{channels} * kMaximumFramesPerSlice, 0.0f);
  mixerPlanePointers_.assign(channels, nullptr);
  renderedOutput_.assign(std::size_t{outputRoomFrames(kMaximumFramesPerSlice, output)} * outputFrameBytes(output), 0);
  zeroBytes_.assign(std::size_t{2048} * outputFrameBytes(output), 0);
  return true;
}

AudioStatus CVNAudioEngine::setUpInputForMixer(CVNAudioInputContext& input, const AudioStreamBasicDescription& mixer) {
  const AudioStreamBasicDescription format = markPackedIfLinearPCM(input.format());
  input.setFormat(format);
  input.setAudioConverter(nullptr);
  const bool equal = format.formatID == mixer.formatID && format.sampleRate == mixer.sampleRate &&
                     format.formatFlags == mixer.formatFlags && format.bitsPerChannel == mixer.bitsPerChannel &&
                     format.bytesPerPacket == mixer.bytesPerPacket && format.bytesPerFrame == mixer.bytesPerFrame &&
                     format.framesPerPacket == mixer.framesPerPacket;
  AudioStreamBasicDescription ringFormat = format;
  if (!equal) {
    ringFormat = mixer;
    ringFormat.channelsPerFrame = format.channelsPerFrame;
    AudioStatus status = kAudioNoError;
    auto converter = AudioConverter::create(format, ringFormat, &status);
    if (!converter) return status;
    if (!input.magicCookie().empty()) {
      status = converter->setDecompressionMagicCookie(input.magicCookie());
      if (status != kAudioNoError) audioEngineLog(0, true, "Failed to set magic cookie for AudioConverter. Error: %i", status);
    }
    setupChannelMapToAudioConverter(*converter);
    status = converter->prepare();
    if (status != kAudioNoError) return status;
    input.setAudioConverter(std::move(converter));
  }
  input.setOutputFormat(ringFormat);
  std::vector<std::unique_ptr<CVNCircularBuffer>> rings;
  const std::string engineName = name();
  for (std::uint32_t k = 0; k < ringFormat.channelsPerFrame; ++k) {
    char ringName[512];
    std::snprintf(ringName, sizeof ringName, "%s Converter [%i]", engineName.c_str(), static_cast<int>(k));
    rings.push_back(std::make_unique<CVNCircularBuffer>(ringName, std::uint64_t{ringFormat.bytesPerPacket} * kConverterRingFrames));
  }
  input.setCircularBuffers(std::move(rings));
  return kAudioNoError;
}

void CVNAudioEngine::buildLevelMatrix() {
  const std::uint32_t inputsI = mixer_->inputChannelCount();
  const std::uint32_t outputsO = mixer_->outputChannelCount();
  const std::uint32_t columns = outputsO + 1;
  std::vector<float> levels(std::size_t{inputsI + 1} * columns, 0.0f);
  levels[std::size_t{inputsI} * columns + outputsO] = static_cast<float>(outputVolume_);
  // Every output channel passes at full level: an input's volume belongs to
  // its own channels, not to the output channels that share its row numbers.
  for (std::uint32_t c = 0; c < outputsO; ++c) levels[std::size_t{inputsI} * columns + c] = 1.0f;
  std::uint64_t b = 0;
  for (const auto& input : inputs_) {
    const std::uint32_t channels = input->outputFormat().channelsPerFrame;
    for (std::uint32_t k = 0; k < channels; ++k) {
      levels[(b + k) * columns + outputsO] = static_cast<float>(input->volume());
      const std::uint64_t target = input->outputChannelOffset() + k;
      if (target < outputsO) levels[(b + k) * columns + target] = 1.0f;
    }
    b += channels;
  }
  mixer_->setLevels(std::move(levels));
}

void CVNAudioEngine::finish() {
  if (engineMode_ != kEngineModeOffline) return;
  finishing_ = true;
  processGraph();
}

void CVNAudioEngine::setVolume(float volume, std::uint32_t inputChannel) {
  if (!mixer_) {
    audioEngineLog(0, false, "Could not get Mixer matrix dimensions. Error: %i", kAudioUnitErrUninitialized);
    return;
  }
  const std::uint32_t columns = mixer_->outputChannelCount() + 1;
  const std::uint32_t target = inputChannel % 2;
  if (inputChannel >= mixer_->inputChannelCount() || target >= mixer_->outputChannelCount()) {
    audioEngineLog(0, false, "Could not set Mixer matrix levels. Error: %i", kAudioConverterErrFormatNotSupported);
    return;
  }
  std::vector<float> levels = mixer_->levels();
  levels[std::size_t{inputChannel} * columns + target] = std::clamp(volume, 0.0f, 2.0f);
  mixer_->setLevels(std::move(levels));
}

void CVNAudioEngine::getLevelMeterDBValues(float* values) const {
  if (inputs_.empty() || !values) return;
  std::fill(values, values + inputs_.front()->format().channelsPerFrame, -120.0f);
}

std::vector<double> CVNAudioEngine::vuMeterLevels() const {
  if (inputs_.empty()) return {};
  return std::vector<double>(inputs_.front()->format().channelsPerFrame, -120.0);
}

std::string CVNAudioEngine::graphString() const {
  if (!mixer_) return "";
  std::string text = "mixer: " + std::to_string(mixer_->inputChannelCount()) + " input channels, " +
                     std::to_string(mixer_->outputChannelCount()) + " output channels at 48000 Hz -> output: " +
                     CVNAudioUtilities::stringFromAudioStreamBasicDescription(outputFormat()) + "\n";
  for (std::size_t i = 0; i < inputs_.size(); ++i) {
    const auto& input = *inputs_[i];
    text += "  bus " + std::to_string(i) + ": " + CVNAudioUtilities::stringFromAudioStreamBasicDescription(input.format()) +
            (input.audioConverter() ? " through a converter" : "") + ", " +
            std::to_string(input.circularBuffers().size()) + " rings\n";
  }
  return text;
}

AudioComponentDescription CVNAudioEngine::audioEffectComponentDescription() const {
  return {pm::fourCC("aufx"), audioEffectComponentSubType_, audioEffectComponentManufacturer_, 0, 0};
}

bool CVNAudioEngine::addAudioEffectWithDescription(const AudioComponentDescription& description,
                                                   std::int32_t* resultNode) {
  (void)resultNode;
  if (description.componentSubType == 0 || description.componentManufacturer == 0) return false;
  audioEngineLog(0, false, "Could add effect audio unit. Error: %i '%s'", kAudioUnitErrComponentNotFound,
                 CVNAudioUtilities::stringFromFourCharCode(static_cast<std::uint32_t>(kAudioUnitErrComponentNotFound)).c_str());
  return false;
}

void CVNAudioEngine::setupChannelMapToAudioConverter(AudioConverter& converter) {
  const std::uint32_t inputChannels = converter.inputFormat().channelsPerFrame;
  std::vector<int> map;
  for (std::uint32_t i = 0; i < converter.outputFormat().channelsPerFrame; ++i) {
    map.push_back(i < inputChannels ? static_cast<int>(i) : -1);
  }
  const AudioStatus status = converter.setChannelMap(std::move(map));
  if (status != kAudioNoError) audioEngineLog(0, true, "Failed to set channel map for output ASBD (err %i)", status);
}

}  // namespace media
