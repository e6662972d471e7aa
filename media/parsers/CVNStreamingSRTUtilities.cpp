#include "media/parsers/CVNStreamingSRTUtilities.h"

namespace media {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; a "%" not followed by two hex digits is kept as it is.
std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> CVNStreamingSRTUtilities::queryItems(std::string_view url) {
  std::map<std::string, std::string> items;
  const std::size_t question = url.find('?');
  if (question == std::string_view::npos) return items;
  std::string_view query = url.substr(question + 1);
  query = query.substr(0, query.find('#'));
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view item = query.substr(0, amp);
    if (!item.empty()) {
      const std::size_t equals = item.find('=');
      const std::string name = percentDecoded(item.substr(0, equals));
      items[name] = equals == std::string_view::npos ? "" : percentDecoded(item.substr(equals + 1));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return items;
}

bool CVNStreamingSRTUtilities::isSRTURL(const std::optional<MediaURL>& url) {
  return url && !url->isFileURL() && url->scheme() == "srt";
}

SRTMode CVNStreamingSRTUtilities::SRTModeWithURL(const std::optional<MediaURL>& url) {
  if (!url) return SRTMode::Caller;
  const auto items = queryItems(url->absoluteString());
  auto mode = items.find("mode");
  if (mode == items.end()) return SRTMode::Caller;
  if (mode->second == "listener") return SRTMode::Listener;
  if (mode->second == "rendezvous") return SRTMode::Rendezvous;
  return SRTMode::Caller;
}

bool CVNStreamingSRTUtilities::isSRTInCallerModeWithURL(const std::optional<MediaURL>& url) {
  return SRTModeWithURL(url) == SRTMode::Caller;
}
bool CVNStreamingSRTUtilities::isSRTInListenerModeWithURL(const std::optional<MediaURL>& url) {
  return SRTModeWithURL(url) == SRTMode::Listener;
}
bool CVNStreamingSRTUtilities::isSRTInRendezVousModeWithURL(const std::optional<MediaURL>& url) {
  return SRTModeWithURL(url) == SRTMode::Rendezvous;
}

}  // namespace media
