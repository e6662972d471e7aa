#pragma once
// AlertButtonLayout: which buttons of an operator alert answer the Return and
// Escape keys. The first button is the default (as the alert's first button
// answers 1000); Escape presses the button titled "Cancel", or the only button
// of a one-button alert, and otherwise does nothing, so that it can never
// confirm an action by accident.
//
// A pure function; any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace app {

inline constexpr const char* kCancelButtonTitle = "Cancel";

struct AlertButtonLayout {
  std::size_t defaultButton = 0;
  std::optional<std::size_t> escapeButton;
  friend bool operator==(const AlertButtonLayout&, const AlertButtonLayout&) = default;
};

AlertButtonLayout alertButtonLayout(const std::vector<std::string>& buttonTitles);

}  // namespace app
