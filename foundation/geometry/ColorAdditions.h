#pragma once
// The colour operations graphics projects and the engine use: the
// dictionary form ("type" "colorRGBA" with 0-255 components, or "dataColor"
// with an archived colour), the XML element form ("color" with "red",
// "green", "blue", "alpha" attributes, each component × 255 truncated),
// conversion to RGBA, lighter and darker variants, random colours, equality
// and the two-colour chessboard pattern. Free functions; any thread.

#include <optional>
#include <string_view>

#include <pugixml.hpp>

#include "foundation/geometry/Color.h"
#include "platform/Value.h"

namespace foundation {

inline constexpr const char* kColorTypeKey = "type";
inline constexpr const char* kColorTypeRGBA = "colorRGBA";
inline constexpr const char* kColorTypeDataColor = "dataColor";
inline constexpr const char* kColorDataKey = "colorData";

// No "type" or an unknown type: light grey. "colorRGBA": calibrated RGB of
// the components / 255 (alpha 1 when absent). "dataColor": the archived
// colour in "colorData" (our keyed archive of a "Color", or an archived
// desktop colour with RGB or grey components, in an XML property list);
// none when it cannot be read.
std::optional<Color> colorFromDictionary(const platform::Dictionary& dictionary);
// {"type": "colorRGBA", "red", "green", "blue", "alpha"} of rgbaColor(color),
// each component × 255 truncated to an unsigned integer (clamped at 0).
platform::Dictionary dictionaryRepresentation(const Color& color);
inline platform::Dictionary myDictionaryRepresentation(const Color& color) { return dictionaryRepresentation(color); }

// The colour itself when it is RGB; otherwise converted to generic RGB (a
// grey w gives w, w, w; a pattern, which has no single colour, gives
// transparent black).
Color rgbaColor(const Color& color);

// Each attribute read as a number / 255; a missing one reads 0.
Color colorWithXMLElement(const pugi::xml_node& element);
// A new child of `parent` named `name` ("color" for XMLElement) with the four
// attributes of rgbaColor(color), "%u" of component × 255 truncated.
pugi::xml_node XMLElementWithName(const Color& color, pugi::xml_node parent, std::string_view name);
inline pugi::xml_node XMLElement(const Color& color, pugi::xml_node parent) {
  return XMLElementWithName(color, parent, "color");
}

// Hue, saturation and alpha kept; brightness × 1.3 capped at 1, × 1.1 (not
// capped), × 0.7. Calibrated RGB results.
Color lighterColor(const Color& color);
Color brightnessColor(const Color& color);
Color darkerColor(const Color& color);

// Opaque; each of red, green and blue (random mod 255) / 255.
Color randomColor();

// Same colour-space name, component count, components and alpha, exactly.
bool isEqualToColor(const Color& a, const Color& b);

// A pattern of a 2w × 2w tile: `first` at (0, 0) and (w, w), `second` at
// (0, w) and (w, 0), each square w × w. None for w below 1 or above 4096.
std::optional<Color> chessboardColorWithFirstColor(const Color& first, const Color& second, int squareWidth);

}  // namespace foundation
