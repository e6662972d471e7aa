#pragma once
// The Contact Support window's sheets: window-modal dialogs for the
// collecting-logs warning, the attached-files explanation, the two upload
// sheets and the activity sheet. They draw the state and forward their buttons.
#include <functional>

#include <QDialog>

#include "support/window/ContactSupportViewState.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace support::views {

struct SupportSheetActions {
  std::function<void()> collectingLogsContinue, collectingLogsCancel, closeExplanation, cancelUpload,
      errorButton, sizeWarningOk;
};

class SupportSheets {
 public:
  SupportSheets(QWidget& window, SupportSheetActions actions);
  void update(const window::ContactSupportViewState& state);

 private:
  QDialog* makeSheet(QWidget& window);
  void buildLargeUpload(QWidget& window);

  SupportSheetActions actions_;
  QDialog* warning_ = nullptr;
  QDialog* explanation_ = nullptr;
  QDialog* upload_ = nullptr;
  QDialog* largeUpload_ = nullptr;
  QDialog* activity_ = nullptr;
  QLabel* activityText_ = nullptr;
  QStackedWidget* largeContent_ = nullptr;
  QLabel* uploadMessage_ = nullptr;
  QLabel* progressText_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* errorStatus_ = nullptr;
  QLabel* errorText_ = nullptr;
  QProgressBar* errorIndicator_ = nullptr;
  QPushButton* errorButton_ = nullptr;
};

}  // namespace support::views
