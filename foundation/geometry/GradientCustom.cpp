#include "foundation/geometry/GradientCustom.h"

#include <cairo.h>

#include <cmath>
#include <numbers>

#include "foundation/geometry/ColorAdditions.h"
#include "platform/Diagnostics.h"

namespace foundation {

double degreesToRadians(double degrees) { return degrees * std::numbers::pi / 180.0; }
double radiansToDegrees(double radians) { return radians * 180.0 / std::numbers::pi; }

std::optional<Gradient> Gradient::withColors(std::vector<Color> colors, std::vector<double> locations) {
  if (colors.size() != locations.size()) return std::nullopt;
  Gradient gradient;
  gradient.colors_ = std::move(colors);
  gradient.locations_ = std::move(locations);
  return gradient;
}

std::optional<Gradient> Gradient::initWithDictionary(const platform::Dictionary& dictionary) {
  auto colorsValue = dictionary.find("colors");
  auto locationsValue = dictionary.find("locations");
  const platform::Array* colors = colorsValue == dictionary.end() ? nullptr : colorsValue->second.array();
  const platform::Array* locations = locationsValue == dictionary.end() ? nullptr : locationsValue->second.array();
  if (colors && locations && colors->size() == locations->size()) {
    std::vector<Color> decoded;
    std::vector<double> stops;
    for (std::size_t i = 0; i < colors->size(); ++i) {
      const platform::Dictionary* entry = (*colors)[i].dictionary();
      std::optional<Color> color = entry ? colorFromDictionary(*entry) : std::nullopt;
      if (color) decoded.push_back(*color);
      stops.push_back((*locations)[i].realOr(0));
    }
    if (auto gradient = withColors(std::move(decoded), std::move(stops))) return gradient;
  }
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "Gradient init failed: colors count != locations count");
  return std::nullopt;
}

platform::Dictionary Gradient::dictionaryRepresentation() const {
  platform::Array colors, locations;
  for (std::size_t i = 0; i < colors_.size(); ++i) {
    colors.emplace_back(foundation::dictionaryRepresentation(colors_[i]));
    locations.emplace_back(locations_[i]);
  }
  return {{"colors", std::move(colors)}, {"locations", std::move(locations)}};
}

bool Gradient::isColorLikeColor(const Color& a, const Color& b) {
  if (a.colorSpaceName() != b.colorSpaceName()) return false;
  const auto& ca = a.components();
  const auto& cb = b.components();
  for (std::size_t i = 0; i <= ca.size(); ++i) {
    const double x = i < ca.size() ? ca[i] : a.alpha();
    const double y = i < ca.size() ? (i < cb.size() ? cb[i] : 0.0) : b.alpha();
    if (std::fabs(x - y) > 0.001) return false;
  }
  return true;
}

bool Gradient::isEqualToGradient(const Gradient& other) const {
  if (colors_.size() != other.colors_.size()) return false;
  for (std::size_t i = 0; i < colors_.size(); ++i) {
    if (locations_[i] != other.locations_[i] || !isColorLikeColor(colors_[i], other.colors_[i])) return false;
  }
  return true;
}

Gradient Gradient::gradientWithAlphaComponent(double alpha) const {
  Gradient copy = *this;
  for (Color& color : copy.colors_) {
    const Color rgba = rgbaColor(color);
    color = Color::calibratedRGB(rgba.red(), rgba.green(), rgba.blue(), alpha);
  }
  return copy;
}

void Gradient::getColorsLocations(std::vector<Color>& colors, std::vector<double>& locations) const {
  colors.insert(colors.end(), colors_.begin(), colors_.end());
  locations.insert(locations.end(), locations_.begin(), locations_.end());
}

cairo_pattern_t* Gradient::copyCoreGraphicsGradient() const {
  cairo_pattern_t* pattern = cairo_pattern_create_linear(0, 0, 1, 0);
  for (std::size_t i = 0; i < colors_.size(); ++i) {
    const Color rgba = rgbaColor(colors_[i]);
    cairo_pattern_add_color_stop_rgba(pattern, locations_[i], rgba.red(), rgba.green(), rgba.blue(), rgba.alpha());
  }
  return pattern;
}

void Gradient::getStartPointEndPoint(Point* start, Point* end, double angle, Rect rect) {
  const double reduced = std::fmod(angle, 360.0);
  const double quadrant = std::floor(reduced / 90.0);
  const double remainder = std::fmod(reduced, 90.0);
  const bool widthFirst = quadrant == 0 || quadrant == 2;
  const double d1 = widthFirst ? rect.size.width : rect.size.height;
  const double d2 = widthFirst ? rect.size.height : rect.size.width;
  const double half = (1 - remainder / 90) * d1 / 2 + (remainder / 90) * d2 / 2;
  const double radians = degreesToRadians(angle);
  const double dx = std::cos(radians) * half, dy = std::sin(radians) * half;
  const Point center{rect.origin.x + rect.size.width / 2, rect.origin.y + rect.size.height / 2};
  *end = {center.x + dx, center.y + dy};
  *start = {center.x - dx, center.y - dy};
}

void Gradient::myDrawInBezierPath(cairo_t* context, const BezierPath& path, double angle) const {
  if (colors_.empty()) return;
  Point start, end;
  getStartPointEndPoint(&start, &end, angle, path.bounds());
  cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
  for (std::size_t i = 0; i < colors_.size(); ++i) {
    const Color rgba = rgbaColor(colors_[i]);
    cairo_pattern_add_color_stop_rgba(pattern, locations_[i], rgba.red(), rgba.green(), rgba.blue(), rgba.alpha());
  }
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_save(context);
  cairo_new_path(context);
  appendPathToContext(context, path);
  cairo_clip(context);
  cairo_set_source(context, pattern);
  cairo_paint(context);
  cairo_restore(context);
  cairo_pattern_destroy(pattern);
}

}  // namespace foundation
