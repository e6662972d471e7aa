#include "app/shell/AlertButtonLayout.h"

namespace app {

AlertButtonLayout alertButtonLayout(const std::vector<std::string>& buttonTitles) {
  AlertButtonLayout layout;
  for (std::size_t i = 0; i < buttonTitles.size(); ++i) {
    if (buttonTitles[i] == kCancelButtonTitle) {
      layout.escapeButton = i;
      return layout;
    }
  }
  if (buttonTitles.size() == 1) layout.escapeButton = 0;
  return layout;
}

}  // namespace app
