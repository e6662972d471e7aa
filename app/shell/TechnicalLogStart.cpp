#include "app/shell/TechnicalLogStart.h"

#include <filesystem>
#include <system_error>

namespace app {

void startTechnicalLog(const platform::UserDefaults& defaults, foundation::CVNLogController& log) {
  if (const auto folder = defaults.stringForKey(foundation::kTechnicalLogFolderPathKey); folder && !folder->empty()) {
    std::error_code error;
    std::filesystem::create_directories(*folder, error);
    // A folder that cannot be made is reported by the log itself, once.
  }
  log.setWritesWithoutDelegate(true);
  log.logMessageWithLevel(2, false, log.applicationBundleName() + " started");
}

}  // namespace app
