#pragma once
// The text encodings a caller can ask for when a string must become bytes (for
// example Base64 of a string "in an encoding"). Strings in this system are
// UTF-8; this converts them. Stateless, reentrant.

#include <optional>
#include <string>
#include <string_view>

namespace foundation {

enum class TextEncoding {
  ASCII = 1,
  UTF8 = 2,
  ISOLatin1 = 3,
  CodePage1252 = 4,  // Latin-1 with printable characters in 0x80-0x9F
  UTF16BigEndian = 5,
  UTF16LittleEndian = 6,
};

// Whether the bytes are well-formed UTF-8 (no surrogates, no overlong forms).
bool isValidUTF8(std::string_view bytes);

// The bytes of the UTF-8 text in the encoding (no byte-order mark); none when
// the text is not valid UTF-8 or holds a character the encoding cannot
// represent (nothing is replaced or dropped silently).
std::optional<std::string> encodeText(std::string_view utf8, TextEncoding encoding);

}  // namespace foundation
