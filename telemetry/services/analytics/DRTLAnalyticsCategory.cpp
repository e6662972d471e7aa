#include "telemetry/services/analytics/DRTLAnalyticsCategory.h"

#include <mutex>
#include <string_view>

#include "platform/ViewControllerAppearance.h"
#include "telemetry/services/analytics/DRTLAnalytics.h"

namespace telemetry::analytics {
namespace {

constexpr std::string_view kSuffix = "ViewController";
constexpr std::string_view kSkipped[] = {"NSSplitViewController", "NSTabViewController", "NSPageController"};

std::mutex& missedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::string>& missedSlot() {
  static std::optional<std::string> name;
  return name;
}

}  // namespace

void DRTLAnalyticsCategory::activateCategory() {
  static std::once_flag once;
  std::call_once(once, [] { platform::setViewControllerAppearanceHandler(&viewControllerWillAppear); });
}

std::optional<std::string> DRTLAnalyticsCategory::missedPageViewName() {
  std::lock_guard lock(missedMutex());
  return missedSlot();
}

std::optional<std::string> DRTLAnalyticsCategory::pageNameForClassName(const std::string& className) {
  for (std::string_view skipped : kSkipped) {
    if (className == skipped) return std::nullopt;
  }
  const std::size_t separator = className.rfind("::");
  std::string name = separator == std::string::npos ? className : className.substr(separator + 2);
  if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) name.resize(name.size() - kSuffix.size());
  return name;
}

void DRTLAnalyticsCategory::viewControllerWillAppear(const std::string& className) {
  if (!DRTLAnalytics::isAutoPageTrackingEnabled()) return;
  const std::optional<std::string> name = pageNameForClassName(className);
  if (!name) return;
  if (DRTLAnalytics::sharedInstance()->isAvailable()) {
    {
      std::lock_guard lock(missedMutex());
      missedSlot().reset();
    }
    DRTLAnalytics::trackPage(*name);
  } else {
    std::lock_guard lock(missedMutex());
    missedSlot() = name;
  }
}

}  // namespace telemetry::analytics
