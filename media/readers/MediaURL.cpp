#include "media/readers/MediaURL.h"

#include <cctype>

namespace media {

MediaURL MediaURL::fileURLWithPath(const std::filesystem::path& path) {
  MediaURL url;
  url.path_ = path;
  url.text_ = path.string();
  return url;
}

MediaURL MediaURL::URLWithString(const std::string& text) {
  const std::size_t colon = text.find("://");
  if (colon != std::string::npos && colon > 0) {
    std::string scheme = text.substr(0, colon);
    bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) != 0;
    for (char& c : scheme) {
      valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.');
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (valid && scheme == "file") return fileURLWithPath(text.substr(colon + 3));
    if (valid) {
      MediaURL url;
      url.isFile_ = false;
      url.scheme_ = scheme;
      url.text_ = text;
      return url;
    }
  }
  return fileURLWithPath(text);
}

}  // namespace media
