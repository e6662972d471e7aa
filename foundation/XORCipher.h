#pragma once
// Repeating-key XOR of strings: a light obfuscation, not encryption. Byte i of
// the result is byte i of the text XOR byte (i mod key length) of the key.
// Stateless, reentrant.

#include <string>
#include <string_view>

#include "platform/Error.h"

namespace foundation {

inline constexpr const char* kXORCipherErrorDomain = "XORCipherErrorDomain";
enum class XORCipherErrorCode { EmptyKey = 1 };

// The result is binary-safe: exactly as long as the text, zero bytes included,
// and not necessarily valid UTF-8. XOR with the same key again restores the
// text. An empty key is refused (EmptyKey) rather than divided by.
platform::Result<std::string> xorStrings(std::string_view text, std::string_view key);

}  // namespace foundation
