#pragma once
// EngineStatusBoard: the last status and items the engine reported, kept
// under a lock: the engine's delegate calls write it on the main thread, the
// server thread reads it for "pbstatus".
//
// When no item is current any more, the last one stays named, with its
// elapsed time at its end, so a clip that ran out is still reported.
//
// Thread-safe.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Value.h"

namespace standin {

// The engine's playback statuses.
enum EngineStatus : std::int32_t {
  kEngineStatusClosed = 0,
  kEngineStatusStopped = 1,
  kEngineStatusPlaying = 2,
  kEngineStatusPaused = 3,
  kEngineStatusHoldLastFrame = 4,
  kEngineStatusHoldFirstFrame = 5,
};

struct EngineReport {
  std::int32_t engineStatus = kEngineStatusClosed;
  std::string itemID;      // "playlistItemUniqueID" of the current (else the last) item
  double elapsed = 0;      // its "elapsedTime" when reported
  double duration = 0;     // its "itemDuration"; 0 when unknown
  platform::Clock::TimePoint reportedAt;
  std::vector<std::string> queuedIDs;  // the items the engine holds, in order
};

class EngineStatusBoard {
 public:
  // currentItem: the item's extended dictionary; nullptr when none is current.
  void itemsOrStatusChanged(std::int32_t engineStatus, const platform::Dictionary* currentItem);
  void queuedItemsDidChange(std::vector<std::string> playlistItemUniqueIDs);
  EngineReport report() const;

 private:
  mutable std::mutex mutex_;
  EngineReport report_;  // guarded by mutex_
};

}  // namespace standin
