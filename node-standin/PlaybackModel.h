#pragma once
// PlaybackModel: the node's playlist and its transport, as a state machine
// that follows the clock. It plays nothing; it only knows which clip would be
// on air and how far into it, so clients see what a real node would report.
//
// Statuses: NOT_INITIALIZED until initialize(); then STOPPED, CUED, PLAYING
// or PAUSED. While PLAYING the position grows with Clock::current(); at the
// end of a clip the next one is chosen by its end behaviour:
// - "Loop": the clip starts again;
// - "Chain", or "Normal" (or none) while chain mode is on and cue mode off:
//   the next entry plays; after the last one the first, in loop mode;
// - otherwise ("Stop At End", "Hold Last Frame", "Normal" without chaining,
//   the end of a playlist that does not loop): STOPPED, still reporting the
//   clip, with the position at its end.
// Entries of zero length are passed at once; a playlist whose loop holds
// nothing else stops instead of spinning.
//
// Positions are seconds from the clip's in point. Every operation first
// brings the state up to Clock::current().now().
//
// Owned by the node; not thread-safe: used on the server thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace standin {

enum class PlaybackStatus { NotInitialized = 1, Stopped = 2, Cued = 3, Playing = 4, Paused = 5 };
// "NOT_INITIALIZED", "STOPPED", "CUED", "PLAYING", "PAUSED".
std::string_view statusWord(PlaybackStatus status);

enum class ClipEndBehaviour { Normal = 1, Chain = 2, Loop = 3, StopAtEnd = 4, HoldLastFrame = 5 };
// The behaviour named by a "Clip End Behaviour" value; unknown names are Normal.
ClipEndBehaviour clipEndBehaviourNamed(std::string_view name);

inline constexpr const char* kPlaybackErrorDomain = "PlaybackErrorDomain";
enum class PlaybackErrorCode { NotInitialized = 1, EmptyPlaylist = 2, UnknownClip = 3, IndexOutOfRange = 4 };

struct PlaylistEntry {
  std::string playbackUniqueID;
  double durationInSeconds = 0;  // playable length: out point minus in point
  ClipEndBehaviour endBehaviour = ClipEndBehaviour::Normal;
  platform::Dictionary clipInfo;  // what the node reports for this entry
};

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

class PlaybackModel {
 public:
  PlaybackModel();

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
  const std::vector<PlaylistEntry>& entries() const { return entries_; }
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
  void advance();
  std::optional<std::size_t> entryAfterEnd(std::size_t index) const;
  std::optional<std::size_t> indexOf(std::string_view playbackUniqueID) const;
  platform::Status requireInitialized() const;
  void start(std::size_t index, double offset, PlaybackStatus status);
  void playlistChanged() { ++playlistChangeNumber_; }
  void noteCommand();

  std::vector<PlaylistEntry> entries_;
  std::string playlistUniqueID_;
  bool loopMode_ = false;
  bool chainMode_ = false;
  bool cueMode_ = false;
  std::uint64_t playlistChangeNumber_ = 0;

  PlaybackStatus status_ = PlaybackStatus::NotInitialized;
  std::optional<std::size_t> current_;
  double position_ = 0;                // at anchor_
  platform::Clock::TimePoint anchor_;  // when position_ was taken
  platform::Clock::WallTime lastCommandTime_;
};

}  // namespace standin
