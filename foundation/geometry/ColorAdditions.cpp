#include "foundation/geometry/ColorAdditions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>

#include "platform/PropertyList.h"

namespace foundation {
namespace {

unsigned scaled255(double component) {
  const double v = component * 255.0;
  if (!(v > 0)) return 0;  // negatives and NaN
  if (v >= 4294967295.0) return 4294967295u;
  return static_cast<unsigned>(v);
}

struct HSB {
  double hue = 0, saturation = 0, brightness = 0;
};

HSB toHSB(double r, double g, double b) {
  const double maximum = std::max({r, g, b});
  const double minimum = std::min({r, g, b});
  const double delta = maximum - minimum;
  HSB hsb;
  hsb.brightness = maximum;
  hsb.saturation = maximum > 0 ? delta / maximum : 0;
  if (delta > 0) {
    double h;
    if (maximum == r) {
      h = (g - b) / delta;
    } else if (maximum == g) {
      h = 2 + (b - r) / delta;
    } else {
      h = 4 + (r - g) / delta;
    }
    h /= 6;
    if (h < 0) h += 1;
    hsb.hue = h;
  }
  return hsb;
}

Color fromHSB(const HSB& hsb, double alpha) {
  const double h = (hsb.hue - std::floor(hsb.hue)) * 6;
  const int sector = static_cast<int>(h) % 6;
  const double f = h - std::floor(h);
  const double v = hsb.brightness, s = hsb.saturation;
  const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  const double rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
  return Color::calibratedRGB(rgb[sector][0], rgb[sector][1], rgb[sector][2], alpha);
}

Color scaledBrightness(const Color& color, double factor, bool capped) {
  const Color rgba = rgbaColor(color);
  HSB hsb = toHSB(rgba.red(), rgba.green(), rgba.blue());
  hsb.brightness *= factor;
  if (capped) hsb.brightness = std::min(hsb.brightness, 1.0);
  return fromHSB(hsb, rgba.alpha());
}

// "0.5 0.25 1 0.5" (possibly NUL-terminated) as numbers.
std::vector<double> numbersFromData(const platform::Data& data) {
  std::string text(data.begin(), std::find(data.begin(), data.end(), 0));
  std::istringstream stream(text);
  std::vector<double> numbers;
  double n;
  while (numbers.size() < 5 && stream >> n) numbers.push_back(n);
  return numbers;
}

// An archived desktop colour: the first archived object with a colour-space
// number, RGB (1, 2) or grey (3, 4) components as text.
std::optional<Color> desktopArchivedColor(const platform::Value& archive) {
  const platform::Array* objects = archive["$objects"].array();
  if (!objects) return std::nullopt;
  for (const platform::Value& object : *objects) {
    const auto space = object["NSColorSpace"].integer();
    if (!space) continue;
    if (*space == 1 || *space == 2) {
      const platform::Data* data = object["NSRGB"].data();
      if (!data) return std::nullopt;
      const std::vector<double> n = numbersFromData(*data);
      if (n.size() < 3) return std::nullopt;
      const double alpha = n.size() > 3 ? n[3] : 1.0;
      return *space == 1 ? Color::calibratedRGB(n[0], n[1], n[2], alpha) : Color::deviceRGB(n[0], n[1], n[2], alpha);
    }
    if (*space == 3 || *space == 4) {
      const platform::Data* data = object["NSWhite"].data();
      if (!data) return std::nullopt;
      const std::vector<double> n = numbersFromData(*data);
      if (n.empty()) return std::nullopt;
      const double alpha = n.size() > 1 ? n[1] : 1.0;
      return *space == 3 ? Color::calibratedWhite(n[0], alpha) : Color::deviceWhite(n[0], alpha);
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// Our keyed archive of a "Color": colour-space name, components and alpha.
std::optional<Color> ourArchivedColor(const platform::Value& archive) {
  const platform::Value& top = archive["$top"];
  if (top["$class"].stringOr("") != "Color") return std::nullopt;
  const platform::Array* components = top["components"].array();
  const std::string space = top["colorSpace"].stringOr(kCalibratedRGBColorSpace);
  const double alpha = top["alpha"].realOr(1.0);
  if (!components) return std::nullopt;
  std::vector<double> c;
  for (const auto& v : *components) c.push_back(v.realOr(0));
  if (c.size() == 3) {
    if (space == kDeviceRGBColorSpace) return Color::deviceRGB(c[0], c[1], c[2], alpha);
    if (space == kGenericRGBColorSpace) return Color::genericRGB(c[0], c[1], c[2], alpha);
    return Color::calibratedRGB(c[0], c[1], c[2], alpha);
  }
  if (c.size() == 1) {
    return space == kDeviceWhiteColorSpace ? Color::deviceWhite(c[0], alpha) : Color::calibratedWhite(c[0], alpha);
  }
  return std::nullopt;
}

std::optional<Color> unarchivedColor(const platform::Data& data) {
  auto archive = platform::readPropertyList(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  if (!archive.ok()) return std::nullopt;
  const std::string archiver = (*archive)["$archiver"].stringOr("");
  if (archiver == "VZKeyedArchive") return ourArchivedColor(*archive);
  if (archiver == "NSKeyedArchiver") return desktopArchivedColor(*archive);
  return std::nullopt;
}

std::uint32_t premultipliedARGB(const Color& color) {
  const Color rgba = rgbaColor(color);
  const double a = std::clamp(rgba.alpha(), 0.0, 1.0);
  auto channel = [&](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * a * 255)); };
  return (static_cast<std::uint32_t>(std::lround(a * 255)) << 24) | (channel(rgba.red()) << 16) |
         (channel(rgba.green()) << 8) | channel(rgba.blue());
}

}  // namespace

std::optional<Color> colorFromDictionary(const platform::Dictionary& dictionary) {
  auto it = dictionary.find(kColorTypeKey);
  const std::string type = it == dictionary.end() ? "" : it->second.stringOr("");
  auto number = [&](const char* key) -> std::optional<double> {
    auto found = dictionary.find(key);
    if (found == dictionary.end()) return std::nullopt;
    return found->second.real();
  };
  if (type == kColorTypeRGBA) {
    return Color::calibratedRGB(number("red").value_or(0) / 255.0, number("green").value_or(0) / 255.0,
                                number("blue").value_or(0) / 255.0, number("alpha").value_or(255.0) / 255.0);
  }
  if (type == kColorTypeDataColor) {
    auto data = dictionary.find(kColorDataKey);
    if (data == dictionary.end() || !data->second.data()) return std::nullopt;
    return unarchivedColor(*data->second.data());
  }
  return Color::lightGray();
}

platform::Dictionary dictionaryRepresentation(const Color& color) {
  const Color rgba = rgbaColor(color);
  return {{kColorTypeKey, kColorTypeRGBA},
          {"red", scaled255(rgba.red())},
          {"green", scaled255(rgba.green())},
          {"blue", scaled255(rgba.blue())},
          {"alpha", scaled255(rgba.alpha())}};
}

Color rgbaColor(const Color& color) {
  if (color.isRGB()) return color;
  if (color.components().size() == 1) {
    const double w = color.components()[0];
    return Color::genericRGB(w, w, w, color.alpha());
  }
  return Color::genericRGB(0, 0, 0, 0);
}

Color colorWithXMLElement(const pugi::xml_node& element) {
  auto component = [&](const char* name) { return element.attribute(name).as_double(0.0) / 255.0; };
  return Color::calibratedRGB(component("red"), component("green"), component("blue"), component("alpha"));
}

pugi::xml_node XMLElementWithName(const Color& color, pugi::xml_node parent, std::string_view name) {
  const Color rgba = rgbaColor(color);
  pugi::xml_node element = parent.append_child(std::string(name).c_str());
  const std::pair<const char*, double> attributes[] = {
      {"red", rgba.red()}, {"green", rgba.green()}, {"blue", rgba.blue()}, {"alpha", rgba.alpha()}};
  for (const auto& [key, value] : attributes) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", scaled255(value));
    element.append_attribute(key).set_value(text);
  }
  return element;
}

Color lighterColor(const Color& color) { return scaledBrightness(color, 1.3, true); }
Color brightnessColor(const Color& color) { return scaledBrightness(color, 1.1, false); }
Color darkerColor(const Color& color) { return scaledBrightness(color, 0.7, false); }

Color randomColor() {
  // Seeded at each call from the clock and the system's random device.
  std::random_device device;
  std::seed_seq seed{static_cast<unsigned>(device()),
                     static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
  std::mt19937 random(seed);
  auto component = [&] { return static_cast<double>(random() % 255) / 255.0; };
  const double red = component(), green = component(), blue = component();
  return Color::calibratedRGB(red, green, blue, 1.0);
}

bool isEqualToColor(const Color& a, const Color& b) {
  return a.colorSpaceName() == b.colorSpaceName() && a.components() == b.components() && a.alpha() == b.alpha() &&
         a.patternImage() == b.patternImage();
}

std::optional<Color> chessboardColorWithFirstColor(const Color& first, const Color& second, int squareWidth) {
  if (squareWidth < 1 || squareWidth > 4096) return std::nullopt;
  auto image = std::make_shared<PatternImage>();
  image->width = image->height = 2 * squareWidth;
  image->pixels.resize(static_cast<std::size_t>(image->width) * image->height);
  const std::uint32_t one = premultipliedARGB(first), two = premultipliedARGB(second);
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const bool sameHalf = (x < squareWidth) == (y < squareWidth);
      image->pixels[static_cast<std::size_t>(y) * image->width + x] = sameHalf ? one : two;
    }
  }
  return Color::withPattern(std::move(image));
}

}  // namespace foundation
