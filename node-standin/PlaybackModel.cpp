#include "node-standin/PlaybackModel.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace standin {
namespace {

using platform::Clock;

platform::Error playbackError(PlaybackErrorCode code, std::string description) {
  return platform::Error(kPlaybackErrorDomain, code, std::move(description));
}

double secondsBetween(Clock::TimePoint from, Clock::TimePoint to) {
  return std::chrono::duration<double>(to - from).count();
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

ClipEndBehaviour clipEndBehaviourNamed(std::string_view name) {
  if (name == "Chain") return ClipEndBehaviour::Chain;
  if (name == "Loop") return ClipEndBehaviour::Loop;
  if (name == "Stop At End") return ClipEndBehaviour::StopAtEnd;
  if (name == "Hold Last Frame") return ClipEndBehaviour::HoldLastFrame;
  return ClipEndBehaviour::Normal;
}

PlaybackModel::PlaybackModel()
    : anchor_(Clock::current().now()), lastCommandTime_(Clock::current().wallNow()) {}

void PlaybackModel::noteCommand() { lastCommandTime_ = Clock::current().wallNow(); }

platform::Status PlaybackModel::requireInitialized() const {
  if (status_ == PlaybackStatus::NotInitialized) {
    return playbackError(PlaybackErrorCode::NotInitialized, "playback is not initialized");
  }
  return platform::Status::success();
}

std::optional<std::size_t> PlaybackModel::indexOf(std::string_view playbackUniqueID) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].playbackUniqueID == playbackUniqueID) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> PlaybackModel::entryAfterEnd(std::size_t index) const {
  switch (entries_[index].endBehaviour) {
    case ClipEndBehaviour::Loop:
      return index;
    case ClipEndBehaviour::StopAtEnd:
    case ClipEndBehaviour::HoldLastFrame:
      return std::nullopt;
    case ClipEndBehaviour::Normal:
      if (!chainMode_ || cueMode_) return std::nullopt;
      [[fallthrough]];
    case ClipEndBehaviour::Chain:
      if (index + 1 < entries_.size()) return index + 1;
      if (loopMode_) return 0;
      return std::nullopt;
  }
  return std::nullopt;
}

void PlaybackModel::advance() {
  const Clock::TimePoint now = Clock::current().now();
  if (status_ != PlaybackStatus::Playing || !current_) {
    anchor_ = now;
    return;
  }
  double position = position_ + std::max(0.0, secondsBetween(anchor_, now));
  anchor_ = now;
  std::size_t emptySteps = 0;
  while (true) {
    const double length = entries_[*current_].durationInSeconds;
    if (position < length) break;
    const std::optional<std::size_t> following = entryAfterEnd(*current_);
    if (!following) {
      status_ = PlaybackStatus::Stopped;
      position = length;
      break;
    }
    const double overflow = position - length;
    if (length <= 0) {
      if (++emptySteps > entries_.size()) {
        // Only empty entries remain in the loop: nothing would ever play.
        status_ = PlaybackStatus::Stopped;
        position = 0;
        break;
      }
    } else {
      emptySteps = 0;
    }
    // A looping clip skips whole turns at once instead of one per pass.
    position = (*following == *current_ && length > 0) ? std::fmod(overflow, length) : overflow;
    current_ = following;
  }
  position_ = position;
}

void PlaybackModel::start(std::size_t index, double offset, PlaybackStatus status) {
  current_ = index;
  position_ = std::clamp(offset, 0.0, entries_[index].durationInSeconds);
  status_ = status;
  anchor_ = Clock::current().now();
}

void PlaybackModel::clearAll() {
  advance();
  entries_.clear();
  playlistUniqueID_.clear();
  current_.reset();
  position_ = 0;
  if (status_ != PlaybackStatus::NotInitialized) status_ = PlaybackStatus::Stopped;
  playlistChanged();
}

void PlaybackModel::setPlaylistUniqueID(std::string uniqueID) {
  advance();
  playlistUniqueID_ = std::move(uniqueID);
  playlistChanged();
}

void PlaybackModel::setLoopMode(bool on) {
  advance();
  loopMode_ = on;
}

void PlaybackModel::setChainMode(bool on) {
  advance();
  chainMode_ = on;
}

void PlaybackModel::setCueMode(bool on) {
  advance();
  cueMode_ = on;
}

void PlaybackModel::appendEntries(std::vector<PlaylistEntry> entries) {
  advance();
  for (PlaylistEntry& entry : entries) entries_.push_back(std::move(entry));
  playlistChanged();
}

platform::Status PlaybackModel::insertEntry(std::size_t index, PlaylistEntry entry) {
  advance();
  if (index > entries_.size()) return playbackError(PlaybackErrorCode::IndexOutOfRange, "index beyond the playlist");
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index), std::move(entry));
  if (current_ && *current_ >= index) ++*current_;
  playlistChanged();
  return platform::Status::success();
}

platform::Status PlaybackModel::replaceEntry(std::size_t index, PlaylistEntry entry) {
  advance();
  if (index >= entries_.size()) return playbackError(PlaybackErrorCode::IndexOutOfRange, "index beyond the playlist");
  entries_[index] = std::move(entry);
  if (current_ == index) position_ = std::min(position_, entries_[index].durationInSeconds);
  playlistChanged();
  return platform::Status::success();
}

