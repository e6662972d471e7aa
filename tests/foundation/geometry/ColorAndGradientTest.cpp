#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>

#include "foundation/geometry/BezierPathQuartzUtilities.h"
#include "foundation/geometry/ChessboardUtil.h"
#include "foundation/geometry/ColorAdditions.h"
#include "foundation/geometry/GradientCustom.h"
#include "platform/PropertyList.h"
#include "tests/support/CapturedDiagnostics.h"

namespace foundation {
namespace {

platform::Data bytesOf(const std::string& text) { return platform::Data(text.begin(), text.end()); }

TEST(ColorAdditionsTest, DictionaryForms) {
  const platform::Dictionary redOnly = {{"type", "colorRGBA"}, {"red", 255}};
  Color red = *colorFromDictionary(redOnly);
  EXPECT_EQ(red.colorSpaceName(), kCalibratedRGBColorSpace);
  EXPECT_EQ(red.components(), (std::vector<double>{1, 0, 0}));
  EXPECT_EQ(red.alpha(), 1.0);
  EXPECT_TRUE(isEqualToColor(*colorFromDictionary({}), Color::lightGray()));
  EXPECT_TRUE(isEqualToColor(*colorFromDictionary({{"type", "other"}}), Color::lightGray()));

  const platform::Dictionary written = dictionaryRepresentation(Color::calibratedRGB(0.5, 1.0, 0.999, 0.25));
  const platform::Dictionary expected = {
      {"type", "colorRGBA"}, {"red", 127}, {"green", 255}, {"blue", 254}, {"alpha", 63}};
  EXPECT_EQ(written, expected);
  // A grey becomes RGB in its dictionary form.
  EXPECT_EQ(dictionaryRepresentation(Color::calibratedWhite(1, 1))["red"], platform::Value(255));
  EXPECT_EQ(dictionaryRepresentation(Color::calibratedRGB(-0.5, 0, 0, 1))["red"], platform::Value(0));
}

TEST(ColorAdditionsTest, ArchivedColoursFromStoredFiles) {
  struct Case {
    const char* what;
    std::string plist;
    std::optional<Color> expected;
  } cases[] = {
      {"our archive",
       "<plist version=\"1.0\"><dict><key>$archiver</key><string>VZKeyedArchive</string><key>$version</key>"
       "<integer>1</integer><key>$top</key><dict><key>$class</key><string>Color</string><key>colorSpace</key>"
       "<string>DeviceRGB</string><key>components</key><array><real>0.25</real><real>0.5</real><real>1</real>"
       "</array><key>alpha</key><real>0.5</real></dict></dict></plist>",
       Color::deviceRGB(0.25, 0.5, 1, 0.5)},
      {"desktop RGB",
       "<plist version=\"1.0\"><dict><key>$archiver</key><string>NSKeyedArchiver</string><key>$objects</key><array>"
       "<string>$null</string><dict><key>NSColorSpace</key><integer>1</integer><key>NSRGB</key>"
       "<data>MC4yNSAwLjUgMSAwLjUA</data></dict></array></dict></plist>",  // "0.25 0.5 1 0.5\0"
       Color::calibratedRGB(0.25, 0.5, 1, 0.5)},
      {"desktop grey",
       "<plist version=\"1.0\"><dict><key>$archiver</key><string>NSKeyedArchiver</string><key>$objects</key><array>"
       "<dict><key>NSColorSpace</key><integer>3</integer><key>NSWhite</key><data>MC43NQ==</data></dict>"  // "0.75"
       "</array></dict></plist>",
       Color::calibratedWhite(0.75, 1)},
      {"not a property list", "garbage", std::nullopt},
      {"no components",
       "<plist version=\"1.0\"><dict><key>$archiver</key><string>NSKeyedArchiver</string><key>$objects</key><array>"
       "<dict><key>NSColorSpace</key><integer>1</integer></dict></array></dict></plist>",
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<Color> color = colorFromDictionary({{"type", "dataColor"}, {"colorData", bytesOf(c.plist)}});
    ASSERT_EQ(color.has_value(), c.expected.has_value());
    if (color) {
      EXPECT_TRUE(isEqualToColor(*color, *c.expected));
    }
  }
}

TEST(ColorAdditionsTest, XMLElementAndVariants) {
  pugi::xml_document document;
  pugi::xml_node element = XMLElement(Color::calibratedRGB(1, 0.5, 0, 0.2), document);
  EXPECT_STREQ(element.name(), "color");
  EXPECT_STREQ(element.attribute("red").value(), "255");
  EXPECT_STREQ(element.attribute("green").value(), "127");
  EXPECT_STREQ(element.attribute("alpha").value(), "51");
  pugi::xml_node partial = document.append_child("c");
  partial.append_attribute("red").set_value("255");
  const Color read = colorWithXMLElement(partial);
  EXPECT_EQ(read.components(), (std::vector<double>{1, 0, 0}));
  EXPECT_EQ(read.alpha(), 0);  // a missing alpha reads as transparent

  const Color base = Color::calibratedRGB(0.5, 0.25, 0.25, 1);
  EXPECT_NEAR(lighterColor(base).red(), 0.65, 1e-9);
  EXPECT_NEAR(darkerColor(base).red(), 0.35, 1e-9);
  EXPECT_NEAR(lighterColor(Color::calibratedRGB(0.9, 0.45, 0, 1)).red(), 1.0, 1e-9);
  EXPECT_NEAR(lighterColor(Color::calibratedRGB(0.9, 0.45, 0, 1)).green(), 0.5, 1e-9);
  EXPECT_NEAR(brightnessColor(Color::calibratedRGB(1, 0.5, 0, 1)).red(), 1.1, 1e-9);
  const Color random = randomColor();
  EXPECT_EQ(random.alpha(), 1);
  EXPECT_LT(random.red(), 1.0);
}

TEST(GradientCustomTest, DictionaryLikenessAndAngles) {
  testing_support::CapturedDiagnostics diagnostics;
  const platform::Dictionary mismatched = {
      {"colors", platform::Array{platform::Dictionary{{"type", "colorRGBA"}}, platform::Dictionary{}}},
      {"locations", platform::Array{0.0, 0.5, 1.0}}};
  EXPECT_FALSE(Gradient::initWithDictionary(mismatched));
  EXPECT_EQ(diagnostics.count("Gradient init failed: colors count != locations count"), 1u);

  const platform::Dictionary stored = {
      {"colors", platform::Array{platform::Dictionary{{"type", "colorRGBA"}, {"red", 255}, {"green", 0}, {"blue", 0}, {"alpha", 255}},
                                 platform::Dictionary{{"type", "colorRGBA"}, {"red", 0}, {"green", 0}, {"blue", 255}, {"alpha", 128}}}},
      {"locations", platform::Array{0.0, 1.0}}};
  auto gradient = Gradient::initWithDictionary(stored);
  ASSERT_TRUE(gradient);
  EXPECT_EQ(gradient->dictionaryRepresentation(), stored);
  EXPECT_TRUE(gradient->isEqualToGradient(*Gradient::initWithDictionary(gradient->dictionaryRepresentation())));
  EXPECT_FALSE(gradient->isEqualToGradient(gradient->gradientWithAlphaComponent(0.5)));

  EXPECT_TRUE(Gradient::isColorLikeColor(Color::calibratedRGB(0.5, 0, 0, 1), Color::calibratedRGB(0.5009, 0, 0, 1)));
  EXPECT_FALSE(Gradient::isColorLikeColor(Color::calibratedRGB(0.5, 0, 0, 1), Color::calibratedRGB(0.502, 0, 0, 1)));
  EXPECT_FALSE(Gradient::isColorLikeColor(Color::calibratedRGB(0.5, 0, 0, 1), Color::deviceRGB(0.5, 0, 0, 1)));

  Point start, end;
  Gradient::getStartPointEndPoint(&start, &end, 0, {{0, 0}, {100, 50}});
  EXPECT_NEAR(start.x, 0, 1e-9);
  EXPECT_NEAR(start.y, 25, 1e-9);
  EXPECT_NEAR(end.x, 100, 1e-9);
  EXPECT_NEAR(end.y, 25, 1e-9);
  Gradient::getStartPointEndPoint(&start, &end, 90, {{0, 0}, {100, 50}});
  EXPECT_NEAR(end.y, 50, 1e-9);
  EXPECT_NEAR(end.x, 50, 1e-9);
}

TEST(BezierPathTest, QuartzCopyAndPolygons) {
  EXPECT_FALSE(copyQuartzPath(BezierPath()));
  BezierPath open;
  open.moveTo({0, 0});
  open.lineTo({1, 1});
  auto copy = copyQuartzPath(open);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->elements().size(), 3u);
  EXPECT_EQ(copy->elements().back().type, PathElement::Type::ClosePath);
  open.closePath();
  EXPECT_EQ(copyQuartzPath(open)->elements().size(), 3u);
  BezierPath broken;
  broken.moveTo({0, 0});
  broken.curveTo({1, 1}, {NAN, 0}, {0, 0});
  BezierPath square;
  square.appendRect({{0, 0}, {25, 25}});
  EXPECT_EQ(*copyQuartzPath(broken), square);

  const BezierPath polygon = bezierPathForRegularPolygon(4);
  ASSERT_EQ(polygon.elements().size(), 5u);
  const Point corners[] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(polygon.elements()[i].points[0].x, corners[i].x, 1e-7);
    EXPECT_NEAR(polygon.elements()[i].points[0].y, corners[i].y, 1e-7);
  }
  EXPECT_EQ(bezierPathForRegularPolygon(1).elements().size(), 2u);
}

// A 96 x 96 ARGB canvas for drawing checks.
class Canvas {
 public:
  Canvas() : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 96, 96)), context_(cairo_create(surface_)) {}
  ~Canvas() {
    cairo_destroy(context_);
    cairo_surface_destroy(surface_);
  }
  cairo_t* context() { return context_; }
  std::uint32_t pixel(int x, int y) {
    cairo_surface_flush(surface_);
    const auto* data = cairo_image_surface_get_data(surface_);
    return *reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(surface_) + x * 4);
  }

 private:
  cairo_surface_t* surface_;
  cairo_t* context_;
};

