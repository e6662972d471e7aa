#pragma once
// PlaylistItem: the record of one clip, one media file on one node with its
// in and out points, display rectangle, clip attribute values, metadata and
// the bookkeeping playback needs. It is a row of a playlist document, a clip
// of the local catalogue and the source of the clip dictionaries sent to
// nodes. Its four encodings (document and node dictionaries, keyed archive,
// catalogue records) are in PlaylistItemEncodings.cpp.
//
// Shared through std::shared_ptr; windows use items on the main thread. Any
// thread may read or write: every field is guarded by the item's lock, each
// read or write is whole, and update() changes several fields as one step.
//
// Observation: observeKey(name) tells of changes of the named property, after
// the lock is released. Every property-list field is observable by its name
// ("inPointInSeconds", "audioVolume", ...), and so are the derived
// "durationInSeconds" (which follows the in and out points and the media
// duration), "hasInPoint", "hasOutPoint", "finalInPointInSeconds" and
// "finalOutPointInSeconds". The thumbnail and the metadata are not observed.
// "isLocked" and "validationErrorReason" are fixed answers and never change.
//
// Guarantees: a copy shares nothing with its source (attributes included);
// readers of dictionaries, archives and records store only values of each
// field's own type and range, and report the keys they refused.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nodes/playlist/CVNTimeFormatter.h"
#include "nodes/media/MediaItem.h"
#include "nodes/media/Metadata.h"
#include "nodes/media/TiffImage.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Observable.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace nodes {

namespace detail {
class DictionaryLookupMemo;
}  // namespace detail

// The attribute that holds a clip's end behaviour, and the values acted on.
inline constexpr const char* kClipEndBehaviourAttribute = "Clip End Behaviour";
inline constexpr const char* kClipEndBehaviourNormal = "Normal";
inline constexpr const char* kClipEndBehaviourChain = "Chain";
inline constexpr const char* kClipEndBehaviourLoop = "Loop";
inline constexpr const char* kClipEndBehaviourStopAtEnd = "Stop At End";
inline constexpr const char* kClipEndBehaviourHoldLastFrame = "Hold Last Frame";

enum class ClipEndBehaviour { Absent, Normal, Chain, Loop, StopAtEnd, HoldLastFrame, Other };

// A/B roll assignment of a row.
enum class ABRollClipPosition : std::int32_t { None = 0, NodeA = 1, NodeB = 2 };

// What the clip preview builds for the item.
enum class ClipItemType : std::int32_t { Movie = 1, StillImage = 2 };

// Row playback status numbers (the windows set them).
inline constexpr std::int32_t kPlaybackStatusStopped = 0;
inline constexpr std::int32_t kPlaybackStatusPaused = 1;
inline constexpr std::int32_t kPlaybackStatusCued = 2;
inline constexpr std::int32_t kPlaybackStatusPlaying = 3;
inline constexpr std::int32_t kPlaybackStatusEndedOrWaiting = 6;

// An in or out point of this value means "none".
inline constexpr double kNoPoint = -1.0;
// What mediaItemStartTimeCode() answers when the item has none.
inline constexpr const char* kUnsetStartTimeCode = "00:00:00;00";

// Every stored field of an item, in declaration order, with the values of a
// new item (the unique IDs are filled by the item's constructor). None
// (nullopt) and empty are kept apart where the item keeps them apart.
struct PlaylistItemFields {
  std::optional<platform::Dictionary> attributes = platform::Dictionary{};  // attribute name -> value
  std::optional<std::string> mediaItemUniqueID;
  std::shared_ptr<const RGBAImage> thumbnail;
  double inPointInSeconds = kNoPoint;
  double outPointInSeconds = kNoPoint;
  bool online = false;
  bool locked = false;  // the node reports the entry locked
  double audioVolume = 1.0;
  std::string nodeName;
  std::string nodeUniqueID;
  std::optional<std::string> playbackNodeName;
  std::int32_t playbackStatus = kPlaybackStatusStopped;
  std::string displayName;
  std::string absolutePathToMediaItem;
  std::string relativePathToMediaItem;
  double framesPerSecond = 0.0;
  bool dropFrame = false;
  std::optional<platform::Date> creationDate;
  std::optional<platform::Date> lastModificationDate;
  std::optional<std::string> lastModificationDateAsString;
  double mediaItemDurationInSeconds = 0.0;
  std::int64_t finderLabelIndex = 0;
  std::string finderLabelName;
  double blockDurationInSeconds = 0.0;
  double relativeStartTimeInSeconds = 0.0;
  std::optional<std::string> relativeStartTimeAsString;
  std::optional<std::string> mediaItemStartTimeCode = std::string("00:00:00:00");
  std::optional<std::string> uniqueID;
  std::optional<std::string> playbackUniqueID;
  std::int32_t invalidReason = -1;
  std::vector<std::string> languages;
  std::string mediaFolderPath;
  std::string mediaFolderUniqueID;
  std::string videoCodecDescription;
  std::string languagesDescription;
  float displayOriginX = 0;
  float displayOriginY = 0;
  float displaySizeHeight = 0;
  float displaySizeWidth = 0;
  float naturalSizeHeight = 0;
  float naturalSizeWidth = 0;
  ABRollClipPosition abRollClipPosition = ABRollClipPosition::None;
  std::int32_t validationStatus = 0;
  bool resized = false;  // set by the resize inspector; read by nothing
  std::vector<Metadata> metadataArray;

