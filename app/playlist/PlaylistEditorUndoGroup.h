#pragma once
// UndoGroup: the playlist editor's scope of one operator operation: every
// change registered while it lives becomes one undo group named after the
// operation, so that one undo reverts the whole operation. Named last, so
// the operation's name wins over the names of the document's single edits.
//
// Internal to PlaylistEditor*.cpp; a stack object on the main thread.

#include <string>
#include <utility>

#include "platform/UndoManager.h"

namespace app {

class UndoGroup {
 public:
  UndoGroup(platform::UndoManager& undoManager, std::string name) : undoManager_(undoManager), name_(std::move(name)) {
    undoManager_.beginUndoGrouping();
  }
  ~UndoGroup() {
    undoManager_.setActionName(name_);
    undoManager_.endUndoGrouping();
  }
  UndoGroup(const UndoGroup&) = delete;
  UndoGroup& operator=(const UndoGroup&) = delete;

 private:
  platform::UndoManager& undoManager_;
  std::string name_;
};

}  // namespace app
