#pragma once
// PlaylistRowPaintData: everything the row delegate draws for one playlist
// row, read once from a PlaylistItem (one consistent snapshot of its fields)
// and from the window's answer about the overlay logo. Building it never
// changes the item: the thumbnail is copied into a QImage and scaled only
// while drawing.
//
// Plain values; built and used on the main thread.

#include <QImage>

#include <cstdint>
#include <string>

#include "app/playlist/PlaylistRowCellLayout.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/media/TiffImage.h"

namespace app::views {

// What a row shows. The delegate fills the layout's frame, row layout and
// thumbnail size from the option rectangle and the picture; the rest of
// `cell` comes from the item.
struct PlaylistRowPaintData {
  std::string startTime;
  std::string name;  // the display name without its extension
  std::string duration;
  std::string inPointText;
  std::string outPointText;
  // Thumbnail layout only.
  std::string finderLabelName;
  std::string modificationDate;
  std::string informationLine;  // "codec (WxH, fps fps, languages)"
  std::int32_t playbackStatus = 0;
  std::int32_t validationStatus = 2;  // 2: a valid media file
  bool online = true;
  QImage thumbnail;  // null without one
  PlaylistRowCellInput cell;
};

// The paint data of `item`. nodeOffersOverlayLogo: the node that plays the
// row offers an "Overlay Logo" clip attribute.
PlaylistRowPaintData playlistRowPaintData(const nodes::PlaylistItem& item, bool nodeOffersOverlayLogo);

// A copy of `image` (non-premultiplied RGBA); a null QImage for a zero size
// or pixel bytes that do not match the size.
QImage imageFromRGBA(const nodes::RGBAImage& image);

}  // namespace app::views
