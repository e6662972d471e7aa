#pragma once
// A named pause point: the position in seconds at which playback pauses.
// Graphics project documents keep lists of them as "PauseFrame" elements.
// Plain value.

#include <optional>
#include <string>

#include <pugixml.hpp>

namespace engine::items {

class CVNPauseFrame {
 public:
  // No name, no position (-1.0).
  CVNPauseFrame() = default;
  CVNPauseFrame(std::optional<std::string> displayName, double timeInSeconds);
  // A missing attribute gives no name or 0.0.
  static CVNPauseFrame fromXMLElement(const pugi::xml_node& element);

  // Appends a "PauseFrame" element to `parent` and returns it.
  pugi::xml_node XMLElement(pugi::xml_node parent) const;
  std::string description() const;

  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> name) { displayName_ = std::move(name); }
  double timeInSeconds() const { return timeInSeconds_; }
  void setTimeInSeconds(double seconds) { timeInSeconds_ = seconds; }

 private:
  std::optional<std::string> displayName_;
  double timeInSeconds_ = -1.0;
};

}  // namespace engine::items
