#include "media/audio/AudioConverter.h"

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "foundation/CVNLogController.h"
#include "platform/media/FourCharCode.h"

namespace media {

namespace pm = platform::media;
using pm::AudioStreamBasicDescription;
using pm::fourCC;

namespace {

// Converted frames waiting for room: ten seconds at 48 kHz. A steady excess
// means the input's durations understate its audio; the oldest frames go.
constexpr int kMaxWaitingFrames = 480000;
constexpr std::size_t kMaxChannels = 64;

bool isNonInterleaved(const AudioStreamBasicDescription& d) {
  return (d.formatFlags & pm::kAudioFormatFlagIsNonInterleaved) != 0;
}

// The libav sample format of linear PCM in native (little-endian) order.
std::optional<AVSampleFormat> sampleFormatOf(const AudioStreamBasicDescription& d) {
  if (d.formatID != pm::kAudioFormatLinearPCM || (d.formatFlags & pm::kAudioFormatFlagIsBigEndian) != 0) {
    return std::nullopt;
  }
  const bool planar = isNonInterleaved(d);
  const std::uint32_t sampleBytes = d.bitsPerChannel / 8;
  if (d.bitsPerChannel % 8 != 0 || d.channelsPerFrame == 0) return std::nullopt;
  if (d.bytesPerFrame != (planar ? sampleBytes : sampleBytes * d.channelsPerFrame)) return std::nullopt;
  const bool isFloat = (d.formatFlags & pm::kAudioFormatFlagIsFloat) != 0;
  const bool isSigned = (d.formatFlags & pm::kAudioFormatFlagIsSignedInteger) != 0;
  AVSampleFormat format = AV_SAMPLE_FMT_NONE;
  if (isFloat && d.bitsPerChannel == 32) format = AV_SAMPLE_FMT_FLT;
  if (isFloat && d.bitsPerChannel == 64) format = AV_SAMPLE_FMT_DBL;
  if (!isFloat && isSigned && d.bitsPerChannel == 16) format = AV_SAMPLE_FMT_S16;
  if (!isFloat && isSigned && d.bitsPerChannel == 32) format = AV_SAMPLE_FMT_S32;
  if (!isFloat && !isSigned && d.bitsPerChannel == 8) format = AV_SAMPLE_FMT_U8;
  if (format == AV_SAMPLE_FMT_NONE) return std::nullopt;
  return planar ? av_get_planar_sample_fmt(format) : format;
}

// Input that needs a decoder: compressed formats and interleaved PCM layouts
// with no libav sample format.
AVCodecID codecOf(const AudioStreamBasicDescription& d) {
  switch (d.formatID) {
    case fourCC("aac "): return AV_CODEC_ID_AAC;
    case fourCC("alac"): return AV_CODEC_ID_ALAC;
    case fourCC(".mp3"): return AV_CODEC_ID_MP3;
    case fourCC(".mp2"): return AV_CODEC_ID_MP2;
    case fourCC(".mp1"): return AV_CODEC_ID_MP1;
    case fourCC("ac-3"): return AV_CODEC_ID_AC3;
    case fourCC("flac"): return AV_CODEC_ID_FLAC;
    case fourCC("ulaw"): return AV_CODEC_ID_PCM_MULAW;
    case fourCC("alaw"): return AV_CODEC_ID_PCM_ALAW;
    default: break;
  }
  if (d.formatID != pm::kAudioFormatLinearPCM || isNonInterleaved(d)) return AV_CODEC_ID_NONE;
  const bool big = (d.formatFlags & pm::kAudioFormatFlagIsBigEndian) != 0;
  const bool isFloat = (d.formatFlags & pm::kAudioFormatFlagIsFloat) != 0;
  if (d.bytesPerFrame != d.bitsPerChannel / 8 * d.channelsPerFrame) return AV_CODEC_ID_NONE;
  if (isFloat) {
    if (!big) return AV_CODEC_ID_NONE;
    return d.bitsPerChannel == 32 ? AV_CODEC_ID_PCM_F32BE : d.bitsPerChannel == 64 ? AV_CODEC_ID_PCM_F64BE
                                                                                  : AV_CODEC_ID_NONE;
  }
  switch (d.bitsPerChannel) {
    case 8: return AV_CODEC_ID_PCM_S8;
    case 16: return big ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_NONE;
    case 24: return big ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
    case 32: return big ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_NONE;
    default: return AV_CODEC_ID_NONE;
  }
}

// Reads an MPEG-4 descriptor length (up to four 7-bit bytes).
bool readDescriptorLength(std::span<const std::uint8_t> bytes, std::size_t* at, std::size_t* length) {
  *length = 0;
  for (int i = 0; i < 4; ++i) {
    if (*at >= bytes.size()) return false;
    const std::uint8_t byte = bytes[(*at)++];
    *length = (*length << 7) | (byte & 0x7f);
    if ((byte & 0x80) == 0) return true;
  }
  return true;
}

// The decoder configuration inside an ES descriptor (optionally in its
// 'esds' box); a cookie that is no descriptor is taken as the configuration.
std::vector<std::uint8_t> aacConfigurationFromCookie(std::span<const std::uint8_t> cookie) {
  std::span<const std::uint8_t> bytes = cookie;
  if (bytes.size() >= 12 && std::memcmp(bytes.data() + 4, "esds", 4) == 0) bytes = bytes.subspan(12);
  if (bytes.empty() || bytes[0] != 0x03) return {cookie.begin(), cookie.end()};
  std::size_t at = 1;
  std::size_t length = 0;
  if (!readDescriptorLength(bytes, &at, &length) || at + 3 > bytes.size()) return {};
  const std::uint8_t flags = bytes[at + 2];
  at += 3;
  if (flags & 0x80) at += 2;                                        // depends on another stream
  if ((flags & 0x40) && at < bytes.size()) at += 1 + bytes[at];     // URL
  if (flags & 0x20) at += 2;                                        // OCR stream
  while (at < bytes.size()) {
    const std::uint8_t tag = bytes[at++];
    if (!readDescriptorLength(bytes, &at, &length)) return {};
    if (tag == 0x04) {
      at += 13;  // object type, stream type, buffer size, bit rates
      continue;
    }
    if (tag == 0x05) {
      if (at + length > bytes.size()) return {};
      return {bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + length)};
    }
    at += length;
  }
  return {};
}

// libavcodec wants the whole 36-byte 'alac' box; cookies come as that box,
// inside a 'frma' wrapper, or as the bare 24-byte configuration.
std::vector<std::uint8_t> alacConfigurationFromCookie(std::span<const std::uint8_t> cookie) {
  for (std::size_t at = 4; at + 32 <= cookie.size(); ++at) {
    if (std::memcmp(cookie.data() + at, "alac", 4) == 0 && cookie[at - 4] == 0 && cookie[at - 3] == 0 &&
        cookie[at - 2] == 0 && cookie[at - 1] == 36) {
      return {cookie.begin() + static_cast<std::ptrdiff_t>(at - 4), cookie.begin() + static_cast<std::ptrdiff_t>(at + 32)};
    }
  }
  if (cookie.size() != 24) return {cookie.begin(), cookie.end()};
  std::vector<std::uint8_t> box{0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};
  box.insert(box.end(), cookie.begin(), cookie.end());
  return box;
}

AVChannelLayout defaultLayout(int channels) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  return layout;
}

}  // namespace

