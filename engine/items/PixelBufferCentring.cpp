#include "engine/items/PixelBufferCentring.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace engine::items {

namespace pm = platform::media;

namespace {

// The unit a row is copied in: pixels covered, bytes taken, and its black.
struct PixelUnit {
  std::size_t pixels;
  std::size_t bytes;
  std::uint8_t black[16];
};

// Cb Y Cr Y at video black.
constexpr PixelUnit k2vuyUnit{2, 4, {0x80, 0x10, 0x80, 0x10}};
// Six pixels of 10-bit video black (Y 64, Cb and Cr 512), four little-endian words.
constexpr PixelUnit kV210Unit{6, 16, {0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04,
                                      0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04}};
constexpr PixelUnit kFourByteUnit{1, 4, {0, 0, 0, 0}};

const PixelUnit& unitForFormat(std::uint32_t format) {
  if (format == pm::kPixelFormat422YpCbCr8) return k2vuyUnit;
  if (format == pm::kPixelFormat422YpCbCr10) return kV210Unit;
  return kFourByteUnit;
}

std::int64_t roundedHalfOf(std::int64_t difference, std::int64_t step) {
  return step * std::llround(static_cast<double>(difference) / static_cast<double>(2 * step));
}

// A row of black units, made once per picture and copied from after.
std::vector<std::uint8_t> blackRow(std::size_t units, const PixelUnit& unit) {
  std::vector<std::uint8_t> row(units * unit.bytes);
  for (std::size_t i = 0; i < units; ++i) std::memcpy(row.data() + i * unit.bytes, unit.black, unit.bytes);
  return row;
}

// Which pixel of a 'v210' group owns each of its twelve 10-bit components
// (Cb0 Y0 Cr0 Y1 Cb1 Y2 Cr1 Y3 Cb2 Y4 Cr2 Y5, three to a little-endian word).
constexpr int kV210ComponentPixel[12] = {0, 0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5};
constexpr bool kV210ComponentIsLuma[12] = {false, true, false, true, false, true, false, true, false, true, false, true};

enum class GroupTail { Black, Zero };

// Components of pixels from `validPixels` on become black (what lies past a
// picture's edge) or zero (past the buffer's width, as encoders leave it).
void maskV210Group(std::uint8_t* group, std::size_t validPixels, GroupTail tail) {
  for (int component = 0; component < 12; ++component) {
    if (static_cast<std::size_t>(kV210ComponentPixel[component]) < validPixels) continue;
    std::uint32_t word;
    std::memcpy(&word, group + (component / 3) * 4, 4);
    const int shift = (component % 3) * 10;
    const std::uint32_t value = tail == GroupTail::Zero ? 0 : (kV210ComponentIsLuma[component] ? 64 : 512);
    word = (word & ~(0x3FFu << shift)) | (value << shift);
    std::memcpy(group + (component / 3) * 4, &word, 4);
  }
}

// Units of a row of `width` pixels that fit in `bytesPerRow`.
std::size_t unitsInRow(std::size_t width, std::size_t bytesPerRow, const PixelUnit& unit) {
  return std::min((width + unit.pixels - 1) / unit.pixels, bytesPerRow / unit.bytes);
}

}  // namespace

CentringOffsets centringOffsets(std::uint32_t format, std::size_t sourceWidth, std::size_t sourceHeight,
                                std::size_t destinationWidth, std::size_t destinationHeight) {
  const auto horizontalStep = format == pm::kPixelFormat422YpCbCr10 ? 6 : 2;
  return {roundedHalfOf(static_cast<std::int64_t>(destinationWidth) - static_cast<std::int64_t>(sourceWidth),
                        horizontalStep),
          roundedHalfOf(static_cast<std::int64_t>(destinationHeight) - static_cast<std::int64_t>(sourceHeight), 2)};
}

bool centrePixelBuffer(const pm::PixelBuffer& source, pm::PixelBuffer& destination) {
  const auto format = source.pixelFormatType();
  if (format != destination.pixelFormatType() || source.isPlanar() || destination.isPlanar()) return false;
  const PixelUnit& unit = unitForFormat(format);
  const auto offsets = centringOffsets(format, source.width(), source.height(), destination.width(), destination.height());
  const auto sourceUnits = static_cast<std::int64_t>(unitsInRow(source.width(), source.bytesPerRow(), unit));
  const auto destinationUnits = static_cast<std::int64_t>(unitsInRow(destination.width(), destination.bytesPerRow(), unit));
  const std::int64_t offsetUnits = offsets.x / static_cast<std::int64_t>(unit.pixels);
  // The destination units that receive source units: [first, end).
  const std::int64_t first = std::clamp<std::int64_t>(offsetUnits, 0, destinationUnits);
  const std::int64_t end = std::clamp<std::int64_t>(offsetUnits + sourceUnits, first, destinationUnits);
  const auto sourceRows = static_cast<std::int64_t>(source.height());
  const auto black = blackRow(static_cast<std::size_t>(destinationUnits), unit);
  const auto fillUnits = [&](std::uint8_t* at, std::int64_t count) { std::memcpy(at, black.data(), count * unit.bytes); };
  // Nothing of a recycled buffer's old picture stays past the width.
  const std::size_t usedBytes = static_cast<std::size_t>(destinationUnits) * unit.bytes;
  const auto clearPastWidth = [&](std::uint8_t* row) {
    if (format == pm::kPixelFormat422YpCbCr10 && destination.width() % 6 != 0 && destinationUnits > 0) {
      maskV210Group(row + (destinationUnits - 1) * unit.bytes, destination.width() % 6, GroupTail::Zero);
    }
    std::memset(row + usedBytes, 0, destination.bytesPerRow() - usedBytes);
  };
  for (std::size_t y = 0; y < destination.height(); ++y) {
    std::uint8_t* row = destination.baseAddress() + y * destination.bytesPerRow();
    const std::int64_t sourceY = static_cast<std::int64_t>(y) - offsets.y;
    if (sourceY < 0 || sourceY >= sourceRows || first == end) {
      fillUnits(row, destinationUnits);
      clearPastWidth(row);
      continue;
    }
    const std::uint8_t* sourceRow = source.baseAddress() + static_cast<std::size_t>(sourceY) * source.bytesPerRow();
    fillUnits(row, first);
    std::memcpy(row + first * unit.bytes, sourceRow + (first - offsetUnits) * unit.bytes, (end - first) * unit.bytes);
    fillUnits(row + end * unit.bytes, destinationUnits - end);
    if (format == pm::kPixelFormat422YpCbCr10) {
      // Whole groups were copied: the source's last one may hold pixels past
      // its edge, and the row's last one pixels past the buffer's width.
      const std::int64_t sourceEdgeUnit = offsetUnits + sourceUnits - 1;
      if (source.width() % 6 != 0 && sourceEdgeUnit >= first && sourceEdgeUnit < end) {
        maskV210Group(row + sourceEdgeUnit * unit.bytes, source.width() % 6, GroupTail::Black);
      }
    }
    clearPastWidth(row);
  }
  return true;
}

}  // namespace engine::items
