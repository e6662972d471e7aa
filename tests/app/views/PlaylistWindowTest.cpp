// The playlist window on the offscreen platform: it shows the document's rows
// and the counters' progress, caps the bars, and forwards the buttons.

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/views/playlist/DraggableTableView.h"
#include "app/views/playlist/NodePopUpButton.h"
#include "app/views/playlist/PlaybackProgressView.h"
#include "app/views/playlist/PlaylistWindow.h"
#include "app/views/playlist/PlaylistWindowHandle.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/app/views/QtTestApplication.h"

namespace {

// A window over a fake node control, on a manual clock and empty user defaults.
class PlaylistWindowTest : public ::testing::Test {
 protected:
  PlaylistWindowTest() { testing_support::qtTestApplication(); }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  platform::UserDefaults defaults_{std::filesystem::path()};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  app_testing::FakePlaylistNodeControl nodes_;
};

TEST_F(PlaylistWindowTest, ShowsTheRowsAndCapsTheProgressBars) {
  nodes_.statuses["A"] = app_testing::nodeStatus("PLAYING", 1, 30.0);
  auto document = app_testing::makeDocument(2, false);

  app::views::PlaylistWindowHandle handle(document, nodes_);
  app::views::PlaylistWindow& window = handle.window();

  app::views::DraggableTableView& table = *window.tableView();
  ASSERT_EQ(table.model()->rowCount(), 2);
  EXPECT_EQ(handle.controller().viewState().rows[1].status, nodes::kPlaybackStatusPlaying);
  auto* clipCount = window.findChild<QLabel*>("clipCountTextField");
  ASSERT_NE(clipCount, nullptr);
  EXPECT_EQ(clipCount->text(), "2 items - Selection: 00:00:00:00");
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
  nodes_.takeCommands();
  play->click();
  EXPECT_THAT(nodes_.takeCommands(), ::testing::ElementsAre("send r0 play"));
}

TEST_F(PlaylistWindowTest, NodePopUpsFollowTheNodeListAndChooseNodeB) {
  nodes_.nodes = {{"A", "Studio 1", true, "127.0.0.1", "7000"}, {"B", "Studio 2", true, "127.0.0.1", "7001"}};
  auto document = app_testing::makeDocument(2, false);
  document->setNodeBUniqueID(std::nullopt);

  app::views::PlaylistWindowHandle handle(document, nodes_);
  handle.controller().nodeListDidChange();
  auto* popUpA = handle.window().findChild<QComboBox*>("nodeAPopUpButton");
  auto* popUpB = handle.window().findChild<QComboBox*>("nodeBPopUpButton");
  ASSERT_NE(popUpA, nullptr);
  ASSERT_NE(popUpB, nullptr);
  ASSERT_EQ(popUpA->count(), 4);  // "<none>", separator, two nodes
  EXPECT_EQ(popUpA->currentText(), "Studio 1");
  EXPECT_EQ(popUpB->currentText(), "<none>");

  popUpB->setCurrentIndex(3);
  emit popUpB->activated(3);
  EXPECT_TRUE(document->abRoll());
  EXPECT_EQ(document->nodeBUniqueID(), "B");
  EXPECT_TRUE(handle.controller().viewState().abRollOn);
}

// In A/B roll the pop-up buttons show whole node names when the bar has room.
TEST_F(PlaylistWindowTest, ABRollPopUpsShowWholeNodeNames) {
  nodes_.nodes = {{"A", "Studio Playout One", true, "127.0.0.1", "7000"},
                 {"B", "Studio Playout Two", true, "127.0.0.1", "7001"}};
  auto document = app_testing::makeDocument(2, false);
  document->setNodeBUniqueID(std::nullopt);

  app::views::PlaylistWindowHandle handle(document, nodes_);
  handle.window().resize(1100, 600);
  handle.window().show();
  handle.controller().nodeListDidChange();
  auto* popUpA = handle.window().findChild<app::views::NodePopUpButton*>("nodeAPopUpButton");
  auto* popUpB = handle.window().findChild<app::views::NodePopUpButton*>("nodeBPopUpButton");
  auto* transport = handle.window().findChild<QWidget*>("pbControlView");
  auto* modes = handle.window().findChild<QWidget*>("optionsContentView");
  ASSERT_TRUE(popUpA && popUpB && transport && modes);
  popUpB->setCurrentIndex(3);
  emit popUpB->activated(3);
  ASSERT_TRUE(handle.controller().viewState().abRollOn);
  // The shown window slides its controls into place; jump to the end.
  for (auto* slide : handle.window().findChildren<QAbstractAnimation*>()) slide->setCurrentTime(slide->totalDuration());

  EXPECT_EQ(popUpB->currentText(), "Studio Playout Two");
  EXPECT_GT(popUpA->widthForSelectedName(), 100) << "the names must need more than the classic width";
  EXPECT_GE(popUpA->width(), popUpA->widthForSelectedName());
  EXPECT_GE(popUpB->width(), popUpB->widthForSelectedName());
  EXPECT_LE(popUpA->geometry().right(), transport->x());
  EXPECT_LE(transport->geometry().right(), modes->x());
  EXPECT_LE(modes->geometry().right(), popUpB->x());
}

// The window's keys reach the controller whichever control has the focus;
// what the table does not use (space) is no longer swallowed by it.
TEST_F(PlaylistWindowTest, KeysReachTheControllerFromAnyControl) {
  nodes_.statuses["A"] = app_testing::nodeStatus("STOPPED", 0, 0.0);
  auto document = app_testing::makeDocument(2, false);
  app::views::PlaylistWindowHandle handle(document, nodes_);
  app::views::PlaylistWindow& window = handle.window();
  auto* chain = window.findChild<QAbstractButton*>("chainButton");
  ASSERT_NE(chain, nullptr);
  const bool chainWas = chain->isChecked();

  const auto press = [](QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &event);
  };
  nodes_.takeCommands();
  press(window.tableView(), Qt::Key_Space, Qt::NoModifier, " ");
  EXPECT_THAT(nodes_.takeCommands(), ::testing::ElementsAre("send r0 play"));
  press(chain, Qt::Key_Space, Qt::NoModifier, " ");
  EXPECT_THAT(nodes_.takeCommands(), ::testing::ElementsAre("send r0 play"));
  EXPECT_EQ(chain->isChecked(), chainWas) << "the focused button was not pressed";
  press(window.tableView(), Qt::Key_Space, Qt::ShiftModifier, " ");
  press(chain, Qt::Key_Space, Qt::AltModifier, " ");
  EXPECT_EQ(nodes_.takeCommands().size(), 2u);
  // The table keeps its plain arrows and its type-select letters.
  press(window.tableView(), Qt::Key_Down, Qt::NoModifier, QString());
  press(window.tableView(), Qt::Key_A, Qt::NoModifier, "a");
  EXPECT_TRUE(nodes_.takeCommands().empty());
}

}  // namespace
