#include "nodes/playlist/PlaylistItem.h"

#include <array>
#include <chrono>
#include <mutex>
#include <optional>

#include "foundation/GenerateUniqueID.h"
#include "nodes/media/MediaFolderLocalEquivalent.h"
#include "platform/DateFormatter.h"
#include "platform/Diagnostics.h"

namespace nodes {
namespace {

using platform::Value;
using Fields = PlaylistItemFields;

Value optionalValue(const std::optional<std::string>& text) { return text ? Value(*text) : Value(); }
Value optionalValue(const std::optional<platform::Date>& date) { return date ? Value(*date) : Value(); }
Value stringsValue(const std::vector<std::string>& strings) {
  return Value(platform::Array(strings.begin(), strings.end()));
}

// The text of dates to the minute, for the dates of one UTC minute: clips
// added together share it, and formatting is most of reading their dates.
// The minute's text is reused only once its first and last instants format
// alike, which holds unless the zone's offset is not whole minutes there.
class MinuteText {
 public:
  template <typename Format>
  std::string text(platform::Date date, const Format& format) {
    using std::chrono::minutes;
    // Far dates are formatted as they come: a minute's ends must not overflow.
    constexpr auto kReach = std::chrono::duration_cast<platform::Date::duration>(std::chrono::years(100000));
    if (date.time_since_epoch() > kReach || date.time_since_epoch() < -kReach) return format(date);
    const platform::Date minute = std::chrono::floor<minutes>(date);
    if (!known_ || minute != minute_) {
      text_ = format(date);
      minute_ = minute;
      known_ = true;
      shared_.reset();
      return text_;
    }
    if (!shared_) {
      shared_ = format(minute) == text_ && format(minute + minutes(1) - platform::Date::duration(1)) == text_;
    }
    return *shared_ ? text_ : format(date);
  }

