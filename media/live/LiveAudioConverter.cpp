#include "media/live/LiveAudioConverter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "media/audio/CVNAudioUtilities.h"

namespace media {
namespace {

using platform::media::AudioStreamBasicDescription;

// The interleaved sample format of a PCM description; none for others.
AVSampleFormat sampleFormat(const AudioStreamBasicDescription& format) {
  const bool packedInterleaved = (format.formatFlags & platform::media::kAudioFormatFlagIsNonInterleaved) == 0;
  if (format.formatID != 0x6c70636d || !packedInterleaved || format.channelsPerFrame == 0 ||
      format.channelsPerFrame > 64 || !(format.sampleRate >= 1000 && format.sampleRate <= 384000)) {
    return AV_SAMPLE_FMT_NONE;
  }
  const bool isFloat = format.formatFlags & platform::media::kAudioFormatFlagIsFloat;
  if (isFloat && format.bitsPerChannel == 32) return AV_SAMPLE_FMT_FLT;
  if (!isFloat && format.bitsPerChannel == 16) return AV_SAMPLE_FMT_S16;
  if (!isFloat && format.bitsPerChannel == 32) return AV_SAMPLE_FMT_S32;
  return AV_SAMPLE_FMT_NONE;
}

}  // namespace

LiveAudioConverter::LiveAudioConverter() = default;
LiveAudioConverter::~LiveAudioConverter() { reset(); }

void LiveAudioConverter::reset() {
  if (context_) swr_free(&context_);
  context_ = nullptr;
}

bool LiveAudioConverter::setFormats(const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output) {
  if (configured_ && CVNAudioUtilities::isAsbd(input, input_) && CVNAudioUtilities::isAsbd(output, output_)) {
    return usable_;
  }
  reset();
  configured_ = true;
  input_ = input;
  output_ = output;
  const AVSampleFormat in = sampleFormat(input);
  const AVSampleFormat out = sampleFormat(output);
  usable_ = in != AV_SAMPLE_FMT_NONE && out != AV_SAMPLE_FMT_NONE;
  if (!usable_ || CVNAudioUtilities::isAsbd(input, output)) return usable_;
  AVChannelLayout inLayout;
  AVChannelLayout outLayout;
  av_channel_layout_default(&inLayout, static_cast<int>(input.channelsPerFrame));
  av_channel_layout_default(&outLayout, static_cast<int>(output.channelsPerFrame));
  const int allocated = swr_alloc_set_opts2(&context_, &outLayout, out, static_cast<int>(output.sampleRate), &inLayout,
                                            in, static_cast<int>(input.sampleRate), 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  av_channel_layout_uninit(&outLayout);
  if (allocated < 0 || swr_init(context_) < 0) {
    reset();
    usable_ = false;
  }
  return usable_;
}

std::int64_t LiveAudioConverter::maximumOutputFrames(std::int64_t inputFrames) const {
  if (!context_) return inputFrames;
  const int frames = swr_get_out_samples(context_, static_cast<int>(inputFrames));
  return frames < 0 ? 0 : frames;
}

std::int64_t LiveAudioConverter::convert(const std::uint8_t* in, std::int64_t inputFrames, std::uint8_t* out,
                                         std::int64_t outputFrames) {
  if (!context_) return -1;
  const std::uint8_t* inputs[] = {in};
  std::uint8_t* outputs[] = {out};
  return swr_convert(context_, outputs, static_cast<int>(outputFrames), inputs, static_cast<int>(inputFrames));
}

}  // namespace media
