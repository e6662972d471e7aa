#pragma once
// Converts one pixel buffer into another: size and format in one step
// (swscale), optionally from a crop of the source and into a clean aperture
// of the destination (the rest of the destination is left as it was).
// Conversion contexts are cached for the last source/destination shape.
// 'v210' is read (unpacked first), never written.
//
// One session per thread of use (not thread-safe).

#include <memory>
#include <optional>

#include "platform/media/PixelBuffer.h"

namespace platform::media {

// A rectangle in pixels of a buffer.
struct PixelRect {
  std::size_t x = 0;
  std::size_t y = 0;
  std::size_t width = 0;
  std::size_t height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

enum class PixelTransferScaling { Bilinear = 1, Bicubic = 2, Point = 3, Area = 4 };

class PixelTransferSession {
 public:
  PixelTransferSession();
  ~PixelTransferSession();
  PixelTransferSession(const PixelTransferSession&) = delete;
  PixelTransferSession& operator=(const PixelTransferSession&) = delete;

  void setScaling(PixelTransferScaling scaling);
  // The part of the source to read; none: the whole source.
  void setSourceCropRect(std::optional<PixelRect> rect);
  // The part of the destination to fill; none: the whole destination.
  void setDestinationCleanAperture(std::optional<PixelRect> rect);

  // kCVReturnInvalidPixelFormat for a format pair swscale cannot convert,
  // kCVReturnInvalidArgument for a rectangle outside its buffer.
  CVReturn transferImage(const PixelBuffer& source, PixelBuffer& destination);

  // Whether the format can be read and written ('v210' can only be read).
  static bool supportsFormat(FourCharCode format);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::media
