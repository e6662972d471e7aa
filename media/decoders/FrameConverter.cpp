#include "media/decoders/FrameConverter.h"

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "media/decoders/PlanarPacking.h"

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

// Rows per band when packing on several threads: fewer costs more in
// hand-overs than it saves.
constexpr std::size_t kMinimumBandRows = 32;

// A planar YCbCr picture in 16-bit little-endian samples, 4:2:2 or 4:4:4,
// which our packers read straight from.
struct PlanarPicture {
  const std::uint8_t* data[4] = {};
  std::ptrdiff_t linesize[4] = {};
  std::size_t width = 0;
  bool halfWidthChroma = false;
  bool hasAlpha = false;
  int depth = 0;

  PlanarRow row(std::size_t y) const {
    auto line = [&](int plane) {
      return reinterpret_cast<const std::uint16_t*>(data[plane] + static_cast<std::ptrdiff_t>(y) * linesize[plane]);
    };
    return {line(0), line(1), line(2), hasAlpha ? line(3) : nullptr, width, halfWidthChroma, depth};
  }
};

std::optional<PlanarPicture> planarPicture(const AVFrame& frame) {
  const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  if (!description || !(description->flags & AV_PIX_FMT_FLAG_PLANAR) ||
      (description->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
      description->nb_components < 3 || description->log2_chroma_h != 0 || description->log2_chroma_w > 1) {
    return std::nullopt;
  }
  PlanarPicture picture;
  picture.depth = description->comp[0].depth;
  for (int i = 0; i < description->nb_components; ++i) {
    const AVComponentDescriptor& component = description->comp[i];
    if (component.plane != i || component.step != 2 || component.shift != 0 || component.depth != picture.depth ||
        !frame.data[i]) {
      return std::nullopt;
    }
    picture.data[i] = frame.data[i];
    picture.linesize[i] = frame.linesize[i];
  }
  picture.width = static_cast<std::size_t>(frame.width);
  picture.halfWidthChroma = description->log2_chroma_w == 1;
  picture.hasAlpha = description->nb_components == 4;
  return picture;
}

// Whether packing `picture` straight into `format` gives what swscale would
// (checked against it for 10 and 12 bits): the samples are only moved up to
// 16 bits, and 4:2:2 chroma for 'y416' is interpolated as swscale's bilinear
// does for even widths of 8 or more.
bool packsExactly(const PlanarPicture& picture, FourCharCode format) {
  const bool tenOrTwelve = picture.depth == 10 || picture.depth == 12;
  switch (format) {
    case pm::kPixelFormat4444AYpCbCr16:
      return tenOrTwelve && (!picture.halfWidthChroma || (picture.width % 2 == 0 && picture.width >= 8));
    case pm::kPixelFormat422YpCbCr16: return tenOrTwelve && picture.halfWidthChroma;
    case pm::kPixelFormat422YpCbCr10: return picture.depth == 10 && picture.halfWidthChroma;
    default: return false;
  }
}

// Packs rows of `picture` from `firstRow` on into `rows`, bands of them on
// several threads.
void packRows(const PlanarPicture& picture, std::size_t firstRow, FourCharCode format, std::uint8_t* rows,
              std::size_t bytesPerRow, std::size_t count) {
  forEachRowBand(count, kMinimumBandRows, [&](RowBand band) {
    for (std::size_t row = band.first; row < band.first + band.count; ++row) {
      const PlanarRow source = picture.row(firstRow + row);
      std::uint8_t* out = rows + row * bytesPerRow;
      if (format == pm::kPixelFormat4444AYpCbCr16) {
        packAYUV64Row(source, reinterpret_cast<std::uint16_t*>(out));
      } else if (format == pm::kPixelFormat422YpCbCr16) {
        packV216Row(source, reinterpret_cast<std::uint16_t*>(out));
      } else {
        packV210Row(source, out);
      }
    }
  });
}

bool fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using OwnedFrame = std::unique_ptr<AVFrame, FrameFree>;

// The destination planes as a frame the scaler may hold a reference to; the
// memory stays the pixel buffer's.
OwnedFrame frameOverPlanes(std::uint8_t* const planes[4], const int lines[4], int width, int height,
                           AVPixelFormat format) {
  OwnedFrame frame(av_frame_alloc());
  if (!frame) return nullptr;
  frame->buf[0] = av_buffer_create(planes[0], static_cast<std::size_t>(lines[0]) * static_cast<std::size_t>(height),
                                   [](void*, std::uint8_t*) {}, nullptr, 0);
  if (!frame->buf[0]) return nullptr;
  frame->width = width;
  frame->height = height;
  frame->format = format;
  for (int i = 0; i < 4; ++i) {
    frame->data[i] = planes[i];
    frame->linesize[i] = lines[i];
  }
  return frame;
}

}  // namespace

