#pragma once
// OfflineClipDialog: the offline-clip sheet, window-modal over the media
// browser. Its fields follow the controller's OfflineClipSheet (name
// clean-up with a beep, frame rates, drop frame); closing it reports the
// return code (OK 1, Cancel 0) to the controller.
//
// Owned by the browser window (Qt parent). GUI thread.

#include <QDialog>

#include "app/browser/MediaBrowserWindowController.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace app::views {

class OfflineClipDialog final : public QDialog {
  Q_OBJECT

 public:
  OfflineClipDialog(browser::MediaBrowserWindowController& controller, QWidget* parent);
  // Shows the fields and opens the sheet.
  void openWith(const browser::OfflineClipSheetState& state);
  QLineEdit* nameField() const { return name_; }

 private:
  void showDropFrame();

  browser::MediaBrowserWindowController& controller_;
  QLineEdit* name_;
  QLineEdit* duration_;
  QComboBox* frameRate_;
  QCheckBox* dropFrame_;
  QLineEdit* folder_;
};

}  // namespace app::views
