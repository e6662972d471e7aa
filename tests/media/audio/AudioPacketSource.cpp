#include "tests/media/audio/AudioPacketSource.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"

namespace media::testing {

namespace pm = platform::media;

namespace {

pm::SampleBufferRef makeBuffer(const std::uint8_t* data, std::size_t size, std::size_t samples, std::size_t sampleSize,
                               pm::MediaTime duration, pm::MediaTime presentation, bool compressed) {
  auto block = pm::BlockBuffer::createWithCopy({data, size});
  pm::SampleBufferRef buffer;
  std::vector<pm::AudioStreamPacketDescription> packets;
  if (compressed) packets.push_back({0, 0, static_cast<std::uint32_t>(size)});
  pm::SampleBuffer::createReady(block, nullptr, samples, {{duration, presentation, pm::MediaTime::invalid()}},
                                {sampleSize}, &buffer, packets);
  return buffer;
}

}  // namespace

AudioPacketSource::AudioPacketSource(const std::filesystem::path& path) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return;
  const int index = avformat_find_stream_info(format, nullptr) < 0
                        ? -1
                        : av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) {
    avformat_close_input(&format);
    return;
  }
  const AVStream* stream = format->streams[index];
  const AVCodecParameters& parameters = *stream->codecpar;
  pm::AudioStreamBasicDescription asbd;
  asbd.sampleRate = parameters.sample_rate;
  asbd.channelsPerFrame = static_cast<std::uint32_t>(parameters.ch_layout.nb_channels);
  std::vector<std::uint8_t> cookie;
  bool compressed = true;
  switch (parameters.codec_id) {
    case AV_CODEC_ID_PCM_S16LE:
      compressed = false;
      asbd.formatID = pm::kAudioFormatLinearPCM;
      asbd.formatFlags = pm::kAudioFormatFlagIsSignedInteger | pm::kAudioFormatFlagIsPacked;
      asbd.bitsPerChannel = 16;
      asbd.framesPerPacket = 1;
      asbd.bytesPerFrame = asbd.bytesPerPacket = 2 * asbd.channelsPerFrame;
      break;
    case AV_CODEC_ID_AAC:
      asbd.formatID = pm::fourCC("aac ");
      asbd.framesPerPacket = 1024;
      if (parameters.extradata_size > 0) {
        cookie = CVNFFmpegMovieAssetReader::audioAACMagicCookieFromExtradata(
            parameters.extradata, static_cast<std::size_t>(parameters.extradata_size));
      }
      break;
    case AV_CODEC_ID_ALAC:
      asbd.formatID = pm::fourCC("alac");
      asbd.framesPerPacket = 4096;
      cookie.assign(parameters.extradata, parameters.extradata + parameters.extradata_size);
      break;
    case AV_CODEC_ID_MP3:
      asbd.formatID = pm::fourCC(".mp3");
      asbd.framesPerPacket = 1152;
      break;
    default:
      avformat_close_input(&format);
      return;
  }
  description_ = pm::FormatDescription::createAudio(asbd, std::nullopt, cookie);
  const AVRational frames{1, parameters.sample_rate};
  const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index) {
      const std::int64_t pts = av_rescale_q(packet->pts - start, stream->time_base, frames);
      const auto rate = static_cast<std::int32_t>(parameters.sample_rate);
      const auto size = static_cast<std::size_t>(packet->size);
      if (compressed) {
        const std::int64_t duration = av_rescale_q(packet->duration, stream->time_base, frames);
        samples_.push_back(makeBuffer(packet->data, size, 1, size, pm::MediaTime::make(duration, rate),
                                      pm::MediaTime::make(pts, rate), true));
      } else {
        samples_.push_back(makeBuffer(packet->data, size, size / asbd.bytesPerFrame, asbd.bytesPerFrame,
                                      pm::MediaTime::make(1, rate), pm::MediaTime::make(pts, rate), false));
      }
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&format);
}

pm::SampleBufferRef floatSampleBuffer(const std::vector<float>& values, std::uint32_t channels, std::int32_t rate,
                                      std::int64_t presentationFrame) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(values.data());
  const std::size_t frames = values.size() / channels;
  return makeBuffer(bytes, values.size() * sizeof(float), frames, channels * sizeof(float), pm::MediaTime::make(1, rate),
                    pm::MediaTime::make(presentationFrame, rate), false);
}

pm::AudioStreamBasicDescription floatFormat(double rate, std::uint32_t channels, bool interleaved) {
  pm::AudioStreamBasicDescription format;
  format.sampleRate = rate;
  format.formatID = pm::kAudioFormatLinearPCM;
  format.formatFlags = pm::kAudioFormatFlagIsFloat | pm::kAudioFormatFlagIsPacked |
                       (interleaved ? 0 : pm::kAudioFormatFlagIsNonInterleaved);
  format.framesPerPacket = 1;
  format.bitsPerChannel = 32;
  format.bytesPerFrame = format.bytesPerPacket = interleaved ? 4 * channels : 4;
  format.channelsPerFrame = channels;
  return format;
}

}  // namespace media::testing
