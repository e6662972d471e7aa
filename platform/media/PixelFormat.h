#pragma once
// Pixel formats by four-character code and how each lays out its planes:
// for every plane, how many pixels share a group of bytes and how many rows
// of the picture one row of the plane covers. Plain tables; any thread.

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/media/FourCharCode.h"

namespace platform::media {

using CVReturn = std::int32_t;

// Return codes of pixel buffers, pools and transfers.
inline constexpr CVReturn kCVReturnSuccess = 0;
inline constexpr CVReturn kCVReturnError = -6660;
inline constexpr CVReturn kCVReturnInvalidArgument = -6661;
inline constexpr CVReturn kCVReturnAllocationFailed = -6662;
inline constexpr CVReturn kCVReturnInvalidPixelFormat = -6680;
inline constexpr CVReturn kCVReturnInvalidSize = -6681;
inline constexpr CVReturn kCVReturnInvalidPixelBufferAttributes = -6682;
inline constexpr CVReturn kCVReturnWouldExceedAllocationThreshold = -6689;
inline constexpr CVReturn kCVReturnPoolAllocationFailed = -6690;
inline constexpr CVReturn kCVReturnInvalidPoolAttributes = -6691;

// Packed RGB.
inline constexpr FourCharCode kPixelFormat32ARGB = 32;
inline constexpr FourCharCode kPixelFormat24RGB = 24;
inline constexpr FourCharCode kPixelFormat24BGR = fourCC("24BG");
inline constexpr FourCharCode kPixelFormat32BGRA = fourCC("BGRA");
inline constexpr FourCharCode kPixelFormat32RGBA = fourCC("RGBA");
inline constexpr FourCharCode kPixelFormat32ABGR = fourCC("ABGR");
inline constexpr FourCharCode kPixelFormat30RGB = fourCC("r210");  // 10-bit RGB, big-endian words
// Packed YCbCr.
inline constexpr FourCharCode kPixelFormat422YpCbCr8 = fourCC("2vuy");    // Cb Y0 Cr Y1
inline constexpr FourCharCode kPixelFormat422YpCbCr10 = fourCC("v210");   // 128 bytes per 48 pixels
inline constexpr FourCharCode kPixelFormat422YpCbCr16 = fourCC("v216");   // 16-bit Cb Y0 Cr Y1
inline constexpr FourCharCode kPixelFormat4444AYpCbCr16 = fourCC("y416"); // 16-bit A Y Cb Cr
// Bi-planar 10-bit YCbCr in 16-bit samples (luma plane, interleaved chroma plane).
inline constexpr FourCharCode kPixelFormat422YpCbCr10BiPlanarVideoRange = fourCC("x422");
inline constexpr FourCharCode kPixelFormat422YpCbCr10BiPlanarFullRange = fourCC("xf22");
inline constexpr FourCharCode kPixelFormat444YpCbCr10BiPlanarFullRange = fourCC("xf44");
inline constexpr FourCharCode kPixelFormat420YpCbCr10BiPlanarFullRange = fourCC("xf20");
// Bi-planar 8-bit 4:2:0 and three-plane 8-bit formats.
inline constexpr FourCharCode kPixelFormat420YpCbCr8BiPlanarVideoRange = fourCC("420v");
inline constexpr FourCharCode kPixelFormat420YpCbCr8BiPlanarFullRange = fourCC("420f");
inline constexpr FourCharCode kPixelFormat420YpCbCr8Planar = fourCC("y420");
// Our own code for three-plane 8-bit 4:2:2 (what decoders of 4:2:2 material hand out).
inline constexpr FourCharCode kPixelFormat422YpCbCr8Planar = fourCC("y422");

inline constexpr std::size_t kMaxPlaneCount = 3;

struct PlaneLayout {
  std::uint32_t pixelsPerGroup = 1;  // pixels of the picture row one group covers
  std::uint32_t bytesPerGroup = 0;
  std::uint32_t rowsPerRow = 1;      // picture rows per plane row (2 for 4:2:0 chroma)
};

struct PixelFormatDescription {
  FourCharCode format = 0;
  std::size_t planeCount = 1;  // 1: packed
  std::array<PlaneLayout, kMaxPlaneCount> planes{};
  bool isYCbCr = false;
  bool hasAlpha = false;
};

// nullptr for a format the system does not know.
const PixelFormatDescription* pixelFormatDescription(FourCharCode format);

// Bytes one row of `plane` needs for `width` pixels, before alignment.
std::size_t minimumBytesPerRow(const PixelFormatDescription& description, std::size_t plane, std::size_t width);
std::size_t planeHeight(const PixelFormatDescription& description, std::size_t plane, std::size_t height);
std::size_t planeWidth(const PixelFormatDescription& description, std::size_t plane, std::size_t width);

}  // namespace platform::media
