#pragma once
// Stateless geometry: values moved to even whole numbers (for 4:2:2 video,
// whose chroma pairs need even positions and sizes), rounded up to whole
// numbers, and rectangles made from centres, origins and sizes. The
// application-kit and core-graphics forms of the desktop design are the same
// values here, so each family is one function per kind. Any thread.

#include <memory>
#include <mutex>

#include "foundation/geometry/Geometry.h"

namespace foundation {

class GeometryUtil {
 public:
  // Every coordinate v becomes 2 × round(v / 2), halves away from zero
  // (3 → 4, 2.9 → 2, -1 → -2). A rectangle's origin follows the point rule and
  // its size the size rule.
  static Point x2Point(Point point);
  static Size x2Size(Size size);
  static Rect x2Rect(Rect rect);
  // Every coordinate rounded up (ceiling), origin and size alike.
  static Point roundedPoint(Point point);
  static Size roundedSize(Size size);
  static Rect roundedRect(Rect rect);

  static Rect CGRectTranslate(Rect rect, double deltaX, double deltaY);
  static Rect CGRectMakeWithOrigin(Point origin, Size size);
  static Rect CGRectMakeWithCenter(Point center, Size size);
  static Rect CGRectFromCGSize(Size size);
  // A rectangle of the magnitudes of rect's width and height centred on `center`.
  static Rect CGRectWithFromRect(Rect rect, Point center);
};

// A rectangle in an object, read and written as one unit from any thread.
class CVNRect {
 public:
  CVNRect() = default;
  explicit CVNRect(Rect rect) : rectValue_(rect) {}
  CVNRect(const CVNRect&) = delete;
  CVNRect& operator=(const CVNRect&) = delete;
  static std::shared_ptr<CVNRect> rectFromCGRect(Rect rect) { return std::make_shared<CVNRect>(rect); }

  Rect rectValue() const;
  void setRectValue(Rect rect);

 private:
  mutable std::mutex mutex_;
  Rect rectValue_;  // guarded by mutex_
};

}  // namespace foundation
