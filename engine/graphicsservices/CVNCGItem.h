#pragma once
// CVNCGItem: the graphics item the engine animates during a layer transition,
// reduced to what the engine calls. The graphics layer is not built yet: the
// item keeps its frame and anchor point and records each animated-properties
// update, so callers can be checked.
//
// Not thread-safe: used by the one thread that renders.

#include <vector>

#include "foundation/geometry/Geometry.h"
#include "platform/Value.h"

namespace engine {

class CVNCGItem {
 public:
  struct AnimatedPropertiesUpdate {
    platform::Dictionary keyFrameAnimations;
    double animationTime = 0.0;
  };

  foundation::Rect frame() const { return frame_; }
  void setFrame(foundation::Rect frame) { frame_ = frame; }
  foundation::Point anchorPoint() const { return anchorPoint_; }
  void setAnchorPoint(foundation::Point anchorPoint) { anchorPoint_ = anchorPoint; }

  // Sets the animated properties to their values at `animationTime` seconds.
  void updateAnimatedPropertiesWithDictionary(const platform::Dictionary& keyFrameAnimations, double animationTime) {
    updates_.push_back({keyFrameAnimations, animationTime});
  }
  const std::vector<AnimatedPropertiesUpdate>& animatedPropertiesUpdates() const { return updates_; }

 private:
  foundation::Rect frame_;
  foundation::Point anchorPoint_{0.5, 0.5};
  std::vector<AnimatedPropertiesUpdate> updates_;
};

}  // namespace engine
