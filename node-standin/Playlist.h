#pragma once
// Playlist: the node's entries and modes, and the rules that pick the entry
// that follows another. Both transports (the clock model and the engine's
// host answers) follow the same rules:
// - at the end of a clip: "Loop" plays it again; "Chain", or "Normal" (or
//   none) while chain mode is on and cue mode off, plays the next entry, the
//   first after the last in loop mode; anything else stops;
// - on a skip: the next entry, the first after the last in loop mode.
//
// A plain value; whoever holds it says which thread uses it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace standin {

enum class ClipEndBehaviour { Normal = 1, Chain = 2, Loop = 3, StopAtEnd = 4, HoldLastFrame = 5 };
// The behaviour named by a "Clip End Behaviour" value; unknown names are Normal.
ClipEndBehaviour clipEndBehaviourNamed(std::string_view name);

struct PlaylistEntry {
  std::string playbackUniqueID;
  double durationInSeconds = 0;  // playable length: out point minus in point
  ClipEndBehaviour endBehaviour = ClipEndBehaviour::Normal;
  platform::Dictionary clipInfo;  // what the node reports for this entry
};

struct Playlist {
  std::vector<PlaylistEntry> entries;
  std::string uniqueID;
  bool loopMode = false;
  bool chainMode = false;
  bool cueMode = false;

  std::optional<std::size_t> indexOf(std::string_view playbackUniqueID) const;
  // "Normal" plays on only while chaining.
  bool chains() const { return chainMode && !cueMode; }
  // The entry that plays when entry `index` ends; none: playback stops there.
  std::optional<std::size_t> entryAfterEnd(std::size_t index) const;
  // The entry a skip goes to from `current` (none: the first); none past the
  // last without loop mode.
  std::optional<std::size_t> entryAfterSkip(std::optional<std::size_t> current) const;
};

}  // namespace standin
