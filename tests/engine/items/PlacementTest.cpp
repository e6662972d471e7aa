#include <gtest/gtest.h>

#include "engine/items/FrameRateConform.h"
#include "engine/items/MediaItemPlacement.h"

namespace engine::items {
namespace {

namespace pm = platform::media;
using foundation::Rect;
using foundation::Size;

std::string text(const Rect& r) {
  return std::to_string(r.origin.x) + "," + std::to_string(r.origin.y) + " " + std::to_string(r.size.width) + "x" +
         std::to_string(r.size.height);
}

TEST(PlacementTest, EveryResizeModeAndKeypadAnchor) {
  struct Row {
    const char* what;
    std::int32_t mode;
    PlacementInput input;
    Rect expected;
  };
  const Size hd{1920, 1080};
  const Rect custom{{11, 21}, {301, 201}};
  const Row rows[] = {
      {"4:3 letterboxed in HD", kResizeModeLetterbox, {hd, {1440, 1080}, 1920, 0}, {{240, 0}, {1440, 1080}}},
      {"4:3 pan and scan in HD", kResizeModePanAndScan, {hd, {1440, 1080}, 1920, 0}, {{0, -180}, {1920, 1440}}},
      {"wide letterboxed in HD", kResizeModeLetterbox, {hd, {1920, 800}, 1920, 0}, {{0, 140}, {1920, 800}}},
      {"wide pan and scan in HD", kResizeModePanAndScan, {hd, {2400, 1000}, 1920, 0}, {{-336, 0}, {2592, 1080}}},
      {"stretch fills the raster", kResizeModeStretch, {hd, {720, 576}, 1920, 0}, {{0, 0}, {1920, 1080}}},
      {"near the raster size stays unscaled", kResizeModeStretch, {hd, {1800, 1000}, 1920, 0}, {{60, 40}, {1800, 1000}}},
      {"custom keeps its even rectangle", kResizeModeCustomRect, {hd, {720, 576}, 1920, 0}, {{12, 22}, {302, 202}}},
      {"no display size", kResizeModeLetterbox, {hd, {0, 1080}, 1920, 0}, {}},
      {"HD letterboxed in a 720-wide output", kResizeModeLetterbox, {{720, 576}, {1920, 1080}, 720, 0},
       {{0, 108}, {720, 360}}},
  };
  for (const auto& row : rows) {
    const auto got = frameUsingResizeMode(row.mode, row.input, custom);
    EXPECT_EQ(got, row.expected) << row.what << ": " << text(got);
  }
}

TEST(PlacementTest, NaturalSizeFollowsTheKeypad) {
  const Size raster{1920, 1080};
  const Size display{640, 360};
  const std::pair<std::int32_t, foundation::Point> rows[] = {
      {1, {0, 0}},    {2, {640, 0}},    {3, {1280, 0}},    {4, {0, 360}},   {5, {640, 360}},
      {6, {1280, 360}}, {7, {0, 720}},  {8, {640, 720}},   {9, {1280, 720}}, {0, {640, 360}},
  };
  for (const auto& [option, origin] : rows) {
    const auto got = frameUsingResizeMode(kResizeModeNaturalSize, {raster, display, 1920, option}, {});
    EXPECT_EQ(got, (Rect{origin, display})) << "option " << option << ": " << text(got);
  }
  // A wide picture in a 720-wide output is squeezed at its natural size too.
  EXPECT_EQ(naturalSizeFrameRect({{720, 576}, {1280, 720}, 720, 5}).size, (Size{1280, 640}));
}

TEST(PlacementTest, DecompressionSizeOnTheCPUPath) {
  struct Row {
    const char* what;
    Size output;
    Size display;
    std::int32_t mode;
    bool widescreen;
    Size expected;
  };
  const Row rows[] = {
      {"HD into SD 4:3 letterbox", {720, 576}, {1920, 1080}, kResizeModeLetterbox, false, {720, 432}},
      {"HD into SD 16:9 letterbox", {720, 576}, {1920, 1080}, kResizeModeLetterbox, true, {720, 576}},
      {"SD 4:3 into HD pan and scan", {1920, 1080}, {720, 576}, kResizeModePanAndScan, false, {1920, 1536}},
      {"SD 4:3 into HD letterbox", {1920, 1080}, {720, 576}, kResizeModeLetterbox, false, {1350, 1080}},
      {"close enough is the output size", {1920, 1080}, {1800, 1000}, kResizeModeLetterbox, false, {1920, 1080}},
      {"stretch", {1280, 720}, {720, 576}, kResizeModeStretch, false, {1280, 720}},
  };
  for (const auto& row : rows) {
    const auto got = overridenDecompressionSize(row.output, row.display, row.mode, row.widescreen);
    EXPECT_EQ(got, row.expected) << row.what << ": " << got.width << "x" << got.height;
  }
}

TEST(PlacementTest, TextureRectangleShowsTheContentRectangle) {
  EXPECT_EQ(textureRectForContentRect({{240, 0}, {1440, 1080}}, {1920, 1080}),
            (Rect{{-240.0 / 1440, 0}, {1920.0 / 1440, 1}}));
}

TEST(FrameRateConformTest, StandardRatesSnapAndOthersStay) {
  const std::pair<pm::MediaTime, std::optional<pm::MediaTime>> rows[] = {
      {pm::MediaTime::make(29971, 1000), pm::MediaTime::make(30000, 1001)},
      {pm::MediaTime::make(2997, 100), pm::MediaTime::make(30000, 1001)},
      {pm::MediaTime::make(25, 1), pm::MediaTime::make(25000, 1000)},
      {pm::MediaTime::make(5994, 100), pm::MediaTime::make(60000, 1001)},
      {pm::MediaTime::make(2398, 100), pm::MediaTime::make(24000, 1001)},
      {pm::MediaTime::make(125, 10), std::nullopt},
      {pm::MediaTime::make(15, 1), std::nullopt},
  };
  for (const auto& [rate, expected] : rows) {
    EXPECT_EQ(snappedPlaybackRate(rate), expected) << rate.value << "/" << rate.timeScale;
  }
}

TEST(FrameRateConformTest, GPUPathTable) {
  const auto r25 = pm::MediaTime::make(25, 1);
  const auto r50 = pm::MediaTime::make(50, 1);
  struct Row {
    const char* what;
    bool clipInterlaced;
    bool outputInterlaced;
    pm::MediaTime natural;
    pm::MediaTime desired;
    pm::MediaTime rate;
    bool twoToOne, oneToTwo, alternateOff, twice;
  };
  const Row rows[] = {
      {"progressive on progressive", false, false, r50, r25, r25, false, false, false, false},
      {"interlaced on interlaced", true, true, r25, r25, r25, false, false, false, true},
      {"faster progressive on interlaced", false, true, r50, r25, r50, true, false, true, false},
      {"progressive on interlaced", false, true, r25, r25, r25, false, false, true, true},
      {"slower interlaced on progressive", true, false, r25, r50, r25, false, true, false, true},
      {"interlaced on progressive", true, false, r25, r25, r25, false, false, true, false},
  };
  for (const auto& row : rows) {
    const auto got = gpuConformDecision(row.clipInterlaced, row.outputInterlaced, row.natural, row.desired, true);
    EXPECT_EQ(got.rate, row.rate) << row.what;
    EXPECT_EQ(got.twoFramesDecodedToOne, row.twoToOne) << row.what;
    EXPECT_EQ(got.oneFrameDecodedToTwo, row.oneToTwo) << row.what;
    EXPECT_EQ(got.turnAlternateFieldsOff, row.alternateOff) << row.what;
    EXPECT_EQ(got.useTextureTwice, row.twice) << row.what;
  }
}

}  // namespace
}  // namespace engine::items
