#pragma once
// Where a clip's picture goes in the output raster, and the size it is
// decoded at when the picture cannot be scaled on the GPU. Pure functions.

#include <cstdint>

#include "foundation/geometry/Geometry.h"

namespace engine::items {

enum ResizeMode : std::int32_t {
  kResizeModePanAndScan = 0,
  kResizeModeLetterbox = 1,
  kResizeModeStretch = 2,
  kResizeModeNaturalSize = 3,
  kResizeModeCustomRect = 4,
};

struct PlacementInput {
  foundation::Size raster;
  foundation::Size display;           // the clip's display size
  std::int32_t outputDisplayWidth = 0;  // 720 squeezes wide pictures into 4:3 SD
  std::int32_t resizeModeOption = 0;    // keypad anchor for natural size
};

foundation::Rect panAndScanFrameRect(const PlacementInput& input);
foundation::Rect letterBoxFrameRect(const PlacementInput& input);
foundation::Rect naturalSizeFrameRect(const PlacementInput& input);
// `currentContentRect` is what a custom rectangle keeps.
foundation::Rect frameUsingResizeMode(std::int32_t mode, const PlacementInput& input,
                                      foundation::Rect currentContentRect);

// The texture rectangle that shows `contentRect` of `raster`.
foundation::Rect textureRectForContentRect(foundation::Rect contentRect, foundation::Size raster);

// The decode size on the CPU path. `sdWidescreen`: an SD output shows 16:9.
foundation::Size overridenDecompressionSize(foundation::Size output, foundation::Size display, std::int32_t mode,
                                            bool sdWidescreen);

}  // namespace engine::items
