// Query parameters of a request.
#include <algorithm>
#include <cctype>

#include "control/http/CVNWebConnection.h"

namespace control {
namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    pieces.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return pieces;
    start = at + separator.size();
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> CVNWebConnection::stringByDecodingURLFormat(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%') {
      const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) return std::nullopt;
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += c;
    }
  }
  return decoded;
}

std::vector<std::string> CVNWebConnection::getParametersArray(const std::string& rawValue, const std::string& key) {
  if (!key.ends_with("[]")) return {};
  return split(rawValue, "%2C");
}

std::map<std::string, CVNWebConnection::Parameter> CVNWebConnection::parameters() const {
  std::map<std::string, Parameter> result;
  const auto query = incomingMessage_.query();
  if (!query) return result;
  for (const std::string& piece : split(*query, "&")) {
    const auto parts = split(piece, "=");
    if (parts.size() < 2) continue;
    auto key = stringByDecodingURLFormat(parts[0]);
    if (!key) continue;
    std::transform(key->begin(), key->end(), key->begin(), [](unsigned char c) { return std::tolower(c); });
    if (auto array = getParametersArray(parts[1], *key); !array.empty()) {
      result.insert_or_assign(*key, std::move(array));
    } else if (auto value = stringByDecodingURLFormat(parts[1])) {
      result.insert_or_assign(*key, std::move(*value));
    }
  }
  return result;
}

}  // namespace control
