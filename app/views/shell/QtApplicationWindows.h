#pragma once
// QtApplicationWindows: the window layer's part that the application delegate
// drives directly: the About panel, the catalogue export progress panel and
// the web browser. Each panel is made on first use. Nothing in this build
// starts a catalogue import, so there is no import panel to stop.
//
// Owned by main() (or a test) on the GUI thread; it outlives its tie to the
// delegate (setApplicationWindows(nullptr) first) and owns its panels.

#include <memory>

#include <QString>

#include "app/shell/ApplicationWindows.h"

class QProgressDialog;

namespace app::views {

class AboutPanel;

class QtApplicationWindows final : public ApplicationWindows {
 public:
  explicit QtApplicationWindows(QString applicationName);
  ~QtApplicationWindows() override;
  QtApplicationWindows(const QtApplicationWindows&) = delete;
  QtApplicationWindows& operator=(const QtApplicationWindows&) = delete;

  void showAboutPanel(const std::string& versionText) override;
  void setExportProgress(double percent) override;
  void setExportProgressIndeterminate() override;
  void stopImportProgress(bool endModalSession) override;
  void openURL(const std::string& url) override;

  // The About panel once it was shown, else nullptr.
  AboutPanel* aboutPanel() const { return aboutPanel_.get(); }
  QProgressDialog* exportProgressPanel() const { return exportProgress_.get(); }

 private:
  QProgressDialog& exportProgress();

  const QString applicationName_;
  std::unique_ptr<AboutPanel> aboutPanel_;
  std::unique_ptr<QProgressDialog> exportProgress_;
};

}  // namespace app::views
