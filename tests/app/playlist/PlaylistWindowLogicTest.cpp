// The playlist window's decisions, headless: transport choices by node status,
// selection and A/B roll; row marks and the clip on air; auto-cue timing;
// counters across midnight; node answers read when they arrive.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/playlist/PlaylistWindowController.h"
#include "app/playlist/PlaylistWindowObservers.h"
#include "foundation/RecordingAlertPresenter.h"
#include "platform/Clock.h"
#include "platform/Keychain.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/app/playlist/RecordingPlaylistView.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using app_testing::FakePlaylistNodeControl;
using app_testing::makeDocument;
using app_testing::nodeStatus;
using namespace std::chrono_literals;

std::set<std::size_t> rowSet(std::optional<std::int64_t> row) {
  if (!row) return {};
  return {static_cast<std::size_t>(*row)};
}

class PlaylistWindowLogicTest : public ::testing::Test {
 protected:
  PlaylistWindowLogicTest() {
    defaults_.registerDefaults({{"autoCue", platform::Value(true)}, {"autoCueDelay", platform::Value(2.0)}});
  }

  // Makes the window for a document of `rows` rows once the node statuses are set.
  app::PlaylistWindowController& open(int rows, bool abRoll) {
    document_ = makeDocument(rows, abRoll);
    controller_ = std::make_unique<app::PlaylistWindowController>(document_, nodes_, defaults_, keychain_);
    controller_->setView(&view_);
    controller_->windowDidLoad();
    return *controller_;
  }
  void advance(platform::Clock::Duration by) {
    clock_.advance(by);
    platform::RunLoop::main().drainReadyTasks();
  }
  std::vector<std::int32_t> rowStatuses() const {
    std::vector<std::int32_t> statuses;
    for (const auto& row : view_.last.rows) statuses.push_back(row.status);
    return statuses;
  }
  std::vector<std::string> alertTitles() const {
    std::vector<std::string> titles;
    for (const auto& alert : alerts_->alerts()) titles.push_back(alert.title);
    return titles;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  platform::UserDefaults defaults_{std::filesystem::path()};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter alertOverride_{alerts_};
  FakePlaylistNodeControl nodes_;
  testing_support::TemporaryDirectory directory_;
  platform::Keychain keychain_{directory_.path() / "keychain"};
  app_testing::RecordingPlaylistView view_;
  std::shared_ptr<nodes::VideoPlaylistDocument> document_;
  std::unique_ptr<app::PlaylistWindowController> controller_;
};

// --- Play: node status x selection x A/B roll -> commands and view state ---

struct PlayCase {
  const char* name;
  bool abRoll;
  bool cueMode;
  std::optional<platform::Dictionary> nodeA;
  std::optional<platform::Dictionary> nodeB;
  std::optional<std::int64_t> selection;
  std::vector<std::string> expectedCommands;
  bool expectedRunning;
  std::int64_t expectedOnAirRow;
};

TEST_F(PlaylistWindowLogicTest, PlayChoosesWhatToStartByNodeStatusSelectionAndABRoll) {
  const std::vector<PlayCase> cases = {
      {"single: paused here resumes node A", false, false, nodeStatus("PAUSED", 1), {}, 2, {"play A"}, true, 1},
      {"single: cued here plays node A", false, false, nodeStatus("CUED", 2), {}, {}, {"play A"}, true, 2},
      {"single: idle node gets the document from the selection", false, false, nodeStatus("STOPPED"), {}, 2,
       {"send r2 play"}, true, -1},
      {"single: no selection starts from row 0", false, false, nodeStatus("STOPPED"), {}, {}, {"send r0 play"}, true,
       -1},
      {"single cue mode cues the selected row", false, true, nodeStatus("STOPPED"), {}, 3, {"send r3 cue"}, true, -1},
      {"single cue mode on the clip on air does nothing", false, true, nodeStatus("PLAYING", 1), {}, {}, {}, true, 1},
      {"A/B: node A paused here resumes node A only", true, false, nodeStatus("PAUSED", 0), nodeStatus("CUED", 1), {},
       {"play A"}, true, 0},
      {"A/B: both cued starts the earlier row, the other stays cued", true, false, nodeStatus("CUED", 2),
       nodeStatus("CUED", 1), {}, {"play B"}, true, 1},
      {"A/B: node A cued plays, idle node B is cued with its next row", true, false, nodeStatus("CUED", 0),
       nodeStatus("STOPPED"), {}, {"play A", "send r1 cue"}, true, 0},
      {"A/B: node A playing and node B idle without a clip: nothing", true, false, nodeStatus("PLAYING", 0),
       nodeStatus("STOPPED"), {}, {}, true, 0},
      {"A/B: both playing cues next on the node with the earlier row", true, false, nodeStatus("PLAYING", 2),
       nodeStatus("PLAYING", 1), {}, {"send r3 cue"}, true, 2},
      {"A/B: both idle sends from node B's row and cues node A", true, false, nodeStatus("STOPPED"),
       nodeStatus("STOPPED"), 1, {"send r1 play", "send r2 cue"}, true, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nodes_.statuses.clear();
    if (c.nodeA) nodes_.statuses["A"] = *c.nodeA;
    if (c.nodeB) nodes_.statuses["B"] = *c.nodeB;
    auto& window = open(4, c.abRoll);
    document_->setCueMode(c.cueMode);
    window.tableSelectionDidChange(rowSet(c.selection));
    nodes_.takeCommands();

    window.playButtonPushed();

    EXPECT_EQ(nodes_.takeCommands(), c.expectedCommands);
    EXPECT_EQ(window.isRunning(), c.expectedRunning);
    EXPECT_EQ(view_.last.nodeSelectorsEnabled, !c.expectedRunning);
    EXPECT_EQ(view_.last.onAirRow, c.expectedOnAirRow);
    EXPECT_TRUE(view_.last.transportEnabled);
  }
  EXPECT_THAT(alertTitles(), IsEmpty());
}

TEST_F(PlaylistWindowLogicTest, OfflineStartRowIsNotSent) {
  nodes_.statuses["A"] = nodeStatus("STOPPED");
  auto& window = open(2, false);
  document_->clipAtIndex(1)->setOnline(false);
  window.tableSelectionDidChange({1});
  window.playButtonPushed();
  EXPECT_THAT(nodes_.commands, IsEmpty());
  EXPECT_FALSE(window.isRunning());
}

TEST_F(PlaylistWindowLogicTest, LockedNodesGetTheAuthenticationAlertAndNoCommand) {
  struct GateCase {
    const char* name;
    bool abRoll;
    std::set<std::string, std::less<>> unlocked;
    app::PasswordRequest expected;
  };
  const std::vector<GateCase> cases = {
      {"single node locked", false, {}, app::PasswordRequest::OneNode},
      {"A/B with node B locked", true, {"A"}, app::PasswordRequest::NodesAAndB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nodes_.statuses = {{"A", nodeStatus("PAUSED", 0)}, {"B", nodeStatus("CUED", 1)}};
    nodes_.nodes = {{"A", "Node A", true, "", ""}, {"B", "Node B", true, "", ""}};
    nodes_.unlocked = c.unlocked;
    auto& window = open(2, c.abRoll);
    nodes_.takeCommands();
    alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // "Authenticate"
    window.playButtonPushed();
    EXPECT_THAT(nodes_.commands, IsEmpty());
    EXPECT_EQ(view_.last.passwordPanel.request, c.expected);
  }
  ASSERT_EQ(alerts_->alerts().size(), 2u);
  EXPECT_EQ(alerts_->alerts()[0].title, "Authentication Error !");
  EXPECT_EQ(alerts_->alerts()[0].message, "You must be authenticated to control a Node.");
  EXPECT_THAT(alerts_->alerts()[0].buttonTitles, ElementsAre("Authenticate", "Cancel"));
}

// --- Tracking ---

TEST_F(PlaylistWindowLogicTest, ABRowMarksFollowTheNodeThatOwnsEachRow) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}, {"B", nodeStatus("STOPPED")}};
  auto& window = open(4, true);

