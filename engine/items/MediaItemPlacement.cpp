#include "engine/items/MediaItemPlacement.h"

#include <cmath>

#include "foundation/geometry/GeometryUtil.h"

namespace engine::items {

namespace {

constexpr double kSDSquareWidth = 720;
// A wide picture shown in a 720-wide output is squeezed into its 4:3 pixels.
constexpr double kSDPixelSqueeze = 1.125;

bool squeezesIntoSD(const PlacementInput& input) {
  return input.display.width > kSDSquareWidth && input.outputDisplayWidth == kSDSquareWidth;
}

foundation::Rect centred(foundation::Size raster, double width, double height) {
  return {{std::floor((raster.width - width) * 0.5), std::floor((raster.height - height) * 0.5)},
          {std::floor(width), std::floor(height)}};
}

foundation::Rect scaledToFit(const PlacementInput& input, bool fillWidthWhenWider) {
  const double sx = input.raster.width / input.display.width;
  const double sy = input.raster.height / input.display.height;
  double width = input.display.width * sy;
  double height = input.raster.height;
  if (fillWidthWhenWider ? sx > sy : sy > sx) {
    width = input.raster.width;
    height = input.display.height * sx;
  }
  if (squeezesIntoSD(input)) height /= kSDPixelSqueeze;
  return centred(input.raster, width, height);
}

bool nearlyNativeSize(const PlacementInput& input) {
  return std::fabs(input.raster.width / input.display.width - 1) <= 0.1 &&
         std::fabs(input.raster.height / input.display.height - 1) <= 0.1;
}

// The whole part's remainder by 2, added or taken away to make a value even.
double remainderOfWholePart(double value) { return static_cast<double>(static_cast<std::int64_t>(value) % 2); }

}  // namespace

foundation::Rect panAndScanFrameRect(const PlacementInput& input) { return scaledToFit(input, true); }

foundation::Rect letterBoxFrameRect(const PlacementInput& input) { return scaledToFit(input, false); }

foundation::Rect naturalSizeFrameRect(const PlacementInput& input) {
  const double width = input.display.width;
  const double height = squeezesIntoSD(input) ? input.display.height / kSDPixelSqueeze : input.display.height;
  double x = (input.raster.width - width) * 0.5;
  double y = (input.raster.height - height) * 0.5;
  switch (input.resizeModeOption) {
    case 1: case 4: case 7: x = 0; break;
    case 3: case 6: case 9: x = input.raster.width - width; break;
    default: break;
  }
  switch (input.resizeModeOption) {
    case 1: case 2: case 3: y = 0; break;
    case 7: case 8: case 9: y = input.raster.height - height; break;
    default: break;
  }
  return {{std::floor(x), std::floor(y)}, {std::floor(width), std::floor(height)}};
}

foundation::Rect frameUsingResizeMode(std::int32_t mode, const PlacementInput& input,
                                      foundation::Rect currentContentRect) {
  if (input.display.width == 0 || input.display.height == 0) return {};
  if (mode == kResizeModeCustomRect) return foundation::GeometryUtil::x2Rect(currentContentRect);
  if (nearlyNativeSize(input)) return centred(input.raster, input.display.width, input.display.height);
  switch (mode) {
    case kResizeModePanAndScan: return panAndScanFrameRect(input);
    case kResizeModeLetterbox: return letterBoxFrameRect(input);
    case kResizeModeNaturalSize: return naturalSizeFrameRect(input);
    default: return {{0, 0}, input.raster};
  }
}

foundation::Rect textureRectForContentRect(foundation::Rect contentRect, foundation::Size raster) {
  const auto& size = contentRect.size;
  if (size.width == 0 || size.height == 0) return {{0, 0}, {1, 1}};
  return {{-contentRect.origin.x / size.width, -contentRect.origin.y / size.height},
          {raster.width / size.width, raster.height / size.height}};
}

foundation::Size overridenDecompressionSize(foundation::Size output, foundation::Size display, std::int32_t mode,
                                            bool sdWidescreen) {
  const double W = output.width;
  const double H = output.height;
  if (display.width <= 0 || display.height <= 0) return output;
  double base = W;
  if (W == kSDSquareWidth) base = std::floor(sdWidescreen ? H * 16 / 9 : H * 4 / 3);
  const double sx = base / display.width;
  const double sy = H / display.height;
  double width = W;
  double height = H;
  if (mode == kResizeModePanAndScan || mode == kResizeModeNaturalSize) {
    if (sx > sy) {
      width = base;
      height = display.height * sx;
      height += remainderOfWholePart(height);
    } else {
      width = std::floor(display.width * sy);
      height = H;
      width += remainderOfWholePart(width);
    }
  } else if (mode == kResizeModeLetterbox) {
    if (sx > sy) {
      width = display.width * sy;
      height = H;
      width -= remainderOfWholePart(width);
    } else {
      width = base;
      height = display.height * sx;
      height -= remainderOfWholePart(height);
    }
  }
  if (W == kSDSquareWidth && mode != kResizeModeStretch) {
    width = std::floor(width / base * kSDSquareWidth);
    width -= remainderOfWholePart(width);
  }
  if (std::fabs(width - W) <= W / 10 && std::fabs(height - H) <= H / 10) return output;
  return {width, height};
}

}  // namespace engine::items
