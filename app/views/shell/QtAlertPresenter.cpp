#include "app/views/shell/QtAlertPresenter.h"

#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "app/shell/AlertButtonLayout.h"
#include "app/views/shell/TerminationSignalQuitter.h"
#include "foundation/CVNAlertUtilities.h"
#include "platform/Diagnostics.h"

namespace app::views {
namespace {

bool onGuiThread() { return QCoreApplication::instance() && QThread::currentThread() == qApp->thread(); }

QMessageBox::Icon iconForStyle(foundation::AlertStyle style) {
  switch (style) {
    case foundation::AlertStyle::Critical:
      return QMessageBox::Critical;
    case foundation::AlertStyle::Informational:
      return QMessageBox::Information;
    case foundation::AlertStyle::Warning:
      break;
  }
  return QMessageBox::Warning;
}

}  // namespace

foundation::ModalResponse QtAlertPresenter::runAlert(const foundation::AlertRequest& request) {
  if (!onGuiThread()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "QtAlertPresenter: alert \"" + request.title + "\" requested off the main thread");
    return foundation::kAlertFirstButtonReturn;
  }
  std::vector<std::string> titles = request.buttonTitles;
  if (titles.empty()) titles.push_back(foundation::kDefaultAlertButtonTitle);
  const AlertButtonLayout layout = alertButtonLayout(titles);
  if (TerminationSignalQuitter::quitRequested()) {
    // Quitting: nobody is there to answer; the safe button.
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "QtAlertPresenter: alert \"" + request.title + "\" not shown while quitting");
    return foundation::kAlertFirstButtonReturn + static_cast<foundation::ModalResponse>(layout.escapeButton.value_or(0));
  }

  QMessageBox box(iconForStyle(request.style), QApplication::applicationDisplayName(),
                  QString::fromStdString(request.title));
  box.setInformativeText(QString::fromStdString(request.message));
  std::vector<QPushButton*> buttons;
  for (const std::string& title : titles) buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::ActionRole));
  box.setDefaultButton(buttons[layout.defaultButton]);
  if (layout.escapeButton) box.setEscapeButton(buttons[*layout.escapeButton]);
  box.exec();

  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i]) return foundation::kAlertFirstButtonReturn + static_cast<foundation::ModalResponse>(i);
  }
  // Closed without a button (window closed by the system): the safe answer.
  return foundation::kAlertFirstButtonReturn + static_cast<foundation::ModalResponse>(layout.escapeButton.value_or(0));
}

void QtAlertPresenter::presentError(const platform::Error& error) {
  if (!onGuiThread()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "QtAlertPresenter: error \"" + error.describe() + "\" presented off the main thread");
    return;
  }
  if (TerminationSignalQuitter::quitRequested()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "QtAlertPresenter: error \"" + error.describe() + "\" not shown while quitting");
    return;
  }
  if (QThread::currentThread()->loopLevel() == 0) {
    // Before the event loop runs, a modal box would run a loop of its own
    // that a termination signal cannot end: it waits for the loop instead.
    QTimer::singleShot(0, qApp, [error] { foundation::CVNAlertUtilities::presentError(error); });
    return;
  }
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                  QString::fromStdString(error.localizedDescription.empty() ? std::string(kErrorAlertTitle)
                                                                            : error.localizedDescription));
  auto reason = error.userInfo.find(foundation::kLocalizedFailureReasonKey);
  if (reason != error.userInfo.end() && reason->second.isString()) {
    box.setInformativeText(QString::fromStdString(*reason->second.string()));
  }
  box.exec();
}

}  // namespace app::views
