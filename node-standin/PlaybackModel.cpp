#include "node-standin/PlaybackModel.h"

#include "node-standin/ClockTransport.h"

namespace standin {
namespace {

platform::Error playbackError(PlaybackErrorCode code, std::string description) {
  return platform::Error(kPlaybackErrorDomain, code, std::move(description));
}

platform::Status indexBeyondPlaylist() {
  return playbackError(PlaybackErrorCode::IndexOutOfRange, "index beyond the playlist");
}

}  // namespace

std::string_view statusWord(PlaybackStatus status) {
  switch (status) {
    case PlaybackStatus::NotInitialized: return "NOT_INITIALIZED";
    case PlaybackStatus::Stopped: return "STOPPED";
    case PlaybackStatus::Cued: return "CUED";
    case PlaybackStatus::Playing: return "PLAYING";
    case PlaybackStatus::Paused: return "PAUSED";
  }
  return "NOT_INITIALIZED";
}

PlaybackModel::PlaybackModel(const TransportFactory& makeTransport)
    : lastCommandTime_(platform::Clock::current().wallNow()),
      transport_(makeTransport ? makeTransport(playlist_) : std::make_unique<ClockTransport>(playlist_)) {}

void PlaybackModel::noteCommand() { lastCommandTime_ = platform::Clock::current().wallNow(); }

platform::Status PlaybackModel::requireInitialized() const {
  if (!initialized_) return playbackError(PlaybackErrorCode::NotInitialized, "playback is not initialized");
  return platform::Status::success();
}

platform::Status PlaybackModel::requireEntries() const {
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  if (playlist_.entries.empty()) return playbackError(PlaybackErrorCode::EmptyPlaylist, "the playlist is empty");
  return platform::Status::success();
}

platform::Result<std::size_t> PlaybackModel::requireEntry(const std::string& playbackUniqueID) const {
  if (platform::Status ready = requireInitialized(); !ready) return ready.error();
  const std::optional<std::size_t> index = playlist_.indexOf(playbackUniqueID);
  if (!index) return playbackError(PlaybackErrorCode::UnknownClip, "no clip " + playbackUniqueID);
  return *index;
}

template <typename Edit>
void PlaybackModel::editPlaylist(Edit edit) {
  transport_->playlistWillChange();
  edit();
  transport_->playlistChanged();
}

void PlaybackModel::clearAll() {
  transport_->playlistWillChange();
  playlist_.entries.clear();
  playlist_.uniqueID.clear();
  transport_->playlistCleared();
  ++playlistChangeNumber_;
}

void PlaybackModel::setPlaylistUniqueID(std::string uniqueID) {
  editPlaylist([&] { playlist_.uniqueID = std::move(uniqueID); });
  ++playlistChangeNumber_;
}

void PlaybackModel::setLoopMode(bool on) {
  editPlaylist([&] { playlist_.loopMode = on; });
}

void PlaybackModel::setChainMode(bool on) {
  editPlaylist([&] { playlist_.chainMode = on; });
}

void PlaybackModel::setCueMode(bool on) {
  editPlaylist([&] { playlist_.cueMode = on; });
}

void PlaybackModel::appendEntries(std::vector<PlaylistEntry> entries) {
  editPlaylist([&] {
    for (PlaylistEntry& entry : entries) playlist_.entries.push_back(std::move(entry));
  });
  ++playlistChangeNumber_;
}

platform::Status PlaybackModel::insertEntry(std::size_t index, PlaylistEntry entry) {
  if (index > playlist_.entries.size()) return indexBeyondPlaylist();
  transport_->playlistWillChange();
  playlist_.entries.insert(playlist_.entries.begin() + static_cast<std::ptrdiff_t>(index), std::move(entry));
  transport_->entryInserted(index);
  ++playlistChangeNumber_;
  return platform::Status::success();
}

platform::Status PlaybackModel::replaceEntry(std::size_t index, PlaylistEntry entry) {
  if (index >= playlist_.entries.size()) return indexBeyondPlaylist();
  editPlaylist([&] { playlist_.entries[index] = std::move(entry); });
  ++playlistChangeNumber_;
  return platform::Status::success();
}

platform::Status PlaybackModel::removeEntry(std::size_t index) {
  if (index >= playlist_.entries.size()) return indexBeyondPlaylist();
  transport_->playlistWillChange();
  playlist_.entries.erase(playlist_.entries.begin() + static_cast<std::ptrdiff_t>(index));
  transport_->entryRemoved(index);
  ++playlistChangeNumber_;
  return platform::Status::success();
}

void PlaybackModel::initialize() {
  noteCommand();
  if (initialized_) return;
  initialized_ = true;
  transport_->initialize();
}

void PlaybackModel::close() {
  noteCommand();
  initialized_ = false;
  transport_->close();
}

platform::Status PlaybackModel::playItem(const std::optional<std::string>& playbackUniqueID, double offset) {
  if (!playbackUniqueID) return resume();
  const platform::Result<std::size_t> index = requireEntry(*playbackUniqueID);
  if (!index) return index.error();
  noteCommand();
  transport_->playEntry(*index, offset);
  return platform::Status::success();
}

platform::Status PlaybackModel::cueItem(const std::optional<std::string>& playbackUniqueID, double offset) {
  std::optional<std::size_t> target;
  if (playbackUniqueID) {
    const platform::Result<std::size_t> index = requireEntry(*playbackUniqueID);
    if (!index) return index.error();
    target = *index;
  } else if (platform::Status ready = requireEntries(); !ready) {
    return ready;
  }
  noteCommand();
  transport_->cueEntry(target, offset);
  return platform::Status::success();
}

platform::Status PlaybackModel::resume() {
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  const PlaybackStatus status = transport_->state().status;
  const bool resumes = status == PlaybackStatus::Playing || status == PlaybackStatus::Paused ||
                       status == PlaybackStatus::Cued;
  if (!resumes && playlist_.entries.empty()) {
    return playbackError(PlaybackErrorCode::EmptyPlaylist, "the playlist is empty");
  }
  noteCommand();
  transport_->resume();
  return platform::Status::success();
}

platform::Status PlaybackModel::pause() {
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  noteCommand();
  transport_->pause();
  return platform::Status::success();
}

platform::Status PlaybackModel::stop() {
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  noteCommand();
  transport_->stop();
  return platform::Status::success();
}

platform::Status PlaybackModel::skipToNext() {
  if (platform::Status ready = requireEntries(); !ready) return ready;
  noteCommand();
  transport_->skipToNext();
  return platform::Status::success();
}

platform::Status PlaybackModel::scrubToTime(double seconds) {
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  if (transport_->state().clipPlaybackUniqueID.empty()) {
    return playbackError(PlaybackErrorCode::UnknownClip, "no clip is current");
  }
  noteCommand();
  transport_->scrubToTime(seconds);
  return platform::Status::success();
}

PlaybackSnapshot PlaybackModel::snapshot() {
  PlaybackSnapshot snapshot;
  snapshot.playlistUniqueID = playlist_.uniqueID;
  snapshot.loopMode = playlist_.loopMode;
  snapshot.chainMode = playlist_.chainMode;
  snapshot.cueMode = playlist_.cueMode;
  snapshot.lastCommandTime = lastCommandTime_;
  if (!initialized_) return snapshot;
  const TransportState state = transport_->state();
  snapshot.status = state.status;
  snapshot.clipPlaybackUniqueID = state.clipPlaybackUniqueID;
  snapshot.position = state.position;
  if (!state.clipPlaybackUniqueID.empty()) snapshot.clipIndex = playlist_.indexOf(state.clipPlaybackUniqueID);
  const bool active = state.status == PlaybackStatus::Playing || state.status == PlaybackStatus::Paused ||
                      state.status == PlaybackStatus::Cued;
  if (active && snapshot.clipIndex) snapshot.lockedClips.push_back(snapshot.clipPlaybackUniqueID);
  return snapshot;
}

}  // namespace standin
