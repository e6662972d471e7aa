#pragma once
// Small helpers over libav* values: library error texts made safe for the
// log, codec tags as four-character codes, stream time as seconds.

#include <cstdint>
#include <string>

#include "platform/media/FourCharCode.h"

namespace media {

// The library's text for an error, at most 64 bytes, with anything but
// printable ASCII escaped as \xNN.
std::string libraryErrorText(int error);
// Escapes anything but printable ASCII as \xNN.
std::string printableText(const std::string& text);
// A codec tag (first character in the low byte) as a four-character code.
platform::media::FourCharCode fourCCFromCodecTag(std::uint32_t tag);
// Seconds of platform::Clock's monotonic time.
double clockSeconds();

}  // namespace media
