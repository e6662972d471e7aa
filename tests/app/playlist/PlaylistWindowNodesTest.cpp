// The playlist window's node choice and unlock flow: pop-ups in the view
// state, running schedules, unreachable nodes, redundant mode, passwords
// from the keychain or the panel, and the layout of the node controls.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/playlist/PlaylistWindowController.h"
#include "app/playlist/PlaylistWindowLayout.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/link/NodePasswordKeychain.h"
#include "platform/Clock.h"
#include "platform/Keychain.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/app/playlist/RecordingPlaylistView.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using app::PasswordRequest;
using app_testing::nodeStatus;

class PlaylistWindowNodesTest : public ::testing::Test {
 protected:
  app::PlaylistWindowController& open(bool abRoll) {
    document_ = app_testing::makeDocument(3, abRoll);
    controller_ = std::make_unique<app::PlaylistWindowController>(document_, nodes_, defaults_, keychain_);
    controller_->setView(&view_);
    controller_->windowDidLoad();
    nodes_.takeCommands();
    return *controller_;
  }
  void store(const std::string& node, const std::string& password) {
    ASSERT_EQ(nodes::StoreKeychainPasswordForService(password, nodes::nodePasswordServiceName(node), keychain_), 0);
  }
  std::optional<std::string> stored(const std::string& node) {
    return nodes::KeychainPasswordForService(nodes::nodePasswordServiceName(node), keychain_);
  }
  std::vector<std::string> alertTitles() const {
    std::vector<std::string> titles;
    for (const auto& alert : alerts_->alerts()) titles.push_back(alert.title);
    return titles;
  }
  void reply(const std::string& text) {
    nodes_.answer(text);
    platform::RunLoop::main().drainReadyTasks();
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  platform::UserDefaults defaults_{std::filesystem::path()};
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter alertOverride_{alerts_};
  testing_support::TemporaryDirectory directory_;
  platform::Keychain keychain_{directory_.path() / "keychain"};
  app_testing::FakePlaylistNodeControl nodes_ = [] {
    app_testing::FakePlaylistNodeControl fake;
    fake.nodes = {{"A", "Node A", true, "10.0.0.1", "7000"},
                  {"B", "", true, "10.0.0.2", "7001"},
                  {"C", "Node C", false, "10.0.0.3", "7002"}};
    fake.connections = {"A", "B", "C"};
    fake.statuses = {{"A", nodeStatus("STOPPED")}, {"B", nodeStatus("STOPPED")}};
    fake.unlocked.clear();
    return fake;
  }();
  app_testing::RecordingPlaylistView view_;
  std::shared_ptr<nodes::VideoPlaylistDocument> document_;
  std::unique_ptr<app::PlaylistWindowController> controller_;
};

TEST_F(PlaylistWindowNodesTest, PopUpsListTheNodesAndChoosingNoneInBEndsABRoll) {
  auto& window = open(true);
  const auto& menus = view_.last.nodeMenus;
  ASSERT_EQ(menus.a.size(), 5u);
  EXPECT_EQ(menus.a[3].title, "10.0.0.2:7001");
  EXPECT_EQ(menus.selectedA, 2u);
  EXPECT_EQ(menus.selectedB, 3u);
  EXPECT_FALSE(menus.a[3].enabled) << "node B is not a choice for A";
  EXPECT_FALSE(menus.a[4].enabled) << "its link is down";
  EXPECT_EQ(menus.a[2].image, app::kLockedImage);
  EXPECT_EQ(view_.last.nodeAPopUpFieldTitle, "Node A");

  window.nodeBPopUpButtonPushed(0);
  EXPECT_FALSE(document_->abRoll());
  EXPECT_FALSE(document_->hasNodeB());
  EXPECT_FALSE(view_.last.abRollOn);
  EXPECT_EQ(view_.last.nodeAPopUpFieldTitle, "Selected Node");
}

TEST_F(PlaylistWindowNodesTest, StoredPasswordUnlocksWithoutThePanel) {
  store("A", "secret");
  auto& window = open(false);
  window.padUnlockButtonPushed();
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("unlock A secret"));
  EXPECT_EQ(view_.last.passwordPanel.request, PasswordRequest::None);
  nodes_.unlocked.insert("A");
  reply("OK");
  EXPECT_THAT(alertTitles(), IsEmpty());
}

