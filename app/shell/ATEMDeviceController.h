#pragma once
// ATEMDeviceController: the controller of one production switcher of the
// "ATEM" brand. Given the switcher's address and the input that carries the
// playout, it connects and tells its delegate when that input's program tally
// goes on (start the playlist) and off (stop it).
//
// This build has no driver for this switcher: the controller keeps its
// settings, never connects, calls no delegate operation and says once in the
// technical log that it is not available.
//
// Owned by the application delegate; the delegate it reports to is not owned
// and outlives it. Main thread.

#include <cstdint>
#include <string>

#include "app/shell/NotAvailableNotice.h"

namespace app {

class ATEMDeviceController;

// What the switcher controller tells the application (main thread). Every
// operation has an empty default except the two playback triggers.
class ATEMDeviceController_Delegate {
 public:
  virtual ~ATEMDeviceController_Delegate() = default;

  virtual void ATEMTriggeredPlaybackStartForDevice(ATEMDeviceController& device) = 0;
  virtual void ATEMTriggeredPlaybackStopForDevice(ATEMDeviceController& device) = 0;

  virtual void ATEMDeviceDidConnect(ATEMDeviceController& /*device*/) {}
  virtual void ATEMDeviceDidDisconnect(ATEMDeviceController& /*device*/) {}
  virtual void ATEMConfigurationDidChangeForDevice(ATEMDeviceController& /*device*/) {}
  virtual void ATEMLabelOfInputAtIndex(std::int64_t /*index*/, const std::string& /*label*/,
                                       ATEMDeviceController& /*device*/) {}
  virtual void ATEMLabelOfDownstreamKeyerAtIndex(std::int64_t /*index*/, const std::string& /*label*/,
                                                 ATEMDeviceController& /*device*/) {}
  virtual void ATEMSelectedInput(std::int64_t /*input*/, std::int64_t /*output*/, ATEMDeviceController& /*device*/) {}
  virtual void ATEMExternalAudioInputDidChangeState(bool /*state*/, ATEMDeviceController& /*device*/) {}
  virtual void ATEMDownstreamKeyerAtIndex(std::int64_t /*index*/, bool /*onAir*/, ATEMDeviceController& /*device*/) {}
};

class ATEMDeviceController {
 public:
  ATEMDeviceController();
  ATEMDeviceController(const ATEMDeviceController&) = delete;
  ATEMDeviceController& operator=(const ATEMDeviceController&) = delete;

  ATEMDeviceController_Delegate* delegate() const { return delegate_; }
  void setDelegate(ATEMDeviceController_Delegate* delegate) { delegate_ = delegate; }

  // The switcher input number that carries the playout.
  std::int64_t indexOfClipPlayerInput() const { return indexOfClipPlayerInput_; }
  void setIndexOfClipPlayerInput(std::int64_t index) { indexOfClipPlayerInput_ = index; }
  const std::string& switcherIPAddress() const { return switcherIPAddress_; }
  void setSwitcherIPAddress(std::string address) { switcherIPAddress_ = std::move(address); }

  void connect();
  void disconnect();
  bool isConnected() const { return false; }

 private:
  ATEMDeviceController_Delegate* delegate_ = nullptr;  // not owned; outlives this
  std::int64_t indexOfClipPlayerInput_ = 0;
  std::string switcherIPAddress_;
  NotAvailableNotice notice_{"Switcher control (ATEM)"};
};

}  // namespace app
