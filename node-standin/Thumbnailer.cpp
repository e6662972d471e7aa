#include "node-standin/Thumbnailer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "node-standin/FFmpegHandles.h"
#include "node-standin/TiffEncoder.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace standin {
namespace {

using namespace detail;

// Packets read past the seek point before settling for the last picture seen.
constexpr int kMaxPacketsAfterSeek = 600;

platform::Error thumbnailError(ThumbnailErrorCode code, std::string description) {
  return platform::Error(kThumbnailErrorDomain, code, std::move(description));
}

struct ScaleContextFreer {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// Feeds packets of the stream to the decoder and keeps the last picture whose
// time is not past `target`; the first picture after it ends the search.
FrameHandle decodeFrameAt(AVFormatContext& format, int streamIndex, AVCodecContext& decoder, std::int64_t target) {
  FrameHandle best;
  FrameHandle frame(av_frame_alloc());
  PacketHandle packet(av_packet_alloc());
  if (!frame || !packet) return nullptr;
  bool reachedTarget = false;
  auto drainDecoder = [&] {
    while (avcodec_receive_frame(&decoder, frame.get()) == 0) {
      const std::int64_t time = frame->best_effort_timestamp;
      if (!best || time == AV_NOPTS_VALUE || time <= target) {
        best.reset(av_frame_clone(frame.get()));
      }
      if (time != AV_NOPTS_VALUE && time >= target) reachedTarget = true;
      av_frame_unref(frame.get());
      if (reachedTarget) return;
    }
  };
  for (int packets = 0; packets < kMaxPacketsAfterSeek && !reachedTarget;) {
    const int read = av_read_frame(&format, packet.get());
    if (read < 0) break;
    if (packet->stream_index == streamIndex) {
      ++packets;
      avcodec_send_packet(&decoder, packet.get());
      drainDecoder();
    }
    av_packet_unref(packet.get());
  }
  if (!reachedTarget) {
    avcodec_send_packet(&decoder, nullptr);  // flush what the decoder holds back
    drainDecoder();
  }
  return best;
}

platform::Data scaleToTIFF(const AVFrame& picture, const AVRational sampleAspect, ThumbnailBox box) {
  const double aspect = sampleAspect.num > 0 && sampleAspect.den > 0 ? av_q2d(sampleAspect) : 1.0;
  const double displayWidth = picture.width * aspect;
  const double scale = std::min(box.maxWidth / displayWidth, static_cast<double>(box.maxHeight) / picture.height);
  const int width = std::max(1, static_cast<int>(std::lround(displayWidth * scale)));
  const int height = std::max(1, static_cast<int>(std::lround(picture.height * scale)));

  std::unique_ptr<SwsContext, ScaleContextFreer> scaler(
      sws_getContext(picture.width, picture.height, static_cast<AVPixelFormat>(picture.format), width, height,
                     AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scaler) return {};
  const int stride = width * 3;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(stride) * height);
  std::uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {stride, 0, 0, 0};
  if (sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height, planes, strides) != height) {
    return {};
  }
  return encodeTIFF(width, height, rgb);
}

}  // namespace

platform::Result<platform::Data> makeThumbnail(const std::filesystem::path& path, double positionInSeconds,
                                               ThumbnailBox box) {
  std::string problem;
  FormatContextHandle format = openMediaFile(path, problem);
  if (!format) return thumbnailError(ThumbnailErrorCode::Unreadable, problem);
  const AVCodec* codec = nullptr;
  const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (streamIndex < 0 || codec == nullptr) return thumbnailError(ThumbnailErrorCode::NoVideo, "no decodable video");
  const AVStream& stream = *format->streams[streamIndex];

  CodecContextHandle decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0) {
    return thumbnailError(ThumbnailErrorCode::DecodeFailed, "cannot set up the decoder");
  }
  decoder->thread_count = 1;
  if (const int opened = avcodec_open2(decoder.get(), codec, nullptr); opened < 0) {
    return thumbnailError(ThumbnailErrorCode::DecodeFailed, ffmpegErrorText(opened));
  }

  const double seconds = std::isfinite(positionInSeconds) ? std::max(0.0, positionInSeconds) : 0.0;
  const std::int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
  const std::int64_t target = start + av_rescale_q(static_cast<std::int64_t>(seconds * AV_TIME_BASE),
                                                   AVRational{1, AV_TIME_BASE}, stream.time_base);
  av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD);  // from the start when it fails

  const FrameHandle picture = decodeFrameAt(*format, streamIndex, *decoder, target);
  if (!picture || picture->width <= 0 || picture->height <= 0) {
    return thumbnailError(ThumbnailErrorCode::DecodeFailed, "no picture decoded");
  }
  platform::Data tiff = scaleToTIFF(*picture, av_guess_sample_aspect_ratio(format.get(),
                                                                          format->streams[streamIndex], picture.get()),
                                    box);
  if (tiff.empty()) return thumbnailError(ThumbnailErrorCode::DecodeFailed, "cannot scale the picture");
  return tiff;
}

}  // namespace standin
