#include "app/playlist/PlaylistRowCellLayout.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "nodes/playlist/PlaylistItem.h"

namespace app {

namespace {

constexpr double kThumbnailWidth = 60.0;
constexpr double kABRollMargin = 50.0;
constexpr double kBadgeSide = 13.0;
constexpr double kBadgeStep = 17.0;
constexpr const char* kOverlayLogoAttribute = "Overlay Logo";
constexpr const char* kReverseFieldOrderAttribute = "Reverse Field Order";
constexpr const char* kAudioVolumeAttribute = "Audio Volume";

std::string attributeText(const platform::Dictionary& attributes, const char* key) {
  const auto found = attributes.find(key);
  return found == attributes.end() ? std::string() : found->second.stringOr("");
}

void layoutBubble(const PlaylistRowCellInput& input, PlaylistRowCellGeometry& out) {
  const LayoutRect& f = input.frame;
  const RowBubbleMetrics& b = input.bubble;
  const double scale = input.showThumbnails ? 1.0 : 2.2;
  const double top = f.y - 1.0;
  const double lw = b.left.width;
  const double rw = b.right.width;
  auto piece = [&](double x, double width, const LayoutSize& grey) {
    return LayoutRect{x, top, width, grey.height / scale};
  };
  switch (input.abRollClipPosition) {
    case 0:
      out.leftCap = piece(f.x - 1.0, lw, b.left);
      out.centre = piece(f.x - 1.0 + lw, f.width - lw - rw + 3.0, b.centre);
      out.rightCap = piece(f.x + f.width - rw + 2.0, rw, b.right);
      break;
    case 1:
      out.leftFiller = piece(f.x - 1.0, 50.0, b.filler);
      out.leftCap = piece(f.x + 45.0, lw, b.left);
      out.centre = piece(f.x + 45.0 + lw, f.width - 105.0, b.centre);
      out.rightCap = piece(f.x + 45.0 + lw + (f.width - 105.0), rw, b.right);
      out.rightFiller = piece(f.x + f.width - 48.0, 50.0, b.filler);
      break;
    case 2:
      out.leftFiller = piece(f.x - 1.0, 50.0, b.filler);
      out.leftCap = piece(f.x + 48.0, lw, b.left);
      out.centre = piece(f.x + 48.0 + lw, f.width - 105.0, b.centre);
      out.rightFiller = piece(f.x + f.width - 51.0, 55.0, b.filler);
      break;
    default:
      break;
  }
}

}  // namespace

std::optional<LayoutSize> rowThumbnailSize(const LayoutSize& pictureSize) {
  if (!std::isfinite(pictureSize.width) || !std::isfinite(pictureSize.height) || pictureSize.width <= 0.0 ||
      pictureSize.height <= 0.0) {
    return std::nullopt;
  }
  return LayoutSize{kThumbnailWidth, std::round(kThumbnailWidth * pictureSize.height / pictureSize.width)};
}

std::vector<RowCellBadge> rowCellBadges(const platform::Dictionary& attributes, bool nodeOffersOverlayLogo,
                                        bool resizeIsEffective) {
  std::vector<RowCellBadge> badges;
  const std::string endBehaviour = attributeText(attributes, nodes::kClipEndBehaviourAttribute);
  if (endBehaviour == nodes::kClipEndBehaviourLoop) badges.push_back(RowCellBadge::Loop);
  if (endBehaviour == nodes::kClipEndBehaviourStopAtEnd) badges.push_back(RowCellBadge::StopAtEnd);
  if (endBehaviour == nodes::kClipEndBehaviourHoldLastFrame) badges.push_back(RowCellBadge::HoldLastFrame);
  if (endBehaviour == nodes::kClipEndBehaviourChain) badges.push_back(RowCellBadge::Chain);
  if (nodeOffersOverlayLogo && attributeText(attributes, kOverlayLogoAttribute) != "None") {
    badges.push_back(RowCellBadge::Logo);
  }
  if (attributeText(attributes, kReverseFieldOrderAttribute) == "Reversed") {
    badges.push_back(RowCellBadge::ReverseFieldsOrder);
  }
  if (resizeIsEffective) badges.push_back(RowCellBadge::Resize);
  const bool otherAttribute = std::any_of(attributes.begin(), attributes.end(), [](const auto& entry) {
    const std::string& key = entry.first;
    return key != nodes::kClipEndBehaviourAttribute && key != kOverlayLogoAttribute &&
           key != kAudioVolumeAttribute && key != kReverseFieldOrderAttribute;
  });
  if (otherAttribute) badges.push_back(RowCellBadge::Attribute);
  return badges;
}

RowCellMark rowCellMark(std::int32_t playbackStatus, bool online, bool locked, std::int32_t validationStatus) {
  if (validationStatus != 2 || !online) return RowCellMark::Offline;
  switch (playbackStatus) {
    case 0:
      return locked ? RowCellMark::Locked : RowCellMark::None;
    case 1:
    case 2:
      return RowCellMark::Paused;
    case 3:
      return RowCellMark::Playing;
    case 5:
      return RowCellMark::Offline;
    case 6:
      return RowCellMark::HoldLastFrame;
    default:
      return RowCellMark::None;
  }
}

PlaylistRowCellGeometry layoutPlaylistRowCell(const PlaylistRowCellInput& input) {
  PlaylistRowCellGeometry out;
  const LayoutRect& f = input.frame;
  const double maxX = f.x + f.width;
  const double maxY = f.y + f.height;
  const bool thumbs = input.showThumbnails;
  const bool abRoll = input.abRollClipPosition == 1 || input.abRollClipPosition == 2;
  const double m = abRoll ? kABRollMargin : 0.0;
  out.margin = m;

  layoutBubble(input, out);

  const LayoutSize& nl = input.nodeLabelSize;
  if (input.abRollClipPosition == 2) {
    out.nodeLabel = LayoutRect{maxX - 51.0, thumbs ? f.y + 1.0 : f.y, nl.width, nl.height};
  } else if (input.abRollClipPosition == 1) {
    out.nodeLabel = LayoutRect{f.x + 1.0, thumbs ? f.y + 1.0 : f.y, nl.width, nl.height};
  }

  out.startTime = LayoutRect{f.x + 6.0 + m, f.y + 3.0, f.width, f.height};
  if (thumbs && input.thumbnailSize) {
    if (const auto size = rowThumbnailSize(*input.thumbnailSize)) {
      out.thumbnail = LayoutRect{f.x + 90.0 + m, f.y + (f.height - size->height) / 2.0, size->width, size->height};
    }
  }
  out.duration = LayoutRect{maxX - m - 86.0, f.y + 4.0, 80.0, 20.0};

  if (input.finderLabelIndex >= 1 && input.finderLabelIndex <= 7) {
    const LayoutSize& ls = input.colourLabelSize;
    out.colourLabel = LayoutRect{f.x + (thumbs ? 155.0 : 112.0) + m, f.y + (f.height - ls.height) / 2.0, ls.width,
                                 ls.height};
  }

  if (thumbs) {
    const LayoutSize& ds = input.modificationDateTextSize;
    out.labelName = LayoutRect{f.x + 169.0 + m, f.y + 21.0, f.width - 245.0, 20.0};
    out.modificationDate = LayoutRect{maxX - ds.width - m - 6.0, f.y + 21.0, ds.width, ds.height};
    out.informationLine = LayoutRect{f.x + 155.0 + m, f.y + 35.0, f.width - 280.0, ds.height};
  }

  // Badge row, right to left; only drawn badges take a slot.
  const double badgeY = maxY - kBadgeSide - (thumbs ? 6.0 : 3.0);
  double badgeX = maxX - kBadgeSide - (thumbs ? 6.0 : 85.0) - m;
  for (const RowCellBadge badge : input.badges) {
    out.badges.push_back(PlacedBadge{badge, LayoutRect{badgeX, badgeY, kBadgeSide, kBadgeSide}});
    badgeX -= kBadgeStep;
  }

  const LayoutSize& ps = input.pointMarkSize;
  if (thumbs) {
    const double bx = f.x + m + 14.0;
    const double by = f.y + 21.0;
    if (input.hasInPoint) {
      out.inPointText = LayoutRect{bx, by, 70.0, 20.0};
      out.inPointMark = LayoutRect{bx - 8.0, by + 2.0, ps.width, ps.height};
    }
    if (input.hasOutPoint) {
      out.outPointText = LayoutRect{bx, by + 14.0, 70.0, 20.0};
      out.outPointMark = LayoutRect{bx + 61.0, by + 16.0, ps.width, ps.height};
    }
  } else {
    if (input.hasOutPoint) {
      out.outPointMark = LayoutRect{badgeX, badgeY + 2.0, ps.width, ps.height};
      badgeX -= kBadgeStep;
    }
    if (input.hasInPoint) {
      out.inPointMark = LayoutRect{badgeX, badgeY + 2.0, ps.width, ps.height};
      badgeX -= kBadgeStep;
    }
  }

  double nameWidth;
  if (thumbs) {
    nameWidth = f.width - 250.0 - m;
  } else {
    const double slots =
        static_cast<double>(input.badges.size()) + ((input.hasInPoint || input.hasOutPoint) ? 1.0 : 0.0);
    nameWidth = f.width - 220.0 - m - kBadgeStep * slots;
  }
  if (abRoll) nameWidth -= 50.0;
  // A narrow row gets an empty name box rather than a negative one.
  out.name = LayoutRect{f.x + (thumbs ? 155.0 : 131.0) + m, f.y + 3.0, std::max(nameWidth, 0.0), 18.0};

  if (input.mark != RowCellMark::None) {
    out.mark = thumbs ? LayoutRect{f.x + 102.0, f.y + 11.0, 35.0, 35.0} : LayoutRect{f.x + 95.0, f.y + 7.0, 10.0, 10.0};
  }
  return out;
}

}  // namespace app
