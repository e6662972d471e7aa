#pragma once
// PlaylistRowDelegate: paints one playlist row (bubble, texts, thumbnail,
// badges, in/out marks, node label and playback mark) into the rectangles
// that layoutPlaylistRowCell() gives. It reads each row's paint data through
// a provider function and draws only: it handles no events and changes no
// model data (the thumbnail is scaled while drawing, never stored).
//
// Owned by the table (Qt parent); main thread only.

#include <QImage>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>
#include <string>

#include "app/PlaylistRowCellLayout.h"

namespace app::views {

// What a row shows. The layout fields are filled by the delegate from the
// option rectangle and the thumbnail, so the provider sets the item's flags.
struct PlaylistRowPaintData {
  std::string startTime;
  std::string name;
  std::string duration;
  std::string inPointText;
  std::string outPointText;
  std::int32_t playbackStatus = 0;
  bool online = true;
  QImage thumbnail;  // null without one
  PlaylistRowCellInput cell;
};

class PlaylistRowDelegate : public QStyledItemDelegate {
 public:
  using RowProvider = std::function<std::optional<PlaylistRowPaintData>(int row)>;

  explicit PlaylistRowDelegate(RowProvider provider, QObject* parent = nullptr);

  void setShowThumbnails(bool show) { showThumbnails_ = show; }
  bool showThumbnails() const { return showThumbnails_; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  RowProvider provider_;
  bool showThumbnails_ = false;
};

}  // namespace app::views
