#include "platform/media/PixelTransferSession.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace platform::media {
namespace {

AVPixelFormat avFormat(FourCharCode format) {
  switch (format) {
    case kPixelFormat32ARGB: return AV_PIX_FMT_ARGB;
    case kPixelFormat24RGB: return AV_PIX_FMT_RGB24;
    case kPixelFormat24BGR: return AV_PIX_FMT_BGR24;
    case kPixelFormat32BGRA: return AV_PIX_FMT_BGRA;
    case kPixelFormat32RGBA: return AV_PIX_FMT_RGBA;
    case kPixelFormat32ABGR: return AV_PIX_FMT_ABGR;
    case kPixelFormat422YpCbCr8: return AV_PIX_FMT_UYVY422;
    case kPixelFormat420YpCbCr8BiPlanarVideoRange:
    case kPixelFormat420YpCbCr8BiPlanarFullRange: return AV_PIX_FMT_NV12;
    case kPixelFormat420YpCbCr8Planar: return AV_PIX_FMT_YUV420P;
    case kPixelFormat422YpCbCr8Planar: return AV_PIX_FMT_YUV422P;
    default: return AV_PIX_FMT_NONE;
  }
}

int swsFlags(PixelTransferScaling scaling) {
  switch (scaling) {
    case PixelTransferScaling::Bicubic: return SWS_BICUBIC;
    case PixelTransferScaling::Point: return SWS_POINT;
    case PixelTransferScaling::Area: return SWS_AREA;
    case PixelTransferScaling::Bilinear:
    default: return SWS_BILINEAR;
  }
}

bool inside(const PixelRect& rect, const PixelBuffer& buffer) {
  return rect.width > 0 && rect.height > 0 && rect.x <= buffer.width() && rect.width <= buffer.width() - rect.x &&
         rect.y <= buffer.height() && rect.height <= buffer.height() - rect.y;
}

// Plane pointers of `buffer` moved to the rectangle's top-left corner.
bool planePointers(const PixelBuffer& buffer, const PixelRect& rect, std::uint8_t* data[4],
                   int lineSizes[4]) {
  const std::size_t count = buffer.isPlanar() ? buffer.planeCount() : 1;
  const PixelFormatDescription* description = pixelFormatDescription(buffer.pixelFormatType());
  if (!description || description->planeCount != count) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    data[i] = nullptr;
    lineSizes[i] = 0;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const PlaneLayout& layout = description->planes[i];
    // Crops of subsampled formats start on whole groups.
    if (rect.x % layout.pixelsPerGroup != 0 || rect.y % layout.rowsPerRow != 0) return false;
    const std::size_t column = rect.x / layout.pixelsPerGroup * layout.bytesPerGroup;
    const std::size_t row = rect.y / layout.rowsPerRow;
    data[i] = buffer.baseAddressOfPlane(i) + row * buffer.bytesPerRowOfPlane(i) + column;
    lineSizes[i] = static_cast<int>(buffer.bytesPerRowOfPlane(i));
  }
  return true;
}

// swscale has no 'v210' input: its rows are unpacked to 10-bit planar 4:2:2
// first. Three samples a 32-bit little-endian word, in the order Cb Y Cr Y.
struct UnpackedV210 {
  std::vector<std::uint16_t> planes[3];

