#pragma once
// LiveClipDialog: the live-clip panel, window-modal over the media browser:
// a name and a duration in seconds. OK asks the controller, which closes the
// panel once the clip is made; Cancel closes it.
//
// Owned by the browser window (Qt parent). GUI thread.

#include <QDialog>

#include "app/browser/MediaBrowserWindowController.h"

class QDoubleSpinBox;
class QLineEdit;

namespace app::views {

class LiveClipDialog final : public QDialog {
  Q_OBJECT

 public:
  LiveClipDialog(browser::MediaBrowserWindowController& controller, QWidget* parent);
  void openEmpty();
  void done(int result) override;
  // Closes the panel with return code 1 (the clip was made).
  void closeMade();

 private:
  browser::MediaBrowserWindowController& controller_;
  QLineEdit* name_;
  QDoubleSpinBox* duration_;
  bool closing_ = false;
};

}  // namespace app::views