TEST_F(PlaylistWindowNodesTest, PanelPasswordsAreRememberedUnderEachNodesOwnService) {
  store("A", "alpha");
  auto& window = open(true);
  window.padUnlockButtonPushed();
  EXPECT_THAT(nodes_.commands, IsEmpty()) << "node B has no stored password";
  const auto& panel = view_.last.passwordPanel;
  EXPECT_EQ(panel.request, PasswordRequest::NodesAAndB);
  EXPECT_EQ(panel.nodeANameField, "\"Node A\"");
  EXPECT_EQ(panel.nodeAPassword, "alpha");
  EXPECT_EQ(panel.nodeBPassword, "");

  window.nodePasswordsOKButtonPushed({"alpha", false, "beta", true});
  EXPECT_EQ(view_.last.passwordPanel.request, PasswordRequest::None);
  EXPECT_FALSE(view_.last.padUnlockEnabled);
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("unlock A alpha", "unlock B beta"));
  nodes_.unlocked = {"A", "B"};
  reply("OK");
  reply("OK");
  EXPECT_EQ(stored("B"), "beta");
  EXPECT_EQ(stored("A"), "alpha");
}

TEST_F(PlaylistWindowNodesTest, FailedUnlockReopensThePanelWithTheFailedFieldCleared) {
  auto& window = open(true);
  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // "OK"
  window.nodePasswordsOKButtonPushed({"alpha", false, "wrong", true});
  nodes_.unlocked = {"A"};
  reply("OK");
  reply("ERROR");
  EXPECT_THAT(alertTitles(), ElementsAre("Node B Unlock Error !"));
  EXPECT_EQ(view_.last.passwordPanel.request, PasswordRequest::NodesAAndB);
  EXPECT_EQ(view_.last.passwordPanel.nodeAPassword, "alpha");
  EXPECT_EQ(view_.last.passwordPanel.nodeBPassword, "");
  EXPECT_EQ(stored("B"), std::nullopt) << "a refused password is never kept";
}

TEST_F(PlaylistWindowNodesTest, RunningScheduleIsStoppedOnlyWhenTheOperatorAgrees) {
  store("A", "secret");
  nodes_.statuses["A"][nodes::kNodeStatusScheduleUniqueIDKey] = platform::Value("S1");
  auto& window = open(false);

  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // "Cancel"
  window.padUnlockButtonPushed();
  EXPECT_THAT(nodes_.takeCommands(), IsEmpty());
  EXPECT_EQ(alerts_->alerts().back().title, "Node A is currently running a Schedule.");
  EXPECT_THAT(alerts_->alerts().back().buttonTitles, ElementsAre("Cancel", "Stop Playback"));

  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);  // "Stop Playback"
  window.padUnlockButtonPushed();
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("unlock A secret"));
  nodes_.unlocked.insert("A");
  reply("OK");
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("stopschedule A"));
}

TEST_F(PlaylistWindowNodesTest, UnreachableNodesStopTheFlowWithTheirAlert) {
  struct Case {
    const char* name;
    bool abRoll;
    std::vector<std::string> down;
    const char* title;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"single", false, {"A"}, "Nodes Connection Error !",
       "Node Node A could not be reached. Please select another Node or try again later."},
      {"A down", true, {"A"}, "Node Connection Error !",
       "Node Node A could not be reached. Please select another Node or try again later."},
      {"B down", true, {"B"}, "Node Connection Error !",
       "10.0.0.2:7001 could not be reached. Please select another Node or try again later."},
      {"both down", true, {"A", "B"}, "Nodes Connection Error !",
       "Nodes Node A & 10.0.0.2:7001 could not be reached. Please select other Nodes or try again later."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& window = open(c.abRoll);
    for (const auto& node : c.down) nodes_.connections.erase(node);
    const std::size_t before = alerts_->alerts().size();
    window.padUnlockButtonPushed();
    ASSERT_EQ(alerts_->alerts().size(), before + 1);
    EXPECT_EQ(alerts_->alerts().back().title, c.title);
    EXPECT_EQ(alerts_->alerts().back().message, c.message);
    EXPECT_THAT(nodes_.takeCommands(), IsEmpty());
    EXPECT_EQ(view_.last.passwordPanel.request, PasswordRequest::None);
    nodes_.connections = {"A", "B", "C"};
  }
}

