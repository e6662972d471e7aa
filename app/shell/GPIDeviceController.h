#pragma once
// GPIDeviceController: one connected USB GPI box, as the GPI box watcher
// (CVNTrelvaneController) hands it out: its serial number and its output
// lines. This build has no GPI box driver: a box object keeps the output
// states it is given and says once in the technical log that it cannot reach
// the hardware.
//
// Owned by the watcher (shared with callers that looked it up). Main thread.

#include <cstdint>
#include <map>
#include <string>

#include "app/shell/NotAvailableNotice.h"

namespace app {

class GPIDeviceController {
 public:
  explicit GPIDeviceController(std::string serialNumber);
  GPIDeviceController(const GPIDeviceController&) = delete;
  GPIDeviceController& operator=(const GPIDeviceController&) = delete;

  const std::string& serialNumber() const { return serialNumber_; }

  // Switches the output line at `index` (0-based) on or off.
  void setOutputState(bool state, std::int64_t index);
  // The state last set for the line; false for a line never set.
  bool outputState(std::int64_t index) const;

 private:
  const std::string serialNumber_;
  std::map<std::int64_t, bool> outputStates_;
  NotAvailableNotice notice_;
};

}  // namespace app
