#include "media/decoders/PlanarPacking.h"

#include <algorithm>
#include <bit>

namespace media {
namespace {

static_assert(std::endian::native == std::endian::little, "the packed layouts are written as native 16-bit samples");

// Half-width chroma at full width, moved up to 16 bits: (3 * nearer +
// farther) / 4 is exact once shifted by at least 2 bits.
std::uint16_t mixChroma(unsigned nearer, unsigned farther, int mixShift) {
  return static_cast<std::uint16_t>((3 * nearer + farther) << mixShift);
}

// Pixels 2c and 2c + 1 of a 4:2:2 row, their chroma from sample c and its
// neighbours `before` and `after`.
inline void putAYUV64Pair(const PlanarRow& row, std::size_t c, std::size_t before, std::size_t after,
                          std::uint16_t alpha0, std::uint16_t alpha1, std::uint16_t* out) {
  const int shift = 16 - row.depth;
  const int mixShift = shift - 2;
  out[0] = alpha0;
  out[1] = static_cast<std::uint16_t>(row.luma[2 * c] << shift);
  out[2] = mixChroma(row.cb[c], row.cb[before], mixShift);
  out[3] = mixChroma(row.cr[c], row.cr[before], mixShift);
  out[4] = alpha1;
  out[5] = static_cast<std::uint16_t>(row.luma[2 * c + 1] << shift);
  out[6] = mixChroma(row.cb[c], row.cb[after], mixShift);
  out[7] = mixChroma(row.cr[c], row.cr[after], mixShift);
}

// A 10-bit sample kept out of the codes 0-3 and 1020-1023, which serial
// digital video reserves for its timing references.
std::uint32_t legal10(std::uint16_t sample) { return std::clamp<std::uint32_t>(sample & 0x3ff, 4, 1019); }

void put32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void packAYUV64Row(const PlanarRow& row, std::uint16_t* out) {
  const int shift = 16 - row.depth;
  const std::uint16_t* luma = row.luma;
  const std::uint16_t* alpha = row.alpha;
  auto alphaAt = [&](std::size_t x) { return alpha ? static_cast<std::uint16_t>(alpha[x] << shift) : std::uint16_t{0xffff}; };
  if (row.halfWidthChroma) {
    // Even widths only: the edge pairs repeat their outer sample.
    const std::size_t pairs = row.width / 2;
    if (pairs == 0) return;
    const std::size_t last = pairs - 1;
    putAYUV64Pair(row, 0, 0, std::min<std::size_t>(1, last), alphaAt(0), alphaAt(1), out);
    for (std::size_t c = 1; c < last; ++c) {
      putAYUV64Pair(row, c, c - 1, c + 1, alphaAt(2 * c), alphaAt(2 * c + 1), out + 8 * c);
    }
    if (last > 0) putAYUV64Pair(row, last, last - 1, last, alphaAt(2 * last), alphaAt(2 * last + 1), out + 8 * last);
    return;
  }
  const std::uint16_t* cb = row.cb;
  const std::uint16_t* cr = row.cr;
  for (std::size_t x = 0; x < row.width; ++x) {
    out[4 * x] = alphaAt(x);
    out[4 * x + 1] = static_cast<std::uint16_t>(luma[x] << shift);
    out[4 * x + 2] = static_cast<std::uint16_t>(cb[x] << shift);
    out[4 * x + 3] = static_cast<std::uint16_t>(cr[x] << shift);
  }
}

void packV216Row(const PlanarRow& row, std::uint16_t* out) {
  const int shift = 16 - row.depth;
  const std::uint16_t* luma = row.luma;
  const std::size_t pairs = row.width / 2;
  for (std::size_t c = 0; c < pairs; ++c) {
    out[4 * c] = static_cast<std::uint16_t>(row.cb[c] << shift);
    out[4 * c + 1] = static_cast<std::uint16_t>(luma[2 * c] << shift);
    out[4 * c + 2] = static_cast<std::uint16_t>(row.cr[c] << shift);
    out[4 * c + 3] = static_cast<std::uint16_t>(luma[2 * c + 1] << shift);
  }
  if (row.width % 2) {
    const std::uint16_t last = static_cast<std::uint16_t>(luma[row.width - 1] << shift);
    out[4 * pairs] = static_cast<std::uint16_t>(row.cb[pairs] << shift);
    out[4 * pairs + 1] = last;
    out[4 * pairs + 2] = static_cast<std::uint16_t>(row.cr[pairs] << shift);
    out[4 * pairs + 3] = last;
  }
}

void packV210Row(const PlanarRow& row, std::uint8_t* out) {
  const std::size_t width = row.width;
  auto luma = [&](std::size_t x) -> std::uint32_t { return x < width ? legal10(row.luma[x]) : 64; };
  auto chroma = [&](const std::uint16_t* plane, std::size_t c) -> std::uint32_t {
    return c < (width + 1) / 2 ? legal10(plane[c]) : 512;
  };
  for (std::size_t x = 0; x < width; x += 6) {
    const std::size_t c = x / 2;
    put32(out, chroma(row.cb, c) | luma(x) << 10 | chroma(row.cr, c) << 20);
    put32(out + 4, luma(x + 1) | chroma(row.cb, c + 1) << 10 | luma(x + 2) << 20);
    put32(out + 8, chroma(row.cr, c + 1) | luma(x + 3) << 10 | chroma(row.cb, c + 2) << 20);
    put32(out + 12, luma(x + 4) | chroma(row.cr, c + 2) << 10 | luma(x + 5) << 20);
    out += 16;
  }
}

}  // namespace media
