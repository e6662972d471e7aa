#pragma once
// CEA-608 pop-on captions on channel 1 (field 1): the byte pairs, with odd
// parity, that load a subtitle off screen and then show it at once.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace captions {

using CEA608Pair = std::array<std::uint8_t, 2>;

// Resume caption loading, erase the hidden memory, one preamble and the text
// per line (bottom rows, at most 4 lines of 32 characters), end of caption.
// Control codes go twice: a receiver drops a lost one's repeat, not both.
std::vector<CEA608Pair> cea608PopOnPairs(const std::string& text);
// Erase displayed memory (twice).
std::vector<CEA608Pair> cea608ErasePairs();
inline constexpr CEA608Pair kCEA608NullPair = {0x80, 0x80};

}  // namespace captions
