// The row delegate paints a row offscreen without touching its thumbnail;
// the paint data is read from a playlist item.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include "app/views/playlist/PlaylistRowDelegate.h"
#include "app/views/playlist/PlaylistRowPaintData.h"
#include "foundation/PathUtilities.h"
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

QColor paintedBubble(const app::views::PlaylistRowPaintData& data, bool selected) {
  app::views::PlaylistRowDelegate delegate([&](int) { return std::optional(data); });
  QStandardItemModel model(1, 1);
  QImage canvas(600, 23, QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  QStyleOptionViewItem option;
  option.rect = QRect(0, 0, 600, 23);
  option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
  delegate.paint(&painter, option, model.index(0, 0));
  painter.end();
  return canvas.pixelColor(300, 12);
}

TEST(PlaylistRowDelegateTest, BubbleColourFollowsSelectionValidityAndStatus) {
  testing_support::qtTestApplication();
  enum class Hue { Grey, Red, Orange, Green, Blue };
  struct Case {
    std::int32_t status;
    bool online;
    std::int32_t validation;
    bool selected;
    Hue hue;
  };
  const Case cases[] = {
      {0, true, 2, false, Hue::Grey},   {3, true, 2, false, Hue::Green}, {1, true, 2, false, Hue::Orange},
      {2, true, 2, false, Hue::Orange}, {5, true, 2, false, Hue::Red},   {3, false, 2, false, Hue::Red},
      {3, true, 0, false, Hue::Red},    {3, false, 0, true, Hue::Blue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "status " << c.status << " online " << c.online << " validation "
                                      << c.validation << " selected " << c.selected);
    app::views::PlaylistRowPaintData data;
    data.playbackStatus = c.status;
    data.online = c.online;
    data.validationStatus = c.validation;
    const QColor colour = paintedBubble(data, c.selected);
    const int r = colour.red(), g = colour.green(), b = colour.blue();
    switch (c.hue) {
      case Hue::Grey:
        EXPECT_TRUE(std::abs(r - g) < 10 && std::abs(g - b) < 10 && r < 250) << r << "," << g << "," << b;
        break;
      case Hue::Red:
        EXPECT_TRUE(r > g + 60 && r > b + 60 && std::abs(g - b) < 30) << r << "," << g << "," << b;
        break;
      case Hue::Orange:
        EXPECT_TRUE(r > g + 30 && g > b + 40) << r << "," << g << "," << b;
        break;
      case Hue::Green:
        EXPECT_TRUE(g > r + 40 && g > b + 40) << r << "," << g << "," << b;
        break;
      case Hue::Blue:
        EXPECT_TRUE(b > r + 30 && b > g) << r << "," << g << "," << b;
        break;
    }
  }
}

TEST(PlaylistRowDelegateTest, PaintDataIsReadFromTheItemWithoutChangingIt) {
  testing_support::qtTestApplication();
  auto thumbnail = std::make_shared<nodes::RGBAImage>();
  thumbnail->width = 2;
  thumbnail->height = 1;
  thumbnail->rgba = {255, 0, 0, 255, 0, 0, 255, 128};
  const nodes::RGBAImage original = *thumbnail;

  nodes::PlaylistItem item;
  item.setDisplayName("Opening titles.final.mov");
  item.setFramesPerSecond(25.0);
  item.setMediaItemDurationInSeconds(60.0);
  item.setInPointInSeconds(10.0);
  item.setRelativeStartTime(4.0);
  item.setOnline(true);
  item.setValidationStatus(2);
  item.setPlaybackStatus(3);
  item.setFinderLabelIndex(9);
  item.setAttributes(platform::Dictionary{{"Clip End Behaviour", "Loop"}, {"Audio Volume", "0.5"}});
  item.setAbRollClipPosition(nodes::ABRollClipPosition::NodeB);
  item.setVideoCodecDescription("H.264");
  item.setNaturalSizeWidth(1920);
  item.setNaturalSizeHeight(1080);
  item.setLanguagesDescription("en-fr");
  item.setThumbnail(thumbnail);

  const app::views::PlaylistRowPaintData data = app::views::playlistRowPaintData(item, true);
  EXPECT_EQ(data.name, "Opening titles.final");
  EXPECT_EQ(data.startTime, "00:00:04:00");
  EXPECT_EQ(data.duration, "00:00:50:00");
  EXPECT_EQ(data.inPointText, "00:00:10:00");
  EXPECT_EQ(data.outPointText, "");
  EXPECT_EQ(data.informationLine, "H.264 (1920x1080, 25.00 fps, en-fr)");
  EXPECT_EQ(data.cell.abRollClipPosition, 2);
  EXPECT_EQ(data.cell.badges, (std::vector{app::RowCellBadge::Loop, app::RowCellBadge::Logo}));
  EXPECT_TRUE(data.cell.hasInPoint);
  EXPECT_FALSE(data.cell.hasOutPoint);
  EXPECT_EQ(data.cell.finderLabelIndex, 0);  // 9 names no colour
  EXPECT_EQ(data.cell.mark, app::RowCellMark::Playing);
  ASSERT_EQ(data.thumbnail.size(), QSize(2, 1));
  EXPECT_EQ(data.thumbnail.pixelColor(0, 0), QColor(255, 0, 0, 255));
  EXPECT_EQ(data.thumbnail.pixelColor(1, 0), QColor(0, 0, 255, 128));  // alpha kept, not premultiplied
  EXPECT_EQ(*item.thumbnail(), original);

  item.setValidationStatus(0);
  EXPECT_EQ(app::views::playlistRowPaintData(item, false).cell.mark, app::RowCellMark::Offline);
  EXPECT_EQ(app::views::playlistRowPaintData(item, false).cell.badges, (std::vector{app::RowCellBadge::Loop}));
}

TEST(PlaylistRowDelegateTest, UnusableThumbnailsAndNamesAreHandled) {
  testing_support::qtTestApplication();
  const nodes::RGBAImage zero{0, 10, {}};
  const nodes::RGBAImage shortBytes{2, 2, std::vector<std::uint8_t>(15, 0)};
  EXPECT_TRUE(app::views::imageFromRGBA(zero).isNull());
  EXPECT_TRUE(app::views::imageFromRGBA(shortBytes).isNull());

  const std::pair<std::string, std::string> names[] = {
      {"clip.mov", "clip"},
      {"noextension", "noextension"},
      {".hidden", ".hidden"},
      {"folder.v2/clip", "folder.v2/clip"},
      {"", ""},
  };
  for (const auto& [name, expected] : names) EXPECT_EQ(foundation::stringByDeletingPathExtension(name), expected) << name;
}

}  // namespace
