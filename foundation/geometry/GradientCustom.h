#pragma once
// Gradients of graphics projects: colour stops with locations, their
// dictionary form ("colors": colour dictionaries, "locations": numbers, one
// per colour, in stop order), likeness and equality, an alpha variant,
// drawing inside a path at an angle with cairo, and the start and end points
// an angle gives in a rectangle. Plain values; any thread (a cairo context
// stays on its drawing thread).

#include <optional>
#include <string>
#include <vector>

#include "foundation/geometry/BezierPathQuartzUtilities.h"
#include "foundation/geometry/Color.h"
#include "platform/Value.h"

typedef struct _cairo_pattern cairo_pattern_t;

namespace foundation {

class Gradient {
 public:
  // Colours and locations of equal count, in the generic RGB colour space.
  static std::optional<Gradient> withColors(std::vector<Color> colors, std::vector<double> locations);
  // None (and "Gradient init failed: colors count != locations count" to the
  // console) when the counts differ, also after colours that cannot be
  // decoded were skipped.
  static std::optional<Gradient> initWithDictionary(const platform::Dictionary& dictionary);
  platform::Dictionary dictionaryRepresentation() const;

  std::size_t numberOfColorStops() const { return colors_.size(); }
  const std::string& colorSpaceName() const { return colorSpaceName_; }

  // Same colour-space names and every component (counted on a) within 0.001.
  static bool isColorLikeColor(const Color& a, const Color& b);
  // Same stop count; at each stop equal locations and alike colours.
  bool isEqualToGradient(const Gradient& other) const;
  Gradient gradientWithAlphaComponent(double alpha) const;

  // Fills the path with the gradient running at `angle` degrees across the
  // path's bounds.
  void myDrawInBezierPath(cairo_t* context, const BezierPath& path, double angle) const;
  // Appends each stop's colour and location.
  void getColorsLocations(std::vector<Color>& colors, std::vector<double>& locations) const;
  // A linear cairo pattern from (0, 0) to (1, 0) with the stops; the caller
  // destroys it (cairo_pattern_destroy).
  cairo_pattern_t* copyCoreGraphicsGradient() const;

  static void getStartPointEndPoint(Point* start, Point* end, double angle, Rect rect);

 private:
  Gradient() = default;
  std::vector<Color> colors_;
  std::vector<double> locations_;
  std::string colorSpaceName_ = kGenericRGBColorSpace;
};

double degreesToRadians(double degrees);
double radiansToDegrees(double radians);

}  // namespace foundation
