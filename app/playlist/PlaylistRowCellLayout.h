#pragma once
// PlaylistRowCellLayout: where each part of a playlist row is drawn. The row
// delegate asks for the geometry of one row (its frame, the layout and what
// the item shows) and paints images and texts into the returned rectangles.
//
// Works on sizes only: it never touches an item or its thumbnail picture, so
// drawing a row changes nothing in the model. A thumbnail of zero or unknown
// size gives no thumbnail rectangle (never a division by zero).
//
// Pure functions on plain values; any thread. Coordinates are flipped (y
// grows downwards), as in the table.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Value.h"

namespace app {

struct LayoutSize {
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const LayoutSize&, const LayoutSize&) = default;
};

struct LayoutRect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// The small squares on the row's badge line, and the compact in/out marks.
enum class RowCellBadge { Loop, StopAtEnd, HoldLastFrame, Chain, Logo, ReverseFieldsOrder, Resize, Attribute };

// The playback-state mark of a row.
enum class RowCellMark { None, Offline, Locked, Paused, Playing, HoldLastFrame };

// The sizes of the bubble artwork: the grey front set fixes the geometry of
// every colour.
struct RowBubbleMetrics {
  LayoutSize left{10.0, 57.0};
  LayoutSize centre{1.0, 57.0};
  LayoutSize right{10.0, 57.0};
  LayoutSize filler{1.0, 57.0};
};

struct PlaylistRowCellInput {
  LayoutRect frame;
  bool showThumbnails = false;
  std::int32_t abRollClipPosition = 0;       // 0 none, 1 node A, 2 node B
  std::optional<LayoutSize> thumbnailSize;   // the picture's own size; none without one
  std::vector<RowCellBadge> badges;          // right to left, as rowCellBadges() gives them
  bool hasInPoint = false;
  bool hasOutPoint = false;
  std::int32_t finderLabelIndex = 0;
  LayoutSize colourLabelSize{12.0, 12.0};
  LayoutSize nodeLabelSize{48.0, 20.0};
  LayoutSize pointMarkSize{13.0, 13.0};      // the dark in/out mark's size
  LayoutSize modificationDateTextSize;       // measured by the view
  RowCellMark mark = RowCellMark::None;
  RowBubbleMetrics bubble;
};

struct PlacedBadge {
  RowCellBadge badge;
  LayoutRect rect;
  friend bool operator==(const PlacedBadge&, const PlacedBadge&) = default;
};

struct PlaylistRowCellGeometry {
  double margin = 0.0;  // 50 with an A/B position, moves left and right parts inwards
  // Bubble pieces, drawn in this order; a piece that is not drawn is none.
  std::optional<LayoutRect> leftFiller, leftCap, centre, rightCap, rightFiller;
  std::optional<LayoutRect> nodeLabel;
  LayoutRect startTime;
  std::optional<LayoutRect> thumbnail;
  LayoutRect duration;
  std::optional<LayoutRect> colourLabel;
  // Thumbnail layout only.
  std::optional<LayoutRect> labelName, modificationDate, informationLine;
  std::vector<PlacedBadge> badges;
  std::optional<LayoutRect> inPointText, inPointMark, outPointText, outPointMark;
  LayoutRect name;
  std::optional<LayoutRect> mark;
};

// The thumbnail's drawn size: 60 wide, the height in proportion (rounded half
// away from zero); none for a zero, negative or non-finite size.
std::optional<LayoutSize> rowThumbnailSize(const LayoutSize& pictureSize);

// The badges of an item, right to left. nodeOffersOverlayLogo: the node that
// plays the row offers an "Overlay Logo" attribute.
std::vector<RowCellBadge> rowCellBadges(const platform::Dictionary& attributes, bool nodeOffersOverlayLogo,
                                        bool resizeIsEffective);

// The playback-state mark; validationStatus 2 is a valid media file.
RowCellMark rowCellMark(std::int32_t playbackStatus, bool online, bool locked, std::int32_t validationStatus);

PlaylistRowCellGeometry layoutPlaylistRowCell(const PlaylistRowCellInput& input);

}  // namespace app
