#pragma once
// Puts a picture, unscaled, in the middle of a picture of another size and
// the same pixel format: the rest is black, what does not fit is cropped.
// Packed formats only: '2vuy' in pixel pairs, 'v210' in whole groups of six
// pixels, any other 4-byte format pixel by pixel.

#include <cstdint>

#include "platform/media/PixelBuffer.h"

namespace engine::items {

struct CentringOffsets {
  std::int64_t x = 0;  // pixels; negative crops the source
  std::int64_t y = 0;
};

// Twice the rounded quarter of the size differences; a 'v210' horizontal
// offset is a whole number of six-pixel groups.
CentringOffsets centringOffsets(std::uint32_t format, std::size_t sourceWidth, std::size_t sourceHeight,
                                std::size_t destinationWidth, std::size_t destinationHeight);

// Both buffers locked by the caller. False (nothing written) when the formats
// differ or are planar.
bool centrePixelBuffer(const platform::media::PixelBuffer& source, platform::media::PixelBuffer& destination);

}  // namespace engine::items
