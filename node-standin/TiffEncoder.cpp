#include "node-standin/TiffEncoder.h"

#include <array>

namespace standin {
namespace {

enum FieldType : std::uint16_t { kShort = 3, kLong = 4, kRational = 5 };

void put16(platform::Data& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void put32(platform::Data& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

struct Field {
  std::uint16_t tag;
  FieldType type;
  std::uint32_t count;
  std::uint32_t value;  // the value itself, or the offset of values that do not fit in four bytes
};

}  // namespace

platform::Data encodeTIFF(int width, int height, std::span<const std::uint8_t> rgb) {
  if (width <= 0 || height <= 0) return {};
  const std::uint64_t pixelBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3;
  if (rgb.size() != pixelBytes || pixelBytes > 0xFFFF0000u) return {};

  // Layout: header (8) | bits per sample (6) | two resolutions (16) | pixels | directory.
  constexpr std::uint32_t kBitsPerSampleOffset = 8;
  constexpr std::uint32_t kXResolutionOffset = kBitsPerSampleOffset + 6;
  constexpr std::uint32_t kYResolutionOffset = kXResolutionOffset + 8;
  constexpr std::uint32_t kPixelsOffset = kYResolutionOffset + 8;
  const auto byteCount = static_cast<std::uint32_t>(pixelBytes);
  std::uint32_t directoryOffset = kPixelsOffset + byteCount;
  directoryOffset += directoryOffset % 2;  // directories start on a word boundary

  const std::array<Field, 12> fields{{
      {256, kLong, 1, static_cast<std::uint32_t>(width)},    // image width
      {257, kLong, 1, static_cast<std::uint32_t>(height)},   // image length
      {258, kShort, 3, kBitsPerSampleOffset},                // bits per sample: 8, 8, 8
      {259, kShort, 1, 1},                                   // no compression
      {262, kShort, 1, 2},                                   // RGB
      {273, kLong, 1, kPixelsOffset},                        // strip offset
      {277, kShort, 1, 3},                                   // samples per pixel
      {278, kLong, 1, static_cast<std::uint32_t>(height)},   // rows per strip
      {279, kLong, 1, byteCount},                            // strip byte count
      {282, kRational, 1, kXResolutionOffset},
      {283, kRational, 1, kYResolutionOffset},
      {296, kShort, 1, 2},                                   // resolution in inches
  }};

  platform::Data out;
  out.reserve(directoryOffset + 2 + fields.size() * 12 + 4);
  out.insert(out.end(), {'I', 'I', 42, 0});
  put32(out, directoryOffset);
  for (int i = 0; i < 3; ++i) put16(out, 8);
  for (int i = 0; i < 2; ++i) {
    put32(out, 72);
    put32(out, 1);
  }
  out.insert(out.end(), rgb.begin(), rgb.end());
  if (out.size() < directoryOffset) out.push_back(0);

  put16(out, static_cast<std::uint32_t>(fields.size()));
  for (const Field& field : fields) {
    put16(out, field.tag);
    put16(out, field.type);
    put32(out, field.count);
    if (field.type == kShort && field.count == 1) {
      put16(out, field.value);  // a single short sits in the first half of the value
      put16(out, 0);
    } else {
      put32(out, field.value);
    }
  }
  put32(out, 0);  // no further directory
  return out;
}

}  // namespace standin
