#include "media/decoders/FrameConverter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace media {
namespace {

using platform::media::FourCharCode;
using platform::media::PixelBuffer;
namespace pm = platform::media;

// Formats swscale writes straight into the buffer.
AVPixelFormat directFormat(FourCharCode format) {
  switch (format) {
    case pm::kPixelFormat422YpCbCr8: return AV_PIX_FMT_UYVY422;
    case pm::kPixelFormat32ARGB: return AV_PIX_FMT_ARGB;
    case pm::kPixelFormat32BGRA: return AV_PIX_FMT_BGRA;
    case pm::kPixelFormat4444AYpCbCr16: return AV_PIX_FMT_AYUV64LE;
    default: return AV_PIX_FMT_NONE;
  }
}

// Formats we pack ourselves from a planar picture swscale makes first.
AVPixelFormat packedFromFormat(FourCharCode format) {
  switch (format) {
    case pm::kPixelFormat422YpCbCr16: return AV_PIX_FMT_YUV422P16LE;
    case pm::kPixelFormat422YpCbCr10: return AV_PIX_FMT_YUV422P10LE;
    default: return AV_PIX_FMT_NONE;
  }
}

std::uint16_t sample16(const AVFrame& frame, int plane, std::size_t row, std::size_t column) {
  const std::uint8_t* p = frame.data[plane] + row * static_cast<std::size_t>(frame.linesize[plane]) + column * 2;
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void put16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// 4:2:2 16-bit samples Cb Y0 Cr Y1.
void packV216Row(const AVFrame& frame, std::size_t row, std::size_t width, std::uint8_t* out) {
  for (std::size_t x = 0; x < width; x += 2) {
    const std::size_t c = x / 2;
    put16(out, sample16(frame, 1, row, c));
    put16(out + 2, sample16(frame, 0, row, x));
    put16(out + 4, sample16(frame, 2, row, c));
    put16(out + 6, x + 1 < width ? sample16(frame, 0, row, x + 1) : sample16(frame, 0, row, x));
    out += 8;
  }
}

// A 10-bit sample kept out of the codes 0-3 and 1020-1023, which serial
// digital video reserves for its timing references.
std::uint32_t legal10(std::uint16_t sample) { return std::clamp<std::uint32_t>(sample & 0x3ff, 4, 1019); }

// 4:2:2 10-bit samples, six pixels in four little-endian words of three
// samples each: Cb0 Y0 Cr0 | Y1 Cb1 Y2 | Cr1 Y3 Cb2 | Y4 Cr2 Y5. Pixels past
// the width are black.
void packV210Row(const AVFrame& frame, std::size_t row, std::size_t width, std::uint8_t* out) {
  auto luma = [&](std::size_t x) -> std::uint32_t { return x < width ? legal10(sample16(frame, 0, row, x)) : 64; };
  auto chroma = [&](int plane, std::size_t c) -> std::uint32_t {
    return c < (width + 1) / 2 ? legal10(sample16(frame, plane, row, c)) : 512;
  };
  for (std::size_t x = 0; x < width; x += 6) {
    const std::size_t c = x / 2;
    put32(out, chroma(1, c) | luma(x) << 10 | chroma(2, c) << 20);
    put32(out + 4, luma(x + 1) | chroma(1, c + 1) << 10 | luma(x + 2) << 20);
    put32(out + 8, chroma(2, c + 1) | luma(x + 3) << 10 | chroma(1, c + 2) << 20);
    put32(out + 12, luma(x + 4) | chroma(2, c + 2) << 10 | luma(x + 5) << 20);
    out += 16;
  }
}

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

struct FrameConverter::Impl {
  SwsContext* sws = nullptr;
  AVFrame* intermediate = nullptr;

  ~Impl() {
    sws_freeContext(sws);
    av_frame_free(&intermediate);
  }

  // An intermediate picture of this shape, kept while the shape stays.
  AVFrame* intermediateFrame(int width, int height, AVPixelFormat format) {
    if (intermediate && intermediate->width == width && intermediate->height == height &&
        intermediate->format == format) {
      return intermediate;
    }
    av_frame_free(&intermediate);
    intermediate = av_frame_alloc();
    if (!intermediate) return nullptr;
    intermediate->width = width;
    intermediate->height = height;
    intermediate->format = format;
    if (av_frame_get_buffer(intermediate, 0) < 0) av_frame_free(&intermediate);
    return intermediate;
  }

  // Scales rows of `frame` into planes given by pointers.
  bool scale(const AVFrame& frame, RowBand source, int width, int height, AVPixelFormat format,
             std::uint8_t* const destination[4], const int lines[4], std::string* error) {
    const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!description) return fail(error, "unknown frame format");
    if (source.count == 0 || source.first + source.count > static_cast<std::size_t>(frame.height)) {
      return fail(error, "source rows outside the frame");
    }
    sws = sws_getCachedContext(sws, frame.width, static_cast<int>(source.count),
                               static_cast<AVPixelFormat>(frame.format), width, height, format, SWS_BILINEAR, nullptr,
                               nullptr, nullptr);
    if (!sws) {
      return fail(error, std::string("no conversion from ") + description->name + " to " +
                             av_get_pix_fmt_name(format));
    }
    const std::uint8_t* planes[4] = {};
    const bool subsampledChroma = !(description->flags & AV_PIX_FMT_FLAG_RGB) && (description->flags & AV_PIX_FMT_FLAG_PLANAR);
    for (int i = 0; i < 4 && frame.data[i]; ++i) {
      std::size_t row = source.first;
      if (subsampledChroma && (i == 1 || i == 2)) row >>= description->log2_chroma_h;
      planes[i] = frame.data[i] + row * static_cast<std::size_t>(frame.linesize[i]);
    }
    sws_scale(sws, planes, frame.linesize, 0, static_cast<int>(source.count), destination, lines);
    return true;
  }
};

FrameConverter::FrameConverter() : impl_(std::make_unique<Impl>()) {}
FrameConverter::~FrameConverter() = default;

bool FrameConverter::supportsPackedFormat(FourCharCode format) {
  return directFormat(format) != AV_PIX_FMT_NONE || packedFromFormat(format) != AV_PIX_FMT_NONE;
}

bool FrameConverter::convert(const AVFrame& frame, RowBand source, PixelBuffer& buffer, RowBand destination,
                             std::string* error) {
  const FourCharCode format = buffer.pixelFormatType();
  if (destination.count == 0 || destination.first + destination.count > buffer.height()) {
    return fail(error, "destination rows outside the buffer");
  }
  const int width = static_cast<int>(buffer.width());
  const int height = static_cast<int>(destination.count);
  std::uint8_t* rows = buffer.baseAddress() + destination.first * buffer.bytesPerRow();
  if (const AVPixelFormat direct = directFormat(format); direct != AV_PIX_FMT_NONE) {
    std::uint8_t* planes[4] = {rows, nullptr, nullptr, nullptr};
    const int lines[4] = {static_cast<int>(buffer.bytesPerRow()), 0, 0, 0};
    if (!impl_->scale(frame, source, width, height, direct, planes, lines, error)) return false;
  } else if (const AVPixelFormat planar = packedFromFormat(format); planar != AV_PIX_FMT_NONE) {
    AVFrame* picture = impl_->intermediateFrame(width, height, planar);
    if (!picture) return fail(error, "no memory for the intermediate picture");
    if (!impl_->scale(frame, source, width, height, planar, picture->data, picture->linesize, error)) return false;
    for (std::size_t row = 0; row < destination.count; ++row) {
      std::uint8_t* out = rows + row * buffer.bytesPerRow();
      if (format == pm::kPixelFormat422YpCbCr16) {
        packV216Row(*picture, row, buffer.width(), out);
      } else {
        packV210Row(*picture, row, buffer.width(), out);
      }
    }
  } else {
    return fail(error, "unsupported output format " + pm::fourCCString(format));
  }
  if (destination.first > 0) fillBlack(buffer, {0, destination.first});
  const std::size_t end = destination.first + destination.count;
  if (end < buffer.height()) fillBlack(buffer, {end, buffer.height() - end});
  return true;
}

bool FrameConverter::copyToBiPlanar(const AVFrame& frame, int intermediateFormat, PixelBuffer& buffer,
                                    std::string* error) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(intermediateFormat);
  const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(format);
  if (!description || description->nb_components < 3 || description->comp[0].step != 2 || buffer.planeCount() != 2) {
    return fail(error, "not a 16-bit planar picture for a bi-planar buffer");
  }
  const AVFrame* source = &frame;
  if (frame.format != format || static_cast<std::size_t>(frame.width) != buffer.width() ||
      static_cast<std::size_t>(frame.height) != buffer.height()) {
    AVFrame* picture = impl_->intermediateFrame(static_cast<int>(buffer.width()), static_cast<int>(buffer.height()), format);
    if (!picture) return fail(error, "no memory for the intermediate picture");
    if (!impl_->scale(frame, {0, static_cast<std::size_t>(frame.height)}, picture->width, picture->height, format,
                      picture->data, picture->linesize, error)) {
      return false;
    }
    source = picture;
  }
  const int shift = 16 - description->comp[0].depth;
  const std::size_t width = buffer.width();
  const std::size_t chromaWidth = (width + (1u << description->log2_chroma_w) - 1) >> description->log2_chroma_w;
  const std::size_t chromaHeight = buffer.heightOfPlane(1);
  for (std::size_t row = 0; row < buffer.height(); ++row) {
    std::uint8_t* out = buffer.baseAddressOfPlane(0) + row * buffer.bytesPerRowOfPlane(0);
    for (std::size_t x = 0; x < width; ++x) put16(out + 2 * x, static_cast<std::uint16_t>(sample16(*source, 0, row, x) << shift));
  }
  for (std::size_t row = 0; row < chromaHeight; ++row) {
    std::uint8_t* out = buffer.baseAddressOfPlane(1) + row * buffer.bytesPerRowOfPlane(1);
    for (std::size_t x = 0; x < chromaWidth; ++x) {
      const std::uint32_t cb = static_cast<std::uint32_t>(sample16(*source, 1, row, x)) << shift;
      const std::uint32_t cr = static_cast<std::uint32_t>(sample16(*source, 2, row, x)) << (16 + shift);
      put32(out + 4 * x, cb | cr);
    }
  }
  return true;
}

