// The media browser window on the offscreen platform: the outline shows the
// chosen node's tree sorted by name, the cells' geometry, and a drag of its
// clips lands in a playlist window.

#include <QApplication>
#include <QMimeData>
#include <QTreeView>
#include <gtest/gtest.h>

#include "app/browser/BrowserCellGeometry.h"
#include "app/views/browser/MediaBrowserWindow.h"
#include "app/views/browser/MediaBrowserWindowHandle.h"
#include "app/views/browser/MediaCollectionTreeModel.h"
#include "app/views/playlist/DraggableTableView.h"
#include "app/views/playlist/PlaylistTableModel.h"
#include "app/views/playlist/PlaylistWindow.h"
#include "app/views/playlist/PlaylistWindowHandle.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/app/browser/FakeMediaBrowserDataSource.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/app/views/QtTestApplication.h"

namespace {

using app_testing::makeClip;

TEST(BrowserCellGeometryTest, ImageAndTextAndLabelCells) {
  using app::browser::CellRect;
  const CellRect bounds{10, 20, 200, 22};
  EXPECT_EQ(app::browser::imageRectForBounds(bounds, std::nullopt), CellRect{});
  EXPECT_EQ(app::browser::titleRectForBounds(bounds, std::nullopt), CellRect{});
  EXPECT_EQ(app::browser::imageAndTextCellWidth(50, std::nullopt), 53.0);
  const app::browser::CellSize image{16, 16};
  EXPECT_EQ(app::browser::imageRectForBounds(bounds, image), (CellRect{13, 23, 16, 16}));
  EXPECT_EQ(app::browser::titleRectForBounds(bounds, image), (CellRect{29, 20, 181, 22}));
  EXPECT_EQ(app::browser::imageAndTextCellWidth(50, image), 69.0);
  EXPECT_FALSE(app::browser::finderLabelDrawsAnything(0));
  EXPECT_EQ(app::browser::finderLabelImageRect(bounds), (CellRect{10, 23, 11, 11}));
  EXPECT_EQ(app::browser::finderLabelNameRect(bounds), (CellRect{25, 20, 200, 22}));
}

TEST(MediaBrowserWindowTest, ShowsTheTreeSortedAndItsDragLandsInAPlaylist) {
  testing_support::qtTestApplication();
  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  platform::UserDefaults defaults{std::filesystem::path()};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride(defaults);
  platform::NotificationCenter center;
  auto source = std::make_shared<app_testing::FakeMediaBrowserDataSource>();
  source->nodeList = {{"A", "Node A", "127.0.0.1", "7000", true, true}};
  source->catalogue = {makeClip("1", "A", "F", "/srv/Media", "Clip 10.mov"),
                       makeClip("2", "A", "F", "/srv/Media", "clip 9.mov"),
                       makeClip("3", "A", "F", "/srv/Media", "<b>bold<b> &amp; co.mov")};
  app::browser::MediaCollectionNodeController collection(source, center);
  app::views::MediaBrowserWindowHandle browser(collection, defaults, center);
  app::views::MediaBrowserWindow& window = browser.window();

  QAbstractItemModel& outline = *window.outline()->model();
  ASSERT_EQ(outline.rowCount(), 1);
  const QModelIndex media = outline.index(0, 0);
  EXPECT_EQ(outline.data(media).toString(), "Media");
  EXPECT_TRUE(window.outline()->isExpanded(media)) << "the one top folder opens";
  ASSERT_EQ(outline.rowCount(media), 3);
  // Numbers sort by value, letters without case; names stay plain text.
  EXPECT_EQ(outline.data(outline.index(0, 0, media)).toString(), "<b>bold<b> &amp; co.mov");
  EXPECT_EQ(outline.data(outline.index(1, 0, media)).toString(), "clip 9.mov");
  EXPECT_EQ(outline.data(outline.index(2, 0, media)).toString(), "Clip 10.mov");

  // Two clips selected and dragged into a playlist window.
  window.outline()->selectionModel()->select(
      QItemSelection(outline.index(1, 0, media), outline.index(2, 0, media)),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_EQ(browser.controller().selectedPlaylistItems().size(), 2u);
  std::unique_ptr<QMimeData> drag(window.model()->mimeData(
      {window.model()->indexOfNode(collection.mediaCollectionNodeWithClip(*source->catalogue[0]).get()),
       window.model()->indexOfNode(collection.mediaCollectionNodeWithClip(*source->catalogue[1]).get())}));
  ASSERT_TRUE(drag);

  app_testing::FakePlaylistNodeControl nodes;
  auto document = app_testing::makeDocument(0, false);
  app::views::PlaylistWindowHandle playlist(document, nodes);
  app::views::PlaylistTableModel& rows = *playlist.window().tableView()->playlistModel();
  rows.setDragContext(app::DropSource::OtherSource, true);
  ASSERT_TRUE(rows.canDropMimeData(drag.get(), Qt::CopyAction, 0, 0, QModelIndex()));
  ASSERT_TRUE(rows.dropMimeData(drag.get(), Qt::CopyAction, 0, 0, QModelIndex()));
  ASSERT_EQ(document->playlist().size(), 2u);
  EXPECT_EQ(document->playlist()[0]->uniqueID(), "1");
  EXPECT_EQ(document->playlist()[1]->uniqueID(), "2");

  // A selected clip removed from the tree leaves the selection.
  const auto kept = source->catalogue[0];
  const auto removed = source->catalogue[1];
  removed->setOnline(false);
  collection.deleteCollectionNodes({collection.mediaCollectionNodeWithClip(*removed)});
  ASSERT_EQ(outline.rowCount(outline.index(0, 0)), 2);
  EXPECT_EQ(browser.controller().selectedPlaylistItems(), (std::vector<std::shared_ptr<nodes::PlaylistItem>>{kept}));
}

}  // namespace
