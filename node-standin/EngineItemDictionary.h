#pragma once
// The item dictionary the engine plays a playlist entry from: "itemURL" (the
// media file's path), "itemDisplayName", "playlistItemUniqueID" (the entry's
// playback unique ID), "itemInPoint"/"itemOutPoint" when the clip flags
// them, "itemStartPosition", "itemEndBehaviour" and "itemOutputVolume" (the
// "Audio Volume" attribute, when it holds a number).
//
// End behaviours: "Normal" 0, "Stop At End" 1, "Hold Last Frame" 2, "Chain"
// 3, "Loop" 4. "Normal" plays on only while the modes chain; otherwise the
// engine is given the stop it means, so a mode change reaches queued items as
// a change of end behaviour.
//
// Stateless functions; reentrant.

#include <cstdint>

#include "node-standin/Playlist.h"
#include "platform/Value.h"

namespace standin {

inline constexpr std::int64_t kEngineEndNormal = 0;
inline constexpr std::int64_t kEngineEndStop = 1;
inline constexpr std::int64_t kEngineEndHold = 2;
inline constexpr std::int64_t kEngineEndChain = 3;
inline constexpr std::int64_t kEngineEndLoop = 4;

std::int64_t engineEndBehaviour(const PlaylistEntry& entry, const Playlist& playlist);

platform::Dictionary engineItemForEntry(const PlaylistEntry& entry, const Playlist& playlist,
                                        double startPositionInSeconds);

// What of an entry the engine can change on an item it has queued: its end
// behaviour and, when flagged, its out point.
platform::Dictionary engineUpdatableAttributes(const PlaylistEntry& entry, const Playlist& playlist);

}  // namespace standin