struct AudioConverter::Impl {
  AVCodecID codec = AV_CODEC_ID_NONE;
  std::vector<std::uint8_t> extradata;
  AVCodecContext* decoder = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  std::vector<std::uint8_t> packetBytes;  // one packet with the decoder's padding

  AVSampleFormat outputFormat = AV_SAMPLE_FMT_NONE;
  int outputRate = 0;
  int outputChannels = 0;
  std::vector<int> channelMap;

  SwrContext* resampler = nullptr;
  AVSampleFormat resamplerFormat = AV_SAMPLE_FMT_NONE;  // what the resampler was set up for
  int resamplerRate = 0;
  int resamplerChannels = 0;

  std::uint64_t framesToSkip = 0;  // input frames, before the resampler
  AVAudioFifo* waiting = nullptr;
  std::uint8_t** scratch = nullptr;
  int scratchFrames = 0;

  ~Impl() {
    avcodec_free_context(&decoder);
    av_packet_free(&packet);
    av_frame_free(&frame);
    swr_free(&resampler);
    if (waiting) av_audio_fifo_free(waiting);
    freeScratch();
  }

  void freeScratch() {
    if (scratch) av_freep(&scratch[0]);
    av_freep(&scratch);
    scratchFrames = 0;
  }

  AudioStatus openDecoder(const AudioStreamBasicDescription& input) {
    const AVCodec* found = avcodec_find_decoder(codec);
    if (!found) return kAudioConverterErrFormatNotSupported;
    decoder = avcodec_alloc_context3(found);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!decoder || !packet || !frame) return AVERROR(ENOMEM);
    decoder->sample_rate = static_cast<int>(input.sampleRate);
    decoder->ch_layout = defaultLayout(static_cast<int>(input.channelsPerFrame));
    decoder->bits_per_coded_sample = static_cast<int>(input.bitsPerChannel);
    decoder->block_align = static_cast<int>(input.bytesPerPacket);
    if (!extradata.empty()) {
      decoder->extradata = static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!decoder->extradata) return AVERROR(ENOMEM);
      std::memcpy(decoder->extradata, extradata.data(), extradata.size());
      decoder->extradata_size = static_cast<int>(extradata.size());
    }
    const int opened = avcodec_open2(decoder, found, nullptr);
    if (opened < 0) avcodec_free_context(&decoder);
    return opened;
  }

  void closeDecoder() { avcodec_free_context(&decoder); }

  AudioStatus prepareResampler(AVSampleFormat format, int rate, int channels) {
    if (resampler && format == resamplerFormat && rate == resamplerRate && channels == resamplerChannels) {
      return kAudioNoError;
    }
    swr_free(&resampler);
    AVChannelLayout in = defaultLayout(channels);
    AVChannelLayout out = defaultLayout(outputChannels);
    int status = swr_alloc_set_opts2(&resampler, &out, outputFormat, outputRate, &in, format, rate, 0, nullptr);
    if (status < 0) return status;
    bool identity = channels == outputChannels;
    for (int o = 0; o < outputChannels; ++o) identity = identity && channelMap[static_cast<std::size_t>(o)] == o;
    if (!identity) {
      // The map, not a down- or up-mix: each output channel copies one input channel or stays silent.
      std::vector<double> matrix(static_cast<std::size_t>(outputChannels * channels), 0.0);
      for (int o = 0; o < outputChannels; ++o) {
        const int from = channelMap[static_cast<std::size_t>(o)];
        if (from >= 0 && from < channels) matrix[static_cast<std::size_t>(o * channels + from)] = 1.0;
      }
      status = swr_set_matrix(resampler, matrix.data(), channels);
      if (status < 0) return status;
    }
    status = swr_init(resampler);
    if (status < 0) {
      swr_free(&resampler);
      return status;
    }
    resamplerFormat = format;
    resamplerRate = rate;
    resamplerChannels = channels;
    return kAudioNoError;
  }

  AudioStatus convertIntoWaiting(const std::uint8_t* const* planes, int frames, AVSampleFormat format, int rate,
                                 int channels) {
    const std::uint8_t* kept[kMaxChannels];
    if (framesToSkip > 0) {
      const int skipped = static_cast<int>(std::min<std::uint64_t>(framesToSkip, static_cast<std::uint64_t>(frames)));
      const bool planar = av_sample_fmt_is_planar(format) != 0;
      const int planeCount = planar ? channels : 1;
      if (planeCount > static_cast<int>(kMaxChannels)) return AVERROR(EINVAL);
      const int stride = av_get_bytes_per_sample(format) * (planar ? 1 : channels);
      for (int p = 0; p < planeCount; ++p) kept[p] = planes[p] + static_cast<std::ptrdiff_t>(skipped) * stride;
      planes = kept;
      frames -= skipped;
      framesToSkip -= static_cast<std::uint64_t>(skipped);
      if (frames == 0) return kAudioNoError;
    }
    const AudioStatus prepared = prepareResampler(format, rate, channels);
    if (prepared != kAudioNoError) return prepared;
    const int room = swr_get_out_samples(resampler, frames);
    if (room < 0) return room;
    if (room > scratchFrames) {
      freeScratch();
      if (av_samples_alloc_array_and_samples(&scratch, nullptr, outputChannels, room, outputFormat, 0) < 0) {
        return AVERROR(ENOMEM);
      }
      scratchFrames = room;
    }
    const int converted = swr_convert(resampler, scratch, room, const_cast<const std::uint8_t**>(planes), frames);
    if (converted < 0) return converted;
    if (av_audio_fifo_write(waiting, reinterpret_cast<void**>(scratch), converted) < converted) return AVERROR(ENOMEM);
    const int excess = av_audio_fifo_size(waiting) - kMaxWaitingFrames;
    if (excess > 0) {
      av_audio_fifo_drain(waiting, excess);
      foundation::CVNLogController::sharedLogController().logMessageWithLevel(
          1, false, "AudioConverter: %i converted frames dropped: the input's durations are too short", excess);
    }
    return kAudioNoError;
  }

  AudioStatus convertPCM(const AudioStreamBasicDescription& input, AVSampleFormat format, const AudioConverterInput& in) {
    const std::size_t frameBytes = isNonInterleaved(input) ? std::size_t{input.bytesPerFrame} * input.channelsPerFrame
                                                           : input.bytesPerFrame;
    const std::size_t frames = in.byteSize / frameBytes;
    if (frames == 0) return kAudioNoError;
    std::vector<const std::uint8_t*> planes(isNonInterleaved(input) ? input.channelsPerFrame : 1);
    for (std::size_t p = 0; p < planes.size(); ++p) planes[p] = in.data + p * (in.byteSize / planes.size());
    return convertIntoWaiting(planes.data(), static_cast<int>(frames), format, static_cast<int>(input.sampleRate),
                              static_cast<int>(input.channelsPerFrame));
  }

  AudioStatus decodePacket(const std::uint8_t* data, std::size_t size) {
    packetBytes.assign(data, data + size);
    packetBytes.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = packetBytes.data();
    packet->size = static_cast<int>(size);
    int status = avcodec_send_packet(decoder, packet);
    if (status < 0) return status;
    while ((status = avcodec_receive_frame(decoder, frame)) >= 0) {
      const AudioStatus converted =
          convertIntoWaiting(frame->extended_data, frame->nb_samples, static_cast<AVSampleFormat>(frame->format),
                             frame->sample_rate, frame->ch_layout.nb_channels);
      av_frame_unref(frame);
      if (converted != kAudioNoError) return converted;
    }
    return status == AVERROR(EAGAIN) || status == AVERROR_EOF ? kAudioNoError : status;
  }

  AudioStatus decode(const AudioStreamBasicDescription& input, const AudioConverterInput& in) {
    if (!decoder) {
      const AudioStatus opened = openDecoder(input);
      if (opened != kAudioNoError) return opened;
    }
    if (in.packetDescriptions && !in.packetDescriptions->empty()) {
      for (const auto& description : *in.packetDescriptions) {
        if (description.startOffset < 0 ||
            static_cast<std::size_t>(description.startOffset) + description.dataByteSize > in.byteSize) {
          return AVERROR_INVALIDDATA;
        }
        const AudioStatus status = decodePacket(in.data + description.startOffset, description.dataByteSize);
        if (status != kAudioNoError) return status;
      }
      return kAudioNoError;
    }
    if (in.packetSizes && in.packetSizes->size() == in.packets && in.packets > 1) {
      std::size_t at = 0;
      for (std::size_t size : *in.packetSizes) {
        if (at + size > in.byteSize) return AVERROR_INVALIDDATA;
        const AudioStatus status = decodePacket(in.data + at, size);
        if (status != kAudioNoError) return status;
        at += size;
      }
      return kAudioNoError;
    }
    return decodePacket(in.data, in.byteSize);  // one packet, or PCM variants: many frames in one packet
  }
};

