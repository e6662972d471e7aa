#pragma once
// The playlist file: an XML property list whose root dictionary holds
// "Document Settings" (the playlist's modes, nodes, start time and window
// frame) and one "Clip %i" entry per row, numbered from 0, each a playlist
// item's document dictionary (PlaylistItem::dictionary).
//
// Pure functions over bytes and values; any thread.
//
// Reading is careful with damaged files. It reads what is sound and lists
// the rest in `skipped`, one line for the operator each:
// - a file cut short (or with an entry the reader refuses) is salvaged entry
//   by entry (PropertyListSalvage.h);
// - every "Clip N" entry present is read, in numeric order, and a gap in the
//   numbering is named instead of ending the playlist there;
// - an entry that is not a dictionary is left out; values of the wrong type
//   or out of range inside an entry or the settings are refused (the field
//   keeps its default) and named;
// - entries of no known name are named, since a save would drop them.
// Two rows with the same playback unique ID would be one entry to a node:
// the later row gets a new one (a repair, listed in `repaired`).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

// The one document type playlist documents read and write.
inline constexpr const char* kVideoPlaylistDocumentType = "VideoPlaylistDocument";

namespace playlistfile {
inline constexpr const char* kDocumentSettingsKey = "Document Settings";
inline constexpr const char* kLoopKey = "Loop";
inline constexpr const char* kChainKey = "Chain";
inline constexpr const char* kCueKey = "Cue";
inline constexpr const char* kABRollKey = "ABRoll";
inline constexpr const char* kAbsoluteStartTimeKey = "absoluteStartTime";
inline constexpr const char* kWindowFrameOriginXKey = "WindowFrameOriginX";
inline constexpr const char* kWindowFrameOriginYKey = "WindowFrameOriginY";
inline constexpr const char* kWindowFrameSizeWidthKey = "WindowFrameSizeWidth";
inline constexpr const char* kWindowFrameSizeHeightKey = "WindowFrameSizeHeight";
inline constexpr const char* kNodeNameAKey = "NodeNameA";
inline constexpr const char* kNodeNameBKey = "NodeNameB";
inline constexpr const char* kNodeAUniqueIDKey = "NodeAUniqueID";
inline constexpr const char* kNodeBUniqueIDKey = "NodeBUniqueID";
inline constexpr const char* kPlaylistUniqueIDKey = "PlaylistUniqueID";
}  // namespace playlistfile

// Seconds in a day: start times are times of day.
inline constexpr double kSecondsPerDay = 86400.0;

// "Clip 0", "Clip 1", ...
std::string clipEntryKey(std::uint64_t index);
// The index of a "Clip %i" key as the writer forms it ("Clip 7"; not
// "Clip 07" or "Clip -1"); none for any other key.
std::optional<std::uint64_t> clipEntryIndex(std::string_view key);

// A window frame in screen points.
struct WindowFrame {
  double originX = 0.0;
  double originY = 0.0;
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const WindowFrame&, const WindowFrame&) = default;
};

// The "Document Settings" dictionary; none for a key that is absent. The
// writer writes the keys that are present (the document fills every key it
// always writes).
struct PlaylistDocumentSettings {
  std::optional<bool> loop;
  std::optional<bool> chain;
  std::optional<bool> cueMode;
  std::optional<bool> abRoll;
  std::optional<double> absoluteStartTime;
  std::optional<WindowFrame> windowFrame;  // only when all four keys are there
  std::optional<std::string> nodeAName;
  std::optional<std::string> nodeBName;
  std::optional<std::string> nodeAUniqueID;
  std::optional<std::string> nodeBUniqueID;
  std::optional<std::string> playlistUniqueID;

  // The frame is written as four single-precision numbers, as it always was.
  platform::Dictionary dictionary() const;
};

// What a playlist file holds, as far as it is sound.
struct PlaylistFileContents {
  PlaylistDocumentSettings settings;
  // The rows, in numeric order of their "Clip N" keys (none for a legacy file).
  std::vector<std::shared_ptr<PlaylistItem>> items;
  // A legacy playlist (sound settings with neither "PlaylistUniqueID" nor
  // "ABRoll", or no settings at all in a whole file) keeps its rows in a form
  // only the clip catalogue converts; it gets the whole root.
  bool isLegacy = false;
  platform::Dictionary legacyRoot;
  std::vector<std::string> skipped;   // what was left out or refused
  std::vector<std::string> repaired;  // what was changed to keep the playlist sound

  bool hasLosses() const { return !skipped.empty(); }
};

// Fails only when nothing of a playlist can be read (not a property list and
// nothing salvageable, or a root that is not a dictionary).
platform::Result<PlaylistFileContents> readPlaylistFile(std::string_view data);

// The root dictionary of a file, and its XML bytes.
platform::Dictionary playlistFileRoot(const PlaylistDocumentSettings& settings,
                                      const std::vector<std::shared_ptr<PlaylistItem>>& items);
platform::Result<std::string> writePlaylistFile(const PlaylistDocumentSettings& settings,
                                                const std::vector<std::shared_ptr<PlaylistItem>>& items);

}  // namespace nodes
