// The frame pull on the selected output's thread: the concrete engine's frame
// with its captions conformed (or replaced by live subtitles), its audio in
// the output's format, and a copy to every auxiliary output.

#include <cstring>

#include "captions/CVNCCUtilities.h"
#include "engine/CVNEngineBase.h"
#include "engine/OutputAudioConversion.h"
#include "foundation/CVNLogController.h"
#include "platform/Diagnostics.h"

namespace engine {
namespace {

// Outputs wider than standard definition carry CEA-708 captions.
constexpr std::int32_t kFirstHDWidth = 721;
constexpr std::int32_t kNanosecondsPerSecond = 1000000000;
// A block over no memory: the platform's bad-parameter status.
constexpr std::int32_t kBlockBufferBadParameterErr = -12701;

}  // namespace

bool CVNEngineBase::copyNextPixelBuffer(std::shared_ptr<platform::media::PixelBuffer>*, const std::uint8_t**,
                                        std::uint32_t, platform::media::SampleBufferRef*,
                                        platform::media::SampleBufferRef*, bool, std::int64_t) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Error, "Must be overriden !");
  return false;
}

bool CVNEngineBase::copyNextPixelBufferV2(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                                          const std::uint8_t** audioSamples, std::uint32_t numberOfSamples,
                                          platform::media::SampleBufferRef* closedCaptionBuffer, bool preroll) {
  return copyNextPixelBufferV2(pixelBuffer, audioSamples, numberOfSamples, closedCaptionBuffer, nullptr, nullptr,
                               preroll, 0);
}

bool CVNEngineBase::copyNextPixelBufferV2(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                                          const std::uint8_t** audioSamples, std::uint32_t numberOfSamples,
                                          platform::media::SampleBufferRef* closedCaptionBuffer,
                                          platform::media::SampleBufferRef* timecodeSampleBuffer,
                                          pluginframework::VANCPackets* additionalVANCPackets, bool preroll,
                                          std::int64_t outputPTS) {
  auto vancPackets = VANCPacketsToInsertInOutputStream();
  const auto output = selectedOutput();
  const auto mode = output ? output->selectedDisplayMode() : nullptr;
  const std::int32_t displayWidth = mode ? mode->displayWidth() : 0;
  const auto frameDuration = mode ? mode->frameDurationAsCMTime() : platform::media::MediaTime::zero();

  std::shared_ptr<platform::media::PixelBuffer> picture;
  const std::uint8_t* audio = nullptr;
  platform::media::SampleBufferRef captions;
  platform::media::SampleBufferRef timecode;
  const bool pulled = copyNextPixelBuffer(&picture, &audio, numberOfSamples, &captions, &timecode, preroll, outputPTS);

  if (captions && displayWidth >= kFirstHDWidth && !ziraSubtitlingEnabled()) {
    if (auto conformed = captions::CVNCCUtilities::conformSampleBufferToCEA708(captions, frameDuration))
      captions = std::move(conformed);
  }

  const std::uint8_t* outputAudio = audio;
  if (videoOutputConversion_) outputAudio = videoOutputConversion_->convert(audio, numberOfSamples);

  captions = subtitleSampleForFrame(std::move(captions), frameDuration);

  forwardToAuxiliaryOutputsPixelBuffer(picture, audio, numberOfSamples, captions, timecode, vancPackets, outputPTS);

  if (pixelBuffer) *pixelBuffer = std::move(picture);
  if (audioSamples) *audioSamples = outputAudio;
  if (closedCaptionBuffer) *closedCaptionBuffer = std::move(captions);
  if (timecodeSampleBuffer) *timecodeSampleBuffer = std::move(timecode);
  if (additionalVANCPackets) *additionalVANCPackets = std::move(vancPackets);
  return pulled;
}

platform::media::SampleBufferRef CVNEngineBase::subtitleSampleForFrame(platform::media::SampleBufferRef pulled,
                                                                      platform::media::MediaTime frameDuration) {
  const std::lock_guard lock(subtitlingLock_);
  if (ziraSubtitlingStatus_ == kZiraSubtitlingOff) return pulled;
  auto subtitles = ziraSubtitlesPacketizer_.copyNextSubtitleSampleBufferAtPTS(platform::media::MediaTime::zero(),
                                                                              frameDuration);
  if (ziraSubtitlingStatus_ == kZiraSubtitlingStopping &&
      ++ziraSubtitlingStoppingCounter_ >= kZiraSubtitlingStoppingFrames)
    ziraSubtitlingStatus_ = kZiraSubtitlingOff;
  return subtitles;
}

