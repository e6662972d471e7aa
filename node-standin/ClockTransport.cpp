#include "node-standin/ClockTransport.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace standin {
namespace {

using platform::Clock;

double secondsBetween(Clock::TimePoint from, Clock::TimePoint to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

ClockTransport::ClockTransport(const Playlist& playlist)
    : PlaybackTransport(playlist), anchor_(Clock::current().now()) {}

void ClockTransport::advance() {
  const Clock::TimePoint now = Clock::current().now();
  if (status_ != PlaybackStatus::Playing || !current_) {
    anchor_ = now;
    return;
  }
  const std::vector<PlaylistEntry>& entries = playlist().entries;
  double position = position_ + std::max(0.0, secondsBetween(anchor_, now));
  anchor_ = now;
  std::size_t emptySteps = 0;
  while (true) {
    const double length = entries[*current_].durationInSeconds;
    if (position < length) break;
    const std::optional<std::size_t> following = playlist().entryAfterEnd(*current_);
    if (!following) {
      status_ = PlaybackStatus::Stopped;
      position = length;
      break;
    }
    const double overflow = position - length;
    if (length <= 0) {
      if (++emptySteps > entries.size()) {
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

void ClockTransport::start(std::size_t index, double offset, PlaybackStatus status) {
  current_ = index;
  position_ = std::clamp(offset, 0.0, playlist().entries[index].durationInSeconds);
  status_ = status;
  anchor_ = Clock::current().now();
}

void ClockTransport::forgetClip() {
  current_.reset();
  position_ = 0;
  status_ = PlaybackStatus::Stopped;
}

void ClockTransport::entryInserted(std::size_t index) {
  if (current_ && *current_ >= index) ++*current_;
}

void ClockTransport::entryRemoved(std::size_t index) {
  if (!current_) return;
  if (*current_ == index) {
    // The clip on air is gone: nothing is left to report.
    forgetClip();
  } else if (*current_ > index) {
    --*current_;
  }
}

void ClockTransport::playlistCleared() { forgetClip(); }

void ClockTransport::playlistChanged() {
  if (current_) position_ = std::min(position_, playlist().entries[*current_].durationInSeconds);
}

void ClockTransport::initialize() { advance(); }

void ClockTransport::close() { forgetClip(); }

void ClockTransport::playEntry(std::size_t index, double offset) {
  advance();
  start(index, offset, PlaybackStatus::Playing);
}

void ClockTransport::cueEntry(std::optional<std::size_t> index, double offset) {
  advance();
  if (!index) {
    index = current_.value_or(0);
    offset = 0;
  }
  start(*index, offset, PlaybackStatus::Cued);
}

void ClockTransport::resume() {
  advance();
  if (status_ == PlaybackStatus::Playing) return;
  if ((status_ == PlaybackStatus::Paused || status_ == PlaybackStatus::Cued) && current_) {
    status_ = PlaybackStatus::Playing;
    return;
  }
  start(current_.value_or(0), 0, PlaybackStatus::Playing);
}

void ClockTransport::pause() {
  advance();
  if (status_ == PlaybackStatus::Playing) status_ = PlaybackStatus::Paused;
}

void ClockTransport::stop() {
  advance();
  status_ = PlaybackStatus::Stopped;
  position_ = 0;
}

void ClockTransport::skipToNext() {
  advance();
  const std::optional<std::size_t> next = playlist().entryAfterSkip(current_);
  if (!next) {
    status_ = PlaybackStatus::Stopped;
    position_ = 0;
    return;
  }
  start(*next, 0, status_ == PlaybackStatus::Playing ? PlaybackStatus::Playing : PlaybackStatus::Cued);
}

void ClockTransport::scrubToTime(double seconds) {
  advance();
  if (current_) position_ = std::clamp(seconds, 0.0, playlist().entries[*current_].durationInSeconds);
}

TransportState ClockTransport::state() {
  advance();
  TransportState state;
  state.status = status_;
  if (current_) state.clipPlaybackUniqueID = playlist().entries[*current_].playbackUniqueID;
  state.position = position_;
  return state;
}

}  // namespace standin
