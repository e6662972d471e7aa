#pragma once
// The queue item of a shader transition: it keeps the transition's clock; the
// graphics item drawing the queue player reads the transition's wipe and the
// item's elapsed time and duration, and draws the wipe between the two
// neighbouring pictures.
//
// Lives on: the queue player's serial queue; the transition may be read and
// replaced from the rendering thread, so it sits behind a lock.

#include <memory>
#include <mutex>

#include "engine/items/transitions/TransitionClockQueuePlayerItem.h"
#include "engine/transitions/CVNShaderTransition.h"

namespace engine::items {

class CVNShaderTransitionQueuePlayerItem final : public TransitionClockQueuePlayerItem {
 public:
  // Plays 1.0 s until told otherwise.
  explicit CVNShaderTransitionQueuePlayerItem(std::shared_ptr<CVNShaderTransition> transition);

  std::shared_ptr<CVNShaderTransition> transition() const;
  void setTransition(std::shared_ptr<CVNShaderTransition> transition);

 private:
  mutable std::mutex transitionMutex_;
  std::shared_ptr<CVNShaderTransition> transition_;  // guarded by transitionMutex_
};

}  // namespace engine::items
