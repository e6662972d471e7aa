#include "tests/support/CapturedDiagnostics.h"

#include <algorithm>

namespace testing_support {

CapturedDiagnostics::CapturedDiagnostics() {
  platform::setDiagnosticHandler([state = state_](platform::DiagnosticLevel, const std::string& message) {
    std::lock_guard guard(state->mutex);
    state->messages.push_back(message);
  });
}

CapturedDiagnostics::~CapturedDiagnostics() { platform::setDiagnosticHandler({}); }

std::vector<std::string> CapturedDiagnostics::messages() const {
  std::lock_guard guard(state_->mutex);
  return state_->messages;
}

std::size_t CapturedDiagnostics::count(std::string_view text) const {
  std::lock_guard guard(state_->mutex);
  return std::count_if(state_->messages.begin(), state_->messages.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

}  // namespace testing_support
