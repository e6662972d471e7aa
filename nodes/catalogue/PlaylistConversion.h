#pragma once
// Playlist conversion: turns the clip entries of a playlist document into
// catalogue clips, converting entries of the older document layout first.
// Each entry is matched to the clip the catalogue holds for its file (or an
// offline record the catalogue makes), takes the entry's attributes and in
// and out points, and the clips met for the first time are handed back to
// the catalogue to be stored.
//
// Free functions on the caller's values, run on the main thread (the
// catalogue is reached through the interface below, which the caller owns).
//
// Guarantees: entries that are not dictionaries, lack a file path or have no
// clip are skipped and counted, never fatal; values of the wrong type in an
// entry are ignored rather than stored.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"
#include "platform/Value.h"

namespace nodes {

class ClipCatalogue;

// Keys of an older-layout entry.
inline constexpr const char* kOlderFilePathKey = "File Path";
inline constexpr const char* kOlderShouldOverlayLogoKey = "Should Overlay Logo";
inline constexpr const char* kOlderPlaybackModeKey = "Playback Mode";
inline constexpr const char* kOlderReverseFieldOrderKey = "Reverse Field Order";
inline constexpr const char* kOlderInPointKey = "In Point";
inline constexpr const char* kOlderOutPointKey = "Out Point";
inline constexpr const char* kOlderVolumeKey = "Volume";
// The "Playback Mode" of a looping clip.
inline constexpr std::int64_t kOlderPlaybackModeLoop = 4;

// Attributes the conversion writes, and their values.
inline constexpr const char* kOverlayLogoAttribute = "Overlay Logo";
inline constexpr const char* kReverseFieldOrderAttribute = "Reverse Field Order";
inline constexpr const char* kAudioVolumeAttribute = "Audio Volume";
inline constexpr const char* kAttributeValueNone = "None";
inline constexpr const char* kAttributeValueNormal = "Normal";
inline constexpr const char* kAttributeValueReversed = "Reversed";

// Document keys.
inline constexpr const char* kDocumentSettingsKey = "Document Settings";
inline constexpr const char* kDocumentPlaylistUniqueIDKey = "PlaylistUniqueID";
inline constexpr const char* kDocumentABRollKey = "ABRoll";
// printf-style key of entry i.
inline constexpr const char* kDocumentClipKeyFormat = "Clip %i";

// What the conversion needs of the clip catalogue.
class PlaylistConversionCatalogue {
 public:
  virtual ~PlaylistConversionCatalogue() = default;
  // The catalogue clip for a document entry, found or made offline; nullptr
  // when there is none.
  virtual std::shared_ptr<PlaylistItem> playlistItemWithNodeUniqueID(
      const std::string& nodeUniqueID, const std::string& absolutePath,
      const std::optional<std::string>& mediaItemUniqueID, const std::optional<std::string>& mediaFolderUniqueID) = 0;
  // Queues the clips to be added or updated.
  virtual void addOrUpdateClips(const std::vector<std::shared_ptr<PlaylistItem>>& clips) = 0;
};

// True when the document's "Document Settings" has neither
// "PlaylistUniqueID" nor "ABRoll" (or there are no settings).
bool isOlderPlaylistLayout(const platform::Dictionary& document);

// "Clip 0", "Clip 1", ...
std::string documentClipKey(int index);

// zrxlItemDictWithZRXVItemDict: an older-layout entry as a current entry.
platform::Dictionary zrxlItemDictWithZRXVItemDict(const platform::Dictionary& olderEntry);

// playlistItemsArrayFromDict:forNodeWithUniqueID: one item per usable entry,
// in document order. New catalogue clips are queued with addOrUpdateClips.
std::vector<std::shared_ptr<PlaylistItem>> playlistItemsArrayFromDict(const platform::Dictionary& document,
                                                                      const std::string& nodeUniqueID,
                                                                      PlaylistConversionCatalogue& catalogue);
// The same on the clip catalogue.
std::vector<std::shared_ptr<PlaylistItem>> playlistItemsArrayFromDict(const platform::Dictionary& document,
                                                                      const std::string& nodeUniqueID,
                                                                      ClipCatalogue& catalogue);

}  // namespace nodes
