#pragma once
// Audio stream descriptions, four-character codes and format flags as log
// text, and the comparison of two stream descriptions. Class operations only;
// any thread.

#include <cstdint>
#include <string>

#include "platform/media/AudioFormat.h"

namespace media {

class CVNAudioUtilities {
 public:
  // "%2i ch, %f Hz, '%@' (0x%x) %u bits %@": channels, rate, format ID,
  // flags in hexadecimal, bits per channel and the flags as text.
  static std::string stringFromAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription& asbd);
  // The code's four bytes, most significant first, as exactly four characters
  // (a status such as 'fmt?' prints as fmt?).
  static std::string stringFromFourCharCode(std::uint32_t code);
  // Names of the set flags joined by ", "; "" when none is set.
  static std::string stringFromAsbdFlags(std::uint32_t flags);
  // Equal in every field but the rate, and rates closer than single-precision epsilon.
  static bool isAsbd(const platform::media::AudioStreamBasicDescription& a,
                                const platform::media::AudioStreamBasicDescription& b);
};

}  // namespace media
