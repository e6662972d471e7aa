#pragma once
// A device found by a plug-in: its inputs and outputs. What a plug-in's
// principal instance answers (the device controller protocol) and what it
// calls back on the controller.
//
// Threads: any; a plug-in reports devices from its own threads.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pluginframework/CVNVideoInput.h"
#include "pluginframework/CVNVideoOutput.h"

namespace pluginframework {

class CVNDevice {
 public:
  virtual ~CVNDevice() = default;
  virtual std::vector<std::shared_ptr<CVNVideoInput>> inputs() const = 0;
  virtual std::vector<std::shared_ptr<CVNVideoOutput>> outputs() const = 0;
};

using CVNDeviceRef = std::shared_ptr<CVNDevice>;

// Callbacks of a plug-in to the controller.
class CVNDeviceControllerDelegate {
 public:
  virtual ~CVNDeviceControllerDelegate() = default;
  virtual void deviceAppeared(const CVNDeviceRef& device) = 0;
  virtual void deviceDisappeared(const CVNDeviceRef& device) = 0;
  virtual void deviceConfigurationWillChange(const CVNDeviceRef& device, bool forcingStreamToStop) = 0;
  virtual void deviceConfigurationChanged(const CVNDeviceRef& device) = 0;
  virtual void logMessage(const std::string& message, std::int32_t level, bool show) = 0;
};

// A plug-in's principal instance.
class CVNDeviceControllerProtocol {
 public:
  virtual ~CVNDeviceControllerProtocol() = default;
  virtual std::string pluginName() const = 0;
  virtual std::string pluginVersionString() const = 0;
  virtual std::string apiVersionString() const = 0;
  virtual std::optional<std::string> SDKVersionString() const = 0;
  virtual bool driversSupportsARM64() const = 0;
  virtual bool driverIsInstalled() const = 0;
  virtual bool driverVersionSupported() const = 0;
  virtual bool driverIsUpToDate() const = 0;
  // Not owned; outlives the plug-in's device reports.
  virtual void setDelegate(CVNDeviceControllerDelegate* delegate) = 0;
  virtual void searchCards() = 0;
  virtual void stopSearchingCards() = 0;
  virtual std::vector<CVNDeviceRef> devices() const = 0;
  virtual std::int32_t deviceType() const = 0;
  // Type 3 only; nullptr otherwise.
  virtual CVNDeviceRef createVirtualOutputWithName(const std::string& name, const std::string& uniqueID,
                                                   bool hidden) = 0;
};

using CVNDeviceControllerProtocolRef = std::shared_ptr<CVNDeviceControllerProtocol>;

}  // namespace pluginframework
