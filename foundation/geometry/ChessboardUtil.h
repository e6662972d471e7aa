#pragma once
// The checkerboard behind transparent pictures: 48 × 48 cells of grey 24/255
// with the squares (0, 0, 24, 24) and (24, 24, 24, 24) in grey 7/255, tiled
// from the context's origin over the rectangle. Stateless.

#include "foundation/geometry/Geometry.h"

typedef struct _cairo cairo_t;

namespace foundation {

class ChessboardUtil {
 public:
  // Saves and restores the context's state around the fill.
  static void drawInContext(cairo_t* context, Rect bounds);
};

}  // namespace foundation