 private:
  bool known_ = false;
  platform::Date minute_;
  std::string text_;
  std::optional<bool> shared_;  // the minute's instants all read as text_; unknown until a second date comes
};

// The observable properties and how each reads as a value. Only keys with
// observers are read, so an unobserved item pays nothing for this.
struct ObservedKey {
  std::string_view name;
  Value (*value)(const Fields&);
};

using F = Fields;
// One line a key.
// clang-format off
constexpr std::array kObservedKeys = {
    ObservedKey{"attributes", [](const F& f) { return f.attributes ? Value(*f.attributes) : Value(); }},
    ObservedKey{"mediaItemUniqueID", [](const F& f) { return optionalValue(f.mediaItemUniqueID); }},
    ObservedKey{"inPointInSeconds", [](const F& f) { return Value(f.inPointInSeconds); }},
    ObservedKey{"outPointInSeconds", [](const F& f) { return Value(f.outPointInSeconds); }},
    ObservedKey{"hasInPoint", [](const F& f) { return Value(f.hasInPoint()); }},
    ObservedKey{"hasOutPoint", [](const F& f) { return Value(f.hasOutPoint()); }},
    ObservedKey{"online", [](const F& f) { return Value(f.online); }},
    ObservedKey{"locked", [](const F& f) { return Value(f.locked); }},
    ObservedKey{"audioVolume", [](const F& f) { return Value(f.audioVolume); }},
    ObservedKey{"nodeName", [](const F& f) { return Value(f.nodeName); }},
    ObservedKey{"nodeUniqueID", [](const F& f) { return Value(f.nodeUniqueID); }},
    ObservedKey{"playbackNodeName", [](const F& f) { return optionalValue(f.playbackNodeName); }},
    ObservedKey{"playbackStatus", [](const F& f) { return Value(f.playbackStatus); }},
    ObservedKey{"displayName", [](const F& f) { return Value(f.displayName); }},
    ObservedKey{"absolutePathToMediaItem", [](const F& f) { return Value(f.absolutePathToMediaItem); }},
    ObservedKey{"relativePathToMediaItem", [](const F& f) { return Value(f.relativePathToMediaItem); }},
    ObservedKey{"framesPerSecond", [](const F& f) { return Value(f.framesPerSecond); }},
    ObservedKey{"dropFrame", [](const F& f) { return Value(f.dropFrame); }},
    ObservedKey{"creationDate", [](const F& f) { return optionalValue(f.creationDate); }},
    ObservedKey{"lastModificationDate", [](const F& f) { return optionalValue(f.lastModificationDate); }},
    ObservedKey{"lastModificationDateAsString",
                [](const F& f) { return optionalValue(f.lastModificationDateAsString); }},
    ObservedKey{"mediaItemDurationInSeconds", [](const F& f) { return Value(f.mediaItemDurationInSeconds); }},
    ObservedKey{"durationInSeconds", [](const F& f) { return Value(f.durationInSeconds()); }},
    ObservedKey{"finalInPointInSeconds", [](const F& f) { return Value(f.finalInPointInSeconds()); }},
    ObservedKey{"finalOutPointInSeconds", [](const F& f) { return Value(f.finalOutPointInSeconds()); }},
    ObservedKey{"finderLabelIndex", [](const F& f) { return Value(f.finderLabelIndex); }},
    ObservedKey{"finderLabelName", [](const F& f) { return Value(f.finderLabelName); }},
    ObservedKey{"blockDurationInSeconds", [](const F& f) { return Value(f.blockDurationInSeconds); }},
    ObservedKey{"relativeStartTimeInSeconds", [](const F& f) { return Value(f.relativeStartTimeInSeconds); }},
    ObservedKey{"relativeStartTimeAsString", [](const F& f) { return optionalValue(f.relativeStartTimeAsString); }},
    ObservedKey{"mediaItemStartTimeCode", [](const F& f) { return Value(f.mediaItemStartTimeCodeOrUnset()); }},
    ObservedKey{"uniqueID", [](const F& f) { return optionalValue(f.uniqueID); }},
    ObservedKey{"playbackUniqueID", [](const F& f) { return optionalValue(f.playbackUniqueID); }},
    ObservedKey{"invalidReason", [](const F& f) { return Value(f.invalidReason); }},
    ObservedKey{"languages", [](const F& f) { return stringsValue(f.languages); }},
    ObservedKey{"mediaFolderPath", [](const F& f) { return Value(f.mediaFolderPath); }},
    ObservedKey{"mediaFolderUniqueID", [](const F& f) { return Value(f.mediaFolderUniqueID); }},
    ObservedKey{"videoCodecDescription", [](const F& f) { return Value(f.videoCodecDescription); }},
    ObservedKey{"languagesDescription", [](const F& f) { return Value(f.languagesDescription); }},
    ObservedKey{"displayOriginX", [](const F& f) { return Value(double{f.displayOriginX}); }},
    ObservedKey{"displayOriginY", [](const F& f) { return Value(double{f.displayOriginY}); }},
    ObservedKey{"displaySizeHeight", [](const F& f) { return Value(double{f.displaySizeHeight}); }},
    ObservedKey{"displaySizeWidth", [](const F& f) { return Value(double{f.displaySizeWidth}); }},
    ObservedKey{"naturalSizeHeight", [](const F& f) { return Value(double{f.naturalSizeHeight}); }},
    ObservedKey{"naturalSizeWidth", [](const F& f) { return Value(double{f.naturalSizeWidth}); }},
    ObservedKey{"abRollClipPosition", [](const F& f) { return Value(static_cast<int>(f.abRollClipPosition)); }},
    ObservedKey{"validationStatus", [](const F& f) { return Value(f.validationStatus); }},
    ObservedKey{"resized", [](const F& f) { return Value(f.resized); }},
};
// clang-format on

const std::vector<std::string> kItemDurationKeyPaths = {"inPointInSeconds", "outPointInSeconds",
                                                        "mediaItemDurationInSeconds"};

bool hasExtensionOf(const std::string& path, std::initializer_list<std::string_view> extensions) {
  const std::string extension = std::filesystem::path(path).extension().string();
  if (extension.size() < 2) return false;
  const std::string_view bare = std::string_view(extension).substr(1);
  for (std::string_view candidate : extensions) {
    if (bare == candidate) return true;
  }
  return false;
}

}  // namespace

// ---- Derived values ----

double PlaylistItemFields::durationInSeconds() const {
  const double end = hasOutPoint() ? outPointInSeconds : mediaItemDurationInSeconds;
  return hasInPoint() ? end - inPointInSeconds : end;
}

double PlaylistItemFields::finalInPointInSeconds() const {
  return hasInPoint() && inPointInSeconds >= 0.0 && inPointInSeconds < mediaItemDurationInSeconds ? inPointInSeconds
                                                                                                  : 0.0;
}

double PlaylistItemFields::finalOutPointInSeconds() const {
  return hasOutPoint() && outPointInSeconds > 0.0 && outPointInSeconds < mediaItemDurationInSeconds
             ? outPointInSeconds
             : mediaItemDurationInSeconds;
}

bool PlaylistItemFields::isResized() const {
  const bool atOrigin = displayOriginX == 0 && displayOriginY == 0;
  if (atOrigin && displaySizeWidth == 0 && displaySizeHeight == 0) return false;
  if (atOrigin && displaySizeWidth == naturalSizeWidth && displaySizeHeight == naturalSizeHeight) return false;
  return true;
}

ClipItemType PlaylistItemFields::itemType() const {
  // Exact, case-sensitive: "JPG" plays as a movie.
  return hasExtensionOf(absolutePathToMediaItem, {"jpeg", "jpg", "png", "tif", "psd", "tga"}) ? ClipItemType::StillImage
                                                                                              : ClipItemType::Movie;
}

ClipEndBehaviour PlaylistItemFields::clipEndBehaviour() const {
  if (!attributes) return ClipEndBehaviour::Absent;
  auto entry = attributes->find(kClipEndBehaviourAttribute);
  if (entry == attributes->end() || entry->second.isNone()) return ClipEndBehaviour::Absent;
  const std::string* value = entry->second.string();
  if (!value) return ClipEndBehaviour::Other;
  if (*value == kClipEndBehaviourNormal) return ClipEndBehaviour::Normal;
  if (*value == kClipEndBehaviourChain) return ClipEndBehaviour::Chain;
  if (*value == kClipEndBehaviourLoop) return ClipEndBehaviour::Loop;
  if (*value == kClipEndBehaviourStopAtEnd) return ClipEndBehaviour::StopAtEnd;
  if (*value == kClipEndBehaviourHoldLastFrame) return ClipEndBehaviour::HoldLastFrame;
  return ClipEndBehaviour::Other;
}

CVNTimeFormatter PlaylistItemFields::timeCodeFormatter() const {
  CVNTimeFormatter formatter;
  formatter.setFormat(kTimeFormatTimeCode);
  formatter.setFramesPerSeconds(framesPerSecond);
  formatter.setDropFrame(dropFrame);
  return formatter;
}

// ---- Creation ----

PlaylistItem::PlaylistItem() {
  fields_.uniqueID = foundation::GenerateUniqueID::generateUniqueID();
  fields_.playbackUniqueID = foundation::GenerateUniqueID::generateUniqueID();
}

PlaylistItem::PlaylistItem(PlaylistItemFields fields) : fields_(std::move(fields)) {}

std::shared_ptr<PlaylistItem> PlaylistItem::initWithMediaItem(const std::shared_ptr<const MediaItem>& mediaItem) {
  if (!mediaItem) return nullptr;
  const MediaItemInfo info = mediaItem->info();
  if (!info.nodeName) platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "nodeName is nil");