platform::Status PlaybackModel::removeEntry(std::size_t index) {
  advance();
  if (index >= entries_.size()) return playbackError(PlaybackErrorCode::IndexOutOfRange, "index beyond the playlist");
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  if (current_) {
    if (*current_ == index) {
      // The clip on air is gone: nothing is left to report.
      current_.reset();
      position_ = 0;
      if (status_ != PlaybackStatus::NotInitialized) status_ = PlaybackStatus::Stopped;
    } else if (*current_ > index) {
      --*current_;
    }
  }
  playlistChanged();
  return platform::Status::success();
}

void PlaybackModel::initialize() {
  advance();
  noteCommand();
  if (status_ == PlaybackStatus::NotInitialized) status_ = PlaybackStatus::Stopped;
}

void PlaybackModel::close() {
  advance();
  noteCommand();
  status_ = PlaybackStatus::NotInitialized;
  current_.reset();
  position_ = 0;
}

platform::Status PlaybackModel::playItem(const std::optional<std::string>& playbackUniqueID, double offset) {
  if (!playbackUniqueID) return resume();
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  const std::optional<std::size_t> index = indexOf(*playbackUniqueID);
  if (!index) return playbackError(PlaybackErrorCode::UnknownClip, "no clip " + *playbackUniqueID);
  noteCommand();
  start(*index, offset, PlaybackStatus::Playing);
  return platform::Status::success();
}

platform::Status PlaybackModel::cueItem(const std::optional<std::string>& playbackUniqueID, double offset) {
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  std::optional<std::size_t> index;
  if (playbackUniqueID) {
    index = indexOf(*playbackUniqueID);
    if (!index) return playbackError(PlaybackErrorCode::UnknownClip, "no clip " + *playbackUniqueID);
  } else {
    if (entries_.empty()) return playbackError(PlaybackErrorCode::EmptyPlaylist, "the playlist is empty");
    index = current_.value_or(0);
    offset = 0;
  }
  noteCommand();
  start(*index, offset, PlaybackStatus::Cued);
  return platform::Status::success();
}

platform::Status PlaybackModel::resume() {
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  noteCommand();
  switch (status_) {
    case PlaybackStatus::Playing:
      return platform::Status::success();
    case PlaybackStatus::Paused:
    case PlaybackStatus::Cued:
      if (current_) {
        status_ = PlaybackStatus::Playing;
        return platform::Status::success();
      }
      break;
    default:
      break;
  }
  if (entries_.empty()) return playbackError(PlaybackErrorCode::EmptyPlaylist, "the playlist is empty");
  start(current_.value_or(0), 0, PlaybackStatus::Playing);
  return platform::Status::success();
}

platform::Status PlaybackModel::pause() {
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  noteCommand();
  if (status_ == PlaybackStatus::Playing) status_ = PlaybackStatus::Paused;
  return platform::Status::success();
}

platform::Status PlaybackModel::stop() {
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  noteCommand();
  status_ = PlaybackStatus::Stopped;
  position_ = 0;
  return platform::Status::success();
}

platform::Status PlaybackModel::skipToNext() {
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  if (entries_.empty()) return playbackError(PlaybackErrorCode::EmptyPlaylist, "the playlist is empty");
  noteCommand();
  std::optional<std::size_t> next;
  if (!current_) {
    next = 0;
  } else if (*current_ + 1 < entries_.size()) {
    next = *current_ + 1;
  } else if (loopMode_) {
    next = 0;
  }
  if (!next) {
    status_ = PlaybackStatus::Stopped;
    position_ = 0;
    return platform::Status::success();
  }
  start(*next, 0, status_ == PlaybackStatus::Playing ? PlaybackStatus::Playing : PlaybackStatus::Cued);
  return platform::Status::success();
}

platform::Status PlaybackModel::scrubToTime(double seconds) {
  advance();
  if (platform::Status ready = requireInitialized(); !ready) return ready;
  if (!current_) return playbackError(PlaybackErrorCode::UnknownClip, "no clip is current");
  noteCommand();
  position_ = std::clamp(seconds, 0.0, entries_[*current_].durationInSeconds);
  return platform::Status::success();
}

PlaybackSnapshot PlaybackModel::snapshot() {
  advance();
  PlaybackSnapshot snapshot;
  snapshot.status = status_;
  snapshot.playlistUniqueID = playlistUniqueID_;
  snapshot.clipIndex = current_;
  if (current_) snapshot.clipPlaybackUniqueID = entries_[*current_].playbackUniqueID;
  snapshot.position = position_;
  snapshot.loopMode = loopMode_;
  snapshot.chainMode = chainMode_;
  snapshot.cueMode = cueMode_;
  const bool active = status_ == PlaybackStatus::Playing || status_ == PlaybackStatus::Paused ||
                      status_ == PlaybackStatus::Cued;
  if (active && current_) snapshot.lockedClips.push_back(snapshot.clipPlaybackUniqueID);
  snapshot.lastCommandTime = lastCommandTime_;
  return snapshot;
}

}  // namespace standin
