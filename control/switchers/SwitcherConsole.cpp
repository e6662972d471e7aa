#include "control/switchers/SwitcherConsole.h"

#include <cstdarg>
#include <cstdio>

namespace control {

void switcherConsoleLog(const char* format, ...) {
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  // One write per line, so lines from several threads never interleave.
  std::fprintf(stderr, "%s\n", line);
}

void switcherConsoleWrite(std::string_view lines) {
  if (!lines.empty()) std::fwrite(lines.data(), 1, lines.size(), stderr);
}

}  // namespace control
