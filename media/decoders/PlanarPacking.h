#pragma once
// Row packers from planar YCbCr held in 16-bit samples (libavcodec's 9- to
// 16-bit planar layouts) into our packed layouts. Plain loops over whole rows,
// written so the compiler vectorises them; samples are native 16-bit values,
// which are little-endian on every host we build for.

#include <cstddef>
#include <cstdint>

namespace media {

// One row of a planar picture. `alpha` is null when the picture has none.
struct PlanarRow {
  const std::uint16_t* luma = nullptr;
  const std::uint16_t* cb = nullptr;
  const std::uint16_t* cr = nullptr;
  const std::uint16_t* alpha = nullptr;
  std::size_t width = 0;         // luma samples
  bool halfWidthChroma = false;  // 4:2:2; otherwise 4:4:4
  int depth = 16;                // bits used per sample
};

// 'y416' (AYUV64LE): A Y Cb Cr per pixel, each moved up to 16 bits; opaque
// when there is no alpha. Half-width chroma is interpolated 3:1 between a
// sample and its nearer neighbour, edges repeated, which is what swscale's
// bilinear upsampling gives for an even width of 8 or more and a depth of at
// most 14 bits (half-width chroma needs an even width).
void packAYUV64Row(const PlanarRow& row, std::uint16_t* out);

// 'v216' from half-width chroma: Cb Y0 Cr Y1 per pixel pair, moved up to 16
// bits; an odd last pixel repeats its luma.
void packV216Row(const PlanarRow& row, std::uint16_t* out);

// 'v210' from 10-bit half-width chroma: six pixels in four little-endian
// words of three samples each, Cb0 Y0 Cr0 | Y1 Cb1 Y2 | Cr1 Y3 Cb2 | Y4 Cr2
// Y5, samples kept out of the reserved codes; pixels past the width black.
void packV210Row(const PlanarRow& row, std::uint8_t* out);

}  // namespace media