  window.playbackStatusDidChange("B", nodeStatus("PLAYING", 1));
  EXPECT_EQ(window.currentlyPlayingNodeUniqueID(), "B");
  window.playbackStatusDidChange("A", nodeStatus("CUED", 2));
  // Node A's report leaves node B's row alone; a cued node A leads the counters.
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 3, 2, 0));
  EXPECT_EQ(window.currentlyPlayingNodeUniqueID(), "A");
  EXPECT_EQ(view_.last.onAirRow, 1);  // the last row playing or paused

  window.playbackStatusDidChange("B", nodeStatus("CUED", 3));
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 0, 2, 2));
  EXPECT_EQ(window.currentlyPlayingOnNodeBClipIndex(), 3);
  EXPECT_EQ(window.currentlyPlayingNodeUniqueID(), "A");  // a cued node B does not lead
  EXPECT_EQ(view_.last.onAirRow, 2);                      // else the first row cued

  // Another playlist's reports, and node B's reports without A/B roll, change nothing.
  window.playbackStatusDidChange("A", nodeStatus("PLAYING", 0, 0.0, "other"));
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 0, 2, 2));
}

// Node A's clip ends and A is given its next row (the playlist is sent again,
// so A reports no playlist for a moment): node B still reports its row cued,
// and that row keeps its mark.
TEST_F(PlaylistWindowLogicTest, ABTheOtherNodesCuedRowKeepsItsMarkAcrossAClipEnd) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}, {"B", nodeStatus("CUED", 1)}};
  auto& window = open(4, true);
  EXPECT_THAT(rowStatuses(), ElementsAre(3, 2, 0, 0));

  window.playbackStatusDidChange("A", nodeStatus("STOPPED", 0, 60.0));
  const platform::Dictionary cleared = nodeStatus("STOPPED", -1, 0.0, "");
  window.clipUniqueIDDidChange("A", cleared);
  window.clipPositionDidChange("A", cleared);
  window.playlistUniqueIDDidChange("A", cleared);
  EXPECT_EQ(rowStatuses()[1], 2) << "node B's cued row lost its mark";
  EXPECT_NE(rowStatuses()[0], 3);

  window.playbackStatusDidChange("A", nodeStatus("CUED", 2));
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 2, 2, 0));
  window.playbackStatusDidChange("B", nodeStatus("PLAYING", 1));
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 3, 2, 0));
}