void FrameConverter::fillBlack(PixelBuffer& buffer, RowBand rows) {
  const FourCharCode format = buffer.pixelFormatType();
  const std::size_t rowBytes = buffer.bytesPerRow();
  std::uint8_t pattern[16] = {};
  std::size_t patternSize = 4;
  switch (format) {
    case pm::kPixelFormat422YpCbCr8: {
      const std::uint8_t black[4] = {0x80, 0x10, 0x80, 0x10};
      std::memcpy(pattern, black, 4);
      break;
    }
    case pm::kPixelFormat422YpCbCr16:
      put16(pattern, 0x8000);
      put16(pattern + 2, 0x1000);
      put16(pattern + 4, 0x8000);
      put16(pattern + 6, 0x1000);
      patternSize = 8;
      break;
    case pm::kPixelFormat4444AYpCbCr16:
      put16(pattern, 0xffff);
      put16(pattern + 2, 0x1000);
      put16(pattern + 4, 0x8000);
      put16(pattern + 6, 0x8000);
      patternSize = 8;
      break;
    case pm::kPixelFormat422YpCbCr10:
      put32(pattern, 512u | 64u << 10 | 512u << 20);
      put32(pattern + 4, 64u | 512u << 10 | 64u << 20);
      put32(pattern + 8, 512u | 64u << 10 | 512u << 20);
      put32(pattern + 12, 64u | 512u << 10 | 64u << 20);
      patternSize = 16;
      break;
    default:
      break;  // RGB: zeros
  }
  for (std::size_t row = rows.first; row < rows.first + rows.count && row < buffer.height(); ++row) {
    std::uint8_t* out = buffer.baseAddress() + row * rowBytes;
    for (std::size_t i = 0; i < rowBytes; i += patternSize) std::memcpy(out + i, pattern, std::min(patternSize, rowBytes - i));
  }
}

}  // namespace media
