#include "captions/CEA608PopOn.h"

#include "captions/CaptionSamples.h"
#include "captions/CVNSubtitleRecord.h"
#include "captions/Utf8.h"

namespace captions {
namespace {

constexpr std::size_t kMaxLines = 4;
constexpr std::size_t kMaxColumns = 32;

CEA608Pair pair(std::uint8_t a, std::uint8_t b) { return {withOddParity(a), withOddParity(b)}; }

void appendControl(std::vector<CEA608Pair>& pairs, std::uint8_t a, std::uint8_t b) {
  pairs.push_back(pair(a, b));
  pairs.push_back(pair(a, b));
}

// Preamble address code of a row (1 to 15), white, column 0.
CEA608Pair rowPreamble(int row) {
  static const std::uint8_t kFirst[] = {0, 0x11, 0x11, 0x12, 0x12, 0x15, 0x15, 0x16, 0x16, 0x17, 0x17, 0x10, 0x13, 0x13, 0x14, 0x14};
  static const std::uint8_t kSecond[] = {0, 0x40, 0x60, 0x40, 0x60, 0x40, 0x60, 0x40, 0x60, 0x40, 0x60, 0x40, 0x40, 0x60, 0x40, 0x60};
  return pair(kFirst[row], kSecond[row]);
}

// The basic character set is ASCII but for a few accented letters in place
// of rarely used signs; those signs become spaces.
std::uint8_t basicCharacter(char32_t point) {
  switch (point) {
    case U'á': return 0x2a;
    case U'é': return 0x5c;
    case U'í': return 0x5e;
    case U'ó': return 0x5f;
    case U'ú': return 0x60;
    case U'ç': return 0x7b;
    case U'÷': return 0x7c;
    case U'Ñ': return 0x7d;
    case U'ñ': return 0x7e;
    case U'*': case U'\\': case U'^': case U'_': case U'`': case U'{': case U'|': case U'}': case U'~': return 0x20;
    default: return point >= 0x20 && point < 0x7f ? static_cast<std::uint8_t>(point) : 0x20;
  }
}

}  // namespace

std::vector<CEA608Pair> cea608PopOnPairs(const std::string& text) {
  std::vector<std::string> lines = subtitleLines(text);
  if (lines.size() > kMaxLines) lines.resize(kMaxLines);
  std::vector<CEA608Pair> pairs;
  appendControl(pairs, 0x14, 0x20);  // resume caption loading
  appendControl(pairs, 0x14, 0x2e);  // erase non-displayed memory
  int row = 16 - static_cast<int>(lines.size());
  for (const std::string& line : lines) {
    const CEA608Pair preamble = rowPreamble(row++);
    pairs.push_back(preamble);
    pairs.push_back(preamble);
    std::vector<std::uint8_t> characters;
    for (char32_t point : utf8CodePoints(line)) {
      if (characters.size() == kMaxColumns) break;
      characters.push_back(basicCharacter(point));
    }
    if (characters.size() % 2) characters.push_back(0);
    for (std::size_t i = 0; i < characters.size(); i += 2) pairs.push_back(pair(characters[i], characters[i + 1]));
  }
  appendControl(pairs, 0x14, 0x2f);  // end of caption: show what was loaded
  return pairs;
}

std::vector<CEA608Pair> cea608ErasePairs() {
  std::vector<CEA608Pair> pairs;
  appendControl(pairs, 0x14, 0x2c);
  return pairs;
}

}  // namespace captions
