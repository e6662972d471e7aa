#pragma once
// Geometry of the media browser's two cells, as pure functions (y grows
// downwards): the image-and-text cell (an image 3 points from the left edge,
// the text 3 points after it) and the colour-label cell (an 11-point label
// image, the label's name 15 points in). Any thread.

#include <cstdint>
#include <optional>

namespace app::browser {

inline constexpr double kCellImageGap = 3.0;
inline constexpr double kLabelImageSize = 11.0;
inline constexpr double kLabelImageTop = 3.0;
inline constexpr double kLabelNameIndent = 15.0;

struct CellRect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const CellRect&, const CellRect&) = default;
};

struct CellSize {
  double width = 0.0;
  double height = 0.0;
};

// Zero rectangles without an image.
CellRect imageRectForBounds(const CellRect& bounds, const std::optional<CellSize>& image);
CellRect titleRectForBounds(const CellRect& bounds, const std::optional<CellSize>& image);
// Where the image is drawn in frame `frame` (centred in height, floored).
CellRect imageDrawRect(const CellRect& frame, const CellSize& image);
// Where the text is drawn or edited: the frame less the image's slice.
CellRect textFrame(const CellRect& frame, const std::optional<CellSize>& image);
// The cell's width for a text of `textWidth`.
double imageAndTextCellWidth(double textWidth, const std::optional<CellSize>& image);

// The colour-label cell draws nothing for an index of 0 or below.
bool finderLabelDrawsAnything(std::int64_t index);
CellRect finderLabelImageRect(const CellRect& frame);
CellRect finderLabelNameRect(const CellRect& frame);

}  // namespace app::browser
