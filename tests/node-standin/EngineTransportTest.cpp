// The playlist played through a fake engine: which engine calls each command
// makes, what the host answers when the engine asks for items, how edits
// reach items the engine holds, and how the engine's reports read as status.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "node-standin/EngineItemDictionary.h"
#include "node-standin/EngineTransport.h"
#include "node-standin/PlaybackModel.h"
#include "platform/Clock.h"

namespace standin {
namespace {

using namespace std::chrono_literals;
using platform::Value;

// Records each call as text; refuses startPlayback when told to.
class FakeEngine final : public PlayoutEngine {
 public:
  bool startPlayback() override { return record("startPlayback"), !refuseStart; }
  void pausePlayback(bool pause) override { record(pause ? "pausePlayback(YES)" : "pausePlayback(NO)"); }
  bool stopPlayback() override { return record("stopPlayback"), true; }
  bool forceNextItem() override { return record("forceNextItem"), true; }
  void claimNextItem() override { record("claimNextItem"); }
  bool setCurrentItemTime(double seconds) override {
    return record("setCurrentItemTime(" + std::to_string(static_cast<int>(seconds * 10)) + "/10)"), true;
  }
  void updateItemWithUniqueID(const std::string& uniqueID, const platform::Dictionary& attributes,
                              UpdateCompletion) override {
    std::string text = "update(" + uniqueID;
    for (const auto& [key, value] : attributes) text += " " + key + "=" + std::to_string(value.realOr(-1));
    record(text + ")");
  }

  std::vector<std::string> takeCalls() { return std::exchange(calls, {}); }

  std::vector<std::string> calls;
  bool refuseStart = false;

 private:
  void record(std::string call) { calls.push_back(std::move(call)); }
};

PlaylistEntry entry(const std::string& id, const char* endBehaviour = "Normal", platform::Dictionary extra = {}) {
  PlaylistEntry result;
  result.playbackUniqueID = id;
  result.durationInSeconds = 2;
  result.endBehaviour = clipEndBehaviourNamed(endBehaviour);
  result.clipInfo = {{"clipInfoAbsolutePathToMediaItem", Value("/media/" + id + ".mov")},
                     {"clipInfoDisplayName", Value(id)}};
  for (auto& [key, value] : extra) result.clipInfo[key] = std::move(value);
  return result;
}

class EngineTransportTest : public ::testing::Test {
 protected:
  // Also starts each row of a table afresh.
  void SetUp() override {
    model_.reset();
    items_.emplace();
    board_.emplace();
    engine_ = FakeEngine();
    log_.clear();
    model_.emplace([this](const Playlist& playlist) {
      return std::make_unique<EngineTransport>(
          playlist, EngineTransport::Parts{engine_, *items_, *board_, [this](const std::string& line) {
                                             log_.push_back(line);
                                           }});
    });
  }

