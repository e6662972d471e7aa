#pragma once
// PreferencesView: what the preferences window controller tells its window.
// The controller keeps every control's state (PreferencesWindowController::
// control) and the table rows; the window redraws what it is told changed
// and makes no decision of its own.
//
// The window implements it and outlives its tie to the controller (held as
// a plain pointer, not owned). Main thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace app::preferences {

class PreferencesView {
 public:
  virtual ~PreferencesView() = default;
  // The control's state (items, choice, box, text, enabled) changed.
  virtual void controlDidChange(std::string_view outlet) = 0;
  // The table's rows changed: reload it.
  virtual void tableDidChange(std::string_view table) = 0;
  virtual void selectTableRows(std::string_view table, const std::vector<std::size_t>& rows) = 0;
  // Shows the pane of the toolbar tag (1 to 5) and checks its toolbar item.
  virtual void showPane(int tag) = 0;
  // Opens the sheet; the window answers PreferencesWindowController::sheetDidEnd.
  virtual void beginSheet(std::string_view sheet) = 0;
  // The sheet stays open and shows why its input was refused.
  virtual void showSheetProblem(std::string_view sheet, const std::string& reason) = 0;
};

}  // namespace app::preferences
