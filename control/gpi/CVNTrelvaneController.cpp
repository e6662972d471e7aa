#include "control/gpi/CVNTrelvaneController.h"

#include <algorithm>

#include "control/gpi/UsbGPIBoxWatcher.h"
#include "platform/NotificationCenter.h"

namespace control {
void CVNTrelvaneController::postChange(const char* name, const char* indexKey, const std::string& serialNumber,
                                       std::int32_t index, bool state) {
  platform::Notification notification;
  notification.name = name;
  notification.object = platform::Value(platform::Dictionary{{kTrelvaneDeviceSerialKey, platform::Value(serialNumber)},
                                                             {indexKey, platform::Value(index)},
                                                             {kTrelvaneNewStateKey, platform::Value(state)}});
  center_.postOnMainThread(std::move(notification));
}

std::int32_t trelvaneDeviceTypeForProduct(std::uint16_t productID) {
  if (productID == 0x1503) return 2;
  if (productID == 0x1506) return 3;
  return 1;
}

CVNTrelvaneController& CVNTrelvaneController::sharedController() {
  static CVNTrelvaneController* controller = new CVNTrelvaneController(std::make_unique<UsbGPIBoxWatcher>());
  return *controller;
}

CVNTrelvaneController::CVNTrelvaneController(std::unique_ptr<GPIBoxWatcher> watcher, platform::NotificationCenter* center)
    : center_(center ? *center : platform::NotificationCenter::defaultCenter()), watcher_(std::move(watcher)) {
  GPIBoxWatcher::Events events;
  events.added = [this](std::shared_ptr<GPITransport> interface, std::int32_t type, std::string serialNumber) {
    deviceAdded(std::move(interface), type, serialNumber);
  };
  events.removed = [this](const GPITransport* interface) { deviceRemoved(interface); };
  watcher_->start(std::move(events));
}

CVNTrelvaneController::~CVNTrelvaneController() {
  std::vector<std::shared_ptr<GPIDeviceController>> devices;
  {
    std::lock_guard guard(mutex_);
    devices.swap(devices_);
  }
  for (const auto& device : devices) {
    device->setDelegate(nullptr);
    device->close();
  }
  // The boxes' interfaces are closed before the watcher that serves them stops.
  watcher_.reset();
}

std::vector<std::shared_ptr<GPIDeviceController>> CVNTrelvaneController::devices() const {
  std::lock_guard guard(mutex_);
  return devices_;
}

std::shared_ptr<GPIDeviceController> CVNTrelvaneController::deviceAtIndex(std::size_t index) const {
  std::lock_guard guard(mutex_);
  return index < devices_.size() ? devices_[index] : nullptr;
}

std::shared_ptr<GPIDeviceController> CVNTrelvaneController::deviceWithSerialNumber(
    std::string_view serialNumber) const {
  std::lock_guard guard(mutex_);
  for (const auto& device : devices_) {
    if (device->serialNumber() == serialNumber) return device;
  }
  return nullptr;
}

std::shared_ptr<GPIDeviceController> CVNTrelvaneController::deviceWithDeviceRef(const GPITransport* interface) const {
  if (!interface) return nullptr;
  std::lock_guard guard(mutex_);
  for (const auto& device : devices_) {
    if (device->deviceRefForInterface0().get() == interface || device->deviceRefForInterface1().get() == interface) {
      return device;
    }
  }
  return nullptr;
}

void CVNTrelvaneController::deviceAdded(std::shared_ptr<GPITransport> interface, std::int32_t deviceType,
                                        const std::string& serialNumber) {
  if (!interface || serialNumber.empty()) return;
  std::shared_ptr<GPIDeviceController> device = deviceWithSerialNumber(serialNumber);
  if (!device) {
    device = std::make_shared<GPIDeviceController>(serialNumber, deviceType, this, &center_);
    std::lock_guard guard(mutex_);
    devices_.push_back(device);
  }
  switch (interface->interfaceNumber()) {
    case 0:
      device->setDeviceRefForInterface0(std::move(interface));
      break;
    case 1:
      device->setDeviceRefForInterface1(std::move(interface));
      break;
    default:
      break;  // not an interface of these boxes: the box stays without it
  }
}

void CVNTrelvaneController::deviceRemoved(const GPITransport* interface) {
  if (auto device = deviceWithDeviceRef(interface)) removeDevice(device);
}

void CVNTrelvaneController::GPIDeviceDidFail(GPIDeviceController& device) {
  removeDevice(device.shared_from_this());
}

void CVNTrelvaneController::removeDevice(const std::shared_ptr<GPIDeviceController>& device) {
  {
    std::lock_guard guard(mutex_);
    auto found = std::find(devices_.begin(), devices_.end(), device);
    if (found == devices_.end()) return;
    devices_.erase(found);
  }
  device->close();
  platform::Notification notification;
  notification.name = kTrelvaneDeviceDidDisconnectNotification;
  notification.sender = device.get();
  notification.object = device;
  center_.postOnMainThread(std::move(notification));
}

void CVNTrelvaneController::GPIDeviceWithSerialNumberInputAtIndex(const std::string& serialNumber,
                                                                  std::int32_t index, bool state) {
  postChange(kTrelvaneDeviceInputDidChangeNotification, kTrelvaneInputIndexKey, serialNumber, index, state);
}

void CVNTrelvaneController::GPIDeviceWithSerialNumberOutputAtIndex(const std::string& serialNumber,
                                                                   std::int32_t index, bool state) {
  postChange(kTrelvaneDeviceOutputDidChangeNotification, kTrelvaneOutputIndexKey, serialNumber, index, state);
}

}  // namespace control
