#include "foundation/StringReplacing.h"

#include <charconv>

#include "foundation/Utf16.h"
#include "platform/Diagnostics.h"

namespace foundation {
namespace {

void replaceAll(std::u16string& text, std::u16string_view target, std::u16string_view replacement) {
  if (target.empty() || text.find(target) == std::u16string::npos) return;
  std::u16string result;
  result.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t found; (found = text.find(target, from)) != std::u16string::npos; from = found + target.size()) {
    result.append(text, from, found - from);
    result.append(replacement);
  }
  result.append(text, from);
  text = std::move(result);
}

std::string describeComponent(const platform::Value& value) {
  char buffer[32];
  switch (value.type()) {
    case platform::Value::Type::String:
      return *value.string();
    case platform::Value::Type::Integer: {
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *value.integer());
      return ec == std::errc() ? std::string(buffer, end) : std::string();
    }
    case platform::Value::Type::Real: {
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *value.real());
      return ec == std::errc() ? std::string(buffer, end) : std::string();
    }
    case platform::Value::Type::Boolean:
      return *value.boolean() ? "1" : "0";
    default:
      return value.describe();
  }
}

}  // namespace

std::string stringByReplacingOccurrencesOfStrings(std::string_view text, const std::vector<std::string>& targets,
                                                  const std::vector<std::string>& replacements) {
  if (targets.size() != replacements.size()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "stringByReplacingOccurrencesOfStrings: " + std::to_string(targets.size()) +
                                   " targets but " + std::to_string(replacements.size()) +
                                   " replacements; text left unchanged");
    return toUtf8(toUtf16(text));
  }
  std::u16string result = toUtf16(text);
  for (std::size_t i = 0; i < targets.size(); ++i) replaceAll(result, toUtf16(targets[i]), toUtf16(replacements[i]));
  return toUtf8(result);
}

std::string stringByReplacingCharactersFromSet(std::string_view text, const CharacterSet& set,
                                               std::string_view replacement) {
  const std::u16string units = toUtf16(text);
  const std::u16string pad = toUtf16(replacement);
  std::u16string result;
  result.reserve(units.size());
  for (std::size_t position = 0; position < units.size();) {
    const Utf16Character c = characterAt(units, position, units.size());
    if (!set.contains(c.codePoint)) {
      result.append(units, position, c.width);
    } else if (!pad.empty()) {
      for (std::size_t n = 0; n < c.width; ++n) result.push_back(pad[n % pad.size()]);
    }
    position += c.width;
  }
  return toUtf8(result);
}

std::string stringFromComponents(const platform::Array& components, std::string_view separator) {
  std::string result;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) result.append(separator);
    result.append(describeComponent(components[i]));
  }
  return result;
}

std::string stringFromComponents(const std::vector<std::string>& components, std::string_view separator) {
  std::string result;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) result.append(separator);
    result.append(components[i]);
  }
  return result;
}

}  // namespace foundation
