#include "foundation/CVNIOLibUtilities.h"

#include "foundation/CVNJSONUtilities.h"

#include <array>

namespace foundation {
namespace {

constexpr std::array<std::string_view, 7> kPlaybackStatusNames = {
    "Stopped", "Waiting", "Playing", "Paused", "Holding Last Frame", "Holding First Frame", "Stopping",
};

constexpr std::size_t kLoadingStatusLoading = 1;
constexpr std::size_t kLoadingStatusLoaded = 2;

constexpr unsigned kTextAttributeType = 2;
constexpr unsigned kMediaAttributeType = 3;

constexpr std::array<std::string_view, 2> kTextItemTypes = {"textField", "ticker"};
constexpr std::array<std::string_view, 6> kMediaItemTypes = {
    "image", "imageSequence", "watchFolderTicker", "analogClock", "sound", "movie",
};


template <std::size_t N>
bool contains(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::string_view candidate : names) {
    if (candidate == name) return true;
  }
  return false;
}

}  // namespace

std::string CVNIOLibUtilities::stringFromPlaybackStatus(std::size_t playbackStatus) {
  if (playbackStatus < kPlaybackStatusNames.size()) return std::string(kPlaybackStatusNames[playbackStatus]);
  return "Missing description for Playback status: " + std::to_string(playbackStatus);
}

std::string CVNIOLibUtilities::stringFromLoadingStatus(std::size_t loadingStatus) {
  if (loadingStatus == kLoadingStatusLoaded) return "Loaded";
  if (loadingStatus == kLoadingStatusLoading) return "Loading";
  return std::string();
}

std::string CVNIOLibUtilities::stringFromPlaybackStatus(std::size_t playbackStatus, std::size_t loadingStatus) {
  if (playbackStatus == 0 && loadingStatus != kLoadingStatusLoaded) return stringFromLoadingStatus(loadingStatus);
  return stringFromPlaybackStatus(playbackStatus);
}

std::size_t CVNIOLibUtilities::playbackStatusFromString(std::string_view name) {
  for (std::size_t status = 0; status < kPlaybackStatusNames.size(); ++status) {
    if (kPlaybackStatusNames[status] == name) return status;
  }
  return 0;
}

std::size_t CVNIOLibUtilities::loadingStatusFromString(std::string_view name) {
  if (name == "Loaded") return kLoadingStatusLoaded;
  if (name == "Loading") return kLoadingStatusLoading;
  return 0;
}

platform::Array CVNIOLibUtilities::numbersArrayFromIndexSet(const std::set<std::size_t>& indexes) {
  platform::Array numbers;
  numbers.reserve(indexes.size());
  for (std::size_t index : indexes) numbers.emplace_back(static_cast<std::int64_t>(index));
  return numbers;
}

unsigned CVNIOLibUtilities::attributeTypeForCGItemType(std::string_view itemType) {
  if (contains(kTextItemTypes, itemType)) return kTextAttributeType;
  if (contains(kMediaItemTypes, itemType)) return kMediaAttributeType;
  return 0;
}

// The one shared JSON date formatter ("yyyy-MM-dd'T'HH:mm:ssZZZ" in GMT).
const platform::DateFormatter& CVNIOLibUtilities::JSONDateFormatter() { return CVNJSONUtilities::JSONDateFormatter(); }

std::optional<CVNIOLibUtilities::TimePoint> CVNIOLibUtilities::dateWithJSONString(std::string_view text) {
  platform::Result<TimePoint> date = JSONDateFormatter().dateFromString(text);
  if (!date.ok()) return std::nullopt;
  return *date;
}

std::string CVNIOLibUtilities::JSONStringWithDate(TimePoint date) { return JSONDateFormatter().stringFromDate(date); }

}  // namespace foundation
