#include "foundation/geometry/Color.h"

namespace foundation {

Color Color::calibratedRGB(double red, double green, double blue, double alpha) {
  return Color(kCalibratedRGBColorSpace, {red, green, blue}, alpha);
}
Color Color::deviceRGB(double red, double green, double blue, double alpha) {
  return Color(kDeviceRGBColorSpace, {red, green, blue}, alpha);
}
Color Color::genericRGB(double red, double green, double blue, double alpha) {
  return Color(kGenericRGBColorSpace, {red, green, blue}, alpha);
}
Color Color::calibratedWhite(double white, double alpha) { return Color(kCalibratedWhiteColorSpace, {white}, alpha); }
Color Color::deviceWhite(double white, double alpha) { return Color(kDeviceWhiteColorSpace, {white}, alpha); }

Color Color::withPattern(std::shared_ptr<const PatternImage> image) {
  Color color(kPatternColorSpace, {}, 1.0);
  color.pattern_ = std::move(image);
  return color;
}

Color Color::lightGray() { return calibratedWhite(2.0 / 3.0, 1.0); }

}  // namespace foundation
