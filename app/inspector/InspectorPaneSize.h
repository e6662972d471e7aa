#pragma once
// Sizing the inspector window to a pane: the content takes the larger of the
// pane's wanted size and its minimum in each dimension, and the window grows
// or shrinks by the difference with its top edge kept in place. Frames are in
// screen coordinates with y growing downwards, so keeping the top edge keeps y.

#include "foundation/geometry/Geometry.h"

namespace app::inspector {

using PaneSize = foundation::Size;
using PaneFrame = foundation::Rect;

struct PaneResize {
  PaneFrame frame;            // the window's new frame
  PaneSize minimumContent;    // the content's minimum from now on
  bool sizeChanged = false;   // false: the pane shows at once, nothing moves
};

// `window` is the window's frame, `content` its content size now.
PaneResize paneResize(const PaneFrame& window, const PaneSize& content, const PaneSize& wanted,
                      const PaneSize& minimum);

}  // namespace app::inspector
