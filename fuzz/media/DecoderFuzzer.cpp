// Feeds mutated packets to the two libavcodec-based decoders. Input: one
// byte choosing the codec (low bits) and the decoder (high bit: the
// VideoToolbox-rule decoder), then packets as a 16-bit big-endian length and
// that many bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/cpu.h>
}

namespace {

namespace pm = platform::media;

struct Codec {
  AVCodecID id;
  pm::FourCharCode subtype;
};
const Codec kCodecs[] = {{AV_CODEC_ID_H264, pm::fourCC("avc1")},
                         {AV_CODEC_ID_MPEG2VIDEO, pm::fourCC("mp2v")},
                         {AV_CODEC_ID_MPEG4, pm::fourCC("mp4v")},
                         {AV_CODEC_ID_PRORES, pm::fourCC("apch")}};

std::vector<pm::SampleBufferRef> packets(const std::uint8_t* data, std::size_t size) {
  std::vector<pm::SampleBufferRef> samples;
  std::int64_t pts = 0;
  while (size >= 2 && samples.size() < 16) {
    const std::size_t length = std::min<std::size_t>(size - 2, static_cast<std::size_t>(data[0] << 8 | data[1]));
    auto block = pm::BlockBuffer::createWithCopy({data + 2, length});
    pm::SampleBufferRef sample;
    pm::SampleBuffer::createReady(block, nullptr, 1,
                                  {{pm::MediaTime::make(1, 25), pm::MediaTime::make(pts++, 25), pm::MediaTime::invalid()}},
                                  {length}, &sample);
    samples.push_back(sample);
    data += 2 + length;
    size -= 2 + length;
  }
  return samples;
}

}  // namespace

// Codecs still run frame threads (errors then come late), but few: a codec
// opened per input with a thread for every core would dominate the run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_cpu_force_count(2);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Codec& codec = kCodecs[(data[0] & 0x7f) % (sizeof kCodecs / sizeof kCodecs[0])];
  const bool videoToolbox = data[0] & 0x80;
  const auto samples = packets(data + 1, size - 1);
  auto ignore = [](bool, const std::optional<std::string>&, const pm::SampleBufferRef&) {};
  if (videoToolbox) {
    media::CVNVideoToolboxDecoder decoder(pm::FormatDescription::createVideo(codec.subtype, {64, 64}), "fuzz");
    if (!decoder.setup()) return 0;
    for (const auto& sample : samples) decoder.decodeSampleBuffer(sample, true, ignore);
    decoder.finish();
    return 0;
  }
  AVCodecContext* context = avcodec_alloc_context3(nullptr);
  context->codec_id = codec.id;
  context->width = 64;
  context->height = 64;
  {
    media::CVNFFmpegDecoder decoder(context, {1, 25}, false, "fuzz");
    if (decoder.setup()) {
      for (const auto& sample : samples) decoder.decodeSampleBuffer(sample, true, ignore);
      decoder.finish();
    }
  }
  avcodec_free_context(&context);
  return 0;
}
