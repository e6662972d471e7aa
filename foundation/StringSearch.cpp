#include "foundation/StringSearch.h"

#include <algorithm>

namespace foundation {
namespace {

// The range cut to the text.
Range clampRange(std::optional<Range> range, std::size_t textLength) {
  if (!range) return {0, textLength};
  const std::size_t start = std::min(range->location, textLength);
  const std::size_t length = std::min(range->length, textLength - start);
  return {start, length};
}

Range runForwards(std::u16string_view text, const CharacterSet& set, bool anchored, Range range) {
  std::size_t position = range.location;
  const std::size_t end = range.end();
  while (position < end) {
    const Utf16Character c = characterAt(text, position, end);
    if (set.contains(c.codePoint)) break;
    if (anchored) return kNotFoundRange;
    position += c.width;
  }
  if (position >= end) return kNotFoundRange;
  const std::size_t runStart = position;
  while (position < end) {
    const Utf16Character c = characterAt(text, position, end);
    if (!set.contains(c.codePoint)) break;
    position += c.width;
  }
  return {runStart, position - runStart};
}

Range runBackwards(std::u16string_view text, const CharacterSet& set, bool anchored, Range range) {
  std::size_t position = range.end();
  const std::size_t start = range.location;
  while (position > start) {
    const Utf16Character c = characterBefore(text, position, start);
    if (set.contains(c.codePoint)) break;
    if (anchored) return kNotFoundRange;
    position -= c.width;
  }
  if (position <= start) return kNotFoundRange;
  const std::size_t runEnd = position;
  while (position > start) {
    const Utf16Character c = characterBefore(text, position, start);
    if (!set.contains(c.codePoint)) break;
    position -= c.width;
  }
  return {position, runEnd - position};
}

Range runOfCharacters(std::u16string_view text, const CharacterSet& set, StringSearchOptions options,
                      std::optional<Range> range) {
  const Range bounded = clampRange(range, text.size());
  if (bounded.length == 0) return kNotFoundRange;
  const bool anchored = hasOption(options, StringSearchOptions::Anchored);
  return hasOption(options, StringSearchOptions::Backwards) ? runBackwards(text, set, anchored, bounded)
                                                            : runForwards(text, set, anchored, bounded);
}

}  // namespace

Range rangeOfCharactersFromSet(std::string_view text, const CharacterSet& set, StringSearchOptions options,
                               std::optional<Range> range) {
  return runOfCharacters(toUtf16(text), set, options, range);
}

std::optional<std::string> substringFromSet(std::string_view text, const CharacterSet& set,
                                            StringSearchOptions options, std::optional<Range> range) {
  const std::u16string units = toUtf16(text);
  const Range run = runOfCharacters(units, set, options, range);
  if (run.isNotFound()) return std::nullopt;
  return toUtf8(std::u16string_view(units).substr(run.location, run.length));
}

std::vector<Range> rangesOfString(std::string_view text, std::string_view searched) {
  std::vector<Range> ranges;
  const std::u16string units = toUtf16(text);
  const std::u16string needle = toUtf16(searched);
  if (needle.empty()) return ranges;
  std::size_t from = 0;
  while (units.size() - from >= needle.size()) {
    const std::size_t found = units.find(needle, from);
    if (found == std::u16string::npos) break;
    ranges.push_back({found, needle.size()});
    from = found + needle.size();
  }
  return ranges;
}

std::vector<Range> rangesOfCharacterSet(std::string_view text, const CharacterSet& set) {
  std::vector<Range> ranges;
  const std::u16string units = toUtf16(text);
  for (std::size_t position = 0; position < units.size();) {
    const Utf16Character c = characterAt(units, position, units.size());
    if (set.contains(c.codePoint)) ranges.push_back({position, c.width});
    position += c.width;
  }
  return ranges;
}

Range firstRangeOfStrings(std::string_view text, const std::vector<std::string>& candidates, std::string* matched) {
  const std::u16string units = toUtf16(text);
  Range best = kNotFoundRange;
  const std::string* bestCandidate = nullptr;
  for (const std::string& candidate : candidates) {
    const std::u16string needle = toUtf16(candidate);
    if (needle.empty()) continue;
    const std::size_t found = units.find(needle);
    // Strictly earlier only: on a tie the candidate listed first keeps the match.
    if (found == std::u16string::npos || found >= best.location) continue;
    best = {found, needle.size()};
    bestCandidate = &candidate;
  }
  if (bestCandidate && matched) *matched = toUtf8(std::u16string_view(units).substr(best.location, best.length));
  return best;
}

}  // namespace foundation
