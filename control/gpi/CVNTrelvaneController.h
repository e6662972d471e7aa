#pragma once
// CVNTrelvaneController: the process's GPI box manager. It keeps one
// GPIDeviceController per attached box (keyed by USB serial number, whatever
// the order in which the box's two interfaces appear), ends a box when either
// interface goes away or a transfer breaks, and posts the box notifications on
// the main queue:
//   "TrelvaneDeviceDidConnect"      object: the box (posted by the box itself)
//   "TrelvaneDeviceDidDisconnect"   object: the box
//   "TrelvaneDeviceInputDidChange"  object: a Value dictionary "deviceSerial",
//                                   "inputIndex" (0-based), "newState"
//   "TrelvaneDeviceOutputDidChange" object: "deviceSerial", "outputIndex", "newState"
//
// Boxes are found by a GPIBoxWatcher: USB hot-plug through libusb in the
// process (sharedController()), a fake in tests. Without USB access the
// watcher says so once in the technical log and the manager sees no box.
//
// sharedController() is made on first use and lives for the process. Box
// arrivals, removals and the delegate calls run on the main thread; the
// lookups are safe from any thread (the list has its own lock).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "control/gpi/GPIDeviceController.h"
#include "control/gpi/GPITransport.h"

namespace control {

inline constexpr const char* kTrelvaneDeviceDidDisconnectNotification = "TrelvaneDeviceDidDisconnect";
inline constexpr const char* kTrelvaneDeviceInputDidChangeNotification = "TrelvaneDeviceInputDidChange";
inline constexpr const char* kTrelvaneDeviceOutputDidChangeNotification = "TrelvaneDeviceOutputDidChange";
inline constexpr const char* kTrelvaneDeviceSerialKey = "deviceSerial";  // string
inline constexpr const char* kTrelvaneInputIndexKey = "inputIndex";      // integer, 0-based
inline constexpr const char* kTrelvaneOutputIndexKey = "outputIndex";    // integer, 0-based
inline constexpr const char* kTrelvaneNewStateKey = "newState";          // boolean

inline constexpr std::uint16_t kTrelvaneVendorID = 0x07C0;
inline constexpr std::uint16_t kTrelvaneProductIDs[] = {0x1500, 0x1503, 0x1506};

// Box type of a USB product id: 0x1503 is 2, 0x1506 is 3, any other 1.
std::int32_t trelvaneDeviceTypeForProduct(std::uint16_t productID);

// Finds boxes and tells of their interfaces coming and going (main thread).
class GPIBoxWatcher {
 public:
  struct Events {
    std::function<void(std::shared_ptr<GPITransport> interface, std::int32_t deviceType, std::string serialNumber)>
        added;
    std::function<void(const GPITransport* interface)> removed;
  };
  virtual ~GPIBoxWatcher() = default;
  // Starts watching; boxes already attached are reported too.
  virtual void start(Events events) = 0;
};

class CVNTrelvaneController : public GPIDeviceController_Delegate {
 public:
  // The process's manager, watching USB.
  static CVNTrelvaneController& sharedController();

  // A manager fed by `watcher` (hosts and tests); starts it at once. Posts to
  // `center` (nullptr: the default centre), which must outlive it.
  explicit CVNTrelvaneController(std::unique_ptr<GPIBoxWatcher> watcher, platform::NotificationCenter* center = nullptr);
  ~CVNTrelvaneController() override;
  CVNTrelvaneController(const CVNTrelvaneController&) = delete;
  CVNTrelvaneController& operator=(const CVNTrelvaneController&) = delete;

  // Snapshot of the boxes, in the order they were first seen.
  std::vector<std::shared_ptr<GPIDeviceController>> devices() const;
  std::shared_ptr<GPIDeviceController> deviceAtIndex(std::size_t index) const;
  std::shared_ptr<GPIDeviceController> deviceWithSerialNumber(std::string_view serialNumber) const;
  std::shared_ptr<GPIDeviceController> deviceWithDeviceRef(const GPITransport* interface) const;

  // Main thread: an interface of a box appeared or went away.
  void deviceAdded(std::shared_ptr<GPITransport> interface, std::int32_t deviceType, const std::string& serialNumber);
  void deviceRemoved(const GPITransport* interface);

  void GPIDeviceWithSerialNumberInputAtIndex(const std::string& serialNumber, std::int32_t index, bool state) override;
  void GPIDeviceWithSerialNumberOutputAtIndex(const std::string& serialNumber, std::int32_t index,
                                              bool state) override;
  void GPIDeviceDidFail(GPIDeviceController& device) override;

 private:
  void removeDevice(const std::shared_ptr<GPIDeviceController>& device);
  void postChange(const char* name, const char* indexKey, const std::string& serialNumber, std::int32_t index,
                  bool state);

  platform::NotificationCenter& center_;  // not owned

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<GPIDeviceController>> devices_;  // guarded by mutex_
  std::unique_ptr<GPIBoxWatcher> watcher_;
};

}  // namespace control
