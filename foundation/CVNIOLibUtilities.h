#pragma once
// The media vocabulary shared by the playout engine, the graphics items and
// their projects: playback and loading status names, index lists as number
// arrays, the attribute type of a graphics item type, and the JSON date form.
// Class operations only; reentrant. The shared JSON date formatter is created
// once and serialises its callers internally.

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/DateFormatter.h"
#include "platform/Value.h"

namespace foundation {

class CVNIOLibUtilities {
 public:
  using TimePoint = platform::DateFormatter::TimePoint;

  CVNIOLibUtilities() = delete;

  // "Stopped" … "Stopping" for 0 … 6; "Missing description for Playback
  // status: N" for anything larger.
  static std::string stringFromPlaybackStatus(std::size_t playbackStatus);
  // "Loaded" for 2, "Loading" for 1, the empty string otherwise.
  static std::string stringFromLoadingStatus(std::size_t loadingStatus);
  // A stopped item that is not loaded reads as its loading status; otherwise
  // the playback status name.
  static std::string stringFromPlaybackStatus(std::size_t playbackStatus, std::size_t loadingStatus);

  // Exact (case-sensitive) names only; any other string gives 0.
  static std::size_t playbackStatusFromString(std::string_view name);
  static std::size_t loadingStatusFromString(std::string_view name);

  // One integer number per index, ascending.
  static platform::Array numbersArrayFromIndexSet(const std::set<std::size_t>& indexes);

  // 2 for text items, 3 for media items, 0 for any other graphics item type.
  static unsigned attributeTypeForCGItemType(std::string_view itemType);

  // "yyyy-MM-dd'T'HH:mm:ssZZZ" in GMT, e.g. "2001-01-01T00:00:00+0000".
  static const platform::DateFormatter& JSONDateFormatter();
  // None when the text is not in the JSON form.
  static std::optional<TimePoint> dateWithJSONString(std::string_view text);
  static std::string JSONStringWithDate(TimePoint date);
};

}  // namespace foundation
