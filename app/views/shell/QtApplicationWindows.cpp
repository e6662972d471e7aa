#include "app/views/shell/QtApplicationWindows.h"

#include <algorithm>

#include <QDesktopServices>
#include <QProgressDialog>
#include <QUrl>

#include "app/views/shell/AboutPanel.h"

namespace app::views {

QtApplicationWindows::QtApplicationWindows(QString applicationName) : applicationName_(std::move(applicationName)) {}

QtApplicationWindows::~QtApplicationWindows() = default;

void QtApplicationWindows::showAboutPanel(const std::string& versionText) {
  if (!aboutPanel_) aboutPanel_ = std::make_unique<AboutPanel>(applicationName_);
  aboutPanel_->setVersionText(QString::fromStdString(versionText));
  aboutPanel_->showCentred();
}

QProgressDialog& QtApplicationWindows::exportProgress() {
  if (!exportProgress_) {
    exportProgress_ = std::make_unique<QProgressDialog>(QObject::tr("Exporting the clip database..."), QString(), 0, 100);
    exportProgress_->setWindowTitle(applicationName_);
    exportProgress_->setMinimumDuration(0);
    exportProgress_->setAutoClose(false);
    exportProgress_->setAutoReset(false);
  }
  return *exportProgress_;
}

void QtApplicationWindows::setExportProgress(double percent) {
  QProgressDialog& panel = exportProgress();
  panel.setRange(0, 100);
  panel.setValue(static_cast<int>(std::clamp(percent, 0.0, 100.0)));
  panel.show();
}

void QtApplicationWindows::setExportProgressIndeterminate() {
  QProgressDialog& panel = exportProgress();
  panel.setRange(0, 0);  // a busy bar that animates
  panel.show();
}

void QtApplicationWindows::stopImportProgress(bool /*endModalSession*/) {}

void QtApplicationWindows::openURL(const std::string& url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

}  // namespace app::views
