#pragma once
// The graphics layer's compositor as the engine drives it. That layer is not
// built: this keeps the calls' effects (lock, pause, stop, logo updates) and
// gives no audio or captions, which on the CPU path come from the queue
// player. Any thread.

#include <atomic>
#include <mutex>

namespace engine {

class CVNCGCompositionRenderer {
 public:
  void lockRendering() { renderingLock_.lock(); }
  void unlockRendering() { renderingLock_.unlock(); }
  void updateOverlayLogo() { ++overlayLogoUpdates_; }
  int overlayLogoUpdates() const { return overlayLogoUpdates_.load(); }
  void setIsPaused(bool paused) { isPaused_ = paused; }
  bool isPaused() const { return isPaused_.load(); }
  void stop() { stopped_ = true; }
  bool isStopped() const { return stopped_.load(); }

 private:
  std::recursive_mutex renderingLock_;
  std::atomic<int> overlayLogoUpdates_{0};
  std::atomic<bool> isPaused_{false};
  std::atomic<bool> stopped_{false};
};

}  // namespace engine
