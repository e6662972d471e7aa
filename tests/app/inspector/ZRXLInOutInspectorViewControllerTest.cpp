// The In/Out pane: its checks and messages, undo, node replacement.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/app/inspector/InspectorFixture.h"

namespace app::inspector::testing {
namespace {

class InOutPaneTest : public InspectorTest {
 protected:
  void SetUp() override {
    // A clip of 10 s with in 2 s and out 6 s.
    clip(0)->setInPointInSeconds(2);
    clip(0)->setHasInPoint(true);
    clip(0)->setOutPointInSeconds(6);
    clip(0)->setHasOutPoint(true);
    playlistWindowBecomesKey();
    selectRows({0});
    inspector.changePanes(1);
  }
  ZRXLInOutInspectorViewController& pane() { return inspector.inOutInspectorViewController(); }
};

struct PointCase {
  bool inPoint;
  double seconds;
  const char* alert;  // "" when taken
};

class InOutChecksTest : public InOutPaneTest, public ::testing::WithParamInterface<PointCase> {};

TEST_P(InOutChecksTest, ConflictingPointsAlertAndChangeNothing) {
  const PointCase& c = GetParam();
  const double before = c.inPoint ? clip(0)->inPointInSeconds() : clip(0)->outPointInSeconds();
  EXPECT_TRUE(c.inPoint ? pane().setInPointInSeconds(c.seconds) : pane().setOutPointInSeconds(c.seconds));
  const double after = c.inPoint ? clip(0)->inPointInSeconds() : clip(0)->outPointInSeconds();
  if (std::string(c.alert).empty()) {
    EXPECT_TRUE(context.alerts.empty()) << c.seconds;
    EXPECT_EQ(after, c.seconds);
  } else {
    ASSERT_EQ(context.alerts.size(), 1U) << c.seconds;
    EXPECT_EQ(context.alerts[0].rfind(c.alert, 0), 0U) << context.alerts[0];
    EXPECT_TRUE(after == before) << c.seconds;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, InOutChecksTest,
    ::testing::Values(PointCase{true, 6, "The In Point is at the same position"},
                      PointCase{true, 7, "The In Point cannot be set after the Out Point"},
                      PointCase{true, 1, ""}, PointCase{true, -1.0, ""},
                      PointCase{true, -0.5, "The In Point must be a time within the clip"},
                      PointCase{true, std::nan(""), "The In Point must be a time within the clip"},
                      PointCase{false, 2, "The Out Point is at the same position"},
                      PointCase{false, 1, "The Out Point cannot be set before the In Point"},
                      PointCase{false, 11, "The Out Point cannot be set after the end of clip"},
                      PointCase{false, -1.0, ""}, PointCase{false, 8, ""},
                      PointCase{false, -3, "The Out Point must be a time within the clip"},
                      PointCase{false, INFINITY, "The Out Point must be a time within the clip"}));

TEST_F(InOutPaneTest, ClearingNeverAlertsAndEachEditIsNamedForUndo) {
  const std::pair<std::function<void()>, const char*> edits[] = {
      {[&] { pane().setInPointInSeconds(3); }, "Mark In"},
      {[&] { pane().setInPointInSeconds(-1.0); }, "Clear In"},
      {[&] { pane().setOutPointInSeconds(5); }, "Mark Out"},
      {[&] { pane().setOutPointInSeconds(-1.0); }, "Clear Out"},
      {[&] { pane().setMediaItemDurationInSeconds(9); }, "Update Duration"}};
  for (const auto& [edit, name] : edits) {
    edit();
    EXPECT_EQ(document->undoManager().undoActionName(), name);
  }
  EXPECT_TRUE(context.alerts.empty());
  EXPECT_FALSE(clip(0)->hasInPoint());
  EXPECT_TRUE(document->isDocumentEdited());
}

TEST_F(InOutPaneTest, UndoingADurationChangeRestoresDurationAndOutPointTogether) {
  pane().setMediaItemDurationInSeconds(8);
  EXPECT_EQ(clip(0)->mediaItemDurationInSeconds(), 8);
  EXPECT_EQ(clip(0)->outPointInSeconds(), 8);
  EXPECT_EQ(context.updatedClips, 1U);
  document->undoManager().undo();
  EXPECT_EQ(clip(0)->mediaItemDurationInSeconds(), 10);
  EXPECT_EQ(clip(0)->outPointInSeconds(), 6);
  EXPECT_TRUE(clip(0)->hasOutPoint());
  document->undoManager().redo();
  EXPECT_EQ(clip(0)->mediaItemDurationInSeconds(), 8);
  EXPECT_EQ(clip(0)->outPointInSeconds(), 8);
}

TEST_F(InOutPaneTest, UndoRestoresAPointTheChecksWouldRefuseNow) {
  pane().setInPointInSeconds(4);
  pane().setOutPointInSeconds(5);
  document->undoManager().undo();
  document->undoManager().undo();
  EXPECT_EQ(clip(0)->inPointInSeconds(), 2);
  EXPECT_EQ(clip(0)->outPointInSeconds(), 6);
  EXPECT_TRUE(context.alerts.empty());
}

TEST_F(InOutPaneTest, ChangesGoToThePlayingNodeOrAreAnnouncedOnce) {
  pane().setOutPointInSeconds(7);
  EXPECT_TRUE(context.replacements.empty());
  EXPECT_EQ(changeNotifications, 1);
  context.playlistOnNode[kNodeA] = "playlist-1";
  pane().setOutPointInSeconds(8);
  EXPECT_EQ(context.replacements, (std::vector<Replacement>{{0, kNodeA}}));
  EXPECT_EQ(changeNotifications, 1);
}

TEST_F(InOutPaneTest, MessagesSayWhyPointsCannotBeEdited) {
  context.playlistOnNode[kNodeA] = "playlist-1";
  context.unlocked.clear();
  playlistWindowBecomesKey();
  EXPECT_EQ(pane().state().message, kPlaylistIsLockedText);
  pane().setInPointInSeconds(1);
  EXPECT_EQ(clip(0)->inPointInSeconds(), 2);

  context.browserSelection = {clip(1)};
  context.center.post(kMediaBrowserWindowDidBecomeKeyNotification);
  EXPECT_EQ(pane().state().message, kInOutMediaBrowserText);
  EXPECT_EQ(pane().currentClip(), clip(1));
}

}  // namespace
}  // namespace app::inspector::testing
