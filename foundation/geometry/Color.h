#pragma once
// A colour: a colour-space name, its components (without alpha) and alpha,
// or a pattern (a tile image repeated over what it fills). Plain value.
//
// Colour spaces: "CalibratedRGB", "DeviceRGB", "GenericRGB" (three
// components), "CalibratedWhite", "DeviceWhite" (one), "Pattern" (none).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace foundation {

inline constexpr const char* kCalibratedRGBColorSpace = "CalibratedRGB";
inline constexpr const char* kDeviceRGBColorSpace = "DeviceRGB";
inline constexpr const char* kGenericRGBColorSpace = "GenericRGB";
inline constexpr const char* kCalibratedWhiteColorSpace = "CalibratedWhite";
inline constexpr const char* kDeviceWhiteColorSpace = "DeviceWhite";
inline constexpr const char* kPatternColorSpace = "Pattern";

// A pattern tile: premultiplied 32-bit ARGB pixels in native byte order,
// rows of `width` pixels (the form cairo paints from).
struct PatternImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

class Color {
 public:
  Color() = default;  // transparent black, calibrated RGB
  static Color calibratedRGB(double red, double green, double blue, double alpha);
  static Color deviceRGB(double red, double green, double blue, double alpha);
  static Color genericRGB(double red, double green, double blue, double alpha);
  static Color calibratedWhite(double white, double alpha);
  static Color deviceWhite(double white, double alpha);
  static Color withPattern(std::shared_ptr<const PatternImage> image);
  // Calibrated white 2/3, opaque.
  static Color lightGray();

  const std::string& colorSpaceName() const { return colorSpaceName_; }
  const std::vector<double>& components() const { return components_; }
  double alpha() const { return alpha_; }
  bool isRGB() const { return components_.size() == 3 && !pattern_; }
  const std::shared_ptr<const PatternImage>& patternImage() const { return pattern_; }

  // Red, green and blue of an RGB colour (0 otherwise).
  double red() const { return isRGB() ? components_[0] : 0; }
  double green() const { return isRGB() ? components_[1] : 0; }
  double blue() const { return isRGB() ? components_[2] : 0; }

 private:
  Color(std::string space, std::vector<double> components, double alpha)
      : colorSpaceName_(std::move(space)), components_(std::move(components)), alpha_(alpha) {}

  std::string colorSpaceName_ = kCalibratedRGBColorSpace;
  std::vector<double> components_ = {0, 0, 0};
  double alpha_ = 0;
  std::shared_ptr<const PatternImage> pattern_;
};

}  // namespace foundation
