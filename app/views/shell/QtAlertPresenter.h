#pragma once
// QtAlertPresenter: shows the operator's alerts and errors as modal message
// boxes. Installed as the process's AlertPresenter at start-up, so every
// CVNAlertUtilities alert of the system lands here.
//
// Shared by the foundation's presenter slot and main(). Alerts run on the Qt
// GUI thread (the main thread) and block it in a nested event loop, during
// which the main queue keeps being drained. A request from any other thread
// is refused with a diagnostic and answers the first button, as a headless
// host would. An error presented before the event loop runs waits for it;
// once a termination signal asked to quit, nothing is shown (alerts answer
// their safe button).

#include "foundation/AlertPresenter.h"

namespace app::views {

inline constexpr const char* kErrorAlertTitle = "Error";

class QtAlertPresenter final : public foundation::AlertPresenter {
 public:
  foundation::ModalResponse runAlert(const foundation::AlertRequest& request) override;
  void presentError(const platform::Error& error) override;
};

}  // namespace app::views
