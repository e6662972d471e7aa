#pragma once
// The pasteboard form of playlist rows (type "PlaylistItemsDragInfoType"): a
// keyed archive of an array of PlaylistItem copies, each with a fresh playback
// unique ID. Written by playlist windows and the media browser when rows are
// copied or dragged, read by playlist windows when they are pasted or dropped.
//
// Stateless free functions; any thread.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"

namespace nodes {

inline constexpr const char* kPlaylistItemsDragInfoType = "PlaylistItemsDragInfoType";
// Class name of the archived array and the key of its items.
inline constexpr const char* kPlaylistItemArrayClassName = "PlaylistItemArray";
inline constexpr const char* kPlaylistItemArrayItemsKey = "items";

// Archive bytes of copies of `items` (null entries are skipped).
platform::Result<std::string> archivedPlaylistItems(const std::vector<std::shared_ptr<PlaylistItem>>& items);
// The items of such an archive; an archive of anything else, or with a bad
// item, is refused. Registers the classes it needs in `registry`.
platform::Result<std::vector<std::shared_ptr<PlaylistItem>>> unarchivePlaylistItems(
    std::string_view bytes, platform::KeyedArchiveRegistry& registry = platform::KeyedArchiveRegistry::shared());

}  // namespace nodes
