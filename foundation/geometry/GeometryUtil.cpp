#include "foundation/geometry/GeometryUtil.h"

#include <cmath>

namespace foundation {
namespace {

double even(double v) { return 2.0 * std::round(v / 2.0); }

}  // namespace

Point GeometryUtil::x2Point(Point point) { return {even(point.x), even(point.y)}; }
Size GeometryUtil::x2Size(Size size) { return {even(size.width), even(size.height)}; }
Rect GeometryUtil::x2Rect(Rect rect) { return {x2Point(rect.origin), x2Size(rect.size)}; }

Point GeometryUtil::roundedPoint(Point point) { return {std::ceil(point.x), std::ceil(point.y)}; }
Size GeometryUtil::roundedSize(Size size) { return {std::ceil(size.width), std::ceil(size.height)}; }
Rect GeometryUtil::roundedRect(Rect rect) { return {roundedPoint(rect.origin), roundedSize(rect.size)}; }

Rect GeometryUtil::CGRectTranslate(Rect rect, double deltaX, double deltaY) {
  rect.origin.x += deltaX;
  rect.origin.y += deltaY;
  return rect;
}

Rect GeometryUtil::CGRectMakeWithOrigin(Point origin, Size size) { return {origin, size}; }

Rect GeometryUtil::CGRectMakeWithCenter(Point center, Size size) {
  return {{center.x - size.width / 2, center.y - size.height / 2}, size};
}

Rect GeometryUtil::CGRectFromCGSize(Size size) { return {{0, 0}, size}; }

Rect GeometryUtil::CGRectWithFromRect(Rect rect, Point center) {
  return CGRectMakeWithCenter(center, {std::fabs(rect.size.width), std::fabs(rect.size.height)});
}

Rect CVNRect::rectValue() const {
  std::lock_guard lock(mutex_);
  return rectValue_;
}

void CVNRect::setRectValue(Rect rect) {
  std::lock_guard lock(mutex_);
  rectValue_ = rect;
}

}  // namespace foundation
