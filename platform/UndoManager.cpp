#include "platform/UndoManager.h"

#include <utility>

#include "platform/NotificationCenter.h"

namespace platform {

UndoManager::UndoManager(NotificationCenter& center) : center_(center) {}

UndoManager::UndoManager() : UndoManager(NotificationCenter::defaultCenter()) {}

void UndoManager::postCheckpoint() { center_.post(kUndoManagerCheckpointNotification, this); }

void UndoManager::registerUndo(Action action) {
  if (!isUndoRegistrationEnabled() || !action) return;
  if (openLevels_ > 0) {
    open_.actions.push_back(std::move(action));
    return;
  }
  Group group;
  group.actions.push_back(std::move(action));
  push(undoStack_, std::move(group));
  redoStack_.clear();
  postCheckpoint();
}

void UndoManager::setActionName(std::string name) {
  if (replaying_ != Replay::None) return;
  if (openLevels_ > 0) {
    open_.name = std::move(name);
  } else if (!undoStack_.empty()) {
    undoStack_.back().name = std::move(name);
  }
}

void UndoManager::beginUndoGrouping() {
  if (openLevels_++ == 0) {
    ++openedGroups_;
    return;
  }
  postCheckpoint();
}

void UndoManager::endUndoGrouping() {
  if (openLevels_ == 0) return;
  if (--openLevels_ == 0) {
    Group group = std::exchange(open_, Group{});
    if (!group.actions.empty()) {
      push(undoStack_, std::move(group));
      redoStack_.clear();
    }
  }
  postCheckpoint();
}

void UndoManager::undo() {
  if (replaying_ != Replay::None || openLevels_ > 0 || undoStack_.empty()) return;
  replay(Replay::Undoing);
}

void UndoManager::redo() {
  if (replaying_ != Replay::None || openLevels_ > 0 || redoStack_.empty()) return;
  replay(Replay::Redoing);
}

void UndoManager::replay(Replay mode) {
  std::deque<Group>& source = mode == Replay::Undoing ? undoStack_ : redoStack_;
  Group group = std::move(source.back());
  source.pop_back();

  // What the closures register is the reversal of this replay: it collects
  // in open_, held open at level 1 so that their own groupings nest inside.
  replaying_ = mode;
  open_ = Group{group.name, {}};
  openLevels_ = 1;
  for (auto action = group.actions.rbegin(); action != group.actions.rend(); ++action) (*action)();
  openLevels_ = 0;
  replaying_ = Replay::None;

  Group reversal = std::exchange(open_, Group{});
  if (!reversal.actions.empty()) push(mode == Replay::Undoing ? redoStack_ : undoStack_, std::move(reversal));
  postCheckpoint();
  if (eventHandler_) eventHandler_(mode == Replay::Undoing ? Event::Undone : Event::Redone);
}

void UndoManager::removeAllActions() {
  undoStack_.clear();
  redoStack_.clear();
  open_.actions.clear();
}

void UndoManager::enableUndoRegistration() {
  if (disabledLevels_ > 0) --disabledLevels_;
}

void UndoManager::setLevelsOfUndo(std::size_t levels) {
  levelsOfUndo_ = levels;
  if (levels == 0) return;
  while (undoStack_.size() > levels) undoStack_.pop_front();
  while (redoStack_.size() > levels) redoStack_.pop_front();
}

void UndoManager::push(std::deque<Group>& stack, Group group) {
  stack.push_back(std::move(group));
  if (levelsOfUndo_ > 0 && stack.size() > levelsOfUndo_) stack.pop_front();
}

}  // namespace platform
