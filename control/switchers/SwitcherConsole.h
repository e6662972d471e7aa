#pragma once
// Per-event diagnostics of the switcher controllers: printed to standard
// error only, never to the technical log.

#include <string_view>

namespace control {

void switcherConsoleLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whole lines, each ended by a line feed, in one write.
void switcherConsoleWrite(std::string_view lines);

}  // namespace control
