#include "engine/transitions/CVNShaderTransition.h"

#include <array>

#include "engine/graphicsservices/CVNBasicAnimation.h"
#include "platform/Diagnostics.h"

namespace engine {

namespace {

struct ShaderTypeEntry {
  const char* name;
  std::vector<int> options;
};

const std::array<ShaderTypeEntry, 12>& shaderTypes() {
  static const std::array<ShaderTypeEntry, 12> kTypes{{
      {"WipeCornersInFourBoxes", {0}},
      {"WipeSingleBox", {1, 4, 8, 10, 17, 18, 20, 32, 34}},
      {"WipeCornersInDiagonal", {9, 12, 33, 36}},
      {"WipeDiagonalFromCenter", {9, 12}},
      {"WipeLines", {9, 12, 33, 36}},
      {"WipeColumns", {9, 12, 33, 36}},
      {"WipeSingleTriangle", {1, 4, 8, 32}},
      {"WipeDualTriangles", {5, 40}},
      {"WipeCircle", {0}},
      {"Push", {1, 4, 8, 32}},
      {"CrossFade", {0}},
      {"FadeInFadeOut", {0}},
  }};
  return kTypes;
}

// The catalogue walks one type past the table, which offers nothing.
constexpr int kLastCatalogueType = 12;

}  // namespace

CVNShaderTransition::CVNShaderTransition() { setType(TransitionType::Shader); }

std::shared_ptr<CVNShaderTransition> CVNShaderTransition::initWithDictionary(const platform::Dictionary& dictionary,
                                                                             std::string* error) {
  return makeFromDictionary<CVNShaderTransition>(dictionary, error);
}

void CVNShaderTransition::readDictionary(const platform::Dictionary& dictionary, MissingKeys& missing) {
  CVNTransition::readDictionary(dictionary, missing);
  const platform::Value entries(dictionary);
  // A name outside the table is refused rather than kept as type -1, which no
  // renderer could draw.
  const std::string* typeName = entries["ShaderAnimationType"].string();
  const int animationType = typeName ? shaderAnimationTypeFromString(*typeName) : kUnknownShaderAnimationType;
  if (animationType == kUnknownShaderAnimationType) missing.add("ShaderAnimationType");
  const std::string* optionKey = entries["ShaderAnimationOption"].string();
  if (!optionKey) missing.add("ShaderAnimationOption");

  std::lock_guard lock(mutex_);
  if (animationType != kUnknownShaderAnimationType) shaderAnimationType_ = animationType;
  if (optionKey) shaderAnimationOption_ = CVNBasicAnimation::optionFromString(*optionKey);
}

platform::Dictionary CVNShaderTransition::dictionaryRepresentation() const {
  platform::Dictionary dictionary = CVNTransition::dictionaryRepresentation();
  dictionary["ShaderAnimationType"] = platform::Value(stringFromShaderAnimationType(shaderAnimationType()));
  if (auto key = CVNBasicAnimation::keyFromAnimationOption(shaderAnimationOption())) {
    dictionary["ShaderAnimationOption"] = platform::Value(*key);
  }
  return dictionary;
}

std::shared_ptr<CVNTransition> CVNShaderTransition::copy() const {
  return initWithDictionary(dictionaryRepresentation(), nullptr);
}

const std::vector<std::shared_ptr<CVNShaderTransition>>& CVNShaderTransition::availableTransitions() {
  static const std::vector<std::shared_ptr<CVNShaderTransition>> kCatalogue = [] {
    std::vector<std::shared_ptr<CVNShaderTransition>> catalogue;
    for (int animationType = 0; animationType <= kLastCatalogueType; ++animationType) {
      const std::string typeName = stringFromShaderAnimationType(animationType);
      for (int option : availableOptionsForTransitionType(animationType)) {
        auto transition = std::make_shared<CVNShaderTransition>();
        transition->setShaderAnimationType(animationType);
        transition->setShaderAnimationOption(option);
        transition->setName(typeName + " " + CVNBasicAnimation::stringFromAnimationOption(option).value_or(""));
        const std::string uniqueID = typeName + "_" + CVNBasicAnimation::keyFromAnimationOption(option).value_or("");
        transition->setUniqueID(uniqueID);
        platform::reportDiagnostic(platform::DiagnosticLevel::Info, uniqueID);
        catalogue.push_back(std::move(transition));
      }
    }
    return catalogue;
  }();
  return kCatalogue;
}

std::vector<int> CVNShaderTransition::availableOptionsForTransitionType(int shaderAnimationType) {
  if (shaderAnimationType < 0 || shaderAnimationType >= static_cast<int>(shaderTypes().size())) return {};
  return shaderTypes()[static_cast<std::size_t>(shaderAnimationType)].options;
}

std::string CVNShaderTransition::stringFromShaderAnimationType(int shaderAnimationType) {
  if (shaderAnimationType < 0 || shaderAnimationType >= static_cast<int>(shaderTypes().size())) {
    return "Missing Name (" + std::to_string(shaderAnimationType) + ")";
  }
  return shaderTypes()[static_cast<std::size_t>(shaderAnimationType)].name;
}

int CVNShaderTransition::shaderAnimationTypeFromString(std::string_view name) {
  for (std::size_t type = 0; type < shaderTypes().size(); ++type) {
    if (name == shaderTypes()[type].name) return static_cast<int>(type);
  }
  return kUnknownShaderAnimationType;
}

int CVNShaderTransition::shaderAnimationType() const { return getField(shaderAnimationType_); }
void CVNShaderTransition::setShaderAnimationType(int shaderAnimationType) {
  setField("shaderAnimationType", shaderAnimationType_, shaderAnimationType);
}
int CVNShaderTransition::shaderAnimationOption() const { return getField(shaderAnimationOption_); }
void CVNShaderTransition::setShaderAnimationOption(int shaderAnimationOption) {
  setField("shaderAnimationOption", shaderAnimationOption_, shaderAnimationOption);
}

}  // namespace engine