struct FrameConverter::Impl {
  // What `sws` was made for.
  struct Shape {
    int sourceWidth, sourceHeight, sourceFormat, width, height, format;
    bool operator==(const Shape&) const = default;
  };

  SwsContext* sws = nullptr;
  Shape shape{};
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

  // A scaler for this shape, kept while the shape stays. It scales bands of
  // rows on one thread per core: on one thread, converting an HD picture
  // takes longer than a frame-threaded decoder takes to make it.
  SwsContext* scaler(const Shape& wanted) {
    if (sws && shape == wanted) return sws;
    sws_freeContext(sws);
    sws = sws_alloc_context();
    if (!sws) return nullptr;
    const bool set = av_opt_set_int(sws, "srcw", wanted.sourceWidth, 0) >= 0 &&
                     av_opt_set_int(sws, "srch", wanted.sourceHeight, 0) >= 0 &&
                     av_opt_set_int(sws, "src_format", wanted.sourceFormat, 0) >= 0 &&
                     av_opt_set_int(sws, "dstw", wanted.width, 0) >= 0 &&
                     av_opt_set_int(sws, "dsth", wanted.height, 0) >= 0 &&
                     av_opt_set_int(sws, "dst_format", wanted.format, 0) >= 0 &&
                     av_opt_set_int(sws, "sws_flags", SWS_BILINEAR, 0) >= 0 &&
                     av_opt_set_int(sws, "threads", 0, 0) >= 0;
    if (!set || sws_init_context(sws, nullptr, nullptr) < 0) {
      sws_freeContext(sws);
      sws = nullptr;
      return nullptr;
    }
    shape = wanted;
    return sws;
  }

  // Scales rows of `frame` into planes given by pointers.
  bool scale(const AVFrame& frame, RowBand source, int width, int height, AVPixelFormat format,
             std::uint8_t* const destination[4], const int lines[4], std::string* error) {
    const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!description) return fail(error, "unknown frame format");
    if (source.count == 0 || source.first + source.count > static_cast<std::size_t>(frame.height)) {
      return fail(error, "source rows outside the frame");
    }
    SwsContext* context = scaler({frame.width, static_cast<int>(source.count), frame.format, width, height, format});
    if (!context) {
      return fail(error, std::string("no conversion from ") + description->name + " to " +
                             av_get_pix_fmt_name(format));
    }
    // The band as a frame of its own, sharing the decoded picture's memory.
    OwnedFrame band(av_frame_alloc());
    if (!band || av_frame_ref(band.get(), &frame) < 0) return fail(error, "no memory for the source picture");
    const bool subsampledChroma = !(description->flags & AV_PIX_FMT_FLAG_RGB) && (description->flags & AV_PIX_FMT_FLAG_PLANAR);
    for (int i = 0; i < 4 && band->data[i]; ++i) {
      std::size_t row = source.first;
      if (subsampledChroma && (i == 1 || i == 2)) row >>= description->log2_chroma_h;
      band->data[i] += row * static_cast<std::size_t>(band->linesize[i]);
    }
    band->height = static_cast<int>(source.count);
    const OwnedFrame out = frameOverPlanes(destination, lines, width, height, format);
    if (!out) return fail(error, "no memory for the destination picture");
    if (sws_scale_frame(context, out.get(), band.get()) < 0) return fail(error, "the conversion failed");
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
  const std::optional<PlanarPicture> picture = planarPicture(frame);
  const bool sameShape = static_cast<std::size_t>(frame.width) == buffer.width() && source.count == destination.count;
  if (sameShape && picture && packsExactly(*picture, format)) {
    if (source.first + source.count > static_cast<std::size_t>(frame.height)) return fail(error, "source rows outside the frame");
    packRows(*picture, source.first, format, rows, buffer.bytesPerRow(), destination.count);
  } else if (const AVPixelFormat direct = directFormat(format); direct != AV_PIX_FMT_NONE) {
    std::uint8_t* planes[4] = {rows, nullptr, nullptr, nullptr};
    const int lines[4] = {static_cast<int>(buffer.bytesPerRow()), 0, 0, 0};
    if (!impl_->scale(frame, source, width, height, direct, planes, lines, error)) return false;
  } else if (const AVPixelFormat planar = packedFromFormat(format); planar != AV_PIX_FMT_NONE) {
    AVFrame* intermediate = impl_->intermediateFrame(width, height, planar);
    if (!intermediate) return fail(error, "no memory for the intermediate picture");
    if (!impl_->scale(frame, source, width, height, planar, intermediate->data, intermediate->linesize, error)) return false;
    const std::optional<PlanarPicture> planes = planarPicture(*intermediate);
    if (!planes) return fail(error, "the intermediate picture is not planar");
    packRows(*planes, 0, format, rows, buffer.bytesPerRow(), destination.count);
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
