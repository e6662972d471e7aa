#include "app/inspector/InspectorPaneSize.h"

#include <algorithm>

namespace app::inspector {

PaneResize paneResize(const PaneFrame& window, const PaneSize& content, const PaneSize& wanted,
                      const PaneSize& minimum) {
  const PaneSize target{std::max(wanted.width, minimum.width), std::max(wanted.height, minimum.height)};
  const double deltaWidth = target.width - content.width;
  const double deltaHeight = target.height - content.height;
  PaneResize resize;
  resize.frame = PaneFrame{window.origin, {window.size.width + deltaWidth, window.size.height + deltaHeight}};
  resize.minimumContent = minimum;
  resize.sizeChanged = deltaWidth != 0 || deltaHeight != 0;
  return resize;
}

}  // namespace app::inspector
