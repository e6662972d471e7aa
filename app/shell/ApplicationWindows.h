#pragma once
// ApplicationWindows: what the application delegate asks of the window layer
// itself: the About panel, the catalogue export and import progress panels,
// and opening a web page in the operator's browser. The Qt shell implements
// it; tests record the calls.
//
// Not owned by the delegate; the window layer outlives it. Main thread.

#include <string>

namespace app {

class ApplicationWindows {
 public:
  virtual ~ApplicationWindows() = default;

  // Shows the About panel with `versionText` in its version field, centred
  // and in front.
  virtual void showAboutPanel(const std::string& versionText) = 0;

  // Catalogue export progress: a value in percent, or an indeterminate bar
  // that animates.
  virtual void setExportProgress(double percent) = 0;
  virtual void setExportProgressIndeterminate() = 0;
  // Stops the import progress animation and hides its panel; ends the
  // import's modal session when asked to.
  virtual void stopImportProgress(bool endModalSession) = 0;

  // Opens `url` in the default web browser.
  virtual void openURL(const std::string& url) = 0;
};

}  // namespace app
