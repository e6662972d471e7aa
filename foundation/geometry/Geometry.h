#pragma once
// Points, sizes and rectangles as pairs and quadruples of doubles: the one
// form of the drawing, window and picture coordinates. Plain values.

namespace foundation {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  Point origin;
  Size size;
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace foundation
