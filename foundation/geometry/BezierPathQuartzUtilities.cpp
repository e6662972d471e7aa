#include "foundation/geometry/BezierPathQuartzUtilities.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace foundation {

void BezierPath::moveTo(Point point) { elements_.push_back({PathElement::Type::MoveTo, {point}}); }
void BezierPath::lineTo(Point point) { elements_.push_back({PathElement::Type::LineTo, {point}}); }
void BezierPath::curveTo(Point end, Point control1, Point control2) {
  elements_.push_back({PathElement::Type::CurveTo, {control1, control2, end}});
}
void BezierPath::closePath() { elements_.push_back({PathElement::Type::ClosePath, {}}); }

void BezierPath::appendRect(Rect rect) {
  moveTo(rect.origin);
  lineTo({rect.origin.x + rect.size.width, rect.origin.y});
  lineTo({rect.origin.x + rect.size.width, rect.origin.y + rect.size.height});
  lineTo({rect.origin.x, rect.origin.y + rect.size.height});
  closePath();
}

namespace {
std::size_t pointCount(PathElement::Type type) {
  switch (type) {
    case PathElement::Type::MoveTo:
    case PathElement::Type::LineTo: return 1;
    case PathElement::Type::CurveTo: return 3;
    case PathElement::Type::ClosePath: return 0;
  }
  return 0;
}
}  // namespace

Rect BezierPath::bounds() const {
  double minX = std::numeric_limits<double>::infinity(), minY = minX;
  double maxX = -minX, maxY = -minX;
  for (const auto& element : elements_) {
    for (std::size_t i = 0; i < pointCount(element.type); ++i) {
      minX = std::min(minX, element.points[i].x);
      maxX = std::max(maxX, element.points[i].x);
      minY = std::min(minY, element.points[i].y);
      maxY = std::max(maxY, element.points[i].y);
    }
  }
  if (minX > maxX) return {};
  return {{minX, minY}, {maxX - minX, maxY - minY}};
}

std::optional<BezierPath> copyQuartzPath(const BezierPath& path) {
  if (path.isEmpty()) return std::nullopt;
  BezierPath copy;
  for (const auto& element : path.elements()) {
    for (std::size_t i = 0; i < pointCount(element.type); ++i) {
      if (std::isnan(element.points[i].x) || std::isnan(element.points[i].y)) {
        BezierPath square;
        square.appendRect({{0, 0}, {25, 25}});
        return square;
      }
    }
  }
  copy = path;
  if (path.elements().back().type != PathElement::Type::ClosePath) copy.closePath();
  return copy;
}

BezierPath bezierPathForRegularPolygon(int sides) {
  BezierPath path;
  path.moveTo({1, 0});
  for (int k = 1; k < sides; ++k) {
    const double angle = 2 * std::numbers::pi * k / sides;
    path.lineTo({static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))});
  }
  path.closePath();
  return path;
}

void appendPathToContext(cairo_t* context, const BezierPath& path) {
  for (const auto& element : path.elements()) {
    const auto& p = element.points;
    switch (element.type) {
      case PathElement::Type::MoveTo: cairo_move_to(context, p[0].x, p[0].y); break;
      case PathElement::Type::LineTo: cairo_line_to(context, p[0].x, p[0].y); break;
      case PathElement::Type::CurveTo: cairo_curve_to(context, p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y); break;
      case PathElement::Type::ClosePath: cairo_close_path(context); break;
    }
  }
}

}  // namespace foundation