  // Derived values.
  bool hasInPoint() const { return inPointInSeconds != kNoPoint; }
  bool hasOutPoint() const { return outPointInSeconds != kNoPoint; }
  // (out point, or the media duration) - (in point, or nothing); unclamped.
  double durationInSeconds() const;
  // The in point when it lies in [0, media duration), else 0.0.
  double finalInPointInSeconds() const;
  // The out point when it lies in (0, media duration), else the media duration.
  double finalOutPointInSeconds() const;
  // Where a row's thumbnail is taken: the middle of what it plays. Requests
  // and replies are matched by it.
  double thumbnailPositionInSeconds() const {
    return (hasInPoint() ? inPointInSeconds : 0.0) + durationInSeconds() / 2.0;
  }
  bool isResized() const;
  bool resizeIsEffective() const { return displaySizeWidth != 0 && displaySizeHeight != 0; }
  ClipItemType itemType() const;
  std::string mediaItemStartTimeCodeOrUnset() const { return mediaItemStartTimeCode.value_or(kUnsetStartTimeCode); }
  ClipEndBehaviour clipEndBehaviour() const;
  // Format 3 at the item's rate and drop-frame setting.
  CVNTimeFormatter timeCodeFormatter() const;

  friend bool operator==(const PlaylistItemFields&, const PlaylistItemFields&) = default;
};

