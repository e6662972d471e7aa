#include "foundation/ByteBufferUtilities.h"

#include <algorithm>
#include <array>

namespace foundation {
namespace {

constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> makeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ kCrc32Polynomial : value >> 1;
    table[i] = value;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrc32Table = makeCrc32Table();

}  // namespace

std::uint32_t crc32Update(std::uint32_t running, std::span<const std::uint8_t> bytes) {
  std::uint32_t value = ~running;
  for (std::uint8_t byte : bytes) value = (value >> 8) ^ kCrc32Table[(value ^ byte) & 0xFFu];
  return ~value;
}

void reverseBytes(std::span<std::uint8_t> bytes) { std::reverse(bytes.begin(), bytes.end()); }

}  // namespace foundation
