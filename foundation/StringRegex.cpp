#include "foundation/StringRegex.h"

#include <cstdint>
#include <limits>
#include <memory>

#include <unicode/regex.h>
#include <unicode/utypes.h>

#include "platform/Diagnostics.h"

namespace foundation {
namespace {

// Match-engine steps before a search gives up (ICU counts them; about a fifth
// of a millisecond each on current machines), so a hostile pattern costs at
// most a fraction of a second.
constexpr std::int32_t kRegexWorkLimit = 1000;
constexpr std::size_t kLoggedPatternLimit = 200;

icu::UnicodeString unicodeString(const std::u16string& units) {
  return icu::UnicodeString(units.data(), static_cast<std::int32_t>(units.size()));
}

// The pattern for a log line: cut, with control characters made visible.
std::string loggablePattern(std::string_view pattern) {
  std::string out;
  for (char c : toUtf8(toUtf16(pattern.substr(0, kLoggedPatternLimit)))) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

void reportRegexFailure(std::string_view pattern, UErrorCode status) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "Regular expression \"" + loggablePattern(pattern) +
                                                                     "\" failed: " + u_errorName(status));
}

bool fitsIcu(std::size_t units) { return units <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()); }

// A matcher over `input` (which must outlive it), or nullptr after a diagnostic.
std::unique_ptr<icu::RegexMatcher> makeMatcher(std::string_view pattern, const icu::UnicodeString& input) {
  const std::u16string patternUnits = toUtf16(pattern);
  if (!fitsIcu(patternUnits.size())) {
    reportRegexFailure(pattern, U_INPUT_TOO_LONG_ERROR);
    return nullptr;
  }
  UErrorCode status = U_ZERO_ERROR;
  auto matcher = std::make_unique<icu::RegexMatcher>(unicodeString(patternUnits), input, 0, status);
  if (U_SUCCESS(status)) matcher->setTimeLimit(kRegexWorkLimit, status);
  if (U_FAILURE(status)) {
    reportRegexFailure(pattern, status);
    return nullptr;
  }
  return matcher;
}

}  // namespace

std::vector<Range> rangesOfRegexString(std::string_view text, std::optional<std::string_view> pattern) {
  if (!pattern) return {};
  const std::u16string units = toUtf16(text);
  if (!fitsIcu(units.size())) {
    reportRegexFailure(*pattern, U_INPUT_TOO_LONG_ERROR);
    return {};
  }
  const icu::UnicodeString input = unicodeString(units);
  std::unique_ptr<icu::RegexMatcher> matcher = makeMatcher(*pattern, input);
  if (!matcher) return {};

  std::vector<Range> ranges;
  UErrorCode status = U_ZERO_ERROR;
  while (matcher->find(status) && U_SUCCESS(status)) {
    const std::int32_t start = matcher->start(status);
    const std::int32_t end = matcher->end(status);
    if (U_FAILURE(status)) break;
    ranges.push_back({static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)});
  }
  if (U_FAILURE(status)) {
    reportRegexFailure(*pattern, status);
    return {};
  }
  return ranges;
}

std::string stringByReplacingOccurancesOfRegexString(std::string_view text, std::optional<std::string_view> pattern,
                                                     std::optional<std::string_view> replacementTemplate) {
  const std::u16string units = toUtf16(text);
  if (!pattern || !replacementTemplate) return toUtf8(units);
  const std::u16string templateUnits = toUtf16(*replacementTemplate);
  if (!fitsIcu(units.size()) || !fitsIcu(templateUnits.size())) {
    reportRegexFailure(*pattern, U_INPUT_TOO_LONG_ERROR);
    return toUtf8(units);
  }
  const icu::UnicodeString input = unicodeString(units);
  std::unique_ptr<icu::RegexMatcher> matcher = makeMatcher(*pattern, input);
  if (!matcher) return toUtf8(units);

  // The library's replaceAll drops a work-limit failure and returns a partial
  // result, so the loop is spelled out with a status on every step.
  const icu::UnicodeString replacement = unicodeString(templateUnits);
  icu::UnicodeString replaced;
  UErrorCode status = U_ZERO_ERROR;
  while (matcher->find(status) && U_SUCCESS(status)) {
    matcher->appendReplacement(replaced, replacement, status);
    if (U_FAILURE(status)) break;
  }
  if (U_SUCCESS(status)) matcher->appendTail(replaced);
  if (U_FAILURE(status)) {
    reportRegexFailure(*pattern, status);
    return toUtf8(units);
  }
  return toUtf8(std::u16string_view(replaced.getBuffer(), static_cast<std::size_t>(replaced.length())));
}

}  // namespace foundation
