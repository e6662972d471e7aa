#pragma once
// The connection mode of an SRT stream address: the "mode" query item,
// "listener" 1, "rendezvous" 2, anything else (or none) 0, the caller mode
// the movie reader accepts. Query items are percent-decoded; the last item
// of a name wins; values compare exactly. Class operations; any thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "media/readers/MediaURL.h"

namespace media {

enum class SRTMode : std::int32_t { Caller = 0, Listener = 1, Rendezvous = 2 };

class CVNStreamingSRTUtilities {
 public:
  static bool isSRTURL(const std::optional<MediaURL>& url);
  static SRTMode SRTModeWithURL(const std::optional<MediaURL>& url);
  static bool isSRTInCallerModeWithURL(const std::optional<MediaURL>& url);
  static bool isSRTInListenerModeWithURL(const std::optional<MediaURL>& url);
  static bool isSRTInRendezVousModeWithURL(const std::optional<MediaURL>& url);

  // The query items of a URL text, name → value (percent-decoded, "+" kept).
  static std::map<std::string, std::string> queryItems(std::string_view url);
};

}  // namespace media
