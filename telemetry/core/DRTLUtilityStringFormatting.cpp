#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <nlohmann/json.hpp>

#include "foundation/Digests.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

std::vector<std::string> splitComponents(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(';', start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string removingAll(std::string text, std::string_view what) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) text.erase(at, what.size());
  return text;
}

constexpr std::string_view kAppSecretMarker = "appsecret=";
constexpr std::string_view kTargetMarker = "target=";
constexpr std::string_view kPlatformMarker = "linux=";

}  // namespace

std::optional<std::string> DRTLUtility::appSecretFrom(const std::optional<std::string>& configuration) {
  if (!configuration) return std::nullopt;
  const bool hasPlatformComponent = configuration->find(kPlatformMarker) != std::string::npos;
  for (const std::string& component : splitComponents(*configuration)) {
    if (component.empty() || component.find(kTargetMarker) != std::string::npos) continue;
    std::string candidate;
    if (hasPlatformComponent) {
      if (component.find(kPlatformMarker) == std::string::npos) continue;
      candidate = removingAll(component, kPlatformMarker);
    } else {
      candidate = removingAll(component, kAppSecretMarker);
    }
    if (!candidate.empty()) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> DRTLUtility::transmissionTargetTokenFrom(const std::optional<std::string>& configuration) {
  if (!configuration) return std::nullopt;
  for (const std::string& component : splitComponents(*configuration)) {
    if (component.find(kTargetMarker) == std::string::npos) continue;
    std::string candidate = removingAll(component, kTargetMarker);
    if (!candidate.empty()) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> DRTLUtility::targetKeyFromTargetToken(const std::optional<std::string>& token) {
  if (!token) return std::nullopt;
  std::string key = token->substr(0, token->find('-'));
  if (key.empty()) return std::nullopt;
  return key;
}

std::optional<std::string> DRTLUtility::iKeyFromTargetToken(const std::optional<std::string>& token) {
  std::optional<std::string> key = targetKeyFromTargetToken(token);
  if (!key) return std::nullopt;
  return "o:" + *key;
}

std::string DRTLUtility::sha256(std::string_view text) {
  std::optional<platform::Data> digest = foundation::digestOfBytes(
      foundation::DigestAlgorithm::SHA256,
      std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  if (!digest) return hex;
  for (std::uint8_t byte : *digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 0xF]);
  }
  return hex;
}

std::optional<std::string> DRTLUtility::prettyPrintJson(const std::optional<std::string>& data) {
  if (!data) return std::nullopt;
  nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(*data, nullptr, false);
  if (parsed.is_discarded()) return *data;
  try {
    // The writer never escapes "/", so the text needs no unescaping.
    return parsed.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    return *data;
  }
}

std::optional<std::string> DRTLUtility::obfuscateString(const std::optional<std::string>& text,
                                                       const std::string& pattern,
                                                       const std::string& replacementTemplate) {
  if (!text) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  icu::RegexMatcher matcher(icu::UnicodeString::fromUTF8(pattern), UREGEX_CASE_INSENSITIVE, status);
  if (U_FAILURE(status)) {
    DRTLLogError("Couldn't create regular expression with pattern\"" + pattern + "\": " + u_errorName(status));
    return std::nullopt;
  }
  // The matcher keeps a reference to its input.
  const icu::UnicodeString input = icu::UnicodeString::fromUTF8(*text);
  matcher.reset(input);
  icu::UnicodeString replaced = matcher.replaceAll(icu::UnicodeString::fromUTF8(replacementTemplate), status);
  if (U_FAILURE(status)) {
    DRTLLogError("Couldn't create regular expression with pattern\"" + pattern + "\": " + u_errorName(status));
    return std::nullopt;
  }
  std::string result;
  replaced.toUTF8String(result);
  return result;
}

}  // namespace telemetry::core