TEST_F(PlaylistWindowLogicTest, LockedClipsReportedByTheNodeLockTheirRowsAndUnlockTheOthers) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}};
  auto& window = open(3, false);
  auto locks = [&] {
    std::vector<bool> locked;
    for (const auto& item : document_->playlist()) locked.push_back(item->locked());
    return locked;
  };

  platform::Dictionary status = nodeStatus("PLAYING", 0);
  status[nodes::kNodeStatusLockedClipsKey] = platform::Value(platform::Array{platform::Value("r0"), platform::Value("r2")});
  window.lockedClipsChanged("A", status);
  EXPECT_THAT(locks(), ElementsAre(true, false, true));

  status[nodes::kNodeStatusLockedClipsKey] = platform::Value(platform::Array{platform::Value("r1")});
  window.lockedClipsChanged("A", status);
  EXPECT_THAT(locks(), ElementsAre(false, true, false));
}

TEST_F(PlaylistWindowLogicTest, PositionsOfTheNodeNotLeadingChangeNoCounter) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}, {"B", nodeStatus("CUED", 1)}};
  auto& window = open(4, true);
  ASSERT_EQ(window.currentlyPlayingNodeUniqueID(), "A");

  window.clipPositionDidChange("B", nodeStatus("CUED", 1, 30.0));
  EXPECT_EQ(view_.last.itemProgress, 0.0);
  window.clipPositionDidChange("A", nodeStatus("PLAYING", 0, 15.0));
  EXPECT_DOUBLE_EQ(view_.last.itemProgress, 0.25);
  EXPECT_EQ(view_.last.itemElapsed, "00:00:15:00");
  EXPECT_EQ(view_.last.itemRemaining, "00:00:45:00");
  EXPECT_EQ(view_.last.bigElapsed.text, "00:00:15");
}

TEST_F(PlaylistWindowLogicTest, NodeMovingToAnotherPlaylistEndsTheRun) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 1)}};
  auto& window = open(3, false);
  ASSERT_TRUE(window.isRunning());
  window.playlistUniqueIDDidChange("A", nodeStatus("PLAYING", -1, 0.0, "other"));
  EXPECT_FALSE(window.isRunning());
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 0, 0));
  EXPECT_TRUE(view_.last.nodeSelectorsEnabled);
}

// --- Auto-cue ---

TEST_F(PlaylistWindowLogicTest, ClipHoldingItsLastFrameCuesTheNextRowAfterTheDelay) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}};
  auto& window = open(3, false);
  document_->clipAtIndex(0)->setAttributeValue(nodes::kClipEndBehaviourAttribute, nodes::kClipEndBehaviourHoldLastFrame);
  nodes_.takeCommands();

  nodes_.statuses["A"] = nodeStatus("STOPPED", 0);
  window.playbackStatusDidChange("A", nodes_.statuses["A"]);
  EXPECT_EQ(rowStatuses()[0], nodes::kPlaybackStatusEndedOrWaiting);
  advance(1900ms);
  EXPECT_THAT(nodes_.commands, IsEmpty());
  advance(200ms);
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("send r1 cue"));
}

