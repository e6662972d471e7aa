#include "node-standin/EngineItemDictionary.h"

#include <cmath>
#include <cstdlib>

namespace standin {
namespace {

using platform::Value;

// "Audio Volume" travels as text ("0.8") or as a number.
std::optional<double> volumeOf(const Value& value) {
  if (value.isNumber()) return value.realOr(1.0);
  if (!value.isString()) return std::nullopt;
  const std::string text = value.stringOr("");
  char* end = nullptr;
  const double volume = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(volume)) return std::nullopt;
  return volume;
}

void addPoint(const PlaylistEntry& entry, const char* flag, const char* seconds, const char* key,
              platform::Dictionary& item) {
  const Value info(entry.clipInfo);
  if (!info[flag].booleanOr(false)) return;
  const double value = info[seconds].realOr(0);
  if (std::isfinite(value) && value >= 0) item[key] = Value(value);
}

}  // namespace

std::int64_t engineEndBehaviour(const PlaylistEntry& entry, const Playlist& playlist) {
  switch (entry.endBehaviour) {
    case ClipEndBehaviour::Chain: return kEngineEndChain;
    case ClipEndBehaviour::Loop: return kEngineEndLoop;
    case ClipEndBehaviour::StopAtEnd: return kEngineEndStop;
    case ClipEndBehaviour::HoldLastFrame: return kEngineEndHold;
    case ClipEndBehaviour::Normal: break;
  }
  return playlist.chains() ? kEngineEndNormal : kEngineEndStop;
}

platform::Dictionary engineItemForEntry(const PlaylistEntry& entry, const Playlist& playlist,
                                        double startPositionInSeconds) {
  const Value info(entry.clipInfo);
  platform::Dictionary item{
      {"itemURL", Value(info["clipInfoAbsolutePathToMediaItem"].stringOr(""))},
      {"itemDisplayName", Value(info["clipInfoDisplayName"].stringOr(entry.playbackUniqueID))},
      {"playlistItemUniqueID", Value(entry.playbackUniqueID)},
      {"itemStartPosition", Value(std::max(0.0, startPositionInSeconds))},
  };
  addPoint(entry, "clipInfoHasInPoint", "clipInfoInPointInSeconds", "itemInPoint", item);
  for (auto& [key, value] : engineUpdatableAttributes(entry, playlist)) item[key] = std::move(value);
  if (const std::optional<double> volume = volumeOf(info["clipInfoAttributes"]["Audio Volume"])) {
    item["itemOutputVolume"] = Value(*volume);
  }
  return item;
}

platform::Dictionary engineUpdatableAttributes(const PlaylistEntry& entry, const Playlist& playlist) {
  platform::Dictionary attributes{{"itemEndBehaviour", Value(engineEndBehaviour(entry, playlist))}};
  addPoint(entry, "clipInfoHasOutPoint", "clipInfoOutPointInSeconds", "itemOutPoint", attributes);
  return attributes;
}

}  // namespace standin
