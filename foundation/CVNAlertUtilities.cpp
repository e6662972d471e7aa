#include "foundation/CVNAlertUtilities.h"

#include "platform/Bundle.h"
#include "platform/Diagnostics.h"

namespace foundation {
namespace {

const char* styleName(AlertStyle style) {
  switch (style) {
    case AlertStyle::Warning: return "warning";
    case AlertStyle::Informational: return "informational";
    case AlertStyle::Critical: return "critical";
  }
  return "?";
}

std::string describeAlert(const AlertRequest& request) {
  std::string text = std::string("Alert (") + styleName(request.style) + "): " + request.title;
  if (!request.message.empty()) text += " - " + request.message;
  text += " [";
  for (std::size_t i = 0; i < request.buttonTitles.size(); ++i) text += (i ? ", " : "") + request.buttonTitles[i];
  return text + "]";
}

}  // namespace

ModalResponse CVNAlertUtilities::runAlertPanelWithStyle(AlertStyle style, std::string_view title,
                                                        std::string_view message,
                                                        const std::vector<std::string>& buttonTitles) {
  AlertRequest request{style, std::string(title), std::string(message), buttonTitles};
  if (request.buttonTitles.empty()) request.buttonTitles.emplace_back(kDefaultAlertButtonTitle);
  if (std::shared_ptr<AlertPresenter> presenter = currentAlertPresenter()) return presenter->runAlert(request);
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, describeAlert(request) + " (no window to show it)");
  return kAlertFirstButtonReturn;
}

ModalResponse CVNAlertUtilities::runCriticalAlertPanelWithTitle(std::string_view title, std::string_view message,
                                                                const std::vector<std::string>& buttonTitles) {
  return runAlertPanelWithStyle(AlertStyle::Critical, title, message, buttonTitles);
}

ModalResponse CVNAlertUtilities::runWarningAlertPanelWithTitle(std::string_view title, std::string_view message,
                                                               const std::vector<std::string>& buttonTitles) {
  return runAlertPanelWithStyle(AlertStyle::Warning, title, message, buttonTitles);
}

ModalResponse CVNAlertUtilities::runInformationalAlertPanelWithTitle(std::string_view title, std::string_view message,
                                                                     const std::vector<std::string>& buttonTitles) {
  return runAlertPanelWithStyle(AlertStyle::Informational, title, message, buttonTitles);
}

void CVNAlertUtilities::presentError(const platform::Error& error) {
  if (std::shared_ptr<AlertPresenter> presenter = currentAlertPresenter()) {
    presenter->presentError(error);
    return;
  }
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                             "Error: " + error.describe() + " (no window to show it)");
}

std::string CVNAlertUtilities::applicationErrorDomain() {
  return platform::Bundle::main()->bundleIdentifier() + ".ErrorDomain";
}

platform::Error CVNAlertUtilities::errorWithCode(std::int32_t code, std::optional<std::string> localizedErrorDescription,
                                                 std::optional<std::string> localizedFailureReason) {
  platform::Error error(applicationErrorDomain(), code, localizedErrorDescription.value_or(std::string()));
  if (localizedFailureReason)
    error.userInfo.emplace(kLocalizedFailureReasonKey, platform::Value(std::move(*localizedFailureReason)));
  return error;
}

platform::Error CVNAlertUtilities::errorWithCodeLocalizedErrorDescription(
    std::int32_t code, std::optional<std::string> localizedErrorDescription) {
  return errorWithCode(code, std::move(localizedErrorDescription), std::nullopt);
}

platform::Error CVNAlertUtilities::errorWithCodeLocalizedFailureReason(std::int32_t code,
                                                                       std::optional<std::string> localizedFailureReason) {
  return errorWithCode(code, std::nullopt, std::move(localizedFailureReason));
}

}  // namespace foundation
