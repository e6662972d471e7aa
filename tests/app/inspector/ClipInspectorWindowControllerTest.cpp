// The inspector window: which playlist the panes may edit, what each
// notification does to the panes, pane sizing, locks and undo.

#include <gtest/gtest.h>

#include "tests/app/inspector/InspectorFixture.h"

namespace app::inspector::testing {
namespace {

struct ModifyCase {
  bool abRoll;
  const char* loadedOn;  // "A", "B" or ""
  bool unlockedA;
  bool unlockedB;
  bool expected;
};

class CanModifyTest : public InspectorTest, public ::testing::WithParamInterface<ModifyCase> {};

TEST_P(CanModifyTest, FollowsTheLocksOfTheNodesPlayingThePlaylist) {
  const ModifyCase& c = GetParam();
  document->setAbRoll(c.abRoll);
  if (std::string(c.loadedOn) == "A") context.playlistOnNode[kNodeA] = "playlist-1";
  if (std::string(c.loadedOn) == "B") context.playlistOnNode[kNodeB] = "playlist-1";
  context.playlistOnNode.emplace(kNodeA, "another");
  context.unlocked.clear();
  if (c.unlockedA) context.unlocked.insert(kNodeA);
  if (c.unlockedB) context.unlocked.insert(kNodeB);
  playlistWindowBecomesKey();
  EXPECT_EQ(inspector.generalClipInspectorViewController().canModifyCurrentPlaylist(), c.expected)
      << "abRoll " << c.abRoll << " on '" << c.loadedOn << "' unlocked " << c.unlockedA << c.unlockedB;
}

INSTANTIATE_TEST_SUITE_P(Table, CanModifyTest,
                         ::testing::Values(ModifyCase{false, "", false, false, true},
                                           ModifyCase{false, "A", false, true, false},
                                           ModifyCase{false, "A", true, false, true},
                                           ModifyCase{false, "B", false, false, true},
                                           ModifyCase{true, "", false, false, true},
                                           ModifyCase{true, "A", true, false, false},
                                           ModifyCase{true, "B", true, false, false},
                                           ModifyCase{true, "B", false, true, false},
                                           ModifyCase{true, "B", true, true, true},
                                           ModifyCase{true, "A", true, true, true}));

TEST_F(InspectorTest, AttributesPaneIsInstalledFirstAndToolbarTagsChoosePanes) {
  EXPECT_EQ(inspector.currentPanelViewController(), &inspector.attributesClipInspectorViewController());
  const std::pair<int, ClipInspectorViewController*> tags[] = {
      {0, &inspector.attributesClipInspectorViewController()}, {1, &inspector.inOutInspectorViewController()},
      {2, &inspector.resizeClipInspectorViewController()}, {3, &inspector.generalClipInspectorViewController()}};
  for (const auto& [tag, pane] : tags) {
    inspector.changePanes(tag);
    EXPECT_EQ(inspector.currentPanelViewController(), pane) << tag;
    EXPECT_EQ(pane->title(), kInspectorToolbarItems[static_cast<std::size_t>(tag)].identifier);
  }
  inspector.changePanes(7);
  EXPECT_EQ(inspector.currentPanelViewController(), &inspector.generalClipInspectorViewController());
}

TEST_F(InspectorTest, NotificationsChooseTheSourceOfSelectionAndRefreshThePanes) {
  inspector.changePanes(3);
  document->setSelectedClipIndexes({1});
  // Selection changes reach only the pane shown.
  context.center.post(platform::Notification{kPlaylistSelectionChangedNotification, nullptr, document, {}});
  EXPECT_FALSE(inspector.lastUpdateComeFromInspector());
  EXPECT_EQ(inspector.generalClipInspectorViewController().state()[InfoField::ClipName].text, "two");
  EXPECT_EQ(inspector.resizeClipInspectorViewController().state().selectionValidation, "");
  EXPECT_TRUE(inspector.resizeClipInspectorViewController().state().controlsHidden) << "not refreshed yet";

  context.browserSelection = {makeClip("browsed"), makeClip("other")};
  context.center.post(kMediaBrowserSelectionDidChangedNotification);
  EXPECT_TRUE(inspector.lastUpdateComeFromInspector());
  EXPECT_EQ(inspector.generalClipInspectorViewController().state().selectionValidation, kMultipleSelectionText);

  // Key windows refresh every pane, and the browser disables the editing ones.
  context.center.post(kMediaBrowserWindowDidBecomeKeyNotification);
  EXPECT_EQ(inspector.resizeClipInspectorViewController().state().selectionValidation, kMediaBrowserAttributesText);
  EXPECT_EQ(inspector.inOutInspectorViewController().state().message, kInOutMediaBrowserText);
  EXPECT_FALSE(inspector.resizeClipInspectorViewController().state().checkBoxEnabled);

  playlistWindowBecomesKey();
  EXPECT_EQ(inspector.playlistDocument(), document);
  EXPECT_FALSE(inspector.resizeClipInspectorViewController().state().controlsHidden);
  EXPECT_TRUE(inspector.resizeClipInspectorViewController().state().checkBoxEnabled);
  EXPECT_EQ(inspector.inOutInspectorViewController().state().message, "");
  EXPECT_EQ(inspector.inOutInspectorViewController().currentClip(), clip(1));
}

TEST_F(InspectorTest, LockedSelectedClipDisablesTheAttributeEditors) {
  context.attributes[kNodeA] = {makeAttribute("Output", "Logo")};
  selectRows({2});
  playlistWindowBecomesKey();
  AttributeViewController* editor = inspector.attributesClipInspectorViewController().editor("Logo");
  ASSERT_NE(editor, nullptr);
  EXPECT_FALSE(inspector.lockedClipsChanged({"one-playback"}));
  EXPECT_TRUE(editor->state().checkBoxEnabled);
  EXPECT_TRUE(inspector.lockedClipsChanged({"x", "three-playback"}));
  EXPECT_FALSE(editor->state().checkBoxEnabled);
}

TEST_F(InspectorTest, UndoGoesToThePlaylistOrToAnEmptyManager) {
  EXPECT_EQ(inspector.undoManager(), nullptr);
  EXPECT_FALSE(inspector.windowWillReturnUndoManager().canUndo());
  playlistWindowBecomesKey();
  EXPECT_EQ(inspector.undoManager(), &document->undoManager());
  EXPECT_EQ(&inspector.windowWillReturnUndoManager(), &document->undoManager());
}

TEST(InspectorPaneSizeTest, TakesTheLargerOfWantedAndMinimumKeepingTheTopEdge) {
  const PaneFrame window{{100, 50}, {400, 300}};
  const PaneSize content{400, 260};
  const PaneResize smaller = paneResize(window, content, {200, 100}, {300, 200});
  EXPECT_EQ(smaller.frame, (PaneFrame{{100, 50}, {300, 240}}));
  EXPECT_TRUE(smaller.sizeChanged);
  const PaneResize larger = paneResize(window, content, {500, 400}, {300, 200});
  EXPECT_EQ(larger.frame, (PaneFrame{{100, 50}, {500, 440}}));
  EXPECT_EQ(larger.minimumContent, (PaneSize{300, 200}));
  const PaneResize same = paneResize(window, content, {400, 260}, {100, 100});
  EXPECT_FALSE(same.sizeChanged);
  EXPECT_EQ(same.frame, window);
}

}  // namespace
}  // namespace app::inspector::testing
