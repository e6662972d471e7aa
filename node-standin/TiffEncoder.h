#pragma once
// Baseline TIFF of an 8-bit RGB picture: uncompressed, one strip, little
// endian, 72 dpi. The form thumbnails travel in ("clipInfoThumbnail" is TIFF
// data), and simple enough that every image reader takes it.
//
// Stateless and reentrant.

#include <cstdint>
#include <span>

#include "platform/Value.h"

namespace standin {

// `rgb` holds width × height pixels of three bytes, rows top to bottom with no
// padding. Empty data when the sizes do not match or are zero.
platform::Data encodeTIFF(int width, int height, std::span<const std::uint8_t> rgb);

}  // namespace standin
