#pragma once
// The graphics projects' player as the engine drives it. That layer is not
// built: this records the calls, in order, so the engine's side can be
// checked. Any thread.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/graphicsservices/CVNCGCompositionRenderer.h"

namespace engine {

class CVNCGProjectsPlaybackController {
 public:
  void setCompositionRenderer(std::shared_ptr<CVNCGCompositionRenderer> renderer) {
    record("setCompositionRenderer");
    const std::lock_guard lock(mutex_);
    renderer_ = std::move(renderer);
  }
  // The settings of the clip that just went on air (its unique ID recorded).
  void applySettingsForPlayerItem(const std::string& itemUniqueID) { record("applySettingsForPlayerItem " + itemUniqueID); }
  void stopAllProjects() { record("stopAllProjects"); }
  std::vector<std::string> calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void record(std::string call) {
    const std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  mutable std::mutex mutex_;
  std::shared_ptr<CVNCGCompositionRenderer> renderer_;  // guarded by mutex_
  std::vector<std::string> calls_;                      // guarded by mutex_
};

}  // namespace engine
