#pragma once

#include <cstdint>

#include "foundation/CVNLogController.h"

namespace media {

// A reader's line in the technical log, never shown to the operator.
void logLine(std::uint32_t level, const char* format, auto... arguments) {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, false, format, arguments...);
}

}  // namespace media
