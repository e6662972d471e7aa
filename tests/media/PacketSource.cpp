#include "tests/media/PacketSource.h"

#include <sstream>

#include "platform/media/PixelFormat.h"
#include "tests/support/MediaFixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

namespace media::testing {
namespace {

namespace pm = platform::media;

pm::FourCharCode usualSubtype(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264: return pm::fourCC("avc1");
    case AV_CODEC_ID_HEVC: return pm::fourCC("hvc1");
    case AV_CODEC_ID_MPEG2VIDEO: return pm::fourCC("mp2v");
    case AV_CODEC_ID_MPEG4: return pm::fourCC("mp4v");
    case AV_CODEC_ID_PRORES: return pm::fourCC("apch");
    case AV_CODEC_ID_DVVIDEO: return pm::fourCC("dvcp");
    case AV_CODEC_ID_DNXHD: return pm::fourCC("AVdn");
    case AV_CODEC_ID_VP9: return pm::fourCC("vp09");
    case AV_CODEC_ID_FFV1: return pm::fourCC("FFV1");
    default: return pm::fourCC("????");
  }
}

}  // namespace

PacketSource::PacketSource(const std::filesystem::path& path, pm::FourCharCode subtype, platform::Dictionary extensions) {
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return;
  if (avformat_find_stream_info(input, nullptr) < 0) {
    avformat_close_input(&input);
    return;
  }
  const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    avformat_close_input(&input);
    return;
  }
  AVStream* stream = input->streams[index];
  context_ = avcodec_alloc_context3(nullptr);
  avcodec_parameters_to_context(context_, stream->codecpar);
  context_->pkt_timebase = stream->time_base;
  timeBase_ = {stream->time_base.num, stream->time_base.den};
  const AVCodecParameters* parameters = stream->codecpar;
  if (parameters->extradata_size > 0) {
    platform::Data atom(parameters->extradata, parameters->extradata + parameters->extradata_size);
    const char* name = parameters->codec_id == AV_CODEC_ID_HEVC ? "hvcC" : "avcC";
    platform::Dictionary atoms;
    atoms[name] = platform::Value(atom);
    extensions[pm::kFormatDescriptionExtensionAtoms] = platform::Value(atoms);
  }
  description_ = pm::FormatDescription::createVideo(subtype ? subtype : usualSubtype(parameters->codec_id),
                                                    {parameters->width, parameters->height}, extensions);
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == index) {
      auto block = pm::BlockBuffer::createWithCopy({packet->data, static_cast<std::size_t>(packet->size)});
      pm::SampleTimingInfo timing;
      const int scale = stream->time_base.den;
      timing.duration = pm::MediaTime::make(packet->duration, scale);
      timing.presentationTimeStamp =
          packet->pts == AV_NOPTS_VALUE ? pm::MediaTime::invalid() : pm::MediaTime::make(packet->pts, scale);
      timing.decodeTimeStamp =
          packet->dts == AV_NOPTS_VALUE ? pm::MediaTime::invalid() : pm::MediaTime::make(packet->dts, scale);
      pm::SampleBufferRef sample;
      pm::SampleBuffer::createReady(block, description_, 1, {timing}, {block->dataLength()}, &sample);
      samples_.push_back(sample);
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
}

PacketSource::~PacketSource() { avcodec_free_context(&context_); }

DescribedReader::DescribedReader(pm::FormatDescriptionRef video, std::int32_t assetType)
    : CVNAssetReader(MediaURL(), std::string("fixture")) {
  videoFormatDescription_ = std::move(video);
  setAssetType(assetType);
}

DescribedCodecReader::DescribedCodecReader(pm::FormatDescriptionRef video, std::int32_t assetType,
                                           AVCodecContext* context, bool fieldBased)
    : DescribedReader(std::move(video), assetType), context_(context), fieldBased_(fieldBased) {}

std::vector<std::string> ffmpegFrameHashes(const std::filesystem::path& file, const std::string& arguments) {
  std::vector<std::string> hashes;
  std::istringstream lines(testing_support::commandOutputOnce("ffmpeg -v error -i", file, arguments + " -f framemd5 -"));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::string hash = line.substr(line.rfind(',') + 1);
    hash.erase(0, hash.find_first_not_of(' '));
    hashes.push_back(hash);
  }
  return hashes;
}

std::string pictureHash(const pm::PixelBuffer& buffer) {
  const pm::PixelFormatDescription* description = pm::pixelFormatDescription(buffer.pixelFormatType());
  AVMD5* md5 = av_md5_alloc();
  av_md5_init(md5);
  const std::size_t planes = buffer.isPlanar() ? buffer.planeCount() : 1;
  for (std::size_t plane = 0; plane < planes; ++plane) {
    const std::size_t rowBytes = description && description->planeCount == planes
                                     ? pm::minimumBytesPerRow(*description, plane, buffer.width())
                                     : buffer.widthOfPlane(plane) * 2;
    const std::size_t rows = buffer.isPlanar() ? buffer.heightOfPlane(plane) : buffer.height();
    for (std::size_t row = 0; row < rows; ++row) {
      av_md5_update(md5, buffer.baseAddressOfPlane(plane) + row * buffer.bytesPerRowOfPlane(plane), rowBytes);
    }
  }
  std::uint8_t digest[16];
  av_md5_final(md5, digest);
  av_free(md5);
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

}  // namespace media::testing
