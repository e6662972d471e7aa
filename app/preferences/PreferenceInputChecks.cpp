#include "app/preferences/PreferenceInputChecks.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace app::preferences {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool isIPLiteral(const std::string& text) {
  in6_addr buffer{};
  return inet_pton(AF_INET, text.c_str(), &buffer) == 1 || inet_pton(AF_INET6, text.c_str(), &buffer) == 1;
}

bool looksLikeDottedNumbers(std::string_view text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return false;
  }
  return true;
}

bool isHostName(std::string_view text) {
  if (text.empty() || text.size() > kMaxHostNameLength) return false;
  // "1.2.3.4.5" is a mistyped address, not a host.
  if (looksLikeDottedNumbers(text)) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

std::variant<StaticNodeAddress, std::string> checkStaticNodeAddress(std::string_view address,
                                                                    std::string_view port) {
  const std::string host(trimmed(address));
  if (host.empty()) return std::string("Enter the node's address.");
  if (!isIPLiteral(host) && !isHostName(host)) {
    return "\"" + host + "\" is not an IPv4 or IPv6 address nor a host name.";
  }
  const std::string_view portText = trimmed(port);
  std::uint32_t number = 0;
  const auto [end, problem] = std::from_chars(portText.data(), portText.data() + portText.size(), number);
  if (portText.empty() || problem != std::errc() || end != portText.data() + portText.size() || number < 1 ||
      number > 65535) {
    return "The port must be a number from 1 to 65535, not \"" + std::string(portText) + "\".";
  }
  return StaticNodeAddress{host, std::to_string(number)};
}

std::optional<double> parseSecondsField(std::string_view text, double minimum, bool minimumAllowed, double maximum) {
  const std::string_view number = trimmed(text);
  double value = 0.0;
  const auto [end, problem] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (number.empty() || problem != std::errc() || end != number.data() + number.size()) return std::nullopt;
  if (!std::isfinite(value) || value > maximum || value < minimum) return std::nullopt;
  if (value == minimum && !minimumAllowed) return std::nullopt;
  return value;
}

std::string secondsFieldText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace app::preferences
