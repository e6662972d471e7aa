#pragma once
// EngineTransport: the playlist played by the engine. Commands become engine
// calls that return at once:
//   play an entry   -> pending start (entry, offset), startPlayback
//   cue an entry    -> pending start, pausePlayback(true), forceNextItem
//   resume          -> pausePlayback(false) when paused or cued; else as play
//                      of the current entry (or the first) from its start
//   pause, stop     -> pausePlayback(true), stopPlayback
//   skip to next    -> pending start of the next entry, forceNextItem (cued
//                      first unless playing); past the last: stopPlayback
//   scrub           -> setCurrentItemTime
//   close           -> the items held lose their hold, stopPlayback: black
// The engine then asks the EngineItemSource for items. Edits of entries the
// engine has queued reach it as attribute updates (end behaviour, out
// point); other edits count from the next item it asks for; when it had run
// out and an edit gives it something to play, it is told to ask again.
//
// Status from the engine's reports (EngineStatusBoard): Playing "PLAYING";
// Paused "PAUSED", or "CUED" after a cue not yet played, and Hold First Frame
// "CUED"; anything else "STOPPED" with the clip still reported. The
// position is the item's elapsed time, carried on by the clock while playing,
// 0 after a stop command. A call the engine refuses is logged and reads as
// "STOPPED"; the node keeps serving.
//
// Server thread only. Engine, items and board: not owned, outlive this.

#include "node-standin/EngineItemSource.h"
#include "node-standin/EngineStatusBoard.h"
#include "node-standin/MediaFolderIndex.h"
#include "node-standin/PlaybackTransport.h"
#include "node-standin/PlayoutEngine.h"

namespace standin {

class EngineTransport final : public PlaybackTransport {
 public:
  struct Parts {
    PlayoutEngine& engine;
    EngineItemSource& items;
    const EngineStatusBoard& board;
    LogFunction log;
  };
  EngineTransport(const Playlist& playlist, Parts parts);

  void entryInserted(std::size_t) override { playlistChanged(); }
  void entryRemoved(std::size_t) override { playlistChanged(); }
  void playlistCleared() override { playlistChanged(); }
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
  enum class After { Play, Cue };
  std::optional<std::size_t> currentIndex() const;
  void startEntry(std::size_t index, double offset, After after);
  void refused(const char* call);
  void updateQueuedItems(bool& engineAsksAgain);

  Parts parts_;
  bool initialized_ = false;
  bool cued_ = false;            // a cue not yet played
  bool stoppedByCommand_ = false;
  bool refused_ = false;         // the engine refused the last command
};

}  // namespace standin
