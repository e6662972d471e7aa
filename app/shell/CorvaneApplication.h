#pragma once
// CorvaneApplication: the application object as the application's own code
// sees it: where the application information is read from (the main bundle),
// what the support window is told about the application, the texts crash
// reporting attaches, and the two things only the running application can do
// (quit, tell whether a modal window is up). The window layer's application
// class implements it; tests use a small fake.
//
// One per process, owned by main(); the application delegate holds it
// without owning it. Main thread.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "support/window/ContactSupportWindowController.h"

namespace app {

class CorvaneApplication : public support::window::ContactSupportWindowController_Delegate {
 public:
  ~CorvaneApplication() override = default;

  // The bundle the application information is read from: the main bundle.
  virtual std::shared_ptr<const platform::Bundle> applicationMainBundle() const;
  // "CFBundleVersion" of applicationMainBundle().
  std::string applicationBundleVersionString() const;
  // "CFBundleName" of applicationMainBundle().
  std::string applicationBundleName() const;
  // The application log attached to crash reports: none in this application.
  virtual std::string applicationLogForCrashManager() const { return {}; }
  // The telemetry secret string, read as the start-up reads it (the
  // configuration, never the bundle: the program carries no secret).
  std::optional<std::string> applicationDirAradedIdentifier() const;

  // An exception that escaped an event handler: written to the technical
  // log; then, while the default "NSApplicationCrashOnExceptions" is YES, the
  // process ends (abort), so the crash report names the exception; else the
  // application carries on.
  virtual void reportException(const std::exception_ptr& exception);

  // The support window's questions.
  // "bundleName", "bundleVersion", "macOSVersionString" (left out when the
  // system's version is unknown) and "fourChar"; built anew for each call.
  platform::Dictionary applicationInformationForSupport() const override;
  bool showInvolvedDocumentsView() const override { return false; }
  std::vector<std::filesystem::path> supportFilePathsWithDate(std::chrono::system_clock::time_point) const override {
    return {};
  }
  // The four-character type code; none when it cannot be read.
  virtual std::optional<std::uint32_t> applicationOSType() const { return 0x3F3F3F3F; }  // "????"
  // Shows the Contact Support window (the Help menu's "Contact Support...").
  virtual void contactSupport() {}

  // The system's version: VERSION_ID of the os-release file; none when unreadable.
  static std::optional<std::string> macOSVersionString(const std::filesystem::path& osRelease = "/etc/os-release");
  // The code's four bytes as text, most significant first.
  static std::string stringFromFourCharCode(std::uint32_t code);

  // Asks the application to quit once the current event is handled (the
  // termination callbacks then run); returns at once.
  virtual void terminate() = 0;
  // A modal window (alert, panel) is running.
  virtual bool hasModalWindow() const = 0;
};

// The product's answers where they differ from the maker's layer.
class VantelioZiraApplicationAnswers : public CorvaneApplication {
 public:
  bool showInvolvedDocumentsView() const override { return true; }
  // The "<CFBundleName> Local DataSource" folder in the Documents folder, for any date.
  std::vector<std::filesystem::path> supportFilePathsWithDate(std::chrono::system_clock::time_point date) const override;
  std::optional<std::uint32_t> applicationOSType() const override { return 0x5A617271; }  // "Zarq"
  static std::string applicationAdditionalLicenseInfo() {
    return "This software uses librairies from the FFmpeg project\runder the LGPLv2.1";
  }
};

}  // namespace app
