#pragma once
// UndoManager: the undo and redo history of one document. Editing code
// registers, for each change it makes, a closure that reverses it; the
// closures registered for one user action form a group with an action name
// ("Add", "Delete/Cut") that the edit menu shows.
//
// Owned by its document (a playlist document, the transitions registry). Not
// thread-safe: one thread at a time, or callers serialised by their owner's
// lock. The closures may capture the owner, since they die with the manager it
// owns.
//
// Guarantees:
// - undo() runs the newest undo group's closures newest first; whatever they
//   register meanwhile becomes one redo group with the same action name, and
//   redo() does the converse. A new group registered outside undo and redo
//   empties the redo stack.
// - Registrations outside an explicit beginUndoGrouping()/endUndoGrouping()
//   pair form a group of their own; nested pairs make one group.
// - Each stack keeps at most levelsOfUndo() groups (0: no limit); the oldest
//   group is dropped first.
// - undo() or redo() called from inside a closure, or with an open group, does
//   nothing: a history cannot be replayed while it is being rewritten.
// - A checkpoint (kUndoManagerCheckpointNotification, sender: the manager) is
//   posted synchronously on the calling thread, on the manager's notification
//   centre, each time a group ends: an outermost or nested group closes, a
//   nested group opens, a registration outside any group (its own group) has
//   been recorded, and an undo or redo has finished. Owners that gather state
//   per group drop it there.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class NotificationCenter;

inline constexpr const char* kUndoManagerCheckpointNotification = "UndoManagerCheckpointNotification";

class UndoManager {
 public:
  using Action = std::function<void()>;
  enum class Event { Undone = 1, Redone = 2 };
  using EventHandler = std::function<void(Event)>;

  static constexpr std::size_t kDefaultLevelsOfUndo = 200;

  // Checkpoints go to `center` (not owned; must outlive the manager).
  explicit UndoManager(NotificationCenter& center);
  // Checkpoints go to the default notification centre.
  UndoManager();
  UndoManager(const UndoManager&) = delete;
  UndoManager& operator=(const UndoManager&) = delete;

  // Records `action` as the reversal of a change just made; nothing while
  // registration is disabled.
  void registerUndo(Action action);
  // Names the group being built or, outside a group, the newest undo group.
  // Ignored while undoing or redoing: the replayed group keeps its name.
  void setActionName(std::string name);

  void beginUndoGrouping();
  void endUndoGrouping();
  std::size_t groupingLevel() const { return openLevels_; }
  // Counts the outermost groups opened so far, so that an owner can tell one
  // user action from the next while a group is open.
  std::uint64_t openedGroupCount() const { return openedGroups_; }

  bool canUndo() const { return !undoStack_.empty(); }
  bool canRedo() const { return !redoStack_.empty(); }
  void undo();
  void redo();
  bool isUndoing() const { return replaying_ == Replay::Undoing; }
  bool isRedoing() const { return replaying_ == Replay::Redoing; }

  std::string undoActionName() const { return canUndo() ? undoStack_.back().name : std::string(); }
  std::string redoActionName() const { return canRedo() ? redoStack_.back().name : std::string(); }
  // "Undo Add", or "Undo" when the action has no name; likewise for redo.
  std::string undoMenuItemTitle() const { return menuTitle("Undo", undoActionName()); }
  std::string redoMenuItemTitle() const { return menuTitle("Redo", redoActionName()); }

  void removeAllActions();

  // Nested: registration resumes after as many enables as disables.
  void disableUndoRegistration() { ++disabledLevels_; }
  void enableUndoRegistration();
  bool isUndoRegistrationEnabled() const { return disabledLevels_ == 0; }

  std::size_t levelsOfUndo() const { return levelsOfUndo_; }
  void setLevelsOfUndo(std::size_t levels);

  // Told after each undo() and redo() that ran a group (the owner's change
  // count follows from it). One handler; empty removes it.
  void setEventHandler(EventHandler handler) { eventHandler_ = std::move(handler); }

 private:
  struct Group {
    std::string name;
    std::vector<Action> actions;  // in registration order
  };
  enum class Replay { None, Undoing, Redoing };

  static std::string menuTitle(const char* verb, const std::string& name) {
    return name.empty() ? verb : std::string(verb) + " " + name;
  }
  void push(std::deque<Group>& stack, Group group);
  void replay(Replay mode);
  void postCheckpoint();

  NotificationCenter& center_;

  std::deque<Group> undoStack_;
  std::deque<Group> redoStack_;
  Group open_;  // the group being built (explicit grouping or a replay)
  std::size_t openLevels_ = 0;
  std::uint64_t openedGroups_ = 0;
  std::size_t disabledLevels_ = 0;
  std::size_t levelsOfUndo_ = kDefaultLevelsOfUndo;
  Replay replaying_ = Replay::None;
  EventHandler eventHandler_;
};

}  // namespace platform
