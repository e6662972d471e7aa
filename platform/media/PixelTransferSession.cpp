#include "platform/media/PixelTransferSession.h"

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

}  // namespace

struct PixelTransferSession::Impl {
  PixelTransferScaling scaling = PixelTransferScaling::Bilinear;
  std::optional<PixelRect> crop;
  std::optional<PixelRect> aperture;
  SwsContext* context = nullptr;

  ~Impl() { sws_freeContext(context); }
};

PixelTransferSession::PixelTransferSession() : impl_(std::make_unique<Impl>()) {}
PixelTransferSession::~PixelTransferSession() = default;

void PixelTransferSession::setScaling(PixelTransferScaling scaling) { impl_->scaling = scaling; }
void PixelTransferSession::setSourceCropRect(std::optional<PixelRect> rect) { impl_->crop = rect; }
void PixelTransferSession::setDestinationCleanAperture(std::optional<PixelRect> rect) { impl_->aperture = rect; }

bool PixelTransferSession::supportsFormat(FourCharCode format) { return avFormat(format) != AV_PIX_FMT_NONE; }

CVReturn PixelTransferSession::transferImage(const PixelBuffer& source, PixelBuffer& destination) {
  const AVPixelFormat sourceFormat = avFormat(source.pixelFormatType());
  const AVPixelFormat destinationFormat = avFormat(destination.pixelFormatType());
  if (sourceFormat == AV_PIX_FMT_NONE || destinationFormat == AV_PIX_FMT_NONE) return kCVReturnInvalidPixelFormat;
  const PixelRect from = impl_->crop.value_or(PixelRect{0, 0, source.width(), source.height()});
  const PixelRect to = impl_->aperture.value_or(PixelRect{0, 0, destination.width(), destination.height()});
  if (!inside(from, source) || !inside(to, destination)) return kCVReturnInvalidArgument;
  std::uint8_t* sourceData[4];
  int sourceLines[4];
  std::uint8_t* destinationData[4];
  int destinationLines[4];
  if (!planePointers(source, from, sourceData, sourceLines) ||
      !planePointers(destination, to, destinationData, destinationLines)) {
    return kCVReturnInvalidArgument;
  }
  impl_->context = sws_getCachedContext(impl_->context, static_cast<int>(from.width), static_cast<int>(from.height),
                                        sourceFormat, static_cast<int>(to.width), static_cast<int>(to.height),
                                        destinationFormat, swsFlags(impl_->scaling), nullptr, nullptr, nullptr);
  if (!impl_->context) return kCVReturnInvalidPixelFormat;
  const int rows = sws_scale(impl_->context, sourceData, sourceLines, 0, static_cast<int>(from.height),
                             destinationData, destinationLines);
  return rows > 0 ? kCVReturnSuccess : kCVReturnError;
}

}  // namespace platform::media
