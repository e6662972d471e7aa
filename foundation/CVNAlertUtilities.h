#pragma once
// CVNAlertUtilities: modal alerts for the operator and error objects in the
// application's own error domain (the main bundle's identifier followed by
// ".ErrorDomain").
//
// Class of static operations. Alerts run on the main thread, through the
// installed AlertPresenter (see AlertPresenter.h); with none installed the
// alert goes to the diagnostics and answers the first button. The error
// builders run on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/AlertPresenter.h"
#include "platform/Error.h"

namespace foundation {

// The user-info key of an error's failure reason.
inline constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
// The title of the one button an alert gets when none is given.
inline constexpr const char* kDefaultAlertButtonTitle = "OK";

class CVNAlertUtilities {
 public:
  // A modal alert: the title as its message text, the message as its
  // informative text, one button per title in order (none given: one "OK").
  // Answers the modal response of the button pressed (1000 for the first).
  static ModalResponse runAlertPanelWithStyle(AlertStyle style, std::string_view title, std::string_view message,
                                              const std::vector<std::string>& buttonTitles = {});
  static ModalResponse runCriticalAlertPanelWithTitle(std::string_view title, std::string_view message,
                                                      const std::vector<std::string>& buttonTitles = {});
  static ModalResponse runWarningAlertPanelWithTitle(std::string_view title, std::string_view message,
                                                     const std::vector<std::string>& buttonTitles = {});
  static ModalResponse runInformationalAlertPanelWithTitle(std::string_view title, std::string_view message,
                                                           const std::vector<std::string>& buttonTitles = {});

  // Shows an error to the operator (logged when no presenter is installed).
  static void presentError(const platform::Error& error);

  // The application's error domain: "<bundle identifier>.ErrorDomain".
  static std::string applicationErrorDomain();

  // An error of the application's domain with `code`; the description becomes
  // its localized description and the reason its kLocalizedFailureReasonKey
  // entry, each only when given.
  static platform::Error errorWithCode(std::int32_t code, std::optional<std::string> localizedErrorDescription,
                                       std::optional<std::string> localizedFailureReason);
  static platform::Error errorWithCodeLocalizedErrorDescription(std::int32_t code,
                                                                std::optional<std::string> localizedErrorDescription);
  static platform::Error errorWithCodeLocalizedFailureReason(std::int32_t code,
                                                             std::optional<std::string> localizedFailureReason);
};

}  // namespace foundation
