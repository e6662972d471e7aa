#pragma once
// DRTLDeviceTracker: builds the device record every log carries, rebuilds it
// only when an input changed, and keeps the last 5 records with the time each
// was built ("PastDevices" in the settings store), so that a log about an
// earlier moment gets the device as it was then.
//
// Any thread: every operation, deviceForTimestamp included, holds the
// tracker's one recursive lock (setWrapperSdk rebuilds while holding it).

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/core/DRTLDeviceInfoProvider.h"
#include "telemetry/core/DRTLHistoryInfo.h"

namespace telemetry::core {

inline constexpr std::size_t kDRTLMaxDevicesHistoryCount = 5;

class DRTLDeviceTracker {
 public:
  static std::shared_ptr<DRTLDeviceTracker> sharedInstance();
  // Forgets the shared tracker, the wrapper SDK and the country code.
  static void resetSharedInstance();
  static void refreshDeviceNextTime();

  explicit DRTLDeviceTracker(DRTLDeviceInfoProvider provider = DRTLDeviceInfoProvider());

  std::shared_ptr<DRTLDevice> device();
  std::shared_ptr<DRTLDevice> updatedDevice();
  // The record current at `date`: the newest entry not later than it, the
  // oldest for an earlier date, the current record for none or no history.
  std::shared_ptr<DRTLDevice> deviceForTimestamp(const std::optional<platform::Date>& date);
  void clearDevices();

  void setWrapperSdk(std::shared_ptr<DRTLWrapperSdk> wrapperSdk);
  std::shared_ptr<DRTLWrapperSdk> wrapperSdk() const;
  void setCountryCode(std::optional<std::string> countryCode);
  std::optional<std::string> countryCode() const;

  std::vector<std::shared_ptr<DRTLDeviceHistoryInfo>> deviceHistory() const;

 private:
  std::shared_ptr<DRTLDevice> deviceLocked();  // needs mutex_

  DRTLDeviceInfoProvider provider_;
  mutable std::recursive_mutex mutex_;
  std::shared_ptr<DRTLDevice> device_;                                // guarded by mutex_
  std::vector<std::shared_ptr<DRTLDeviceHistoryInfo>> deviceHistory_;  // guarded by mutex_; oldest first
};

}  // namespace telemetry::core
