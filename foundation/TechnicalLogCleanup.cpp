#include "foundation/TechnicalLogCleanup.h"

#include <optional>
#include <string>
#include <system_error>

#include "platform/Files.h"

namespace foundation {
namespace {

// A copied or restored log keeps its modification time but gets a new birth
// time, so the earlier of the two is the best guess at when the file began.
std::optional<std::chrono::system_clock::time_point> logFileCreationDate(const std::filesystem::path& path) {
  auto created = platform::fileCreationDate(path);
  std::error_code error;
  const auto modified = std::filesystem::last_write_time(path, error);
  if (error) return created;
  const auto modifiedWall =
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(modified));
  if (!created || modifiedWall < *created) return modifiedWall;
  return created;
}

}  // namespace

std::size_t removeOldTechnicalLogFiles(const std::filesystem::path& folder, std::string_view logPrefix,
                                       std::chrono::system_clock::time_point now) {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return 0;

  std::size_t removed = 0;
  for (const auto end = std::filesystem::directory_iterator(); entries != end; entries.increment(error)) {
    if (error) break;
    const std::filesystem::path& path = entries->path();
    if (!path.filename().native().starts_with(logPrefix)) continue;
    std::error_code statusError;
    if (entries->symlink_status(statusError).type() == std::filesystem::file_type::directory || statusError) continue;
    const auto created = logFileCreationDate(path);
    if (!created || now - *created <= kTechnicalLogMaximumAge) continue;
    std::error_code removeError;
    if (std::filesystem::remove(path, removeError)) ++removed;
  }
  return removed;
}

}  // namespace foundation
