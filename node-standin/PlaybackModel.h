#pragma once
// PlaybackModel: the node's playlist, its modes and change numbers, and the
// checks every transport command passes before its transport plays it.
//
// Statuses: NOT_INITIALIZED until initialize(); then what the transport
// reports (STOPPED, CUED, PLAYING or PAUSED). Transport commands other than
// initialize() and close() are refused while NOT_INITIALIZED, on an empty
// playlist and for an unknown playback ID. Positions are seconds from the
// clip's in point.
//
// Owned by the node; not thread-safe: used on the server thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "node-standin/PlaybackTransport.h"
#include "node-standin/Playlist.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace standin {

// "NOT_INITIALIZED", "STOPPED", "CUED", "PLAYING", "PAUSED".
std::string_view statusWord(PlaybackStatus status);

inline constexpr const char* kPlaybackErrorDomain = "PlaybackErrorDomain";
enum class PlaybackErrorCode { NotInitialized = 1, EmptyPlaylist = 2, UnknownClip = 3, IndexOutOfRange = 4 };

struct PlaybackSnapshot {
  PlaybackStatus status = PlaybackStatus::NotInitialized;
  std::string playlistUniqueID;
  std::string clipPlaybackUniqueID;  // empty when no clip is current
  std::optional<std::size_t> clipIndex;
  double position = 0;
  bool loopMode = false;
  bool chainMode = false;
  bool cueMode = false;
  std::vector<std::string> lockedClips;  // the current clip while cued, playing or paused
  platform::Clock::WallTime lastCommandTime;
};

// Makes the transport over the model's playlist (which outlives it).
using TransportFactory = std::function<std::unique_ptr<PlaybackTransport>(const Playlist& playlist)>;

class PlaybackModel {
 public:
  explicit PlaybackModel(const TransportFactory& makeTransport = {});  // empty: ClockTransport

  // Playlist. Every change raises the playlist change number.
  void clearAll();
  void setPlaylistUniqueID(std::string uniqueID);
  void setLoopMode(bool on);
  void setChainMode(bool on);
  void setCueMode(bool on);
  void appendEntries(std::vector<PlaylistEntry> entries);
  platform::Status insertEntry(std::size_t index, PlaylistEntry entry);
  platform::Status replaceEntry(std::size_t index, PlaylistEntry entry);
  platform::Status removeEntry(std::size_t index);
  const std::vector<PlaylistEntry>& entries() const { return playlist_.entries; }
  std::uint64_t playlistChangeNumber() const { return playlistChangeNumber_; }

  // Transport.
  void initialize();
  void close();  // back to NOT_INITIALIZED; the playlist stays
  // Plays the clip with that playback unique ID from `offset`; without an ID
  // the same as resume().
  platform::Status playItem(const std::optional<std::string>& playbackUniqueID, double offset);
  // Cues the clip at `offset`; without an ID the current clip (else the first) at its start.
  platform::Status cueItem(const std::optional<std::string>& playbackUniqueID, double offset);
  // Paused or cued: plays on. Stopped: plays the current clip (else the first) from its start.
  platform::Status resume();
  platform::Status pause();
  platform::Status stop();
  // Goes to the next entry (the first after the last, in loop mode): playing
  // on when playing, cued otherwise; stops after the last without loop mode.
  platform::Status skipToNext();
  platform::Status scrubToTime(double seconds);

  PlaybackSnapshot snapshot();

 private:
  platform::Status requireInitialized() const;
  platform::Status requireEntries() const;
  platform::Result<std::size_t> requireEntry(const std::string& playbackUniqueID) const;
  // Runs a playlist edit between the transport's before and after hooks.
  template <typename Edit>
  void editPlaylist(Edit edit);
  void noteCommand();

  Playlist playlist_;
  std::uint64_t playlistChangeNumber_ = 0;
  bool initialized_ = false;
  platform::Clock::WallTime lastCommandTime_;
  std::unique_ptr<PlaybackTransport> transport_;  // borrows playlist_
};

}  // namespace standin
