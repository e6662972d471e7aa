#pragma once
// PlaylistRowDelegate: paints one playlist row (bubble, texts, thumbnail,
// badges, in/out marks, node label and playback mark) into the rectangles
// that layoutPlaylistRowCell() gives. It reads each row's paint data through
// a provider function and draws only: it handles no events and changes no
// model data (the thumbnail is scaled while drawing, never stored). It also
// draws the selection (the blue bubble), so the table draws none itself.
// The artwork is plain painted shapes.
//
// Owned by the table (Qt parent); main thread only.

#include <QStyledItemDelegate>

#include <functional>
#include <optional>

#include "app/views/playlist/PlaylistRowPaintData.h"

namespace app::views {

class PlaylistRowDelegate : public QStyledItemDelegate {
 public:
  using RowProvider = std::function<std::optional<PlaylistRowPaintData>(int row)>;

  explicit PlaylistRowDelegate(RowProvider provider, QObject* parent = nullptr);

  // The row height in pixels of a layout: 22.5 points rounded up to 23
  // (compact), 55 (thumbnails).
  static int rowHeight(bool showThumbnails);

  void setShowThumbnails(bool show) { showThumbnails_ = show; }
  bool showThumbnails() const { return showThumbnails_; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  RowProvider provider_;
  bool showThumbnails_ = false;
};

}  // namespace app::views
