#include "node-standin/Playlist.h"

namespace standin {

ClipEndBehaviour clipEndBehaviourNamed(std::string_view name) {
  if (name == "Chain") return ClipEndBehaviour::Chain;
  if (name == "Loop") return ClipEndBehaviour::Loop;
  if (name == "Stop At End") return ClipEndBehaviour::StopAtEnd;
  if (name == "Hold Last Frame") return ClipEndBehaviour::HoldLastFrame;
  return ClipEndBehaviour::Normal;
}

std::optional<std::size_t> Playlist::indexOf(std::string_view playbackUniqueID) const {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].playbackUniqueID == playbackUniqueID) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> Playlist::entryAfterEnd(std::size_t index) const {
  switch (entries[index].endBehaviour) {
    case ClipEndBehaviour::Loop:
      return index;
    case ClipEndBehaviour::StopAtEnd:
    case ClipEndBehaviour::HoldLastFrame:
      return std::nullopt;
    case ClipEndBehaviour::Normal:
      if (!chains()) return std::nullopt;
      [[fallthrough]];
    case ClipEndBehaviour::Chain:
      return entryAfterSkip(index);
  }
  return std::nullopt;
}

std::optional<std::size_t> Playlist::entryAfterSkip(std::optional<std::size_t> current) const {
  if (entries.empty()) return std::nullopt;
  if (!current) return 0;
  if (*current + 1 < entries.size()) return *current + 1;
  if (loopMode) return 0;
  return std::nullopt;
}

}  // namespace standin
