#pragma once
// Base64 (standard alphabet, '=' padding) of data and strings, on libcrypto.
// Encoded text is one line with no line breaks. Decoding skips ASCII
// whitespace and line breaks, and refuses anything else outside the alphabet,
// misplaced padding and a truncated final group. Stateless, reentrant; none of
// these functions logs.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "foundation/TextEncoding.h"
#include "platform/Value.h"

namespace foundation {

// Base64 text of the bytes (the empty string for empty data).
std::string base64EncodeData(std::span<const std::uint8_t> data);

// The bytes of Base64 text; none when the text is not Base64.
std::optional<platform::Data> base64DecodeString(std::string_view text);

// Base64 of the string's bytes in `encoding`; the empty string when the string
// cannot be represented in that encoding. The result is ASCII (and so reads the
// same as UTF-8).
std::string base64EncodeString(std::string_view text, TextEncoding encoding);

}  // namespace foundation