std::unique_ptr<AudioConverter> AudioConverter::create(const AudioStreamBasicDescription& input,
                                                       const AudioStreamBasicDescription& output, AudioStatus* status) {
  auto impl = std::make_unique<Impl>();
  const std::optional<AVSampleFormat> outputFormat = sampleFormatOf(output);
  const bool inputIsReadable = sampleFormatOf(input).has_value() || codecOf(input) != AV_CODEC_ID_NONE;
  if (!outputFormat || !inputIsReadable || input.sampleRate <= 0 || output.sampleRate <= 0 ||
      input.channelsPerFrame == 0 || output.channelsPerFrame == 0) {
    *status = kAudioConverterErrFormatNotSupported;
    return nullptr;
  }
  if (!sampleFormatOf(input)) impl->codec = codecOf(input);
  impl->outputFormat = *outputFormat;
  impl->outputRate = static_cast<int>(output.sampleRate);
  impl->outputChannels = static_cast<int>(output.channelsPerFrame);
  for (int o = 0; o < impl->outputChannels; ++o) {
    impl->channelMap.push_back(o < static_cast<int>(input.channelsPerFrame) ? o : -1);
  }
  impl->waiting = av_audio_fifo_alloc(impl->outputFormat, impl->outputChannels, 4096);
  if (!impl->waiting) {
    *status = AVERROR(ENOMEM);
    return nullptr;
  }
  *status = kAudioNoError;
  return std::unique_ptr<AudioConverter>(new AudioConverter(input, output, std::move(impl)));
}

