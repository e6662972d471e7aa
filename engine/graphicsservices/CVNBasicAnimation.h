#pragma once
// CVNBasicAnimation: the in/out animation preset of a graphics item (type,
// option, duration, timing function), as far as the engine needs it. The
// graphics layer that animates items sits above the engine and is not built
// yet: the option and type tables are real (transition files name options by
// key), the key-frame expansion answers no animations.
//
// A plain value; the class operations are stateless and safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/geometry/Geometry.h"
#include "platform/Value.h"

namespace engine {

// Option bits; combinations name corners and edges ("topLeft" is 9).
enum AnimationOptionBits : int {
  kAnimationOptionTop = 1,
  kAnimationOptionMiddle = 2,
  kAnimationOptionBottom = 4,
  kAnimationOptionLeft = 8,
  kAnimationOptionCenter = 16,
  kAnimationOptionRight = 32,
  kAnimationOptionRect = 64,
};

enum class BasicAnimationType : int { None = 0, Fade = 1, Expand = 2, Push = 3, PushAndCrop = 4, MoveAndScale = 5 };

class CVNBasicAnimation {
 public:
  double duration() const { return duration_; }
  void setDuration(double seconds) { duration_ = seconds; }
  int timingFunction() const { return timingFunction_; }
  void setTimingFunction(int timingFunction) { timingFunction_ = timingFunction; }
  BasicAnimationType type() const { return type_; }
  void setType(BasicAnimationType type) { type_ = type; }
  int option() const { return option_; }
  void setOption(int option) { option_ = option; }

  // "topLeft" for 9; none for a value not in the table.
  static std::optional<std::string> keyFromAnimationOption(int option);
  // The value of an option key; 0 for anything else.
  static int optionFromString(std::string_view key);
  // "Top Left" for 9; none for a value not in the table.
  static std::optional<std::string> stringFromAnimationOption(int option);
  // "fade" for 1; none for a value not in the table.
  static std::optional<std::string> keyFromAnimationType(int type);
  // The type of a type key; None for anything else.
  static BasicAnimationType animationTypeFromString(std::string_view key);

  // Key-frame animations by property name for `animation` on an item. The
  // graphics layer is not built: always an empty dictionary.
  static platform::Dictionary keyFrameAnimationsFromBasicAnimation(const CVNBasicAnimation* animation,
                                                                   foundation::Rect itemFrame,
                                                                   foundation::Point itemAnchorPoint,
                                                                   foundation::Rect relativeToRect,
                                                                   double offsetInSeconds, bool forOutAnimation);

 private:
  double duration_ = 0.0;
  int timingFunction_ = 0;
  BasicAnimationType type_ = BasicAnimationType::None;
  int option_ = 0;
};

}  // namespace engine