TEST_F(PlaylistWindowLogicTest, ClipEndingNormallyOutsideCueModeSchedulesNothing) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}};
  auto& window = open(3, false);
  window.playbackStatusDidChange("A", nodeStatus("STOPPED", 0));
  EXPECT_EQ(rowStatuses()[0], 0);
  EXPECT_EQ(window.pendingDelayedMessageCount(), 0u);
}

TEST_F(PlaylistWindowLogicTest, StopCancelsAPendingAutoCue) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}};
  auto& window = open(3, false);
  document_->setCueMode(true);
  nodes_.statuses["A"] = nodeStatus("STOPPED", 0);
  window.playbackStatusDidChange("A", nodes_.statuses["A"]);
  ASSERT_EQ(window.pendingDelayedMessageCount(), 1u);
  window.stopButtonPushed();
  nodes_.takeCommands();
  advance(5s);
  EXPECT_THAT(nodes_.commands, IsEmpty());
}

// --- Counters ---

// Rows 0-2 chain into one block that starts at 23:59:00 and runs past
// midnight; row 3 starts the next block.
TEST_F(PlaylistWindowLogicTest, BlockCountersCountFromTheBlockStartAcrossMidnight) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", 0)}};
  auto& window = open(4, false);
  document_->setChain(false);
  for (int row : {0, 1})
    document_->clipAtIndex(row)->setAttributeValue(nodes::kClipEndBehaviourAttribute, nodes::kClipEndBehaviourChain);
  document_->setAbsoluteStartTime(86340.0);
  document_->updatePlaylistMovieAndStartTimes();

  struct CounterCase {
    int row;
    double position;
    double blockElapsed;
    double blockRemaining;
    const char* bigElapsed;
  };
  const std::vector<CounterCase> cases = {
      {0, 10.0, 10.0, 170.0, "00:00:10"},
      {1, 10.0, 70.0, 110.0, "00:01:10"},
      {2, 30.0, 150.0, 30.0, "00:02:30"},  // its start time wrapped to 00:01:00
      {3, 5.0, 5.0, 55.0, "00:00:05"},     // a new block starts from zero
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    const auto status = nodeStatus("PLAYING", c.row, c.position);
    nodes_.statuses["A"] = status;
    window.clipUniqueIDDidChange("A", status);
    window.clipPositionDidChange("A", status);
    EXPECT_DOUBLE_EQ(window.elapsedTimeInSeconds(), c.blockElapsed);
    EXPECT_DOUBLE_EQ(window.remainingTimeInSeconds(), c.blockRemaining);
    EXPECT_EQ(view_.last.bigElapsed.text, c.bigElapsed);
    EXPECT_GE(view_.last.playlistProgress, 0.0);
  }
}

// --- Stop and Pause in A/B roll ---

TEST_F(PlaylistWindowLogicTest, StopAndPauseInABRollReachNodeBWhenOnlyNodeBHasThePlaylist) {
  struct Case {
    const char* name;
    void (app::PlaylistWindowController::*action)();
    std::vector<std::string> expected;
    bool runningAfter;
  };
  const std::vector<Case> cases = {
      {"stop", &app::PlaylistWindowController::stopButtonPushed, {"stop B"}, false},
      {"pause", &app::PlaylistWindowController::pauseButtonPushed, {"pause B"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Node A has moved on to another playlist; node B has row 1 on air.
    nodes_.statuses = {{"A", nodeStatus("STOPPED", -1, 0.0, "other")}, {"B", nodeStatus("PLAYING", 1)}};
    auto& window = open(3, true);
    ASSERT_EQ(window.currentlyPlayingNodeUniqueID(), "B");
    nodes_.takeCommands();
    (window.*c.action)();
    EXPECT_EQ(nodes_.takeCommands(), c.expected);
    EXPECT_EQ(window.isRunning(), c.runningAfter);
    if (!c.runningAfter) {
      EXPECT_THAT(rowStatuses(), ElementsAre(0, 0, 0));
    }
  }
}

TEST_F(PlaylistWindowLogicTest, StopWhileNodeAPlaysAnotherPlaylistSendsNothingButClearsTheRows) {
  nodes_.statuses = {{"A", nodeStatus("PLAYING", -1, 0.0, "other")}};
  auto& window = open(2, false);
  document_->clipAtIndex(1)->setPlaybackStatus(nodes::kPlaybackStatusCued);
  nodes_.takeCommands();
  window.stopButtonPushed();
  EXPECT_THAT(nodes_.commands, IsEmpty());
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 0));
}

