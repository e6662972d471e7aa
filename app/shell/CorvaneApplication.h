#pragma once
// CorvaneApplication: the application object as the application's own code
// sees it: where the application information is read from (the main bundle),
// the texts crash reporting attaches, and the two things only the running
// application can do (quit, tell whether a modal window is up). The window
// layer's application class implements it; tests use a small fake.
//
// One per process, owned by main(); the application delegate holds it
// without owning it. Main thread.

#include <memory>
#include <string>

#include "platform/Bundle.h"

namespace app {

class CorvaneApplication {
 public:
  virtual ~CorvaneApplication() = default;

  // The bundle the application information is read from: the main bundle.
  virtual std::shared_ptr<const platform::Bundle> applicationMainBundle() const;
  // "CFBundleVersion" of applicationMainBundle().
  std::string applicationBundleVersionString() const;
  // "CFBundleName" of applicationMainBundle().
  std::string applicationBundleName() const;
  // The application log attached to crash reports: none in this application.
  virtual std::string applicationLogForCrashManager() const { return {}; }

  // Asks the application to quit once the current event is handled (the
  // termination callbacks then run); returns at once.
  virtual void terminate() = 0;
  // A modal window (alert, panel) is running.
  virtual bool hasModalWindow() const = 0;
};

}  // namespace app