  void unpack(const PixelBuffer& source, const PixelRect& rect, std::uint8_t* data[4], int lineSizes[4]) {
    const std::size_t width = rect.x + rect.width;
    const std::size_t chromaWidth = (width + 1) / 2;
    planes[0].assign(width * rect.height, 0);
    planes[1].assign(chromaWidth * rect.height, 0);
    planes[2].assign(chromaWidth * rect.height, 0);
    const std::size_t words = std::min((2 * width + 2) / 3, source.bytesPerRow() / 4);
    for (std::size_t row = 0; row < rect.height; ++row) {
      const std::uint8_t* in = source.baseAddress() + (rect.y + row) * source.bytesPerRow();
      std::uint16_t* luma = planes[0].data() + row * width;
      std::uint16_t* cb = planes[1].data() + row * chromaWidth;
      std::uint16_t* cr = planes[2].data() + row * chromaWidth;
      std::size_t sample = 0;
      for (std::size_t word = 0; word < words; ++word, in += 4) {
        const std::uint32_t bits = in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
        for (int i = 0; i < 3; ++i, ++sample) {
          const auto value = static_cast<std::uint16_t>(bits >> (10 * i) & 0x3ff);
          const std::size_t pixel = sample / 2;
          if (sample % 2 == 1 && pixel < width) {
            luma[pixel] = value;
          } else if (sample % 4 == 0 && pixel / 2 < chromaWidth) {
            cb[pixel / 2] = value;
          } else if (sample % 4 == 2 && pixel / 2 < chromaWidth) {
            cr[pixel / 2] = value;
          }
        }
      }
    }
    const std::size_t lines[3] = {width, chromaWidth, chromaWidth};
    const std::size_t offsets[3] = {rect.x, rect.x / 2, rect.x / 2};
    for (int i = 0; i < 3; ++i) {
      data[i] = reinterpret_cast<std::uint8_t*>(planes[i].data() + offsets[i]);
      lineSizes[i] = static_cast<int>(lines[i] * 2);
    }
    data[3] = nullptr;
    lineSizes[3] = 0;
  }
};

}  // namespace

struct PixelTransferSession::Impl {
  PixelTransferScaling scaling = PixelTransferScaling::Bilinear;
  std::optional<PixelRect> crop;
  std::optional<PixelRect> aperture;
  SwsContext* context = nullptr;
  UnpackedV210 unpacked;

  ~Impl() { sws_freeContext(context); }
};

PixelTransferSession::PixelTransferSession() : impl_(std::make_unique<Impl>()) {}
PixelTransferSession::~PixelTransferSession() = default;

void PixelTransferSession::setScaling(PixelTransferScaling scaling) { impl_->scaling = scaling; }
void PixelTransferSession::setSourceCropRect(std::optional<PixelRect> rect) { impl_->crop = rect; }
void PixelTransferSession::setDestinationCleanAperture(std::optional<PixelRect> rect) { impl_->aperture = rect; }

bool PixelTransferSession::supportsFormat(FourCharCode format) { return avFormat(format) != AV_PIX_FMT_NONE; }

CVReturn PixelTransferSession::transferImage(const PixelBuffer& source, PixelBuffer& destination) {
  const bool v210 = source.pixelFormatType() == kPixelFormat422YpCbCr10;
  const AVPixelFormat sourceFormat = v210 ? AV_PIX_FMT_YUV422P10LE : avFormat(source.pixelFormatType());
  const AVPixelFormat destinationFormat = avFormat(destination.pixelFormatType());
  if (sourceFormat == AV_PIX_FMT_NONE || destinationFormat == AV_PIX_FMT_NONE) return kCVReturnInvalidPixelFormat;
  const PixelRect from = impl_->crop.value_or(PixelRect{0, 0, source.width(), source.height()});
  const PixelRect to = impl_->aperture.value_or(PixelRect{0, 0, destination.width(), destination.height()});
  if (!inside(from, source) || !inside(to, destination)) return kCVReturnInvalidArgument;
  std::uint8_t* sourceData[4];
  int sourceLines[4];
  std::uint8_t* destinationData[4];
  int destinationLines[4];
  if (v210) {
    if (from.x % 2 != 0) return kCVReturnInvalidArgument;
    impl_->unpacked.unpack(source, from, sourceData, sourceLines);
  } else if (!planePointers(source, from, sourceData, sourceLines)) {
    return kCVReturnInvalidArgument;
  }
  if (!planePointers(destination, to, destinationData, destinationLines)) return kCVReturnInvalidArgument;
  impl_->context = sws_getCachedContext(impl_->context, static_cast<int>(from.width), static_cast<int>(from.height),
                                        sourceFormat, static_cast<int>(to.width), static_cast<int>(to.height),
                                        destinationFormat, swsFlags(impl_->scaling), nullptr, nullptr, nullptr);
  if (!impl_->context) return kCVReturnInvalidPixelFormat;
  const int rows = sws_scale(impl_->context, sourceData, sourceLines, 0, static_cast<int>(from.height),
                             destinationData, destinationLines);
  return rows > 0 ? kCVReturnSuccess : kCVReturnError;
}

}  // namespace platform::media