TEST_F(PlaylistWindowNodesTest, RedundantNodeIsUnlockedOnlyAfterConfirmation) {
  nodes_.inSlaveMode.insert("A");
  auto& window = open(false);
  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);  // "Cancel"
  window.padUnlockButtonPushed();
  EXPECT_THAT(alertTitles(), ElementsAre("Warning !"));
  EXPECT_EQ(view_.last.passwordPanel.request, PasswordRequest::None);

  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // "Disable Redundant Mode"
  window.padUnlockButtonPushed();
  EXPECT_EQ(view_.last.passwordPanel.request, PasswordRequest::OneNode);
}

TEST_F(PlaylistWindowNodesTest, NodeControlsMoveWithABRoll) {
  const app::PlaylistNodeControlsFrames start{{6, 18, 160, 28}, {0, 16, 290, 30}, {0, 16, 164, 30}, {0, 18, 100, 28}};
  const auto on = app::layoutNodeControls(start, 836, true);
  EXPECT_EQ(on.nodeAPopUp, (app::LayoutRect{6, 18, 100, 28}));
  EXPECT_EQ(on.pbControlView, (app::LayoutRect{120, 16, 290, 30}));
  EXPECT_EQ(on.optionsContentView.x, 836 - 275.0);
  EXPECT_EQ(on.nodeBPopUp, (app::LayoutRect{730, 18, 100, 28}));
  EXPECT_TRUE(on.nodeBFieldShown);
  const auto off = app::layoutNodeControls(on, 836, false);
  EXPECT_EQ(off.nodeAPopUp.width, 160.0);
  EXPECT_EQ(off.pbControlView.x, 418.0 - 145.0);
  EXPECT_EQ(off.optionsContentView.x, 836 - 170.0);
  EXPECT_EQ(off.nodeBPopUp.x, 836.0) << "out of sight";
  EXPECT_FALSE(off.nodeBFieldShown);
}

// Long node names widen the pop-ups into the free room between the transport
// and the mode buttons, never below the classic widths and never so far that
// the groups meet.
TEST_F(PlaylistWindowNodesTest, PopUpsWidenForLongNamesAsFarAsTheBarAllows) {
  struct Case {
    const char* what;
    double windowWidth;
    bool abRoll;
    app::NodePopUpWidthsWanted wanted;
    double nodeAWidth;
    double nodeBWidth;
  };
  // At 836 px with a 290 px transport the A/B bar has 561 - 410 - 8 = 143 px to spare.
  const Case cases[] = {
      {"short names keep the classic widths", 836, true, {60, 80}, 100, 100},
      {"both names fit", 836, true, {150, 160}, 150, 160},
      {"a long A name leaves B what it needs", 836, true, {400, 120}, 223, 120},
      {"a long B name leaves A what it needs", 836, true, {130, 400}, 130, 213},
      {"two long names share the room", 836, true, {400, 400}, 171.5, 171.5},
      {"a bar with no room to spare", 600, true, {400, 400}, 100, 100},
      {"without A/B node A grows up to the centred transport", 836, false, {400, 0}, 259, 100},
      {"without A/B a short name keeps 160 px", 836, false, {90, 0}, 160, 100},
  };
  const app::PlaylistNodeControlsFrames start{{6, 18, 160, 28}, {0, 16, 290, 30}, {0, 16, 164, 30}, {0, 18, 100, 28}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto frames = app::layoutNodeControls(start, c.windowWidth, c.abRoll, c.wanted);
    EXPECT_DOUBLE_EQ(frames.nodeAPopUp.width, c.nodeAWidth);
    EXPECT_DOUBLE_EQ(frames.nodeBPopUp.width, c.nodeBWidth);
    EXPECT_GE(frames.pbControlView.x, frames.nodeAPopUp.x + frames.nodeAPopUp.width) << "node A meets the transport";
    if (!c.abRoll) continue;
    EXPECT_DOUBLE_EQ(frames.nodeBPopUp.x + frames.nodeBPopUp.width, c.windowWidth - 6) << "node B keeps its right edge";
    EXPECT_LE(frames.optionsContentView.x + frames.optionsContentView.width, frames.nodeBPopUp.x);
    if (c.windowWidth >= 700) {
      EXPECT_GE(frames.optionsContentView.x - (frames.pbControlView.x + frames.pbControlView.width),
                app::kNodeControlsMinimumGap);
    }
  }
}

