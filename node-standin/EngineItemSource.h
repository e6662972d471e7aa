#pragma once
// EngineItemSource: the host's answer to the engine's "next item after this
// one", from a copy of the playlist that the server thread publishes after
// every edit. The engine asks on its queue player's queue, so the copy and
// what was last answered are kept under a lock and no answer waits for the
// server thread.
//
// Answers, in order:
// - not initialised: none ("playback is not initialized");
// - a pending start (set by play, cue and skip commands): that entry from
//   its offset, once;
// - after an item that turned out invalid: the entry after the one last
//   answered, as if it had ended (entries that never play are passed this
//   way, up to one turn of the playlist);
// - otherwise the entry after `afterID` by the playlist's rules; none with a
//   reason at the end of a block.
//
// Thread-safe.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "node-standin/Playlist.h"
#include "platform/Value.h"

namespace standin {

struct EngineItemAnswer {
  std::optional<platform::Dictionary> item;
  std::string noItemReason;  // set when there is no item
};

class EngineItemSource {
 public:
  // Server thread.
  void publish(const Playlist& playlist, bool initialized);
  void setPendingStart(std::string playbackUniqueID, double offset);
  void clearPendingStart();
  // True when the last answer was none but the entry after the last one
  // answered would now play: the engine must be told to ask again.
  bool hasItemAfterRunningOut() const;
  // The attributes of `current` that differ from what the engine was last
  // given for that entry (an empty dictionary when none); `current` then
  // counts as given.
  platform::Dictionary takeAttributeChanges(const std::string& playbackUniqueID, const platform::Dictionary& current);

  // The engine's queue player's queue.
  EngineItemAnswer nextItemAfter(const std::string* afterID, bool becauseOfError);

 private:
  struct Pending {
    std::string playbackUniqueID;
    double offset = 0;
  };
  EngineItemAnswer answerAfter(std::size_t index, std::size_t errorsInARow);
  EngineItemAnswer answer(const PlaylistEntry& entry, double offset);

  mutable std::mutex mutex_;
  std::shared_ptr<const Playlist> playlist_ = std::make_shared<Playlist>();  // guarded by mutex_
  bool initialized_ = false;                                                  // guarded by mutex_
  std::optional<Pending> pending_;                                            // guarded by mutex_
  std::optional<std::string> lastAnswered_;                                   // guarded by mutex_
  bool ranOut_ = false;                                                       // guarded by mutex_
  std::size_t errorsInARow_ = 0;                                              // guarded by mutex_
  std::map<std::string, platform::Dictionary> given_;                         // guarded by mutex_
};

}  // namespace standin
