#pragma once
// NotAvailableNotice: how the parts of the application that this build does
// not carry yet (switchers, GPI boxes, support desk, crash reporting, windows
// still to come) tell the operator's technical log that they do nothing.
//
// Each notice object writes its line at most once, so a menu chosen ten times
// leaves one line. Owned by the object that stands in for the missing part;
// main thread (the notices of shared objects use their own lock).

#include <atomic>
#include <string>

namespace app {

// "<what> is not available in this build", level 2, not shown.
inline constexpr const char* kNotAvailableFormat = "%s is not available in this build";

class NotAvailableNotice {
 public:
  explicit NotAvailableNotice(std::string what) : what_(std::move(what)) {}

  // Logs the line the first time only; answers whether it logged.
  bool note();
  const std::string& what() const { return what_; }

 private:
  const std::string what_;
  std::atomic<bool> noted_{false};
};

}  // namespace app
