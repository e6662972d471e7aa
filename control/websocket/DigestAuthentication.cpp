#include "control/websocket/DigestAuthentication.h"

#include <algorithm>
#include <cctype>

namespace control {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<AuthenticationChallenge> parseAuthenticationChallenge(std::string_view header) {
  header = trimmed(header);
  const auto space = header.find_first_of(" \t");
  AuthenticationChallenge challenge;
  challenge.scheme = std::string(header.substr(0, space));
  if (challenge.scheme.empty()) return std::nullopt;
  if (space == std::string_view::npos) return challenge;
  std::string_view rest = header.substr(space + 1);
  while (!rest.empty()) {
    // One part: up to a comma outside quotes.
    bool quoted = false;
    std::size_t end = 0;
    for (; end < rest.size(); ++end) {
      if (rest[end] == '"') quoted = !quoted;
      if (rest[end] == '\\' && quoted) ++end;
      if (rest[end] == ',' && !quoted) break;
    }
    std::string_view part = trimmed(rest.substr(0, std::min(end, rest.size())));
    rest = end < rest.size() ? rest.substr(end + 1) : std::string_view();
    const auto equals = part.find('=');
    if (equals == std::string_view::npos) continue;
    std::string name(trimmed(part.substr(0, equals)));
    std::string_view value = trimmed(part.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    challenge.parameters.emplace(std::move(name), std::string(value));
  }
  return challenge;
}

std::string hexadecimalString(const platform::Data& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(data.size() * 2);
  for (std::uint8_t byte : data) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
  }
  return out;
}

}  // namespace control
