#pragma once
// Drawing paths: a list of move, line, curve and close elements, the copy
// used for drawing (closed, and replaced by a 25 × 25 square when any point
// is not a number), regular polygons, and adding a path to a cairo context.
// Plain values; any thread (a cairo context stays on its drawing thread).

#include <array>
#include <optional>
#include <vector>

#include "foundation/geometry/Geometry.h"

typedef struct _cairo cairo_t;

namespace foundation {

struct PathElement {
  enum class Type { MoveTo = 1, LineTo = 2, CurveTo = 3, ClosePath = 4 };
  Type type = Type::MoveTo;
  std::array<Point, 3> points{};  // MoveTo/LineTo: [0]; CurveTo: control 1, control 2, end
  friend bool operator==(const PathElement&, const PathElement&) = default;
};

class BezierPath {
 public:
  void moveTo(Point point);
  void lineTo(Point point);
  void curveTo(Point end, Point control1, Point control2);
  void closePath();
  void appendRect(Rect rect);

  const std::vector<PathElement>& elements() const { return elements_; }
  bool isEmpty() const { return elements_.empty(); }
  // The smallest rectangle holding every point (control points included).
  Rect bounds() const;

  friend bool operator==(const BezierPath&, const BezierPath&) = default;

 private:
  std::vector<PathElement> elements_;
};

// None for an empty path; the rectangle (0, 0, 25, 25) when any point is NaN;
// otherwise the elements in order, closed at the end unless the last element
// already closes.
std::optional<BezierPath> copyQuartzPath(const BezierPath& path);

// Moves to (1, 0), lines to (cos 2πk/n, sin 2πk/n) for k = 1 ... n - 1 at
// single precision, and closes; for n below 2 only the move and the close.
BezierPath bezierPathForRegularPolygon(int sides);

// Adds the path's elements to the context's current path.
void appendPathToContext(cairo_t* context, const BezierPath& path);

}  // namespace foundation
