#include "platform/media/ImageSource.h"

#include <cstring>
#include <fstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace platform::media {
namespace {

struct Signature {
  std::size_t offset;
  std::string_view bytes;
};

struct ImageKind {
  std::string_view type;
  AVCodecID codec;
  Signature first;
  Signature second;  // empty: none
};

using namespace std::string_view_literals;

const ImageKind kImageKinds[] = {
    {"public.png", AV_CODEC_ID_PNG, {0, "\x89PNG\r\n\x1a\n"sv}, {}},
    {"public.jpeg", AV_CODEC_ID_MJPEG, {0, "\xff\xd8\xff"sv}, {}},
    {"public.tiff", AV_CODEC_ID_TIFF, {0, "II*\0"sv}, {}},
    {"public.tiff", AV_CODEC_ID_TIFF, {0, "MM\0*"sv}, {}},
    {"public.bmp", AV_CODEC_ID_BMP, {0, "BM"sv}, {}},
    {"public.gif", AV_CODEC_ID_GIF, {0, "GIF8"sv}, {}},
    {"public.webp", AV_CODEC_ID_WEBP, {0, "RIFF"sv}, {8, "WEBP"sv}},
};

bool matches(const std::vector<std::uint8_t>& data, const Signature& signature) {
  if (signature.bytes.empty()) return true;
  return data.size() >= signature.offset + signature.bytes.size() &&
         std::memcmp(data.data() + signature.offset, signature.bytes.data(), signature.bytes.size()) == 0;
}

const ImageKind* kindOf(const std::vector<std::uint8_t>& data) {
  for (const auto& kind : kImageKinds) {
    if (matches(data, kind.first) && matches(data, kind.second)) return &kind;
  }
  return nullptr;
}

Error imageError(ImageSourceError code, std::string text) { return Error(kImageSourceErrorDomain, code, std::move(text)); }

// Refuses a picture above the limits before the decoder allocates it.
int guardedGetBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
  if (!isAcceptablePixelBufferSize(static_cast<std::size_t>(std::max(frame->width, 0)),
                                   static_cast<std::size_t>(std::max(frame->height, 0)))) {
    return AVERROR(ERANGE);
  }
  return avcodec_default_get_buffer2(context, frame, flags);
}

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

}  // namespace

ImageSource::ImageSource(std::vector<std::uint8_t> data, std::string type) : data_(std::move(data)), type_(std::move(type)) {}
ImageSource::~ImageSource() = default;

Result<std::unique_ptr<ImageSource>> ImageSource::createWithURL(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return imageError(ImageSourceError::Unreadable, "cannot read " + path.string() + ": " + error.message());
  if (size > kImageSourceMaxFileSize) return imageError(ImageSourceError::TooLarge, "image file too large: " + path.string());
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  if (!file || !file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))) {
    return imageError(ImageSourceError::Unreadable, "cannot read " + path.string());
  }
  return createWithData(std::move(data));
}

Result<std::unique_ptr<ImageSource>> ImageSource::createWithData(std::vector<std::uint8_t> data) {
  if (data.size() > kImageSourceMaxFileSize) return imageError(ImageSourceError::TooLarge, "image data too large");
  const ImageKind* kind = kindOf(data);
  if (!kind) return imageError(ImageSourceError::UnknownType, "not an image of a known type");
  return std::unique_ptr<ImageSource>(new ImageSource(std::move(data), std::string(kind->type)));
}

Status ImageSource::decode() {
  if (image_) return Status::success();
  if (failure_) return *failure_;
  const ImageKind* kind = kindOf(data_);
  const AVCodec* codec = avcodec_find_decoder(kind->codec);
  std::unique_ptr<AVCodecContext, CodecContextDeleter> context(codec ? avcodec_alloc_context3(codec) : nullptr);
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  if (!context || !packet || !frame) return *(failure_ = imageError(ImageSourceError::Damaged, "no decoder for " + type_));
  context->max_pixels = kMaxPixelBufferPixels;
  context->get_buffer2 = guardedGetBuffer;
  context->thread_count = 1;
  context->thread_type = 0;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) {
    return *(failure_ = imageError(ImageSourceError::Damaged, "cannot open the decoder for " + type_));
  }
  // The whole file is one packet; decoders read from it with bounds of their own
  // and need zeroed padding after the data.
  if (av_new_packet(packet.get(), static_cast<int>(data_.size())) < 0) {
    return *(failure_ = imageError(ImageSourceError::TooLarge, "image data too large"));
  }
  std::memcpy(packet->data, data_.data(), data_.size());
  int status = avcodec_send_packet(context.get(), packet.get());
  if (status >= 0) {
    avcodec_send_packet(context.get(), nullptr);
    status = avcodec_receive_frame(context.get(), frame.get());
  }
  if (status == AVERROR(ERANGE) ||
      (status >= 0 && !isAcceptablePixelBufferSize(static_cast<std::size_t>(frame->width),
                                                   static_cast<std::size_t>(frame->height)))) {
    return *(failure_ = imageError(ImageSourceError::TooLarge, "image larger than the pixel limit"));
  }
  if (status < 0) return *(failure_ = imageError(ImageSourceError::Damaged, "damaged " + type_ + " image"));

  std::shared_ptr<PixelBuffer> image;
  if (PixelBuffer::create(frame->width, frame->height, kPixelFormat32RGBA, {}, &image) != kCVReturnSuccess) {
    return *(failure_ = imageError(ImageSourceError::TooLarge, "cannot allocate the image"));
  }
  SwsContext* scaler = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                      frame->width, frame->height, AV_PIX_FMT_RGBA,
                                      SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
  if (!scaler) return *(failure_ = imageError(ImageSourceError::Damaged, "unsupported pixel layout in " + type_));
  std::uint8_t* destination[4] = {image->baseAddress(), nullptr, nullptr, nullptr};
  int destinationLines[4] = {static_cast<int>(image->bytesPerRow()), 0, 0, 0};
  sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, destination, destinationLines);
  sws_freeContext(scaler);
  // Premultiply: textures and compositing take premultiplied alpha.
  for (std::size_t y = 0; y < image->height(); ++y) {
    std::uint8_t* pixel = image->baseAddress() + y * image->bytesPerRow();
    for (std::size_t x = 0; x < image->width(); ++x, pixel += 4) {
      const unsigned alpha = pixel[3];
      if (alpha == 255) continue;
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>((pixel[c] * alpha + 127) / 255);
    }
  }
  properties_[kImagePropertyPixelWidth] = static_cast<std::int64_t>(frame->width);
  properties_[kImagePropertyPixelHeight] = static_cast<std::int64_t>(frame->height);
  platform::Dictionary exif;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(frame->metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) exif[entry->key] = entry->value;
  if (!exif.empty()) properties_[kImagePropertyExifDictionary] = std::move(exif);
  image_ = std::move(image);
  return Status::success();
}

Result<platform::Dictionary> ImageSource::properties() {
  if (Status status = decode(); !status) return status.error();
  return properties_;
}

Result<std::shared_ptr<PixelBuffer>> ImageSource::createImage() {
  if (Status status = decode(); !status) return status.error();
  return image_;
}

}  // namespace platform::media
