// The row delegate paints a row offscreen without touching its thumbnail.

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <gtest/gtest.h>

#include "app/views/PlaylistRowDelegate.h"
#include "tests/app/views/QtTestApplication.h"

namespace {

TEST(PlaylistRowDelegateTest, PaintsARowAndLeavesTheThumbnailAlone) {
  testing_support::qtTestApplication();
  QImage thumbnail(1920, 1080, QImage::Format_ARGB32);
  thumbnail.fill(Qt::blue);
  QImage zeroWidth;

  app::views::PlaylistRowPaintData data;
  data.startTime = "00:00:10:00";
  data.name = "Opening titles";
  data.duration = "00:00:30:00";
  data.playbackStatus = 3;
  data.cell.abRollClipPosition = 1;
  data.cell.badges = {app::RowCellBadge::Loop};
  data.cell.hasInPoint = true;
  data.cell.mark = app::RowCellMark::Playing;
  data.thumbnail = thumbnail;

  int asked = -1;
  app::views::PlaylistRowDelegate delegate([&](int row) -> std::optional<app::views::PlaylistRowPaintData> {
    asked = row;
    if (row == 1) {
      auto copy = data;
      copy.thumbnail = zeroWidth;
      return copy;
    }
    return row == 0 ? std::optional(data) : std::nullopt;
  });
  QStandardItemModel model(3, 1);

  for (const bool thumbnails : {false, true}) {
    delegate.setShowThumbnails(thumbnails);
    QImage canvas(600, 3 * 55, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    for (int row = 0; row < 3; ++row) {
      QStyleOptionViewItem option;
      option.rect = QRect(0, row * 55, 600, thumbnails ? 55 : 23);
      option.state = QStyle::State_Enabled;
      delegate.paint(&painter, option, model.index(row, 0));
      EXPECT_EQ(asked, row);
    }
    painter.end();
    // Row 0 drew its bubble; row 2 had no data and stays blank.
    EXPECT_NE(canvas.pixel(300, 5), QColor(Qt::white).rgb());
    EXPECT_EQ(canvas.pixel(300, 2 * 55 + 5), QColor(Qt::white).rgb());
    if (thumbnails) {
      EXPECT_EQ(canvas.pixel(140 + 30, 27), QColor(Qt::blue).rgb());  // thumbnail at x + 90 + 50
    }
    EXPECT_EQ(delegate.sizeHint(QStyleOptionViewItem(), model.index(0, 0)).height(), thumbnails ? 55 : 23);
  }
  EXPECT_EQ(data.thumbnail.size(), QSize(1920, 1080));
}

}  // namespace