  void load(std::vector<PlaylistEntry> entries) {
    model_->appendEntries(std::move(entries));
    model_->initialize();
    engine_.takeCalls();
  }
  // The engine reports `status` with `currentID` on air (none: no current item).
  void report(std::int32_t status, const std::string& currentID = "", double elapsed = 0) {
    if (currentID.empty()) return board_->itemsOrStatusChanged(status, nullptr);
    const platform::Dictionary item{{"playlistItemUniqueID", Value(currentID)},
                                    {"elapsedTime", Value(elapsed)},
                                    {"itemDuration", Value(2.0)}};
    board_->itemsOrStatusChanged(status, &item);
  }
  // What the engine would be given when it asks after `afterID`.
  EngineItemAnswer ask(const std::string& afterID = "", bool becauseOfError = false) {
    return items_->nextItemAfter(afterID.empty() ? nullptr : &afterID, becauseOfError);
  }
  static std::string idOf(const EngineItemAnswer& answer) {
    return answer.item ? Value(*answer.item)["playlistItemUniqueID"].stringOr("?") : "";
  }
  std::string word() { return std::string(statusWord(model_->snapshot().status)); }

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  FakeEngine engine_;
  std::optional<EngineItemSource> items_;
  std::optional<EngineStatusBoard> board_;
  std::vector<std::string> log_;
  std::optional<PlaybackModel> model_;
};

struct CommandRow {
  const char* name;
  std::int32_t engineStatus;  // reported before the command
  const char* currentID;      // on air before the command; "" none
  std::function<platform::Status(PlaybackModel&)> command;
  std::vector<std::string> calls;
  const char* answeredID;  // what the engine is then given to play; "" nothing new
  double startPosition;
};

TEST_F(EngineTransportTest, CommandsBecomeEngineCallsAndPendingStarts) {
  const CommandRow rows[] = {
      {"pbplayitem B 1.5", kEngineStatusStopped, "", [](PlaybackModel& m) { return m.playItem("B", 1.5); },
       {"startPlayback"}, "B", 1.5},
      {"pbcueitem B 2", kEngineStatusPlaying, "A", [](PlaybackModel& m) { return m.cueItem("B", 2); },
       {"pausePlayback(YES)", "forceNextItem"}, "B", 2},
      {"pbcue", kEngineStatusStopped, "B", [](PlaybackModel& m) { return m.cueItem(std::nullopt, 5); },
       {"pausePlayback(YES)", "forceNextItem"}, "B", 0},
      {"pbplay while paused", kEngineStatusPaused, "A", [](PlaybackModel& m) { return m.resume(); },
       {"pausePlayback(NO)"}, "", 0},
      {"pbplay while cued", kEngineStatusHoldFirstFrame, "A", [](PlaybackModel& m) { return m.resume(); },
       {"pausePlayback(NO)"}, "", 0},
      {"pbplay while stopped", kEngineStatusStopped, "B", [](PlaybackModel& m) { return m.resume(); },
       {"startPlayback"}, "B", 0},
      {"pbplay while playing", kEngineStatusPlaying, "A", [](PlaybackModel& m) { return m.resume(); }, {}, "", 0},
      {"pbpause while playing", kEngineStatusPlaying, "A", [](PlaybackModel& m) { return m.pause(); },
       {"pausePlayback(YES)"}, "", 0},
      {"pbpause while stopped", kEngineStatusStopped, "A", [](PlaybackModel& m) { return m.pause(); }, {}, "", 0},
      {"pbstop", kEngineStatusPlaying, "A", [](PlaybackModel& m) { return m.stop(); }, {"stopPlayback"}, "", 0},
      {"pbskiptonext while playing", kEngineStatusPlaying, "A", [](PlaybackModel& m) { return m.skipToNext(); },
       {"forceNextItem"}, "B", 0},
      {"pbskiptonext while paused", kEngineStatusPaused, "A", [](PlaybackModel& m) { return m.skipToNext(); },
       {"pausePlayback(YES)", "forceNextItem"}, "B", 0},
      {"pbskiptonext past the last", kEngineStatusPlaying, "C", [](PlaybackModel& m) { return m.skipToNext(); },
       {"stopPlayback"}, "", 0},
      {"pbscrubtotime 1.5", kEngineStatusPaused, "A", [](PlaybackModel& m) { return m.scrubToTime(1.5); },
       {"setCurrentItemTime(15/10)"}, "", 0},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    load({entry("A"), entry("B"), entry("C")});
    report(row.engineStatus, row.currentID);
    ASSERT_TRUE(row.command(*model_).ok());
    EXPECT_EQ(engine_.takeCalls(), row.calls);
    const EngineItemAnswer answer = ask(row.currentID);
    if (*row.answeredID == '\0') continue;
    EXPECT_EQ(idOf(answer), row.answeredID);
    EXPECT_EQ(Value(*answer.item)["itemStartPosition"].realOr(-1), row.startPosition);
  }
}

TEST_F(EngineTransportTest, RefusesCommandsAsTheProtocolDoesWithoutCallingTheEngine) {
  model_->appendEntries({entry("A")});
  EXPECT_FALSE(model_->playItem("A", 0).ok()) << "not initialized";
  model_->initialize();
  EXPECT_FALSE(model_->playItem("Z", 0).ok()) << "unknown clip";
  EXPECT_FALSE(model_->scrubToTime(1).ok()) << "no clip current";
  EXPECT_TRUE(engine_.takeCalls().empty());
  EXPECT_EQ(ask().noItemReason, "nothing was started");
}

struct AnswerRow {
  bool chainMode, cueMode, loopMode;
  const char* afterID;
  const char* nextID;  // "" none
  const char* reasonPart;
};

TEST_F(EngineTransportTest, AnswersTheEntryAfterByEndBehaviourAndModes) {
  const AnswerRow rows[] = {
      {true, false, false, "A", "B", ""},
      {false, false, false, "A", "", "ends unchained"},
      {true, true, false, "A", "", "ends unchained"},
      {false, false, false, "C", "D", ""},
      {false, false, false, "D", "D", ""},
      {true, false, false, "E", "", "stops at its end"},
      {true, false, false, "F", "", "holds its last frame"},
      {false, false, false, "G", "", "end of the playlist"},
      {false, false, true, "G", "A", ""},
      {true, false, false, "gone", "", "left the playlist"},
  };
  load({entry("A"), entry("B"), entry("C", "Chain"), entry("D", "Loop"), entry("E", "Stop At End"),
        entry("F", "Hold Last Frame"), entry("G", "Chain")});
  for (const AnswerRow& row : rows) {
    SCOPED_TRACE(std::string("after ") + row.afterID + (row.chainMode ? " chain" : "") + (row.cueMode ? " cue" : "") +
                 (row.loopMode ? " loop" : ""));
    model_->setChainMode(row.chainMode);
    model_->setCueMode(row.cueMode);
    model_->setLoopMode(row.loopMode);
    const EngineItemAnswer answer = ask(row.afterID);
    EXPECT_EQ(idOf(answer), row.nextID);
    if (!answer.item) {
      EXPECT_NE(answer.noItemReason.find(row.reasonPart), std::string::npos) << answer.noItemReason;
    }
  }
}

TEST_F(EngineTransportTest, ItemDictionaryCarriesTheEntrysKeys) {
  Playlist playlist;
  playlist.chainMode = true;
  const PlaylistEntry flagged = entry("B", "Normal",
                                      {{"clipInfoHasInPoint", Value(true)},
                                       {"clipInfoInPointInSeconds", Value(0.4)},
                                       {"clipInfoHasOutPoint", Value(true)},
                                       {"clipInfoOutPointInSeconds", Value(1.6)},
                                       {"clipInfoAttributes", Value(platform::Dictionary{{"Audio Volume", Value("0.5")}})}});
  const Value item(engineItemForEntry(flagged, playlist, 0.2));
  EXPECT_EQ(item["itemURL"].stringOr(""), "/media/B.mov");
  EXPECT_EQ(item["itemDisplayName"].stringOr(""), "B");
  EXPECT_EQ(item["playlistItemUniqueID"].stringOr(""), "B");
  EXPECT_DOUBLE_EQ(item["itemInPoint"].realOr(-1), 0.4);
  EXPECT_DOUBLE_EQ(item["itemOutPoint"].realOr(-1), 1.6);
  EXPECT_DOUBLE_EQ(item["itemStartPosition"].realOr(-1), 0.2);
  EXPECT_DOUBLE_EQ(item["itemOutputVolume"].realOr(-1), 0.5);
  EXPECT_EQ(item["itemEndBehaviour"].integerOr(-1), kEngineEndNormal);

  const Value plain(engineItemForEntry(entry("A"), Playlist{}, 0));
  EXPECT_TRUE(plain["itemInPoint"].isNone()) << "points count only when flagged";
  EXPECT_TRUE(plain["itemOutPoint"].isNone());
  EXPECT_TRUE(plain["itemOutputVolume"].isNone());
  EXPECT_EQ(plain["itemEndBehaviour"].integerOr(-1), kEngineEndStop) << "Normal without chaining stops";

  const std::pair<const char*, std::int64_t> named[] = {
      {"Chain", kEngineEndChain}, {"Loop", kEngineEndLoop}, {"Stop At End", kEngineEndStop},
      {"Hold Last Frame", kEngineEndHold}};
  for (const auto& [name, value] : named) EXPECT_EQ(engineEndBehaviour(entry("X", name), playlist), value) << name;
}

TEST_F(EngineTransportTest, InvalidItemsArePassedFromTheOneAnsweredUpToOneTurn) {
  load({entry("A"), entry("B"), entry("C")});
  model_->setChainMode(true);
  ASSERT_TRUE(model_->playItem("B", 0).ok());
  EXPECT_EQ(idOf(ask("A")), "B");
  // B turned out invalid: the engine names A again, the host goes on after B.
  EXPECT_EQ(idOf(ask("A", true)), "C");

  model_->setLoopMode(true);
  EXPECT_EQ(idOf(ask("A", true)), "A");
  EXPECT_EQ(idOf(ask("A", true)), "B");
  EXPECT_EQ(ask("A", true).noItemReason, "no entry of the playlist plays");
  EXPECT_EQ(idOf(ask("C")), "A") << "a good answer starts the count again";
}

TEST_F(EngineTransportTest, EditsReachQueuedItemsAndAnEngineThatRanOutAsksAgain) {
  load({entry("A"), entry("B", "Normal", {{"clipInfoHasOutPoint", Value(true)},
                                          {"clipInfoOutPointInSeconds", Value(1.0)}})});
  model_->setChainMode(true);
  ASSERT_TRUE(model_->playItem("A", 0).ok());
  ask();
  ask("A");
  board_->queuedItemsDidChange({"A", "B"});
  engine_.takeCalls();

  model_->setChainMode(false);
  EXPECT_EQ(engine_.takeCalls(),
            (std::vector<std::string>{"update(A itemEndBehaviour=1.000000)", "update(B itemEndBehaviour=1.000000)"}));
  // Back to chaining: the engine asks again by itself once the behaviour plays on.
  model_->setChainMode(true);
  EXPECT_EQ(engine_.takeCalls(),
            (std::vector<std::string>{"update(A itemEndBehaviour=0.000000)", "update(B itemEndBehaviour=0.000000)"}));

  PlaylistEntry longer = entry("B", "Normal", {{"clipInfoHasOutPoint", Value(true)},
                                               {"clipInfoOutPointInSeconds", Value(1.5)}});
  ASSERT_TRUE(model_->replaceEntry(1, std::move(longer)).ok());
  EXPECT_EQ(engine_.takeCalls(), std::vector<std::string>{"update(B itemOutPoint=1.500000)"});
  model_->setCueMode(false);
  EXPECT_TRUE(engine_.takeCalls().empty()) << "nothing changed, nothing sent";

  // B was the last: the engine ran out; an appended entry makes it ask again, once.
  EXPECT_FALSE(ask("B").item);
  model_->appendEntries({entry("C")});
  EXPECT_EQ(engine_.takeCalls(), std::vector<std::string>{"claimNextItem"});
  EXPECT_EQ(idOf(ask("B")), "C");
  model_->appendEntries({entry("D")});
  EXPECT_TRUE(engine_.takeCalls().empty());
}

struct StatusRow {
  const char* name;
  std::function<void(PlaybackModel&)> command;  // before the report
  std::int32_t engineStatus;
  const char* currentID;
  const char* word;
  const char* reportedID;
  double position;
};

TEST_F(EngineTransportTest, EngineReportsReadAsProtocolStatus) {
  const auto nothing = [](PlaybackModel&) {};
  const StatusRow rows[] = {
      {"playing, carried on by the clock", nothing, kEngineStatusPlaying, "A", "PLAYING", "A", 1.5},
      {"paused", nothing, kEngineStatusPaused, "A", "PAUSED", "A", 0.5},
      {"paused after a cue", [](PlaybackModel& m) { (void)m.cueItem("B", 0); }, kEngineStatusPaused, "B", "CUED",
       "B", 0.5},
      {"holding the first frame", nothing, kEngineStatusHoldFirstFrame, "B", "CUED", "B", 0.5},
      {"holding the last frame", nothing, kEngineStatusHoldLastFrame, "A", "STOPPED", "A", 0.5},
      {"ran out", nothing, kEngineStatusStopped, "", "STOPPED", "A", 2.0},
      {"stopped by command", [](PlaybackModel& m) { (void)m.stop(); }, kEngineStatusStopped, "", "STOPPED", "A", 0},
  };
  for (const StatusRow& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    load({entry("A"), entry("B")});
    report(kEngineStatusPlaying, "A", 0.5);
    row.command(*model_);
    report(row.engineStatus, row.currentID, 0.5);
    clock_.advance(1s);
    const PlaybackSnapshot snapshot = model_->snapshot();
    EXPECT_EQ(statusWord(snapshot.status), row.word);
    EXPECT_EQ(snapshot.clipPlaybackUniqueID, row.reportedID);
    EXPECT_DOUBLE_EQ(snapshot.position, row.position);
  }
}

TEST_F(EngineTransportTest, RefusedStartIsLoggedAndReadsAsStopped) {
  load({entry("A")});
  report(kEngineStatusPaused, "A");
  engine_.refuseStart = true;
  ASSERT_TRUE(model_->playItem("A", 0).ok());
  EXPECT_EQ(word(), "STOPPED");
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0], "the engine refused startPlayback");
}

TEST_F(EngineTransportTest, CloseTakesTheHoldAwayAndAnswersNothing) {
  load({entry("A", "Hold Last Frame")});
  ASSERT_TRUE(model_->playItem("A", 0).ok());
  ask();
  board_->queuedItemsDidChange({"A"});
  engine_.takeCalls();
  model_->close();
  EXPECT_EQ(engine_.takeCalls(),
            (std::vector<std::string>{"update(A itemEndBehaviour=1.000000)", "stopPlayback"}));
  EXPECT_EQ(ask("A").noItemReason, "playback is not initialized");
  EXPECT_EQ(word(), "NOT_INITIALIZED");
}

}  // namespace
}  // namespace standin