  auto item = std::make_shared<PlaylistItem>();
  item->update([&](Fields& f) {
    f.mediaItemUniqueID = info.uniqueID;
    f.nodeName = info.nodeName.value_or("");
    f.nodeUniqueID = info.nodeUniqueID;
    f.displayName = info.displayName.value_or("");
    f.absolutePathToMediaItem = info.absolutePath.value_or("");
    f.relativePathToMediaItem = info.relativePath.value_or("");
    f.mediaFolderPath = info.mediaFolderPath.value_or("");
    f.mediaFolderUniqueID = info.mediaFolderUniqueID.value_or("");
    f.videoCodecDescription = info.videoCodecDescription;
    f.finderLabelIndex = info.finderLabelIndex;
    f.finderLabelName = info.finderLabelName;
    f.validationStatus = info.validationStatus;
    f.invalidReason = info.invalidReason;
    f.framesPerSecond = info.framesPerSecond;
    f.dropFrame = info.dropFrame;
    f.mediaItemDurationInSeconds = info.durationInSeconds;
    f.mediaItemStartTimeCode = info.startTimeCode;
    f.lastModificationDate = info.lastModificationDate;
    f.lastModificationDateAsString =
        info.lastModificationDate ? std::optional(dateToString(*info.lastModificationDate)) : std::nullopt;
    f.naturalSizeWidth = info.naturalVideoSizeWidth;
    f.naturalSizeHeight = info.naturalVideoSizeHeight;
    f.displaySizeWidth = info.naturalVideoSizeWidth;
    f.displaySizeHeight = info.naturalVideoSizeHeight;
    f.languages = info.languagesArray;
    f.languagesDescription = languagesDescriptionFromLanguages(info.languagesArray);
  });
  return item;
}

