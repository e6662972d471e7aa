#include "engine/graphicsservices/CVNBasicAnimation.h"

#include <array>

namespace engine {

namespace {

struct OptionEntry {
  int option;
  const char* key;
  const char* name;
};

constexpr std::array<OptionEntry, 17> kOptions{{
    {0, "none", "None"},
    {1, "top", "Top"},
    {4, "bottom", "Bottom"},
    {8, "left", "Left"},
    {32, "right", "Right"},
    {9, "topLeft", "Top Left"},
    {17, "topCenter", "Top Center"},
    {33, "topRight", "Top Right"},
    {10, "middleLeft", "Middle Left"},
    {18, "middleCenter", "Middle Center"},
    {34, "middleRight", "Middle Right"},
    {12, "bottomLeft", "Bottom Left"},
    {20, "bottomCenter", "Bottom Center"},
    {36, "bottomRight", "Bottom Right"},
    {5, "top+bottom", "Top and Bottom"},
    {40, "left+right", "Left and Right"},
    {64, "rect", "Frame"},
}};

constexpr std::array<const char*, 6> kTypeKeys{"none", "fade", "expand", "push", "pushAndCrop", "moveAndScale"};

const OptionEntry* optionEntry(int option) {
  for (const auto& entry : kOptions) {
    if (entry.option == option) return &entry;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> CVNBasicAnimation::keyFromAnimationOption(int option) {
  if (const OptionEntry* entry = optionEntry(option)) return entry->key;
  return std::nullopt;
}

int CVNBasicAnimation::optionFromString(std::string_view key) {
  for (const auto& entry : kOptions) {
    if (key == entry.key) return entry.option;
  }
  return 0;
}

std::optional<std::string> CVNBasicAnimation::stringFromAnimationOption(int option) {
  if (const OptionEntry* entry = optionEntry(option)) return entry->name;
  return std::nullopt;
}

std::optional<std::string> CVNBasicAnimation::keyFromAnimationType(int type) {
  if (type < 0 || type >= static_cast<int>(kTypeKeys.size())) return std::nullopt;
  return kTypeKeys[static_cast<std::size_t>(type)];
}

BasicAnimationType CVNBasicAnimation::animationTypeFromString(std::string_view key) {
  for (std::size_t type = 0; type < kTypeKeys.size(); ++type) {
    if (key == kTypeKeys[type]) return static_cast<BasicAnimationType>(type);
  }
  return BasicAnimationType::None;
}

platform::Dictionary CVNBasicAnimation::keyFrameAnimationsFromBasicAnimation(const CVNBasicAnimation*,
                                                                             foundation::Rect, foundation::Point,
                                                                             foundation::Rect, double, bool) {
  return {};
}

}  // namespace engine
