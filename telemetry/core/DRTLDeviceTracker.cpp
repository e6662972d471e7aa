#include "telemetry/core/DRTLDeviceTracker.h"

#include <algorithm>

#include "platform/Bundle.h"
#include "platform/Clock.h"

namespace telemetry::core {
namespace {

constexpr const char* kPastDevicesKey = "PastDevices";

// Process-wide inputs of the record, shared by all trackers.
struct SharedState {
  std::mutex mutex;
  std::shared_ptr<DRTLDeviceTracker> instance;  // guarded by mutex
  std::shared_ptr<DRTLWrapperSdk> wrapperSdk;   // guarded by mutex
  std::optional<std::string> countryCode;       // guarded by mutex
  bool upToDate = false;                        // guarded by mutex
};

SharedState& shared() {
  static SharedState state;
  return state;
}

platform::Date now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

bool earlier(const std::shared_ptr<DRTLDeviceHistoryInfo>& entry, platform::Date date) {
  return entry->timestamp.value_or(platform::Date::min()) < date;
}

}  // namespace

std::shared_ptr<DRTLDeviceTracker> DRTLDeviceTracker::sharedInstance() {
  {
    std::lock_guard lock(shared().mutex);
    if (shared().instance) return shared().instance;
  }
  // Built outside the lock: construction reads the shared inputs.
  auto made = std::make_shared<DRTLDeviceTracker>();
  std::lock_guard lock(shared().mutex);
  if (!shared().instance) shared().instance = std::move(made);
  return shared().instance;
}

void DRTLDeviceTracker::resetSharedInstance() {
  std::lock_guard lock(shared().mutex);
  shared().instance.reset();
  shared().wrapperSdk.reset();
  shared().countryCode.reset();
  shared().upToDate = false;
}

void DRTLDeviceTracker::refreshDeviceNextTime() {
  std::lock_guard lock(shared().mutex);
  shared().upToDate = false;
}

DRTLDeviceTracker::DRTLDeviceTracker(DRTLDeviceInfoProvider provider) : provider_(std::move(provider)) {
  std::lock_guard lock(mutex_);
  deviceHistory_ = loadHistory<DRTLDeviceHistoryInfo>(kPastDevicesKey);
  std::erase_if(deviceHistory_, [](const auto& entry) { return !entry->device || !entry->timestamp; });
  std::sort(deviceHistory_.begin(), deviceHistory_.end(),
            [](const auto& a, const auto& b) { return *a->timestamp < *b->timestamp; });
  deviceLocked();
}

std::shared_ptr<DRTLDevice> DRTLDeviceTracker::device() {
  std::lock_guard lock(mutex_);
  return deviceLocked();
}

std::shared_ptr<DRTLDevice> DRTLDeviceTracker::deviceLocked() {
  {
    std::lock_guard lock(shared().mutex);
    if (device_ && shared().upToDate) return device_;
  }
  device_ = updatedDevice();
  auto entry = std::make_shared<DRTLDeviceHistoryInfo>(now(), device_);
  auto position = std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), *entry->timestamp, earlier);
  deviceHistory_.insert(position, entry);
  while (deviceHistory_.size() > kDRTLMaxDevicesHistoryCount) deviceHistory_.erase(deviceHistory_.begin());
  saveHistory(deviceHistory_, kPastDevicesKey);
  return device_;
}

std::shared_ptr<DRTLDevice> DRTLDeviceTracker::updatedDevice() {
  std::lock_guard lock(mutex_);
  auto device = std::make_shared<DRTLDevice>();
  device->sdkName = DRTLUtility::sdkName();
  device->sdkVersion = DRTLUtility::sdkVersion();
  device->model = provider_.model();
  device->oemName = provider_.oemName();
  device->osName = provider_.osName();
  device->osVersion = provider_.osVersion();
  device->osBuild = provider_.osBuild();
  device->locale = provider_.locale();
  device->timeZoneOffset = provider_.timeZoneOffsetMinutes();
  device->screenSize = provider_.screenSize();
  if (auto bundle = platform::Bundle::main()) {
    device->appVersion = bundle->shortVersionString();
    device->appBuild = bundle->version();
    device->appNamespace = nonEmpty(bundle->bundleIdentifier());
  }
  std::lock_guard sharedLock(shared().mutex);
  device->carrierCountry = shared().countryCode;
  if (const auto& wrapper = shared().wrapperSdk) {
    device->wrapperSdkVersion = wrapper->wrapperSdkVersion;
    device->wrapperSdkName = wrapper->wrapperSdkName;
    device->wrapperRuntimeVersion = wrapper->wrapperRuntimeVersion;
    device->ziraUpdateReleaseLabel = wrapper->ziraUpdateReleaseLabel;
    device->ziraUpdateDeploymentKey = wrapper->ziraUpdateDeploymentKey;
    device->ziraUpdatePackageHash = wrapper->ziraUpdatePackageHash;
  }
  shared().upToDate = true;
  return device;
}

std::shared_ptr<DRTLDevice> DRTLDeviceTracker::deviceForTimestamp(const std::optional<platform::Date>& date) {
  // Under the lock: device(), setWrapperSdk and clearDevices change the history.
  std::lock_guard lock(mutex_);
  if (!date || deviceHistory_.empty()) return deviceLocked();
  auto after = std::upper_bound(deviceHistory_.begin(), deviceHistory_.end(), *date,
                                [](platform::Date value, const auto& entry) { return value < *entry->timestamp; });
  if (after == deviceHistory_.begin()) return deviceHistory_.front()->device;
  return (*std::prev(after))->device;
}

void DRTLDeviceTracker::clearDevices() {
  std::lock_guard lock(mutex_);
  if (deviceHistory_.size() > 1) deviceHistory_.erase(deviceHistory_.begin(), std::prev(deviceHistory_.end()));
  saveHistory(deviceHistory_, kPastDevicesKey);
}

void DRTLDeviceTracker::setWrapperSdk(std::shared_ptr<DRTLWrapperSdk> wrapperSdk) {
  std::lock_guard lock(mutex_);
  {
    std::lock_guard sharedLock(shared().mutex);
    shared().wrapperSdk = std::move(wrapperSdk);
    shared().upToDate = false;
  }
  if (!deviceHistory_.empty()) deviceHistory_.pop_back();
  deviceLocked();
}

std::shared_ptr<DRTLWrapperSdk> DRTLDeviceTracker::wrapperSdk() const {
  std::lock_guard lock(shared().mutex);
  return shared().wrapperSdk;
}

void DRTLDeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
  std::lock_guard lock(mutex_);
  std::lock_guard sharedLock(shared().mutex);
  shared().countryCode = std::move(countryCode);
  shared().upToDate = false;
}

std::optional<std::string> DRTLDeviceTracker::countryCode() const {
  std::lock_guard lock(shared().mutex);
  return shared().countryCode;
}

std::vector<std::shared_ptr<DRTLDeviceHistoryInfo>> DRTLDeviceTracker::deviceHistory() const {
  std::lock_guard lock(mutex_);
  return deviceHistory_;
}

}  // namespace telemetry::core
