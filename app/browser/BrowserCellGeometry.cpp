#include "app/browser/BrowserCellGeometry.h"

#include <cmath>

namespace app::browser {

CellRect imageRectForBounds(const CellRect& bounds, const std::optional<CellSize>& image) {
  if (!image) return {};
  return {bounds.x + kCellImageGap, bounds.y + std::ceil((bounds.height - image->height) / 2.0), image->width,
          image->height};
}

CellRect titleRectForBounds(const CellRect& bounds, const std::optional<CellSize>& image) {
  if (!image) return {};
  const double slice = image->width + kCellImageGap;
  return {bounds.x + slice, bounds.y, bounds.width - slice, bounds.height};
}

CellRect imageDrawRect(const CellRect& frame, const CellSize& image) {
  return {frame.x + kCellImageGap, frame.y + std::floor((frame.height - image.height) / 2.0), image.width,
          image.height};
}

CellRect textFrame(const CellRect& frame, const std::optional<CellSize>& image) {
  if (!image) return frame;
  const double slice = image->width + kCellImageGap;
  return {frame.x + slice, frame.y, frame.width - slice, frame.height};
}

double imageAndTextCellWidth(double textWidth, const std::optional<CellSize>& image) {
  return textWidth + (image ? image->width : 0.0) + kCellImageGap;
}

bool finderLabelDrawsAnything(std::int64_t index) { return index > 0; }

CellRect finderLabelImageRect(const CellRect& frame) {
  return {frame.x, frame.y + kLabelImageTop, kLabelImageSize, kLabelImageSize};
}

CellRect finderLabelNameRect(const CellRect& frame) {
  return {frame.x + kLabelNameIndent, frame.y, frame.width, frame.height};
}

}  // namespace app::browser