void CVNEngineBase::forwardToAuxiliaryOutputsPixelBuffer(const std::shared_ptr<platform::media::PixelBuffer>& pixelBuffer,
                                                         const std::uint8_t* audioBuffer, std::uint32_t audioSampleCount,
                                                         const platform::media::SampleBufferRef& ccSampleBuffer,
                                                         const platform::media::SampleBufferRef& timecodeSampleBuffer,
                                                         const pluginframework::VANCPackets& additionalVANCPackets,
                                                         std::int64_t outputPTS) {
  const auto asbd = engineASBD();
  platform::media::SampleBufferRef audioSampleBuffer;
  std::string audioError;
  enumerateAuxiliaryOutputUsingBlock([&](const AuxiliaryOutput& auxiliary, std::size_t, bool*) {
    if (const auto* video = std::get_if<std::shared_ptr<pluginframework::CVNVideoOutput>>(&auxiliary)) {
      (*video)->sendFrame(pixelBuffer, audioBuffer, audioSampleCount, ccSampleBuffer, timecodeSampleBuffer,
                          additionalVANCPackets, asbd);
      return;
    }
    // One audio sample buffer serves every such output; tried again while none could be made.
    if (!audioSampleBuffer)
      audioSampleBuffer = createAudioSampleBufferFromAudioPtr(audioBuffer, audioSampleCount,
                                                              engineAudioFormatDescription(), outputPTS, &audioError);
    std::get<std::shared_ptr<CVNAuxiliaryOutput>>(auxiliary)->engineWillSendPixelBuffer(
        *this, pixelBuffer, audioSampleBuffer, ccSampleBuffer, timecodeSampleBuffer, additionalVANCPackets);
  });
  if (!audioError.empty()) foundation::CVNLogController::sharedLogController().logMessage(audioError, 1, true);
}

platform::media::SampleBufferRef CVNEngineBase::createAudioSampleBufferFromAudioPtr(
    const std::uint8_t* audio, std::uint32_t samplesCount, const platform::media::FormatDescriptionRef& format,
    std::int64_t outputPTS, std::string* outError) {
  const auto* asbd = format ? format->audioStreamBasicDescription() : nullptr;
  const std::size_t byteCount = asbd ? std::size_t{asbd->bytesPerFrame} * samplesCount : 0;
  // The block refers to the caller's audio; it neither copies nor frees it.
  auto block = audio && byteCount > 0
                   ? platform::media::BlockBuffer::createWithMemory(const_cast<std::uint8_t*>(audio), byteCount, [] {})
                   : nullptr;
  if (!block) {
    if (outError) *outError = "Failed to create blockBuffer (Error: " + std::to_string(kBlockBufferBadParameterErr) + ")";
    return nullptr;
  }
  platform::media::SampleTimingInfo timing;
  timing.presentationTimeStamp = platform::media::MediaTime::make(outputPTS, kNanosecondsPerSecond);
  platform::media::SampleBufferRef sample;
  const auto status = platform::media::SampleBuffer::createReady(std::move(block), format, samplesCount, {timing},
                                                                 {std::size_t{asbd->bytesPerFrame}}, &sample);
  if (status != platform::media::kSampleBufferNoError) {
    if (outError) *outError = "Failed to create sampleBuffer (Error: " + std::to_string(status) + ")";
    return nullptr;
  }
  return sample;
}

bool CVNEngineBase::outputWantsFrame(std::int64_t frameIndex, std::uint32_t audioFrames,
                                     std::shared_ptr<platform::media::PixelBuffer>* picture, std::int16_t* audio) {
  const auto output = selectedOutput();
  const auto mode = output ? output->selectedDisplayMode() : nullptr;
  const std::int64_t pts = mode && mode->timeScale() > 0
                              ? static_cast<std::int64_t>(static_cast<double>(frameIndex) * mode->frameDuration() *
                                                          kNanosecondsPerSecond / mode->timeScale())
                              : 0;
  const std::uint8_t* samples = nullptr;
  const bool pulled = copyNextPixelBufferV2(picture, &samples, audioFrames, nullptr, nullptr, nullptr, false, pts);
  if (audio && output) {
    const std::size_t bytes = std::size_t{output->audioStreamBasicDescription().bytesPerFrame} * audioFrames;
    // Audio the output cannot read (no conversion to its format) goes out as silence.
    if (samples && (videoOutputConversion_ || outputAudioMatchesEngine_))
      std::memcpy(audio, samples, bytes);
    else
      std::memset(audio, 0, bytes);
  }
  return pulled;
}

}  // namespace engine