AudioConverter::AudioConverter(const AudioStreamBasicDescription& input, const AudioStreamBasicDescription& output,
                               std::unique_ptr<Impl> impl)
    : input_(input), output_(output), impl_(std::move(impl)) {}

AudioConverter::~AudioConverter() = default;

AudioStatus AudioConverter::setDecompressionMagicCookie(std::span<const std::uint8_t> cookie) {
  if (impl_->codec == AV_CODEC_ID_AAC) {
    impl_->extradata = aacConfigurationFromCookie(cookie);
  } else if (impl_->codec == AV_CODEC_ID_ALAC) {
    impl_->extradata = alacConfigurationFromCookie(cookie);
  } else {
    impl_->extradata.assign(cookie.begin(), cookie.end());
  }
  if (!cookie.empty() && impl_->extradata.empty()) return AVERROR_INVALIDDATA;
  impl_->closeDecoder();  // the next fill opens it with the new configuration
  return kAudioNoError;
}

AudioStatus AudioConverter::setChannelMap(std::vector<int> map) {
  if (map.size() != static_cast<std::size_t>(impl_->outputChannels)) return AVERROR(EINVAL);
  impl_->channelMap = std::move(map);
  swr_free(&impl_->resampler);
  return kAudioNoError;
}

AudioStatus AudioConverter::prepare() {
  if (impl_->codec != AV_CODEC_ID_NONE && !impl_->decoder) {
    const AudioStatus opened = impl_->openDecoder(input_);
    if (opened != kAudioNoError) return opened;
  }
  const AVSampleFormat format =
      impl_->decoder ? impl_->decoder->sample_fmt : sampleFormatOf(input_).value_or(AV_SAMPLE_FMT_NONE);
  const int rate = impl_->decoder && impl_->decoder->sample_rate > 0 ? impl_->decoder->sample_rate
                                                                     : static_cast<int>(input_.sampleRate);
  const int channels = impl_->decoder && impl_->decoder->ch_layout.nb_channels > 0
                           ? impl_->decoder->ch_layout.nb_channels
                           : static_cast<int>(input_.channelsPerFrame);
  // A decoder that tells its output only with the first frame is set up then.
  if (format == AV_SAMPLE_FMT_NONE) return kAudioNoError;
  return impl_->prepareResampler(format, rate, channels);
}