class PlaylistItem final : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "PlaylistItem";

  // init: the defaults of PlaylistItemFields with new unique IDs.
  PlaylistItem();
  // An item holding exactly `fields` (no new unique IDs).
  explicit PlaylistItem(PlaylistItemFields fields);
  PlaylistItem(const PlaylistItem&) = delete;
  PlaylistItem& operator=(const PlaylistItem&) = delete;

  // initWithMediaItem: the media item's file, node and timing fields, the
  // display size set to the natural size, new unique IDs; nullptr for none.
  static std::shared_ptr<PlaylistItem> initWithMediaItem(const std::shared_ptr<const MediaItem>& mediaItem);

  // copy / mutableCopy: the same clip as a new playlist entry: a new
  // playbackUniqueID; unlocked, status 0, no A/B position, start time 0.0
  // with no text, no thumbnail, metadata or resized mark. Shares nothing.
  std::shared_ptr<PlaylistItem> copy() const;
  std::shared_ptr<PlaylistItem> mutableCopy() const { return copy(); }

  // Takes over the file and catalogue fields of `clip`; keeps this entry's
  // identity, attributes, lock, A/B position, status, thumbnail, metadata.
  void updateWithClip(const PlaylistItem& clip);

  // The whole item at one moment, and a change of several fields at once
  // (observers hear of each changed property after the change).
  PlaylistItemFields fields() const;
  void update(const std::function<void(PlaylistItemFields&)>& change);

  platform::ObservationToken observeKey(std::string key, platform::ObservableObject::KeyCallback callback);
  // "durationInSeconds" depends on these three; other keys depend on nothing.
  static std::vector<std::string> keyPathsForValuesAffectingValueForKey(std::string_view key);
  std::vector<std::string> keyPathsForValueAffectingItemDuration() const;

  // Accessors of every field.
  std::optional<platform::Dictionary> attributes() const { return get(&PlaylistItemFields::attributes); }
  void setAttributes(std::optional<platform::Dictionary> v) { set(&PlaylistItemFields::attributes, std::move(v)); }
  // One attribute value; none removes it. Creates the dictionary when none.
  void setAttributeValue(const std::string& name, platform::Value value);
  std::optional<std::string> mediaItemUniqueID() const { return get(&PlaylistItemFields::mediaItemUniqueID); }
  void setMediaItemUniqueID(std::optional<std::string> v) { set(&PlaylistItemFields::mediaItemUniqueID, std::move(v)); }
  std::shared_ptr<const RGBAImage> thumbnail() const { return get(&PlaylistItemFields::thumbnail); }
  void setThumbnail(std::shared_ptr<const RGBAImage> v) { set(&PlaylistItemFields::thumbnail, std::move(v)); }
  double inPointInSeconds() const { return get(&PlaylistItemFields::inPointInSeconds); }
  void setInPointInSeconds(double v) { set(&PlaylistItemFields::inPointInSeconds, v); }
  double outPointInSeconds() const { return get(&PlaylistItemFields::outPointInSeconds); }
  void setOutPointInSeconds(double v) { set(&PlaylistItemFields::outPointInSeconds, v); }
  bool hasInPoint() const { return read(&PlaylistItemFields::hasInPoint); }
  // false clears the in point; true does nothing (set the seconds instead).
  void setHasInPoint(bool hasInPoint);
  bool hasOutPoint() const { return read(&PlaylistItemFields::hasOutPoint); }
  void setHasOutPoint(bool hasOutPoint);
  bool online() const { return get(&PlaylistItemFields::online); }
  void setOnline(bool v) { set(&PlaylistItemFields::online, v); }
  bool locked() const { return get(&PlaylistItemFields::locked); }
  void setLocked(bool v) { set(&PlaylistItemFields::locked, v); }
  double audioVolume() const { return get(&PlaylistItemFields::audioVolume); }
  void setAudioVolume(double v) { set(&PlaylistItemFields::audioVolume, v); }
  std::string nodeName() const { return get(&PlaylistItemFields::nodeName); }
  void setNodeName(std::string v) { set(&PlaylistItemFields::nodeName, std::move(v)); }
  std::string nodeUniqueID() const { return get(&PlaylistItemFields::nodeUniqueID); }
  void setNodeUniqueID(std::string v) { set(&PlaylistItemFields::nodeUniqueID, std::move(v)); }
  std::optional<std::string> playbackNodeName() const { return get(&PlaylistItemFields::playbackNodeName); }
  void setPlaybackNodeName(std::optional<std::string> v) { set(&PlaylistItemFields::playbackNodeName, std::move(v)); }
  std::int32_t playbackStatus() const { return get(&PlaylistItemFields::playbackStatus); }
  void setPlaybackStatus(std::int32_t v) { set(&PlaylistItemFields::playbackStatus, v); }
  std::string displayName() const { return get(&PlaylistItemFields::displayName); }
  void setDisplayName(std::string v) { set(&PlaylistItemFields::displayName, std::move(v)); }
  std::string absolutePathToMediaItem() const { return get(&PlaylistItemFields::absolutePathToMediaItem); }
  void setAbsolutePathToMediaItem(std::string v) { set(&PlaylistItemFields::absolutePathToMediaItem, std::move(v)); }
  std::string relativePathToMediaItem() const { return get(&PlaylistItemFields::relativePathToMediaItem); }
  void setRelativePathToMediaItem(std::string v) { set(&PlaylistItemFields::relativePathToMediaItem, std::move(v)); }
  double framesPerSecond() const { return get(&PlaylistItemFields::framesPerSecond); }
  // The formatter follows the rate and the drop-frame flag at once.
  void setFramesPerSecond(double v) { set(&PlaylistItemFields::framesPerSecond, v); }
  bool dropFrame() const { return get(&PlaylistItemFields::dropFrame); }
  void setDropFrame(bool v) { set(&PlaylistItemFields::dropFrame, v); }
  std::optional<platform::Date> creationDate() const { return get(&PlaylistItemFields::creationDate); }
  void setCreationDate(std::optional<platform::Date> v) { set(&PlaylistItemFields::creationDate, v); }
  std::optional<platform::Date> lastModificationDate() const { return get(&PlaylistItemFields::lastModificationDate); }
  // Also sets lastModificationDateAsString (dateToString; none for none).
  void setLastModificationDate(std::optional<platform::Date> date);
  std::optional<std::string> lastModificationDateAsString() const {
    return get(&PlaylistItemFields::lastModificationDateAsString);
  }
  double mediaItemDurationInSeconds() const { return get(&PlaylistItemFields::mediaItemDurationInSeconds); }
  void setMediaItemDurationInSeconds(double v) { set(&PlaylistItemFields::mediaItemDurationInSeconds, v); }
  std::int64_t finderLabelIndex() const { return get(&PlaylistItemFields::finderLabelIndex); }
  void setFinderLabelIndex(std::int64_t v) { set(&PlaylistItemFields::finderLabelIndex, v); }
  std::string finderLabelName() const { return get(&PlaylistItemFields::finderLabelName); }
  // None stores "".
  void setFinderLabelName(std::optional<std::string> v) {
    set(&PlaylistItemFields::finderLabelName, std::move(v).value_or(""));
  }
  double blockDurationInSeconds() const { return get(&PlaylistItemFields::blockDurationInSeconds); }
  void setBlockDurationInSeconds(double v) { set(&PlaylistItemFields::blockDurationInSeconds, v); }
  double relativeStartTimeInSeconds() const { return get(&PlaylistItemFields::relativeStartTimeInSeconds); }
  void setRelativeStartTimeInSeconds(double v) { set(&PlaylistItemFields::relativeStartTimeInSeconds, v); }
  std::optional<std::string> relativeStartTimeAsString() const {
    return get(&PlaylistItemFields::relativeStartTimeAsString);
  }
  void setRelativeStartTimeAsString(std::optional<std::string> v) {
    set(&PlaylistItemFields::relativeStartTimeAsString, std::move(v));
  }
  // Sets the start time and its text (the formatter's text of `seconds`).
  void setRelativeStartTime(double seconds);
  // "00:00:00;00" when the item has none.
  std::string mediaItemStartTimeCode() const { return read(&PlaylistItemFields::mediaItemStartTimeCodeOrUnset); }
  void setMediaItemStartTimeCode(std::optional<std::string> v) {
    set(&PlaylistItemFields::mediaItemStartTimeCode, std::move(v));
  }
  std::optional<std::string> uniqueID() const { return get(&PlaylistItemFields::uniqueID); }
  void setUniqueID(std::optional<std::string> v) { set(&PlaylistItemFields::uniqueID, std::move(v)); }
  std::optional<std::string> playbackUniqueID() const { return get(&PlaylistItemFields::playbackUniqueID); }
  void setPlaybackUniqueID(std::optional<std::string> v) { set(&PlaylistItemFields::playbackUniqueID, std::move(v)); }
  std::int32_t invalidReason() const { return get(&PlaylistItemFields::invalidReason); }
  void setInvalidReason(std::int32_t v) { set(&PlaylistItemFields::invalidReason, v); }
  std::vector<std::string> languages() const { return get(&PlaylistItemFields::languages); }
  void setLanguages(std::vector<std::string> v) { set(&PlaylistItemFields::languages, std::move(v)); }
  std::string mediaFolderPath() const { return get(&PlaylistItemFields::mediaFolderPath); }
  void setMediaFolderPath(std::string v) { set(&PlaylistItemFields::mediaFolderPath, std::move(v)); }
  std::string mediaFolderUniqueID() const { return get(&PlaylistItemFields::mediaFolderUniqueID); }
  void setMediaFolderUniqueID(std::string v) { set(&PlaylistItemFields::mediaFolderUniqueID, std::move(v)); }
  std::string videoCodecDescription() const { return get(&PlaylistItemFields::videoCodecDescription); }
  void setVideoCodecDescription(std::string v) { set(&PlaylistItemFields::videoCodecDescription, std::move(v)); }
  std::string languagesDescription() const { return get(&PlaylistItemFields::languagesDescription); }
  void setLanguagesDescription(std::string v) { set(&PlaylistItemFields::languagesDescription, std::move(v)); }
  float displayOriginX() const { return get(&PlaylistItemFields::displayOriginX); }
  void setDisplayOriginX(float v) { set(&PlaylistItemFields::displayOriginX, v); }
  float displayOriginY() const { return get(&PlaylistItemFields::displayOriginY); }
  void setDisplayOriginY(float v) { set(&PlaylistItemFields::displayOriginY, v); }
  float displaySizeHeight() const { return get(&PlaylistItemFields::displaySizeHeight); }
  void setDisplaySizeHeight(float v) { set(&PlaylistItemFields::displaySizeHeight, v); }
  float displaySizeWidth() const { return get(&PlaylistItemFields::displaySizeWidth); }
  void setDisplaySizeWidth(float v) { set(&PlaylistItemFields::displaySizeWidth, v); }
  float naturalSizeHeight() const { return get(&PlaylistItemFields::naturalSizeHeight); }
  void setNaturalSizeHeight(float v) { set(&PlaylistItemFields::naturalSizeHeight, v); }
  float naturalSizeWidth() const { return get(&PlaylistItemFields::naturalSizeWidth); }
  void setNaturalSizeWidth(float v) { set(&PlaylistItemFields::naturalSizeWidth, v); }
  ABRollClipPosition abRollClipPosition() const { return get(&PlaylistItemFields::abRollClipPosition); }
  void setAbRollClipPosition(ABRollClipPosition v) { set(&PlaylistItemFields::abRollClipPosition, v); }
  std::int32_t validationStatus() const { return get(&PlaylistItemFields::validationStatus); }
  void setValidationStatus(std::int32_t v) { set(&PlaylistItemFields::validationStatus, v); }
  bool resized() const { return get(&PlaylistItemFields::resized); }
  void setResized(bool v) { set(&PlaylistItemFields::resized, v); }
  std::vector<Metadata> metadataArray() const { return get(&PlaylistItemFields::metadataArray); }
  void setMetadataArray(std::vector<Metadata> v) { set(&PlaylistItemFields::metadataArray, std::move(v)); }
  CVNTimeFormatter timeCodeFormatter() const { return read(&PlaylistItemFields::timeCodeFormatter); }

  // Key-value setting by name is not supported: stores nothing and reports it.
  void setObject(const platform::Value& object, std::string_view key);

  // Derived values.
  double durationInSeconds() const { return read(&PlaylistItemFields::durationInSeconds); }
  double realDurationInSeconds() const { return durationInSeconds(); }
  double theoriticalDurationInSeconds() const { return durationInSeconds(); }
  // The formatter's text of durationInSeconds.
  std::string durationToDisplay() const;
  std::string durationAsString() const { return durationToDisplay(); }
  double finalInPointInSeconds() const { return read(&PlaylistItemFields::finalInPointInSeconds); }
  double finalOutPointInSeconds() const { return read(&PlaylistItemFields::finalOutPointInSeconds); }
  bool isResized() const { return read(&PlaylistItemFields::isResized); }
  bool resizeIsEffective() const { return read(&PlaylistItemFields::resizeIsEffective); }
  ClipItemType itemType() const { return read(&PlaylistItemFields::itemType); }
  // The end behaviour attribute, and whether the row runs on into the next:
  // "Chain" always, "Normal" or no end behaviour in a playlist in chain mode.
  ClipEndBehaviour clipEndBehaviour() const { return read(&PlaylistItemFields::clipEndBehaviour); }
  bool chainsIntoNextItem(bool playlistChainMode) const;

  // A path on this computer for the media file: the absolute path when a file
  // is there; else the first local-equivalent candidate (user default
  // "MediaFoldersLocalEquivalentPaths") where a file is; else the last
  // candidate, or the absolute path when no entry matched.
  std::filesystem::path resolvedAbsolutePath(const platform::UserDefaults& defaults) const;
  std::filesystem::path resolvedAbsolutePath() const {
    return resolvedAbsolutePath(platform::UserDefaults::standard());
  }
  // The resolved path as the preview's media location; none when empty.
  std::optional<std::filesystem::path> resolvedURL(const platform::UserDefaults& defaults) const;

  // Fixed answers of the clip preview's item interface: a playlist item is
  // never live or remote and carries no mix points or overridden points.
  bool zira() const { return false; }
  void setZira(bool) {}
  bool isRemote() const { return false; }
  bool isLocked() const { return false; }  // whatever locked() holds
  bool hasOverridenInOutPoint() const { return false; }
  double overridenInPointInSeconds() const { return kNoPoint; }
  double overridenOutPointInSeconds() const { return kNoPoint; }
  bool hasNextItemMixPoint() const { return false; }
  bool hasPreviousItemMixPoint() const { return false; }
  double nextItemMixPointInSeconds() const { return 0.0; }
  double previousItemMixPointInSeconds() const { return 0.0; }
  void setNextItemMixPointInSeconds(double) {}
  void setPreviousItemMixPointInSeconds(double) {}
  void clearNextItemMixPoint() {}
  void clearPreviousItemMixPoint() {}
  std::string ziraSourceName() const { return ""; }
  std::optional<std::string> validationErrorReason() const { return std::nullopt; }
  platform::Value objectSpecifier() const { return {}; }
  platform::Value handleStartPlayback(const platform::Value&) { return {}; }

  // Local "year-month-day hour:minute" (2015-06-30 14:05) in the current time
  // zone; also the catalogue's stored date strings.
  static std::string dateToString(platform::Date date);

  // ---- Encodings (PlaylistItemEncodings.cpp) ----

  // One "Clip %i" entry of a playlist document. Values the item does not
  // have (no attributes, thumbnail, media item ID, dates, unique IDs) are
  // left out, never written as empty stand-ins.
  platform::Dictionary dictionary() const;
  // The fifteen keys sent to a node, in the order nodes expect them; gives
  // the item a new uniqueID first when it has none (or an empty one).
  std::vector<std::pair<std::string, platform::Value>> orderedDictionaryForNode();
  platform::Dictionary dictionaryForNode();
  static const std::vector<std::string>& nodeDictionaryKeys();

  // From a document entry or a node clip dictionary. Missing keys give the
  // zero values (volume 1.0, no attributes, no in or out point, unset start
  // timecode); a missing or empty playback unique ID gets a new one. Keys of
  // the wrong type or out of range are ignored, reported as a diagnostic and,
  // when `problems` is given, stored there.
  static std::shared_ptr<PlaylistItem> initWithDictionary(const platform::Dictionary& dictionary,
                                                          platform::Status* problems = nullptr);
  // The same from a document entry's (key, value) pairs in strictly
  // ascending key order, as a reader that builds no dictionary has them;
  // `memo` (not owned) carries where the previous row's keys were found.
  static std::shared_ptr<PlaylistItem> initWithSortedEntries(
      const std::vector<std::pair<std::string_view, const platform::Value*>>& entries,
      platform::Status* problems = nullptr, detail::DictionaryLookupMemo* memo = nullptr);

  // Keyed archiving (the pasteboard form): every document key plus the
  // metadata as Metadata objects.
  std::string className() const override { return kClassName; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  // initWithCoder: volume 1.0; missing keys as initWithDictionary; a key of
  // the wrong type or out of range refuses the archive.
  static platform::Result<std::shared_ptr<platform::Archivable>> decode(const platform::KeyedArchiveDecoder& decoder);
  // Registers PlaylistItem and Metadata.
  static void registerArchiveClass(platform::KeyedArchiveRegistry& registry = platform::KeyedArchiveRegistry::shared());

  // Catalogue records as dictionaries keyed by the record's attribute names.
  // Writes the catalogue keys; unset strings as "", an unset date removes
  // its key (no value of another type is ever written).
  void fillCoreDataClipEntity(platform::Dictionary& clip) const;
  // "attributeName" and "attributeValue" (removed when the item has no value).
  void fillCoreDataAttributeEntity(platform::Dictionary& record, const std::string& attributeName) const;
  // Like init, then the record's keys; the record's uniqueID (a new one when
  // it has none) and always a new playbackUniqueID.
  static std::shared_ptr<PlaylistItem> initWithCoreDataEntity(const platform::Dictionary& clip,
                                                              platform::Status* problems = nullptr);
  // The record's keys into this item; identity, attributes, metadata and
  // playlist state stay. Missing keys keep the item's values.
  void updateWithCoreDataEntity(const platform::Dictionary& clip, platform::Status* problems = nullptr);

 private:
  template <typename T>
  T get(T PlaylistItemFields::*field) const {
    std::lock_guard guard(lock_);
    return fields_.*field;
  }
  template <typename R>
  R read(R (PlaylistItemFields::*derived)() const) const {
    std::lock_guard guard(lock_);
    return (fields_.*derived)();
  }
  template <typename T, typename V>
  void set(T PlaylistItemFields::*field, V&& value) {
    update([&](PlaylistItemFields& fields) { fields.*field = std::forward<V>(value); });
  }

  mutable std::mutex lock_;
  PlaylistItemFields fields_;  // guarded by lock_
  platform::ObservableObject observers_;
};

// Languages joined by "-": each followed by "-", then the last character
// dropped when the text has 3 or more ("en-fr", "en", "" and, for a single
// one-letter language, "e-").
std::string languagesDescriptionFromLanguages(const std::vector<std::string>& languages);

}  // namespace nodes
