#include "node-standin/EngineTransport.h"

#include <algorithm>
#include <chrono>

#include "node-standin/EngineItemDictionary.h"

namespace standin {
namespace {

// End behaviours after which the engine stops asking; a change from one of
// these to a playing one makes it ask again by itself.
bool stopsAsking(const platform::Value& endBehaviour) {
  const std::int64_t value = endBehaviour.integerOr(kEngineEndNormal);
  return value == kEngineEndStop || value == kEngineEndHold;
}

}  // namespace

EngineTransport::EngineTransport(const Playlist& playlist, Parts parts)
    : PlaybackTransport(playlist), parts_(std::move(parts)) {
  parts_.items.publish(playlist, false);
}

void EngineTransport::refused(const char* call) {
  refused_ = true;
  if (parts_.log) parts_.log(std::string("the engine refused ") + call);
}

std::optional<std::size_t> EngineTransport::currentIndex() const {
  const std::string id = parts_.board.report().itemID;
  return id.empty() ? std::nullopt : playlist().indexOf(id);
}

void EngineTransport::updateQueuedItems(bool& engineAsksAgain) {
  for (const std::string& id : parts_.board.report().queuedIDs) {
    const std::optional<std::size_t> index = playlist().indexOf(id);
    if (!index) continue;
    const platform::Dictionary current = engineUpdatableAttributes(playlist().entries[*index], playlist());
    platform::Dictionary changes = parts_.items.takeAttributeChanges(id, current);
    if (changes.empty()) continue;
    const auto endBehaviour = changes.find("itemEndBehaviour");
    if (endBehaviour != changes.end() && !stopsAsking(endBehaviour->second)) engineAsksAgain = true;
    parts_.engine.updateItemWithUniqueID(id, changes, [log = parts_.log, id](const std::optional<std::string>& error) {
      if (error && log) log("the engine did not take the edit of '" + id + "': " + *error);
    });
  }
}

void EngineTransport::playlistChanged() {
  parts_.items.publish(playlist(), initialized_);
  if (!initialized_) return;
  bool engineAsksAgain = false;
  updateQueuedItems(engineAsksAgain);
  if (!engineAsksAgain && parts_.items.hasItemAfterRunningOut()) parts_.engine.claimNextItem();
}

void EngineTransport::initialize() {
  initialized_ = true;
  parts_.items.publish(playlist(), true);
}

void EngineTransport::close() {
  initialized_ = false;
  cued_ = false;
  parts_.items.publish(playlist(), false);
  // A held last frame would stay on air; black is what an uninitialised node shows.
  for (const std::string& id : parts_.board.report().queuedIDs) {
    parts_.engine.updateItemWithUniqueID(id, {{"itemEndBehaviour", platform::Value(kEngineEndStop)}}, {});
  }
  if (!parts_.engine.stopPlayback()) refused("stopPlayback");
}

void EngineTransport::startEntry(std::size_t index, double offset, After after) {
  refused_ = false;
  stoppedByCommand_ = false;
  cued_ = after == After::Cue;
  parts_.items.setPendingStart(playlist().entries[index].playbackUniqueID, offset);
  if (after == After::Play) {
    if (!parts_.engine.startPlayback()) refused("startPlayback");
    return;
  }
  parts_.engine.pausePlayback(true);
  if (!parts_.engine.forceNextItem()) refused("forceNextItem");
}

void EngineTransport::playEntry(std::size_t index, double offset) { startEntry(index, offset, After::Play); }

void EngineTransport::cueEntry(std::optional<std::size_t> index, double offset) {
  if (!index) {
    index = currentIndex().value_or(0);
    offset = 0;
  }
  startEntry(*index, offset, After::Cue);
}

void EngineTransport::resume() {
  const std::int32_t status = parts_.board.report().engineStatus;
  if (status == kEngineStatusPlaying && !refused_) return;
  if ((status == kEngineStatusPaused || status == kEngineStatusHoldFirstFrame) && !refused_) {
    cued_ = false;
    parts_.engine.pausePlayback(false);
    return;
  }
  startEntry(currentIndex().value_or(0), 0, After::Play);
}

void EngineTransport::pause() {
  if (parts_.board.report().engineStatus == kEngineStatusPlaying) parts_.engine.pausePlayback(true);
}

void EngineTransport::stop() {
  cued_ = false;
  stoppedByCommand_ = true;
  parts_.items.clearPendingStart();
  if (!parts_.engine.stopPlayback()) refused("stopPlayback");
}

void EngineTransport::skipToNext() {
  const EngineReport report = parts_.board.report();
  const std::optional<std::size_t> next = playlist().entryAfterSkip(currentIndex());
  if (!next) {
    stop();
    return;
  }
  const bool playing = report.engineStatus == kEngineStatusPlaying && !refused_;
  refused_ = false;
  stoppedByCommand_ = false;
  cued_ = !playing;
  parts_.items.setPendingStart(playlist().entries[*next].playbackUniqueID, 0);
  if (!playing) parts_.engine.pausePlayback(true);
  if (!parts_.engine.forceNextItem()) refused("forceNextItem");
}

void EngineTransport::scrubToTime(double seconds) {
  if (!parts_.engine.setCurrentItemTime(std::max(0.0, seconds))) refused("setCurrentItemTime");
}

TransportState EngineTransport::state() {
  const EngineReport report = parts_.board.report();
  TransportState state;
  state.clipPlaybackUniqueID = report.itemID;
  state.position = stoppedByCommand_ ? 0 : report.elapsed;
  switch (refused_ ? kEngineStatusStopped : report.engineStatus) {
    case kEngineStatusPlaying: {
      state.status = PlaybackStatus::Playing;
      const double since =
          std::chrono::duration<double>(platform::Clock::current().now() - report.reportedAt).count();
      state.position += std::max(0.0, since);
      // A report made before the item knew its length carries none: the entry's length bounds it then.
      double length = report.duration;
      if (const std::optional<std::size_t> index = currentIndex(); length <= 0 && index)
        length = playlist().entries[*index].durationInSeconds;
      if (length > 0) state.position = std::min(state.position, length);
      break;
    }
    case kEngineStatusPaused:
      state.status = cued_ ? PlaybackStatus::Cued : PlaybackStatus::Paused;
      break;
    case kEngineStatusHoldFirstFrame:
      state.status = PlaybackStatus::Cued;
      break;
    default:
      state.status = PlaybackStatus::Stopped;
      break;
  }
  return state;
}

}  // namespace standin
