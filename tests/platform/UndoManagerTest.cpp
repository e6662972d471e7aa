#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/UndoManager.h"

namespace platform {
namespace {

// A list edited the way documents edit: each change registers its reversal.
class EditedList {
 public:
  explicit EditedList(UndoManager& undo) : undo_(undo) {}

  void append(const std::string& value, const std::string& actionName = "Add") {
    values.push_back(value);
    undo_.registerUndo([this] { removeLast(); });
    undo_.setActionName(actionName);
  }
  void removeLast() {
    const std::string value = values.back();
    values.pop_back();
    undo_.registerUndo([this, value] { append(value); });
    undo_.setActionName("Remove");
  }

  std::vector<std::string> values;

 private:
  UndoManager& undo_;
};

class UndoManagerTest : public ::testing::Test {
 protected:
  using Values = std::vector<std::string>;
  UndoManager undo_;
  EditedList list_{undo_};
};

TEST_F(UndoManagerTest, UndoesAndRedoesEachChangeUnderItsName) {
  std::vector<UndoManager::Event> events;
  undo_.setEventHandler([&](UndoManager::Event event) { events.push_back(event); });
  list_.append("a");
  list_.append("b", "Paste");
  EXPECT_EQ(undo_.undoMenuItemTitle(), "Undo Paste");
  EXPECT_EQ(undo_.redoMenuItemTitle(), "Redo");

  undo_.undo();
  EXPECT_EQ(list_.values, Values{"a"});
  // The replay keeps the undone change's name, whatever its closures name.
  EXPECT_EQ(undo_.redoMenuItemTitle(), "Redo Paste");
  EXPECT_EQ(undo_.undoActionName(), "Add");
  undo_.undo();
  EXPECT_EQ(list_.values, Values{});
  EXPECT_FALSE(undo_.canUndo());
  undo_.undo();  // nothing left: nothing happens
  EXPECT_EQ(events.size(), 2u);

  undo_.redo();
  undo_.redo();
  EXPECT_EQ(list_.values, (Values{"a", "b"}));
  EXPECT_EQ(undo_.undoActionName(), "Paste");
  EXPECT_FALSE(undo_.canRedo());
  EXPECT_EQ(events, (std::vector<UndoManager::Event>{UndoManager::Event::Undone, UndoManager::Event::Undone,
                                                     UndoManager::Event::Redone, UndoManager::Event::Redone}));
}

TEST_F(UndoManagerTest, GroupsUndoTogetherNewestFirst) {
  list_.append("a");
  undo_.beginUndoGrouping();
  list_.append("b");
  undo_.beginUndoGrouping();  // nested: still the same group
  list_.append("c");
  undo_.endUndoGrouping();
  list_.append("d");
  undo_.setActionName("Paste");
  undo_.endUndoGrouping();
  undo_.beginUndoGrouping();  // an empty group leaves no trace
  undo_.endUndoGrouping();

  EXPECT_EQ(undo_.undoActionName(), "Paste");
  undo_.undo();
  EXPECT_EQ(list_.values, Values{"a"});
  undo_.redo();
  EXPECT_EQ(list_.values, (Values{"a", "b", "c", "d"}));
  undo_.undo();
  undo_.undo();
  EXPECT_EQ(list_.values, Values{});
}

TEST_F(UndoManagerTest, NewChangeAfterUndoDropsTheRedoHistory) {
  list_.append("a");
  list_.append("b");
  undo_.undo();
  ASSERT_TRUE(undo_.canRedo());
  list_.append("c");
  EXPECT_FALSE(undo_.canRedo());
  undo_.undo();
  EXPECT_EQ(list_.values, Values{"a"});
}

TEST_F(UndoManagerTest, KeepsOnlyTheNewestLevels) {
  undo_.setLevelsOfUndo(2);
  for (const char* value : {"a", "b", "c"}) list_.append(value);
  undo_.undo();
  undo_.undo();
  undo_.undo();  // "a" fell out of the history
  EXPECT_EQ(list_.values, Values{"a"});
}

TEST_F(UndoManagerTest, RecordsNothingWhileDisabledAndIgnoresReplayFromInsideAReplay) {
  undo_.disableUndoRegistration();
  undo_.disableUndoRegistration();
  list_.append("a");
  undo_.enableUndoRegistration();
  list_.append("b");
  EXPECT_FALSE(undo_.canUndo());
  undo_.enableUndoRegistration();
  EXPECT_TRUE(undo_.isUndoRegistrationEnabled());

  int replays = 0;
  undo_.registerUndo([&] {
    ++replays;
    EXPECT_TRUE(undo_.isUndoing());
    undo_.undo();  // a history cannot be replayed while it is being rewritten
  });
  list_.append("c");
  undo_.undo();  // "c"
  undo_.undo();  // the closure above
  EXPECT_EQ(replays, 1);
  EXPECT_FALSE(undo_.isUndoing());

  undo_.removeAllActions();
  EXPECT_FALSE(undo_.canUndo());
  EXPECT_FALSE(undo_.canRedo());
}

// Owners drop their per-group state at each checkpoint, so one missing (or one
// posted inside a group) would merge two user actions or split one.
TEST(UndoManagerCheckpointTest, PostsWhenEachGroupEnds) {
  NotificationCenter center;
  UndoManager undo(center);
  int checkpoints = 0;
  ObserverToken token = center.addObserver(kUndoManagerCheckpointNotification, &undo, [&](const Notification&) {
    ++checkpoints;
  });
  auto change = [&] { undo.registerUndo([&] { undo.registerUndo([] {}); }); };

  undo.beginUndoGrouping();  // an outermost group opening is not a checkpoint
  change();
  change();
  EXPECT_EQ(checkpoints, 0);
  undo.beginUndoGrouping();
  EXPECT_EQ(checkpoints, 1);
  undo.endUndoGrouping();
  undo.endUndoGrouping();
  EXPECT_EQ(checkpoints, 3);

  change();  // a group of its own: recorded, then the checkpoint
  EXPECT_EQ(checkpoints, 4);
  undo.undo();  // the replay registers into the redo group, then one checkpoint
  EXPECT_EQ(checkpoints, 5);
  EXPECT_TRUE(undo.canRedo());
}

}  // namespace
}  // namespace platform
