#pragma once
// The Contact Support window in Qt: the wizard's five pages in a stacked
// widget, its sheets and panels. It draws the controller's state and forwards
// what the customer does; it decides nothing. Main thread.
#include <memory>

#include <QMenuBar>
#include <QWidget>

#include "support/views/DidChangeTextView.h"
#include "support/window/ContactSupportView.h"
#include "support/window/ContactSupportWindowController.h"

namespace Ui {
class ContactSupportWindowController;
}

namespace support::views {

class SupportSheets;

// A text with its links as HTML: the text itself is escaped, never read as markup.
QString linkedHtml(const window::LinkedText& text);

class ContactSupportWindow final : public QWidget,
                                   public window::ContactSupportView,
                                   public DidChangeTextViewDelegate {
  Q_OBJECT

 public:
  // controller: not owned; it outlives the window.
  explicit ContactSupportWindow(window::ContactSupportWindowController& controller, QWidget* parent = nullptr);
  ~ContactSupportWindow() override;

  void update(const window::ContactSupportViewState& state) override;
  void showWindow() override;
  void closeWindow() override { close(); }
  void shake() override;
  void chooseFiles(bool documentTypesOnly, FilesChosen chosen) override;
  void chooseFolder(FolderChosen chosen) override;
  void showAlert(const std::string& message, const std::string& informative) override;
  bool openURL(const std::string& address) override;
  void textViewDidChangeText(QPlainTextEdit& view) override;
  // Puts `bar` (a child of this window) on top: the controls are placed by
  // coordinates, so they move down and the window grows by the bar's height.
  void placeMenuBar(QMenuBar& bar);

 private:
  void connectControls();
  void drawPages(const window::ContactSupportViewState& state);
  void drawForm(const window::ContactSupportViewState& state);
  void drawButtons(const window::ContactSupportViewState& state);

  window::ContactSupportWindowController& controller_;
  std::unique_ptr<Ui::ContactSupportWindowController> ui_;
  std::unique_ptr<SupportSheets> sheets_;
  bool drawing_ = false;  // set while drawing, so the controls' signals are not forwarded back
};

}  // namespace support::views
