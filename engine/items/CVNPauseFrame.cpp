#include "engine/items/CVNPauseFrame.h"

#include <cstdio>
#include <cstdlib>

#include "foundation/XMLValidation.h"

namespace engine::items {

CVNPauseFrame::CVNPauseFrame(std::optional<std::string> displayName, double timeInSeconds)
    : displayName_(std::move(displayName)), timeInSeconds_(timeInSeconds) {}

CVNPauseFrame CVNPauseFrame::fromXMLElement(const pugi::xml_node& element) {
  const auto name = element.attribute("displayName");
  const auto time = element.attribute("timeInSeconds");
  std::optional<std::string> displayName;
  if (name) displayName = name.value();
  return CVNPauseFrame(std::move(displayName), time ? std::strtod(time.value(), nullptr) : 0.0);
}

pugi::xml_node CVNPauseFrame::XMLElement(pugi::xml_node parent) const {
  auto element = parent.append_child("PauseFrame");
  element.append_attribute("displayName") = displayName_ ? foundation::validXMLString(*displayName_).c_str() : "";
  char time[64];
  std::snprintf(time, sizeof time, "%0.3f", timeInSeconds_);
  element.append_attribute("timeInSeconds") = time;
  return element;
}

std::string CVNPauseFrame::description() const {
  char text[64];
  std::snprintf(text, sizeof text, " %0.2f", timeInSeconds_);
  return displayName_.value_or("(null)") + text;
}

}  // namespace engine::items
