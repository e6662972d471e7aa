#include "node-standin/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "foundation/TextEncoding.h"

namespace standin {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

platform::Error commandError(NodeCommandErrorCode code, std::string description) {
  return platform::Error(kNodeCommandErrorDomain, code, std::move(description));
}

platform::Result<NodeCommand> parseNodeCommand(std::string_view line) {
  if (line.find('\0') != std::string_view::npos || !foundation::isValidUTF8(line)) {
    return commandError(NodeCommandErrorCode::InvalidText, "the line is not UTF-8 text");
  }
  ArgumentReader reader(line);
  const std::optional<std::string_view> name = reader.word();
  if (!name) return commandError(NodeCommandErrorCode::UnknownCommand, "empty line");
  const std::size_t nameEnd = static_cast<std::size_t>(name->data() + name->size() - line.data());
  const std::string_view verbatim = line.substr(std::min(line.size(), nameEnd + 1));
  return NodeCommand{std::string(*name), std::string(reader.rest()), std::string(verbatim)};
}

void ArgumentReader::skipBlanks() {
  while (!remaining_.empty() && isBlank(remaining_.front())) remaining_.remove_prefix(1);
}

std::optional<std::string_view> ArgumentReader::word() {
  skipBlanks();
  if (remaining_.empty()) return std::nullopt;
  std::size_t length = 0;
  while (length < remaining_.size() && !isBlank(remaining_[length])) ++length;
  const std::string_view result = remaining_.substr(0, length);
  remaining_.remove_prefix(length);
  return result;
}

std::string_view ArgumentReader::rest() {
  const std::string_view result = trim(remaining_);
  remaining_ = {};
  return result;
}

bool ArgumentReader::atEnd() {
  skipBlanks();
  return remaining_.empty();
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> parseChangeNumber(std::string_view text) {
  if (!text.empty() && text.back() == 'i') text.remove_suffix(1);
  return parseUnsigned(text);
}

std::optional<double> parseSeconds(std::string_view text) {
  double value = 0;
  if (text.empty() || text.front() == '+') return std::nullopt;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!std::isfinite(value) || value < 0) return std::nullopt;
  return value;
}

std::optional<bool> parseFlag(std::string_view text) {
  if (text == "1") return true;
  if (text == "0") return false;
  return std::nullopt;
}

}  // namespace standin
