#pragma once
// CVNShaderTransition: a wipe drawn by the GPU between the two pictures, named
// by an animation type ("WipeSingleBox") and an option ("topLeft"). The
// catalogue holds every type with every option it offers. Thread safety as
// CVNTransition.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/transitions/CVNTransition.h"

namespace engine {

inline constexpr int kShaderAnimationTypePush = 9;
inline constexpr int kUnknownShaderAnimationType = -1;

class CVNShaderTransition : public CVNTransition {
 public:
  // Type shader, animation type 9 (Push), option 8 (left).
  CVNShaderTransition();

  // The base keys; "ShaderAnimationType" (a type name of the table) and
  // "ShaderAnimationOption" (an option key) are required.
  static std::shared_ptr<CVNShaderTransition> initWithDictionary(const platform::Dictionary& dictionary,
                                                                 std::string* error);
  platform::Dictionary dictionaryRepresentation() const override;
  std::shared_ptr<CVNTransition> copy() const override;

  // Every type from 0 with each option it offers, in ascending order: 37
  // transitions, made once and kept. Each unique ID goes to the system log.
  static const std::vector<std::shared_ptr<CVNShaderTransition>>& availableTransitions();
  // None for a type outside the table.
  static std::vector<int> availableOptionsForTransitionType(int shaderAnimationType);
  // "Missing Name (<type>)" for a type outside the table.
  static std::string stringFromShaderAnimationType(int shaderAnimationType);
  // -1 for a name outside the table.
  static int shaderAnimationTypeFromString(std::string_view name);

  int shaderAnimationType() const;
  void setShaderAnimationType(int shaderAnimationType);
  int shaderAnimationOption() const;
  void setShaderAnimationOption(int shaderAnimationOption);

 protected:
  void readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) override;

 private:
  int shaderAnimationType_ = kShaderAnimationTypePush;  // guarded by mutex_
  int shaderAnimationOption_ = 8;                       // guarded by mutex_
};

}  // namespace engine