std::shared_ptr<PlaylistItem> PlaylistItem::copy() const {
  Fields f = fields();
  f.playbackUniqueID = foundation::GenerateUniqueID::generateUniqueID();
  f.locked = false;
  f.playbackStatus = kPlaybackStatusStopped;
  f.abRollClipPosition = ABRollClipPosition::None;
  f.relativeStartTimeInSeconds = 0.0;
  f.relativeStartTimeAsString.reset();
  f.thumbnail.reset();
  f.metadataArray.clear();
  f.resized = false;
  return std::make_shared<PlaylistItem>(std::move(f));
}

void PlaylistItem::updateWithClip(const PlaylistItem& clip) {
  const Fields source = clip.fields();
  update([&](Fields& f) {
    f.mediaItemDurationInSeconds = source.mediaItemDurationInSeconds;
    f.displayName = source.displayName;
    f.inPointInSeconds = source.inPointInSeconds;
    f.outPointInSeconds = source.outPointInSeconds;
    f.online = source.online;
    f.dropFrame = source.dropFrame;
    f.finderLabelIndex = source.finderLabelIndex;
    f.finderLabelName = source.finderLabelName;
    f.framesPerSecond = source.framesPerSecond;
    f.invalidReason = source.invalidReason;
    f.lastModificationDate = source.lastModificationDate;
    f.lastModificationDateAsString = source.lastModificationDateAsString;
    f.creationDate = source.creationDate;
    f.mediaFolderPath = source.mediaFolderPath;
    f.mediaFolderUniqueID = source.mediaFolderUniqueID;
    f.naturalSizeWidth = source.naturalSizeWidth;
    f.naturalSizeHeight = source.naturalSizeHeight;
    f.displaySizeWidth = source.displaySizeWidth;
    f.displaySizeHeight = source.displaySizeHeight;
    f.displayOriginX = source.displayOriginX;
    f.displayOriginY = source.displayOriginY;
    f.absolutePathToMediaItem = source.absolutePathToMediaItem;
    f.relativePathToMediaItem = source.relativePathToMediaItem;
    f.mediaItemUniqueID = source.mediaItemUniqueID;
    f.validationStatus = source.validationStatus;
    f.videoCodecDescription = source.videoCodecDescription;
    f.languagesDescription = source.languagesDescription;
    f.nodeName = source.nodeName;
    f.mediaItemStartTimeCode = source.mediaItemStartTimeCode;
    f.nodeUniqueID = source.nodeUniqueID;
  });
}

// ---- Fields and observation ----

PlaylistItemFields PlaylistItem::fields() const {
  std::lock_guard guard(lock_);
  return fields_;
}

void PlaylistItem::update(const std::function<void(PlaylistItemFields&)>& change) {
  // Rows being read or laid out have no observers yet: one check, not one per key.
  if (!observers_.hasObservers()) {
    std::lock_guard guard(lock_);
    change(fields_);
    return;
  }
  std::vector<const ObservedKey*> watched;
  for (const ObservedKey& key : kObservedKeys) {
    if (observers_.hasObserversForKey(key.name)) watched.push_back(&key);
  }
  std::vector<Value> before, after;
  {
    std::lock_guard guard(lock_);
    for (const ObservedKey* key : watched) before.push_back(key->value(fields_));
    change(fields_);
    for (const ObservedKey* key : watched) after.push_back(key->value(fields_));
  }
  // Observers run without the lock, so they may read or change the item.
  for (std::size_t i = 0; i < watched.size(); ++i) {
    observers_.didChangeValueForKey(watched[i]->name, before[i], after[i]);
  }
}

platform::ObservationToken PlaylistItem::observeKey(std::string key, platform::ObservableObject::KeyCallback callback) {
  return observers_.observeKey(std::move(key), std::move(callback));
}

std::vector<std::string> PlaylistItem::keyPathsForValuesAffectingValueForKey(std::string_view key) {
  if (key == "durationInSeconds") return kItemDurationKeyPaths;
  return {};
}

