#include "foundation/geometry/ChessboardUtil.h"

#include <cairo.h>

namespace foundation {

void ChessboardUtil::drawInContext(cairo_t* context, Rect bounds) {
  cairo_surface_t* cell = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 48, 48);
  cairo_t* cellContext = cairo_create(cell);
  cairo_set_source_rgb(cellContext, 24 / 255.0, 24 / 255.0, 24 / 255.0);
  cairo_rectangle(cellContext, 0, 0, 48, 48);
  cairo_fill(cellContext);
  cairo_set_source_rgb(cellContext, 7 / 255.0, 7 / 255.0, 7 / 255.0);
  cairo_rectangle(cellContext, 0, 0, 24, 24);
  cairo_rectangle(cellContext, 24, 24, 24, 24);
  cairo_fill(cellContext);
  cairo_destroy(cellContext);

  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cell);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_save(context);
  cairo_set_source(context, pattern);
  cairo_rectangle(context, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height);
  cairo_fill(context);
  cairo_restore(context);
  cairo_pattern_destroy(pattern);
  cairo_surface_destroy(cell);
}

}  // namespace foundation
