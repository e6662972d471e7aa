#include "node-standin/EngineItemSource.h"

#include "node-standin/EngineItemDictionary.h"

namespace standin {
namespace {

std::string noEntryReason(const Playlist& playlist, std::size_t index) {
  const PlaylistEntry& entry = playlist.entries[index];
  switch (entry.endBehaviour) {
    case ClipEndBehaviour::StopAtEnd: return "'" + entry.playbackUniqueID + "' stops at its end";
    case ClipEndBehaviour::HoldLastFrame: return "'" + entry.playbackUniqueID + "' holds its last frame";
    case ClipEndBehaviour::Normal:
      if (!playlist.chains()) return "'" + entry.playbackUniqueID + "' ends unchained";
      break;
    default: break;
  }
  return "end of the playlist";
}

}  // namespace

void EngineItemSource::publish(const Playlist& playlist, bool initialized) {
  auto copy = std::make_shared<const Playlist>(playlist);
  const std::lock_guard lock(mutex_);
  playlist_ = std::move(copy);
  initialized_ = initialized;
  if (!initialized) pending_.reset();
}

void EngineItemSource::setPendingStart(std::string playbackUniqueID, double offset) {
  const std::lock_guard lock(mutex_);
  pending_ = Pending{std::move(playbackUniqueID), offset};
}

void EngineItemSource::clearPendingStart() {
  const std::lock_guard lock(mutex_);
  pending_.reset();
}

bool EngineItemSource::hasItemAfterRunningOut() const {
  const std::lock_guard lock(mutex_);
  if (!ranOut_ || !initialized_ || !lastAnswered_) return false;
  const std::optional<std::size_t> index = playlist_->indexOf(*lastAnswered_);
  return index && playlist_->entryAfterEnd(*index);
}

EngineItemAnswer EngineItemSource::answerAfter(std::size_t index, std::size_t errorsInARow) {
  const Playlist& playlist = *playlist_;
  const std::optional<std::size_t> next = playlist.entryAfterEnd(index);
  if (!next) return {std::nullopt, noEntryReason(playlist, index)};
  if (errorsInARow > playlist.entries.size()) return {std::nullopt, "no entry of the playlist plays"};
  return answer(playlist.entries[*next], 0);
}

EngineItemAnswer EngineItemSource::answer(const PlaylistEntry& entry, double offset) {
  lastAnswered_ = entry.playbackUniqueID;
  given_[entry.playbackUniqueID] = engineUpdatableAttributes(entry, *playlist_);
  return {engineItemForEntry(entry, *playlist_, offset), {}};
}

platform::Dictionary EngineItemSource::takeAttributeChanges(const std::string& playbackUniqueID,
                                                            const platform::Dictionary& current) {
  const std::lock_guard lock(mutex_);
  platform::Dictionary& given = given_[playbackUniqueID];
  platform::Dictionary changes;
  for (const auto& [key, value] : current) {
    const auto found = given.find(key);
    if (found == given.end() || !(found->second == value)) changes.emplace(key, value);
  }
  given = current;
  return changes;
}

EngineItemAnswer EngineItemSource::nextItemAfter(const std::string* afterID, bool becauseOfError) {
  const std::lock_guard lock(mutex_);
  const Playlist& playlist = *playlist_;
  errorsInARow_ = becauseOfError ? errorsInARow_ + 1 : 0;
  EngineItemAnswer result;
  if (!initialized_) {
    result.noItemReason = "playback is not initialized";
  } else if (pending_) {
    const std::optional<std::size_t> index = playlist.indexOf(pending_->playbackUniqueID);
    if (index) {
      result = answer(playlist.entries[*index], pending_->offset);
    } else {
      result.noItemReason = "'" + pending_->playbackUniqueID + "' left the playlist";
    }
    pending_.reset();
  } else {
    // After an invalid item the engine names the item before it: go on from the one answered.
    const std::string* base = becauseOfError && lastAnswered_ ? &*lastAnswered_ : afterID;
    const std::optional<std::size_t> index = base ? playlist.indexOf(*base) : std::nullopt;
    if (index) {
      result = answerAfter(*index, errorsInARow_);
    } else {
      result.noItemReason = base ? "'" + *base + "' left the playlist" : "nothing was started";
    }
  }
  ranOut_ = !result.item;
  return result;
}

}  // namespace standin
