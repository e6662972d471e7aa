#pragma once
// PreferencesWindow: the preferences window. A toolbar of five exclusive
// actions ("General", "Media Folders", "Static IP", "Trelvane", "Triggers")
// over a stack of panes; the window takes the size of the pane on show
// (which is also its minimum size) and keeps its top-left corner. Every
// control carries its outlet name as object name; the window forwards what
// the operator does to the Qt-free PreferencesWindowController and redraws
// what the controller says changed. Sheets are window-modal dialogs.
//
// Owned by PreferencesWindowHandle with the controller, which outlives it.
// The Triggers pane is made by `makeTriggersPane` the first time it is shown
// (its owner keeps it). Main thread.

#include <functional>
#include <map>
#include <string>

#include <QMainWindow>

#include "app/preferences/PreferencesView.h"
#include "app/preferences/PreferencesWindowController.h"
#include "app/views/preferences/PreferencesTableModel.h"

class QActionGroup;
class QDialog;
class QLabel;
class QStackedWidget;
class QTableView;

namespace app::views {

class PreferencesWindow final : public QMainWindow, public preferences::PreferencesView {
  Q_OBJECT

 public:
  PreferencesWindow(preferences::PreferencesWindowController& controller, std::function<QWidget*()> makeTriggersPane);
  ~PreferencesWindow() override;

  // The controller's view; the window loads every control from it.
  void windowDidLoad();

  // ---- PreferencesView ----
  void controlDidChange(std::string_view outlet) override;
  void tableDidChange(std::string_view table) override;
  void selectTableRows(std::string_view table, const std::vector<std::size_t>& rows) override;
  void showPane(int tag) override;
  void beginSheet(std::string_view sheet) override;
  void showSheetProblem(std::string_view sheet, const std::string& reason) override;

 protected:
  // A field of a number default writes it when editing begins.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* makeGeneralPane();
  QWidget* makeMediaFoldersPane();
  QWidget* makeStaticIPPane();
  QWidget* makeTrelvanePane();
  QWidget* makeMetadataView();
  QDialog* makeSheet(const char* outlet, const QString& title, const std::vector<std::pair<const char*, QString>>& fields,
                     QWidget* extra = nullptr);
  QTableView* makeTable(const char* outlet, std::vector<PreferencesTableColumn> columns);
  QWidget* makeSegmentedControl(const char* outlet);
  QWidget* labelled(const QString& label, QWidget* control);
  void connectControls();
  void applyState(QWidget* widget, const preferences::ControlState& state);
  void fitWindowToPane(QWidget* pane);

  preferences::PreferencesWindowController& controller_;  // not owned; outlives the window
  std::function<QWidget*()> makeTriggersPane_;
  QStackedWidget* stack_ = nullptr;
  QActionGroup* toolbarActions_ = nullptr;
  std::map<int, QWidget*> panes_;  // by toolbar tag; parented to the stack
  std::map<std::string, PreferencesTableModel*, std::less<>> tables_;
};

}  // namespace app::views
