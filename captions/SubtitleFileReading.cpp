#include "captions/SubtitleFileReading.h"

#include "platform/Diagnostics.h"
#include "platform/Files.h"

namespace captions {

std::optional<std::string> readSubtitleFile(const std::filesystem::path& path) {
  auto bytes = platform::readFile(path, kMaxSubtitleFileBytes);
  if (!bytes) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "Subtitle file not read: " + bytes.error().describe());
    return std::nullopt;
  }
  return std::move(bytes).value();
}

}  // namespace captions