TEST(ChessboardUtilTest, DrawsTheCheckerboardPixelByPixel) {
  Canvas canvas;
  ChessboardUtil::drawInContext(canvas.context(), {{10, 10}, {80, 80}});
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      const bool inside = x >= 10 && x < 90 && y >= 10 && y < 90;
      const bool dark = ((x % 48) < 24) == ((y % 48) < 24);
      const std::uint32_t grey = dark ? 7 : 24;
      const std::uint32_t expected = inside ? (0xff000000u | grey << 16 | grey << 8 | grey) : 0;
      ASSERT_EQ(canvas.pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST(GradientCustomTest, DrawsA135DegreeGradient) {
  auto gradient = Gradient::withColors({Color::calibratedRGB(1, 0, 0, 1), Color::calibratedRGB(0, 0, 1, 1)}, {0, 1});
  ASSERT_TRUE(gradient);
  Canvas canvas;
  BezierPath square;
  square.appendRect({{0, 0}, {96, 96}});
  gradient->myDrawInBezierPath(canvas.context(), square, 135);
  // At 135° the gradient runs from the top-right corner (red) to the bottom-left
  // (blue); every pixel is red and blue mixed by its position along that line.
  Point start, end;
  Gradient::getStartPointEndPoint(&start, &end, 135, {{0, 0}, {96, 96}});
  const double dx = end.x - start.x, dy = end.y - start.y;
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      double t = ((x + 0.5 - start.x) * dx + (y + 0.5 - start.y) * dy) / (dx * dx + dy * dy);
      t = std::clamp(t, 0.0, 1.0);
      const std::uint32_t p = canvas.pixel(x, y);
      ASSERT_EQ(p >> 24, 0xffu);
      ASSERT_NEAR(static_cast<int>((p >> 16) & 0xff), (1 - t) * 255, 2) << x << "," << y;
      ASSERT_NEAR(static_cast<int>(p & 0xff), t * 255, 2) << x << "," << y;
      ASSERT_EQ((p >> 8) & 0xff, 0u);
    }
  }
}

TEST(ColorAdditionsTest, ChessboardPatternColour) {
  auto pattern = chessboardColorWithFirstColor(Color::calibratedRGB(1, 0, 0, 1), Color::calibratedRGB(0, 0, 1, 1), 3);
  ASSERT_TRUE(pattern);
  const auto& image = *pattern->patternImage();
  ASSERT_EQ(image.width, 6);
  EXPECT_EQ(image.pixels[0], 0xffff0000u);      // (0, 0) first
  EXPECT_EQ(image.pixels[3], 0xff0000ffu);      // (3, 0) second
  EXPECT_EQ(image.pixels[3 * 6], 0xff0000ffu);  // (0, 3) second
  EXPECT_EQ(image.pixels[4 * 6 + 4], 0xffff0000u);
  EXPECT_FALSE(chessboardColorWithFirstColor(Color(), Color(), 0));
}

}  // namespace
}  // namespace foundation
