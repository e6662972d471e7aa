#pragma once
// ClockTransport: a transport that plays nothing. It knows which entry would
// be on air and how far into it, following Clock::current(): while PLAYING
// the position grows with the clock and clip ends follow the playlist's
// rules; a stop at an end keeps the clip with the position at its end.
// Entries of zero length are passed at once; a loop that holds nothing else
// stops instead of spinning. Every call first brings the state up to now.
//
// Used for --no-engine and the in-process protocol tests. Server thread only.

#include "node-standin/PlaybackTransport.h"
#include "platform/Clock.h"

namespace standin {

class ClockTransport final : public PlaybackTransport {
 public:
  explicit ClockTransport(const Playlist& playlist);

  void playlistWillChange() override { advance(); }
  void entryInserted(std::size_t index) override;
  void entryRemoved(std::size_t index) override;
  void playlistCleared() override;
  void playlistChanged() override;

  void initialize() override;
  void close() override;
  void playEntry(std::size_t index, double offset) override;
  void cueEntry(std::optional<std::size_t> index, double offset) override;
  void resume() override;
  void pause() override;
  void stop() override;
  void skipToNext() override;
  void scrubToTime(double seconds) override;
  TransportState state() override;

 private:
  void advance();
  void start(std::size_t index, double offset, PlaybackStatus status);
  void forgetClip();

  PlaybackStatus status_ = PlaybackStatus::Stopped;
  std::optional<std::size_t> current_;
  double position_ = 0;                // at anchor_
  platform::Clock::TimePoint anchor_;  // when position_ was taken
};

}  // namespace standin
