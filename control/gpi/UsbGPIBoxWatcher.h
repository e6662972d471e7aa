#pragma once
// UsbGPIBoxWatcher: finds GPI boxes on USB through libusb hot-plug and hands
// out one UsbGPITransport per box interface (0 and 1). The kernel's driver
// for these chips is detached from each interface the box takes.
//
// libusb's events (hot-plug, transfer completions) run on the watcher's own
// thread "com.dirarovazovo.GPIBoxEvents"; opening a new box runs on the
// serial queue "com.dirarovazovo.GPIBoxes"; arrivals, removals and reports
// reach their owners on the main queue. Without USB access (no libusb
// context, no hot-plug support) the watcher logs that once and reports no box.
//
// Owned by the box manager; lives for the process in the application.

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "control/gpi/CVNTrelvaneController.h"

namespace platform {
class SerialQueue;
class Thread;
}  // namespace platform

namespace control {

class UsbContext;

class UsbGPIBoxWatcher final : public GPIBoxWatcher {
 public:
  UsbGPIBoxWatcher();
  ~UsbGPIBoxWatcher() override;
  UsbGPIBoxWatcher(const UsbGPIBoxWatcher&) = delete;
  UsbGPIBoxWatcher& operator=(const UsbGPIBoxWatcher&) = delete;

  void start(Events events) override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace control
