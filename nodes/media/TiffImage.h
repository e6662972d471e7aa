#pragma once
// Thumbnails as TIFF bytes: the form in which playlist documents and
// pasteboard archives store a clip's thumbnail. RGBAImage is the plain
// picture the rest of the system handles; the two functions convert it to
// TIFF bytes in memory and back, without touching files.
//
// Stateless; safe on any thread (each call has its own TIFF handle, and
// libtiff's messages go to the call's own handler, never to the console).
//
// Guarantees:
// - Encoding writes 8-bit RGBA with unassociated alpha (LZW), so decoding our
//   own bytes gives back exactly the pixels encoded.
// - Decoding accepts any TIFF that libtiff can turn into RGBA (8 or 16 bits,
//   grey, palette, RGB, with or without alpha, striped or tiled), reads the
//   first image only, and refuses pictures of more than kMaxTiffImagePixels
//   pixels or wider or taller than kMaxTiffImageSide before allocating.
//   Bytes that are not a TIFF, or a damaged TIFF, give an error, never a
//   crash or a partial picture.

#include <cstdint>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

inline constexpr const char* kTiffImageErrorDomain = "TiffImageErrorDomain";
enum class TiffImageErrorCode {
  InvalidImage = 1,    // encoding: zero size, or pixel bytes that do not match the size
  EncodingFailed = 2,  // libtiff could not write the picture
  Malformed = 3,       // decoding: not a TIFF, or a TIFF libtiff cannot read
  TooLarge = 4,        // decoding: more pixels than the limits allow
};

inline constexpr std::uint32_t kMaxTiffImageSide = 16384;
inline constexpr std::uint64_t kMaxTiffImagePixels = 4096ull * 4096ull;

// A picture of width x height pixels, rows top to bottom, four bytes a pixel
// in the order red, green, blue, alpha (alpha not premultiplied).
struct RGBAImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;  // width * height * 4 bytes

  friend bool operator==(const RGBAImage&, const RGBAImage&) = default;
};

platform::Result<platform::Data> tiffDataFromImage(const RGBAImage& image);
platform::Result<RGBAImage> imageFromTiffData(const platform::Data& data);

}  // namespace nodes
