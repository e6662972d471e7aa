#pragma once
// Per-event diagnostics of the switcher controllers: printed to standard
// error only, never to the technical log.

namespace control {

void switcherConsoleLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace control
