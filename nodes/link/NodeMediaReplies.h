#pragma once
// Readers of the replies a node gives to the media and attribute commands
// ("fm..." and "at..."), used by the media synchronisation. A node's replies
// are never trusted: every reader checks types, refuses what does not fit and
// writes one log line per thing it skips, so a bad reply can cost an entry,
// never a crash or a wrong command.
//
// Pure functions; any thread.
//
// Leniencies and limits:
// - a change number is decimal digits only (surrounding blanks already
//   trimmed by the link), no sign, at most the caller's maximum;
// - IDs that go back to the node as one word of a command must be non-empty,
//   at most kMaxNodeWordLength bytes, with no blank or control character (an
//   ID holding a line end would smuggle a second command onto the link);
//   attribute names, which end a command line, may hold blanks but no
//   control character;
// - missing keys of an info dictionary keep the object's values; keys of the
//   wrong type or out of range keep them too and are named in the error.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/media/Attribute.h"
#include "nodes/media/MediaItem.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes::detail {

inline constexpr std::size_t kMaxNodeWordLength = 1024;

// Change types of "fmmediaitemschangessince" and "atattributechangessince".
inline constexpr const char* kMediaItemChangeTypeAdded = "mediaItemChangeTypeAdded";
inline constexpr const char* kMediaItemChangeTypeBecameValid = "mediaItemChangeTypeBecameValid";
inline constexpr const char* kMediaItemChangeTypeBecameInvalid = "mediaItemChangeTypeBecameInvalid";
inline constexpr const char* kMediaItemChangeTypeDeleted = "mediaItemChangeTypeDeleted";
inline constexpr const char* kAttributeChangeTypeDeleted = "attributeChangeTypeDeleted";
inline constexpr const char* kAttributeChangeTypeChanged = "attributeChangeTypeChanged";

// Writes one line to the system log (the platform diagnostics).
void logNodeReplyProblem(const std::string& line);
// `text` cut to a readable length, control characters shown as \xNN.
std::string escapedForLog(std::string_view text);

// A text that can go into a node command as one word.
bool isNodeCommandWord(std::string_view text);
// A text that can end a node command line (blanks allowed).
bool isNodeCommandText(std::string_view text);

// The change number of a plain reply; none when the reply is not a decimal
// number of at most `max`.
std::optional<std::uint64_t> readChangeNumber(std::string_view reply, std::uint64_t max);

// The strings of an array reply that `accept` lets through, first
// occurrence only; every other element is skipped with a log line naming
// `what`. None (and a log line) when the reply is not an array.
std::optional<std::vector<std::string>> readNameList(const platform::Value& reply, std::string_view what,
                                                     bool (*accept)(std::string_view));

struct NodeMediaItemChange {
  std::string changeType;
  std::string mediaItemUniqueID;
};
// The entries that are dictionaries with a string "changeType" and a
// "mediaItemUniqueID" usable as a command word, in order; the others are
// skipped with a log line naming `what`.
std::vector<NodeMediaItemChange> readMediaItemChanges(const platform::Array& changes, std::string_view what);

struct NodeAttributeChange {
  std::string changeType;
  std::string attributeName;
  platform::Dictionary dictionary;  // the whole change dictionary as the node sent it
};
// The entries that are dictionaries with a string "changeType" and an
// "attributeName" usable as command text; the others are skipped with a log
// line.
std::vector<NodeAttributeChange> readAttributeChanges(const platform::Array& changes, std::string_view what);

// Fills a media item from its "fmmediaiteminfo" dictionary in one step:
// paths, date, languages, names, validation, timing, codec, label, picture
// size, start timecode, folder path and metadata; node name and node unique
// ID from the arguments; initialized set. Its unique ID, folder unique ID and
// online flag are not taken from the node.
platform::Status fillMediaItemFromNodeInfo(MediaItem& item, const platform::Dictionary& info,
                                           const std::string& nodeName, const std::string& nodeUniqueID);

// Fills an attribute from its "atattributeinfo" dictionary in one step:
// plug-in, display name, default value, type, writable when its direction is
// "Output", and its possible values only for the type "MultipleValues". The
// name stays the one asked for.
platform::Status fillAttributeFromNodeInfo(Attribute& attribute, const platform::Dictionary& info);

}  // namespace nodes::detail
