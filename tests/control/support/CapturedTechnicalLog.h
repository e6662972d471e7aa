#pragma once
// Installs a technical log of its own as the shared one for a test's lifetime
// and keeps every line it prints, so tests can count log texts.

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/CVNLogController.h"
#include "platform/UserDefaults.h"
#include "tests/support/SilentNotificationCenter.h"

namespace testing_support {

class CapturedTechnicalLog {
 public:
  explicit CapturedTechnicalLog(platform::UserDefaults& defaults) {
    foundation::CVNLogController::Environment environment;
    environment.defaults = &defaults;
    environment.notificationCenter = std::make_shared<SilentNotificationCenter>();
    environment.console = [this](std::string_view line) {
      std::lock_guard guard(mutex_);
      lines_.emplace_back(line);
    };
    log_ = std::make_unique<foundation::CVNLogController>(std::move(environment));
    foundation::CVNLogController::setSharedLogControllerForTesting(log_.get());
  }
  ~CapturedTechnicalLog() { foundation::CVNLogController::setSharedLogControllerForTesting(nullptr); }
  CapturedTechnicalLog(const CapturedTechnicalLog&) = delete;
  CapturedTechnicalLog& operator=(const CapturedTechnicalLog&) = delete;

  std::size_t linesWith(std::string_view text) const {
    std::lock_guard guard(mutex_);
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    }));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
  std::unique_ptr<foundation::CVNLogController> log_;
};

}  // namespace testing_support