AudioStatus AudioConverter::fillComplexBuffer(const InputCallback& callback, pm::AudioBufferList& output,
                                              std::uint32_t* frames) {
  const std::uint32_t wanted = *frames;
  const bool planar = av_sample_fmt_is_planar(impl_->outputFormat) != 0;
  const std::size_t planes = planar ? static_cast<std::size_t>(impl_->outputChannels) : 1;
  const std::size_t frameBytes = static_cast<std::size_t>(av_get_bytes_per_sample(impl_->outputFormat)) *
                                 (planar ? 1 : static_cast<std::size_t>(impl_->outputChannels));
  if (output.buffers.size() < planes || planes > kMaxChannels) return AVERROR(EINVAL);
  for (std::size_t p = 0; p < planes; ++p) {
    if (output.buffers[p].dataByteSize < wanted * frameBytes) return AVERROR(EINVAL);
  }
  const std::optional<AVSampleFormat> inputPCM = sampleFormatOf(input_);
  std::uint32_t written = 0;
  void* targets[kMaxChannels];
  AudioStatus status = kAudioNoError;
  while (true) {
    const int take = std::min<int>(av_audio_fifo_size(impl_->waiting), static_cast<int>(wanted - written));
    if (take > 0) {
      for (std::size_t p = 0; p < planes; ++p) {
        targets[p] = static_cast<std::uint8_t*>(output.buffers[p].data) + written * frameBytes;
      }
      written += static_cast<std::uint32_t>(av_audio_fifo_read(impl_->waiting, targets, take));
    }
    if (written == wanted) break;
    AudioConverterInput input;
    if (callback(&input) != kAudioNoError) {
      status = kAudioConverterInputRanDry;
      break;
    }
    const AudioStatus consumed = inputPCM ? impl_->convertPCM(input_, *inputPCM, input) : impl_->decode(input_, input);
    if (consumed != kAudioNoError) {
      av_audio_fifo_reset(impl_->waiting);
      *frames = 0;
      return consumed;
    }
  }
  *frames = written;
  return status;
}

void AudioConverter::skipInputFrames(std::uint64_t frames) { impl_->framesToSkip = frames; }

void AudioConverter::reset() {
  impl_->framesToSkip = 0;
  if (impl_->decoder) avcodec_flush_buffers(impl_->decoder);
  swr_free(&impl_->resampler);
  av_audio_fifo_reset(impl_->waiting);
}

}  // namespace media
