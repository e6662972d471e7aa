#pragma once
// The platform layer's own problem reports (a task that threw, a defaults file
// that could not be read). They go to standard error until the technical log
// installs itself as the handler.

#include <functional>
#include <string>

namespace platform {

enum class DiagnosticLevel { Error = 1, Warning = 2, Info = 3 };

using DiagnosticHandler = std::function<void(DiagnosticLevel, const std::string& message)>;

void reportDiagnostic(DiagnosticLevel level, const std::string& message);
// Replaces the handler; an empty handler restores standard error.
void setDiagnosticHandler(DiagnosticHandler handler);

}  // namespace platform
