#include "engine/OutputAudioConversion.h"

#include <algorithm>
#include <cstring>

#include "foundation/CVNLogController.h"

namespace engine {

std::unique_ptr<OutputAudioConversion> OutputAudioConversion::create(
    const platform::media::AudioStreamBasicDescription& engineFormat,
    const platform::media::AudioStreamBasicDescription& outputFormat) {
  if (engineFormat.bytesPerFrame == 0 || outputFormat.bytesPerFrame == 0) return nullptr;
  media::AudioStatus status = media::kAudioNoError;
  auto converter = media::AudioConverter::create(engineFormat, outputFormat, &status);
  if (!converter) return nullptr;
  // Channel i goes to channel i; output channels the engine lacks stay silent.
  std::vector<int> map(outputFormat.channelsPerFrame);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = i < engineFormat.channelsPerFrame ? static_cast<int>(i) : -1;
  status = converter->setChannelMap(std::move(map));
  if (status != media::kAudioNoError)
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        0, true, "Failed to set channel map for output ASBD (err %i)", status);
  converter->prepare();
  return std::unique_ptr<OutputAudioConversion>(
      new OutputAudioConversion(std::move(converter), engineFormat.bytesPerFrame, outputFormat.bytesPerFrame));
}

OutputAudioConversion::OutputAudioConversion(std::unique_ptr<media::AudioConverter> converter,
                                             std::uint32_t engineBytesPerFrame, std::uint32_t outputBytesPerFrame)
    : converter_(std::move(converter)),
      engineBytesPerFrame_(engineBytesPerFrame),
      outputBytesPerFrame_(outputBytesPerFrame),
      ring_(std::size_t{outputBytesPerFrame} * kConvertedAudioRingFrames, 0) {}

const std::uint8_t* OutputAudioConversion::convert(const std::uint8_t* engineAudio, std::uint32_t frames) {
  frames = std::min(frames, kConvertedAudioRingFrames);
  if (sampleOffset_ + frames > kConvertedAudioRingFrames) sampleOffset_ = 0;
  std::uint8_t* destination = ring_.data() + std::size_t{sampleOffset_} * outputBytesPerFrame_;
  const std::size_t outputBytes = std::size_t{frames} * outputBytesPerFrame_;

  bool handedOver = false;
  const auto input = [&](media::AudioConverterInput* in) {
    if (handedOver || !engineAudio) return media::kAudioConverterInputRanDry;
    handedOver = true;
    in->data = engineAudio;
    in->byteSize = std::size_t{frames} * engineBytesPerFrame_;
    in->packets = frames;
    return media::kAudioNoError;
  };
  platform::media::AudioBufferList output;
  output.buffers.push_back({converter_->outputFormat().channelsPerFrame, static_cast<std::uint32_t>(outputBytes), destination});
  std::uint32_t written = frames;
  const auto status = converter_->fillComplexBuffer(input, output, &written);
  if (status != media::kAudioNoError && status != media::kAudioConverterInputRanDry) written = 0;
  written = std::min(written, frames);
  std::memset(destination + std::size_t{written} * outputBytesPerFrame_, 0, outputBytes - std::size_t{written} * outputBytesPerFrame_);
  sampleOffset_ += frames;
  return destination;
}

}  // namespace engine
