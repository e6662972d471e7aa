#pragma once
// The media-file identity hash: a 24-character string ("ABCD-EFGH-IJKL-MNOP-QRST",
// upper-case letters and digits) computed from a dictionary describing a file
// (name, dates, size). Playout nodes compute the same string for their files,
// and the catalogue matches the two, so every byte of the computation is
// fixed: the XML property-list bytes of the dictionary, AES-128 under the MD5
// of the identity key string (padded only when not block-aligned), SHA-1 of
// the cipher text, each digest byte mod 36 as a letter or digit.
//
// Stateless, reentrant. The application delegate's hash operation forwards here.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace foundation {

// A constant of the system, shared with the playout nodes.
inline constexpr std::string_view kIdentityKeyString = "7419";
inline constexpr std::size_t kIdentityHashLength = 24;

// The identity hash of the dictionary, or none when it cannot be serialised or
// encrypted (then "Error trying to compute a hash string for media item" is
// reported as a diagnostic).
std::optional<std::string> cryptedHashStringWithDictionary(const platform::Dictionary& dictionary);

}  // namespace foundation