// --- Skips (single node) ---

TEST_F(PlaylistWindowLogicTest, SkipsStepThroughTheRowsOfNodeA) {
  struct SkipCase {
    const char* name;
    bool next;
    platform::Dictionary status;
    bool loop;
    std::vector<std::string> expected;
  };
  const std::vector<SkipCase> cases = {
      {"previous past 2 s restarts the clip", false, nodeStatus("PLAYING", 1, 2.5), false, {"play A r1"}},
      {"previous within 2 s goes to the row before", false, nodeStatus("PLAYING", 1, 2.0), false, {"play A r0"}},
      {"previous while paused cues", false, nodeStatus("PAUSED", 1, 1.0), false, {"cue A r0"}},
      {"previous on row 0 without loop does nothing", false, nodeStatus("PLAYING", 0, 1.0), false, {}},
      {"previous on row 0 with loop wraps to the last row", false, nodeStatus("PLAYING", 0, 1.0), true, {"play A r2"}},
      {"next while playing plays the next row", true, nodeStatus("PLAYING", 0), false, {"play A r1"}},
      {"next while cued cues the next row", true, nodeStatus("CUED", 1), false, {"cue A r2"}},
      {"next on the last row without loop does nothing", true, nodeStatus("PLAYING", 2), false, {}},
      {"next on the last row with loop goes to row 0", true, nodeStatus("PLAYING", 2), true, {"play A r0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nodes_.statuses = {{"A", c.status}};
    auto& window = open(3, false);
    document_->setLoop(c.loop);
    nodes_.takeCommands();
    if (c.next) {
      window.skipToNextButtonPushed();
    } else {
      window.skipToPreviousButtonPushed();
    }
    EXPECT_EQ(nodes_.takeCommands(), c.expected);
  }
}

TEST_F(PlaylistWindowLogicTest, SkipToPreviousInABRollCuesTheFirstRowOfTheChainedBlock) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}, {"B", nodeStatus("STOPPED")}};
  auto& window = open(4, true);
  document_->clipAtIndex(1)->setAttributeValue(nodes::kClipEndBehaviourAttribute, nodes::kClipEndBehaviourChain);
  document_->clipAtIndex(2)->setPlaybackStatus(nodes::kPlaybackStatusPlaying);
  nodes_.takeCommands();
  window.skipToPreviousButtonPushed();
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("send r1 cue"));
}

TEST_F(PlaylistWindowLogicTest, ForceCueCuesAfterTheCuedRowWhereAutoCueDoesNothing) {
  nodes_.statuses = {{"A", nodeStatus("CUED", 0)}, {"B", nodeStatus("STOPPED")}};
  auto& window = open(4, true);
  nodes_.takeCommands();
  window.autoCueNode("A");
  EXPECT_THAT(nodes_.commands, IsEmpty());
  window.forceCueNode("A");
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("send r2 cue"));
}

// --- Node answers (unlock, redundant mode) ---

// A busy node answers after a second; the outcome is read from its answer.
TEST_F(PlaylistWindowLogicTest, RedundantModeIsJudgedByTheNodesAnswerNotAfterAFixedSecond) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}};
  auto& window = open(2, false);
  nodes_.takeCommands();

  window.enableSlaveMode();
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("slavemode A 1"));
  advance(3s);
  EXPECT_THAT(alertTitles(), IsEmpty());
  EXPECT_THAT(nodes_.commands, IsEmpty());
  nodes_.answer("OK");
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("lock A"));
  EXPECT_THAT(alertTitles(), IsEmpty());

  // Refused: told at once. Cancel ends it.
  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);
  window.enableSlaveMode();
  nodes_.answer("LOCKED");
  EXPECT_THAT(alertTitles(), ElementsAre("Error"));
  EXPECT_EQ(alerts_->alerts()[0].message,
            "We could not enable the redundant mode on Node A. Check your settings and that the Main Node is running...");

  // Silent: told at the time limit; "Try Again" asks the node again.
  nodes_.takeCommands();
  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);
  window.enableSlaveMode();
  nodes_.takeCommands();
  advance(app::kNodeAnswerTimeLimit - 1s);
  EXPECT_EQ(alertTitles().size(), 1u);
  advance(1s);
  EXPECT_EQ(alertTitles().size(), 2u);
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("slavemode A 1"));
}