TEST_F(PlaylistWindowNodesTest, NodePlaylistChangeRefillsTheDocumentAndMarksTheClipOnAir) {
  auto& window = open(false);
  nodes_.statuses["A"] = nodeStatus("STOPPED", 1);
  auto attributes = platform::Dictionary{{"Clip End Behaviour", platform::Value("Hold Last Frame")}};
  document_->clipAtIndex(1)->setAttributes(attributes);
  window.playlistDidChange("A");
  EXPECT_THAT(nodes_.takeCommands(), ::testing::Contains("fill A"));
  EXPECT_EQ(document_->clipAtIndex(1)->playbackStatus(), nodes::kPlaybackStatusEndedOrWaiting);
  EXPECT_EQ(window.currentlyPlayingOnNodeAClipIndex(), 1);

  window.playlistDidChange("C");  // not this window's node
  EXPECT_THAT(nodes_.takeCommands(), IsEmpty());
}

TEST_F(PlaylistWindowNodesTest, NodePlaylistThatFollowedOurOwnEditKeepsTheRowsAndTheirUndo) {
  auto& window = open(false);
  nodes_.unlocked = {"A"};
  window.editor().didDepositRow(2, 0, false);
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("remove A 2", "insert A 0 r2"));
  nodes_.nodePlaylists["A"] = {"r2", "r0", "r1"};
  window.playlistDidChange("A");
  EXPECT_THAT(nodes_.takeCommands(), ::testing::Not(::testing::Contains("fill A")));

  window.undo();
  EXPECT_EQ(document_->clipAtIndex(2)->playbackUniqueID(), "r2");
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("remove A 0", "insert A 2 r2"));

  nodes_.nodePlaylists["A"] = {"r1"};  // changed elsewhere
  window.playlistDidChange("A");
  EXPECT_THAT(nodes_.takeCommands(), ::testing::Contains("fill A"));
  EXPECT_FALSE(document_->undoManager().canRedo() || document_->undoManager().canUndo());
}

TEST_F(PlaylistWindowNodesTest, ScrubbingWithCommandMovesNodeAAndResumesWhatPlayed) {
  auto& window = open(false);
  nodes_.statuses["A"] = nodeStatus("PLAYING", 1, 12.0);  // rows are 60 s long
  window.mouseDownInProgressView(nullptr, true);
  window.setMoviePosition(0.25f, nullptr);
  window.mouseUpInProgressView(nullptr, true);
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("scrub A 15", "play A"));

  nodes_.statuses["A"] = nodeStatus("PLAYING", 1, 12.0, "OTHER");  // another playlist on air
  window.setMoviePosition(0.5f, nullptr);
  EXPECT_THAT(nodes_.takeCommands(), IsEmpty());
}

TEST_F(PlaylistWindowNodesTest, KeysDriveTheTransportAndTheLock) {
  auto& window = open(false);
  nodes_.unlocked = {"A"};
  using Kind = app::PlaylistKey::Kind;
  window.keyDown({Kind::Character, U'l', true, false});
  window.keyDown({Kind::Character, U'K', false, false});
  window.keyDown({Kind::RightArrow, 0, false, false});  // no Option: nothing
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("lock A", "stop A"));
}

}  // namespace
