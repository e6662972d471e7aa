#pragma once
// PlaybackTransport: what moves through the playlist once the node is
// initialised. PlaybackModel keeps the playlist, the modes and the change
// numbers and checks every command (initialised, known clip, playlist not
// empty) before it reaches the transport; a transport only plays.
//
// Two kinds: ClockTransport (no video: state that follows the clock) and
// EngineTransport (the playout engine plays, its reports are the state).
//
// Called on the server thread only, with the model's playlist (`playlist()`,
// not owned, outlives the transport).

#include <cstddef>
#include <optional>
#include <string>

#include "node-standin/Playlist.h"

namespace standin {

enum class PlaybackStatus { NotInitialized = 1, Stopped = 2, Cued = 3, Playing = 4, Paused = 5 };

struct TransportState {
  PlaybackStatus status = PlaybackStatus::Stopped;
  std::string clipPlaybackUniqueID;  // empty when no clip is current
  double position = 0;               // seconds from the clip's in point
};

class PlaybackTransport {
 public:
  explicit PlaybackTransport(const Playlist& playlist) : playlist_(playlist) {}
  virtual ~PlaybackTransport() = default;
  PlaybackTransport(const PlaybackTransport&) = delete;
  PlaybackTransport& operator=(const PlaybackTransport&) = delete;

  // Playlist edits: `playlistWillChange` before the playlist or a mode
  // changes, then one of the others after it.
  virtual void playlistWillChange() {}
  virtual void entryInserted(std::size_t /*index*/) {}
  virtual void entryRemoved(std::size_t /*index*/) {}
  virtual void playlistCleared() {}
  virtual void playlistChanged() {}  // appends, replacements, IDs and modes

  virtual void initialize() = 0;
  virtual void close() = 0;  // nothing plays; the output is black
  // `index` is in the playlist; none: the current entry, else the first.
  virtual void playEntry(std::size_t index, double offset) = 0;
  virtual void cueEntry(std::optional<std::size_t> index, double offset) = 0;
  // Paused or cued: plays on. Stopped: the current entry (else the first) from its start.
  virtual void resume() = 0;
  virtual void pause() = 0;
  virtual void stop() = 0;
  virtual void skipToNext() = 0;
  virtual void scrubToTime(double seconds) = 0;  // a clip is current

  virtual TransportState state() = 0;

 protected:
  const Playlist& playlist() const { return playlist_; }

 private:
  const Playlist& playlist_;
};

}  // namespace standin