TEST_F(PlaylistWindowLogicTest, UnlockIsJudgedByTheNodesAnswer) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}};
  nodes_.statuses["A"][nodes::kNodeStatusIsAuthenticatedKey] = platform::Value(false);
  nodes_.unlocked.clear();
  auto& window = open(2, false);
  EXPECT_FALSE(view_.last.transportEnabled);
  nodes_.takeCommands();

  window.nodePasswordsOKButtonPushed({"secret", false, std::nullopt, false});
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("unlock A secret"));
  advance(2s);
  nodes_.answer("OK");
  EXPECT_THAT(alertTitles(), IsEmpty());

  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // "OK": ask again
  window.nodePasswordsOKButtonPushed({"wrong", false, std::nullopt, false});
  nodes_.answer("ERROR");
  EXPECT_THAT(alertTitles(), ElementsAre("Nodes A Unlock Error !"));
  EXPECT_EQ(view_.last.passwordPanel.request, app::PasswordRequest::OneNode);
}

// Lock is offered while the node is unlocked, Unlock while it is locked.
TEST_F(PlaylistWindowLogicTest, AuthenticationReportEnablesTheTransportAndLockTheRightWayRound) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}};
  nodes_.statuses["A"][nodes::kNodeStatusIsAuthenticatedKey] = platform::Value(false);
  auto& window = open(2, false);
  EXPECT_FALSE(view_.last.transportEnabled);
  EXPECT_TRUE(view_.last.padUnlockEnabled);
  EXPECT_FALSE(view_.last.padLockEnabled);
  nodes_.statuses["A"][nodes::kNodeStatusIsAuthenticatedKey] = platform::Value(true);
  window.authenticationDidChange();
  EXPECT_TRUE(view_.last.transportEnabled);
  EXPECT_TRUE(view_.last.padLockEnabled);
  EXPECT_FALSE(view_.last.padUnlockEnabled);
  nodes_.statuses["A"][nodes::kNodeStatusIsAuthenticatedKey] = platform::Value(false);
  window.authenticationDidChange();
  EXPECT_TRUE(view_.last.padUnlockEnabled);
  EXPECT_FALSE(view_.last.padLockEnabled);
}

TEST_F(PlaylistWindowLogicTest, TransportContextMenuOnlyForAnUnlockedNodeNotYetRedundant) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}};
  auto& window = open(2, false);
  EXPECT_TRUE(window.contextualMenuForButton());
  nodes_.inSlaveMode.insert("A");
  EXPECT_FALSE(window.contextualMenuForButton());
  nodes_.inSlaveMode.clear();
  nodes_.unlocked.clear();
  EXPECT_FALSE(window.contextualMenuForButton());
}

// --- Notifications reach the window by the sender's node ---

TEST_F(PlaylistWindowLogicTest, NodeNotificationsAreForwardedByTheSendersNodeID) {
  nodes_.statuses = {{"A", nodeStatus("STOPPED")}};
  auto& window = open(2, false);
  platform::NotificationCenter center;
  app::PlaylistWindowObservers observers(window, center);
  auto connectionA = nodes::NodeConnection::create();
  connectionA->setNodeUniqueID("A");
  auto connectionC = nodes::NodeConnection::create();
  connectionC->setNodeUniqueID("C");

  nodes_.statuses["A"] = nodeStatus("PLAYING", 1);
  center.post(platform::Notification{"playbackStatusDidChange", connectionC.get(),
                                     nodes::NodeConnectionPtr(connectionC), nodeStatus("PLAYING", 0)});
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 0));
  center.post(platform::Notification{"playbackStatusDidChange", connectionA.get(),
                                     nodes::NodeConnectionPtr(connectionA), nodeStatus("PLAYING", 1)});
  EXPECT_THAT(rowStatuses(), ElementsAre(0, 3));
  EXPECT_EQ(view_.last.onAirRow, 1);
}

TEST_F(PlaylistWindowLogicTest, NodeAIsTheFirstConnectedNodeWhenTheDocumentNamesNone) {
  nodes_.nodes = {{"X", "Offline", false, "", ""}, {"Y", "Studio 2", true, "", ""}};
  document_ = makeDocument(1, false);
  document_->setNodeAUniqueID(std::nullopt);
  controller_ = std::make_unique<app::PlaylistWindowController>(document_, nodes_, defaults_, keychain_);
  controller_->setView(&view_);
  controller_->windowDidLoad();
  EXPECT_EQ(document_->nodeAUniqueID(), "Y");
  EXPECT_EQ(view_.last.nodeAName, "Studio 2");
}

}  // namespace
