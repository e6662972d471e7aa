#pragma once
// CVNTrelvaneController: the one GPI box watcher of the process. It reports
// boxes as they connect and disconnect and the changes of their inputs as
// notifications on the default centre, and hands out the connected boxes.
//
// This build has no USB GPI driver: the watcher sees no box, posts nothing
// and says so once in the technical log when it is first used.
//
// sharedController() is created on first use and lives for the process. Any
// thread: the box list is read under the watcher's lock.

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/shell/GPIDeviceController.h"
#include "app/shell/NotAvailableNotice.h"

namespace app {

// Notification names; object of the first: a platform::Value dictionary with
// the keys below.
inline constexpr const char* kTrelvaneDeviceInputDidChangeNotification = "TrelvaneDeviceInputDidChange";
inline constexpr const char* kTrelvaneDeviceDidConnectNotification = "TrelvaneDeviceDidConnect";
inline constexpr const char* kTrelvaneDeviceDidDisconnectNotification = "TrelvaneDeviceDidDisconnect";
inline constexpr const char* kTrelvaneDeviceSerialKey = "deviceSerial";  // string
inline constexpr const char* kTrelvaneInputIndexKey = "inputIndex";      // integer, 0-based
inline constexpr const char* kTrelvaneNewStateKey = "newState";          // boolean

class CVNTrelvaneController {
 public:
  static CVNTrelvaneController& sharedController();

  CVNTrelvaneController(const CVNTrelvaneController&) = delete;
  CVNTrelvaneController& operator=(const CVNTrelvaneController&) = delete;

  // The connected boxes, in connection order (a snapshot).
  std::vector<std::shared_ptr<GPIDeviceController>> devices() const;
  // The connected box with this serial number, or nullptr.
  std::shared_ptr<GPIDeviceController> deviceWithSerialNumber(std::string_view serialNumber) const;

 private:
  CVNTrelvaneController();

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<GPIDeviceController>> devices_;  // guarded by mutex_
  NotAvailableNotice notice_{"GPI box control"};
};

}  // namespace app
