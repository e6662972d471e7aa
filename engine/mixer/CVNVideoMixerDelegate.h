#pragma once
// What the video mixer tells its engine, and the engine status its queue
// player's statuses map to. Called on the main queue player's queue.

#include <cstdint>

#include "engine/items/ItemDictionary.h"
#include "platform/media/AudioFormat.h"

namespace engine::mixer {

enum EnginePlaybackStatus : std::int32_t {
  kEngineClosed = 0,
  kEngineStopped = 1,
  kEnginePlaying = 2,
  kEnginePaused = 3,
  kEngineHoldLastFrame = 4,
  kEngineHoldFirstFrame = 5,
  kEngineExternalInput = 6,
  kEngineExternalInputPaused = 7,
  kEngineUndefined = 8,
};

// Stopped gives Stopped, waiting and unknown values Undefined; the others keep their value.
constexpr std::int32_t engineStatusFromCVNPlaybackStatus(std::uint64_t status) {
  if (status == 0) return kEngineStopped;
  if (status == 1 || status > 5) return kEngineUndefined;
  return static_cast<std::int32_t>(status);
}

class CVNVideoMixerDelegate {
 public:
  virtual ~CVNVideoMixerDelegate() = default;
  virtual void videoMixerStatusDidChange(std::uint64_t queuePlayerStatus) = 0;
  virtual void itemsOrStatusChanged(std::int32_t engineStatus, const items::ItemDictionary* fadeOutItem,
                                    const items::ItemDictionary* currentItem,
                                    const items::ItemDictionary* fadeInItem) = 0;
  // All zero until the host sets it.
  virtual platform::media::AudioStreamBasicDescription engineASBD() const = 0;
};

}  // namespace engine::mixer