std::vector<std::string> PlaylistItem::keyPathsForValueAffectingItemDuration() const { return kItemDurationKeyPaths; }

// ---- Setters with side effects ----

void PlaylistItem::setAttributeValue(const std::string& name, platform::Value value) {
  update([&](Fields& f) {
    if (!f.attributes) f.attributes.emplace();
    if (value.isNone()) {
      f.attributes->erase(name);
    } else {
      (*f.attributes)[name] = std::move(value);
    }
  });
}

void PlaylistItem::setHasInPoint(bool hasInPoint) {
  if (!hasInPoint) setInPointInSeconds(kNoPoint);
}

void PlaylistItem::setHasOutPoint(bool hasOutPoint) {
  if (!hasOutPoint) setOutPointInSeconds(kNoPoint);
}

void PlaylistItem::setLastModificationDate(std::optional<platform::Date> date) {
  std::optional<std::string> text = date ? std::optional(dateToString(*date)) : std::nullopt;
  update([&](Fields& f) {
    f.lastModificationDate = date;
    f.lastModificationDateAsString = std::move(text);
  });
}

void PlaylistItem::setRelativeStartTime(double seconds) {
  update([&](Fields& f) {
    f.relativeStartTimeInSeconds = seconds;
    f.relativeStartTimeAsString = f.timeCodeFormatter().stringForObjectValue(seconds);
  });
}

void PlaylistItem::setObject(const platform::Value&, std::string_view) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "**** setObject:forKey called for PlaylistItem ****");
}

// ---- Derived values ----

std::string PlaylistItem::durationToDisplay() const {
  std::lock_guard guard(lock_);
  return fields_.timeCodeFormatter().stringForObjectValue(fields_.durationInSeconds());
}

bool PlaylistItem::chainsIntoNextItem(bool playlistChainMode) const {
  switch (clipEndBehaviour()) {
    case ClipEndBehaviour::Chain:
      return true;
    case ClipEndBehaviour::Normal:
    case ClipEndBehaviour::Absent:
      return playlistChainMode;
    default:
      return false;
  }
}

std::filesystem::path PlaylistItem::resolvedAbsolutePath(const platform::UserDefaults& defaults) const {
  const Fields f = fields();
  std::error_code error;
  if (!f.absolutePathToMediaItem.empty() && std::filesystem::exists(f.absolutePathToMediaItem, error)) {
    return f.absolutePathToMediaItem;
  }
  const std::vector<std::filesystem::path> candidates =
      MediaFolderLocalEquivalent::candidateLocalPaths(defaults, f.mediaFolderUniqueID, f.relativePathToMediaItem);
  for (const std::filesystem::path& candidate : candidates) {
    if (std::filesystem::exists(candidate, error)) return candidate;
  }
  return candidates.empty() ? std::filesystem::path(f.absolutePathToMediaItem) : candidates.back();
}

std::optional<std::filesystem::path> PlaylistItem::resolvedURL(const platform::UserDefaults& defaults) const {
  std::filesystem::path path = resolvedAbsolutePath(defaults);
  if (path.empty()) return std::nullopt;
  return path;
}

std::string PlaylistItem::dateToString(platform::Date date) {
  // One formatter for every call, made again only when the time zone changed.
  static std::mutex mutex;
  static std::optional<platform::DateFormatter> formatter;
  static MinuteText lastMinute;
  std::lock_guard guard(mutex);
  const std::string zone = platform::currentTimeZoneIdentifier();
  if (!formatter || formatter->timeZoneIdentifier() != zone) {
    auto made = platform::DateFormatter::create("yyyy-MM-dd HH:mm", "en_US_POSIX", zone);
    if (!made.ok()) {
      platform::reportDiagnostic(platform::DiagnosticLevel::Error, "PlaylistItem: " + made.error().describe());
      return "";
    }
    formatter.emplace(std::move(*made));
    lastMinute = {};
  }
  return lastMinute.text(date, [](platform::Date at) { return formatter->stringFromDate(at); });
}

std::string languagesDescriptionFromLanguages(const std::vector<std::string>& languages) {
  std::string text;
  for (const std::string& language : languages) text += language + "-";
  if (text.size() >= 3) text.pop_back();
  return text;
}

}  // namespace nodes
