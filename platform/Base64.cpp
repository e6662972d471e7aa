#include "platform/Base64.h"

#include <array>

namespace platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kWhitespace = 0xFE;
constexpr std::uint8_t kPad = 0xFD;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  for (char c : {' ', '\t', '\n', '\r', '\f', '\v'}) table[static_cast<unsigned char>(c)] = kWhitespace;
  table['='] = kPad;
  return table;
}

constexpr std::array<std::uint8_t, 256> kDecodeTable = makeDecodeTable();

}  // namespace

std::string base64Encode(const std::uint8_t* bytes, std::size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    std::uint32_t n = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kAlphabet[(n >> 18) & 63]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(kAlphabet[(n >> 6) & 63]);
    out.push_back(kAlphabet[n & 63]);
  }
  if (std::size_t rest = size - i; rest > 0) {
    std::uint32_t n = std::uint32_t{bytes[i]} << 16;
    if (rest == 2) n |= std::uint32_t{bytes[i + 1]} << 8;
    out.push_back(kAlphabet[(n >> 18) & 63]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text, std::size_t* errorOffset) {
  auto fail = [&](std::size_t offset) -> std::optional<std::vector<std::uint8_t>> {
    if (errorOffset) *errorOffset = offset;
    return std::nullopt;
  };
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t accumulator = 0;
  int groupLength = 0;   // sextets in the current group of four
  int padding = 0;       // '=' seen so far; only whitespace and '=' may follow
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint8_t code = kDecodeTable[static_cast<unsigned char>(text[i])];
    if (code == kWhitespace) continue;
    if (code == kInvalid) return fail(i);
    if (code == kPad) {
      // Padding completes a group of two or three sextets, to four characters.
      if (groupLength + padding < 2 || groupLength + padding >= 4) return fail(i);
      ++padding;
      continue;
    }
    if (padding > 0) return fail(i);
    accumulator = (accumulator << 6) | code;
    if (++groupLength == 4) {
      out.push_back(static_cast<std::uint8_t>(accumulator >> 16));
      out.push_back(static_cast<std::uint8_t>(accumulator >> 8));
      out.push_back(static_cast<std::uint8_t>(accumulator));
      accumulator = 0;
      groupLength = 0;
    }
  }
  if (padding > 0 && groupLength + padding != 4) return fail(text.size());
  switch (groupLength) {
    case 0:
      break;
    case 1:
      return fail(text.size());
    case 2:
      out.push_back(static_cast<std::uint8_t>(accumulator >> 4));
      break;
    case 3:
      out.push_back(static_cast<std::uint8_t>(accumulator >> 10));
      out.push_back(static_cast<std::uint8_t>(accumulator >> 2));
      break;
  }
  return out;
}

}  // namespace platform
