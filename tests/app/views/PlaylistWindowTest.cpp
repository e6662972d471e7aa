// The playlist window on the offscreen platform: it shows the document's rows
// and the counters' progress, caps the bars, and forwards the buttons.

#include <QAbstractButton>
#include <QTableWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/views/PlaybackProgressView.h"
#include "app/views/PlaylistWindow.h"
#include "app/views/PlaylistWindowHandle.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "tests/app/FakePlaylistNodeControl.h"
#include "tests/app/views/QtTestApplication.h"

namespace {

TEST(PlaylistWindowTest, ShowsTheRowsAndCapsTheProgressBars) {
  testing_support::qtTestApplication();
  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride(clock);
  platform::UserDefaults defaults{std::filesystem::path()};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride(defaults);
  app_testing::FakePlaylistNodeControl nodes;
  nodes.statuses["A"] = app_testing::nodeStatus("PLAYING", 1, 30.0);
  auto document = app_testing::makeDocument(2, false);

  app::views::PlaylistWindowHandle handle(document, nodes);
  app::views::PlaylistWindow& window = handle.window();

  QTableWidget& table = *window.tableView();
  ASSERT_EQ(table.rowCount(), 2);
  EXPECT_EQ(table.item(0, 4)->text(), "Clip 0");
  EXPECT_EQ(table.item(1, 4)->text(), "Clip 1");
  EXPECT_EQ(table.item(1, 0)->text(), "Playing");
  EXPECT_EQ(table.item(0, 0)->text(), "");
  EXPECT_DOUBLE_EQ(window.itemProgressView()->doubleValue(), 0.5);  // 30 s into a 60 s clip
  EXPECT_EQ(window.itemProgressView()->colorScheme(), app::views::PlaybackProgressView::kClipColorScheme);
  EXPECT_EQ(window.playlistProgressView()->colorScheme(), app::views::PlaybackProgressView::kBlockColorScheme);

  app::views::PlaybackProgressView& bar = *window.itemProgressView();
  bar.setDoubleValue(1.7);
  EXPECT_EQ(bar.doubleValue(), 1.0);
  const int redraws = bar.redisplayRequestCountForTesting();
  bar.setDoubleValue(1.7);
  EXPECT_EQ(bar.redisplayRequestCountForTesting(), redraws);
  bar.setDoubleValue(-0.2);  // no lower cap
  EXPECT_EQ(bar.doubleValue(), -0.2);

  auto* play = window.findChild<QAbstractButton*>("playButton");
  ASSERT_NE(play, nullptr);
  ASSERT_TRUE(play->isEnabled());
  nodes.takeCommands();
  play->click();
  EXPECT_THAT(nodes.takeCommands(), ::testing::ElementsAre("send r0 play"));
}

}  // namespace
