#include "platform/media/PixelFormat.h"

#include <string>

namespace platform::media {
namespace {

constexpr PixelFormatDescription packed(FourCharCode format, std::uint32_t pixels, std::uint32_t bytes, bool yuv,
                                        bool alpha) {
  PixelFormatDescription d;
  d.format = format;
  d.planeCount = 1;
  d.planes[0] = {pixels, bytes, 1};
  d.isYCbCr = yuv;
  d.hasAlpha = alpha;
  return d;
}

constexpr PixelFormatDescription planar(FourCharCode format, std::size_t count, PlaneLayout a, PlaneLayout b,
                                        PlaneLayout c = {}) {
  PixelFormatDescription d;
  d.format = format;
  d.planeCount = count;
  d.planes = {a, b, c};
  d.isYCbCr = true;
  return d;
}

constexpr PixelFormatDescription kFormats[] = {
    packed(kPixelFormat32ARGB, 1, 4, false, true),
    packed(kPixelFormat24RGB, 1, 3, false, false),
    packed(kPixelFormat24BGR, 1, 3, false, false),
    packed(kPixelFormat32BGRA, 1, 4, false, true),
    packed(kPixelFormat32RGBA, 1, 4, false, true),
    packed(kPixelFormat32ABGR, 1, 4, false, true),
    packed(kPixelFormat30RGB, 1, 4, false, false),
    packed(kPixelFormat422YpCbCr8, 2, 4, true, false),
    packed(kPixelFormat422YpCbCr10, 48, 128, true, false),
    packed(kPixelFormat422YpCbCr16, 2, 8, true, false),
    packed(kPixelFormat4444AYpCbCr16, 1, 8, true, true),
    planar(kPixelFormat422YpCbCr10BiPlanarVideoRange, 2, {1, 2, 1}, {2, 4, 1}),
    planar(kPixelFormat422YpCbCr10BiPlanarFullRange, 2, {1, 2, 1}, {2, 4, 1}),
    planar(kPixelFormat444YpCbCr10BiPlanarFullRange, 2, {1, 2, 1}, {1, 4, 1}),
    planar(kPixelFormat420YpCbCr10BiPlanarFullRange, 2, {1, 2, 1}, {2, 4, 2}),
    planar(kPixelFormat420YpCbCr8BiPlanarVideoRange, 2, {1, 1, 1}, {2, 2, 2}),
    planar(kPixelFormat420YpCbCr8BiPlanarFullRange, 2, {1, 1, 1}, {2, 2, 2}),
    planar(kPixelFormat420YpCbCr8Planar, 3, {1, 1, 1}, {2, 1, 2}, {2, 1, 2}),
    planar(kPixelFormat422YpCbCr8Planar, 3, {1, 1, 1}, {2, 1, 1}, {2, 1, 1}),
};

}  // namespace

std::string fourCCString(FourCharCode code) {
  char text[5] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16), static_cast<char>(code >> 8),
                  static_cast<char>(code), 0};
  for (int i = 0; i < 4; ++i) {
    if (text[i] < 0x20 || text[i] > 0x7e) return std::to_string(code);
  }
  return text;
}

const PixelFormatDescription* pixelFormatDescription(FourCharCode format) {
  for (const auto& description : kFormats) {
    if (description.format == format) return &description;
  }
  return nullptr;
}

std::size_t minimumBytesPerRow(const PixelFormatDescription& description, std::size_t plane, std::size_t width) {
  const PlaneLayout& layout = description.planes[plane];
  return (width + layout.pixelsPerGroup - 1) / layout.pixelsPerGroup * layout.bytesPerGroup;
}

std::size_t planeHeight(const PixelFormatDescription& description, std::size_t plane, std::size_t height) {
  const std::uint32_t rows = description.planes[plane].rowsPerRow;
  return (height + rows - 1) / rows;
}

std::size_t planeWidth(const PixelFormatDescription& description, std::size_t plane, std::size_t width) {
  if (plane == 0) return width;
  // Chroma planes count chroma samples (or Cb/Cr pairs).
  const PlaneLayout& layout = description.planes[plane];
  return (width + layout.pixelsPerGroup - 1) / layout.pixelsPerGroup;
}

}  // namespace platform::media
