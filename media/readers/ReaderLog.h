#pragma once

#include <cstdint>

#include "foundation/CVNLogController.h"

namespace media {

// A reader's line in the technical log; `show` also puts it before the operator.
void logReaderLine(std::uint32_t level, bool show, const char* format, auto... arguments) {
  // Without arguments the line is text, never a format.
  if constexpr (sizeof...(arguments) == 0) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, show, "%s", format);
  } else {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, show, format, arguments...);
  }
}

// A reader's line in the technical log, never shown to the operator.
void logLine(std::uint32_t level, const char* format, auto... arguments) {
  logReaderLine(level, false, format, arguments...);
}

}  // namespace media
