#pragma once
// Base64 (RFC 4648 standard alphabet) for property-list <data> and anything
// else that carries bytes as text. Stateless free functions; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One line of Base64 with '=' padding, no line breaks.
std::string base64Encode(const std::uint8_t* bytes, std::size_t size);
inline std::string base64Encode(const std::vector<std::uint8_t>& bytes) { return base64Encode(bytes.data(), bytes.size()); }

// Decodes text that may be split over lines: ASCII whitespace anywhere is
// skipped. Padding may be left out (as some writers do), but a lone sixth bit
// group, characters outside the alphabet and text after the padding are
// refused. On failure returns nullopt and, when given, the offset of the
// offending character in `errorOffset`.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text, std::size_t* errorOffset = nullptr);

}  // namespace platform
