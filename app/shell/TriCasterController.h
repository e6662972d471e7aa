#pragma once
// TriCasterController: the controller of one production switcher of the
// "TriCaster" brand. Given the switcher's address and the identifier of the
// input that carries the playout, it connects and tells its delegate when
// that input's program tally goes on (start the playlist) and off (stop it).
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

class TriCasterController;

// What the switcher controller tells the application (main thread). Every
// operation has an empty default except the two playback triggers.
class TriCasterController_Delegate {
 public:
  virtual ~TriCasterController_Delegate() = default;

  virtual void triCasterTriggeredPlaybackStartForDevice(TriCasterController& device) = 0;
  virtual void triCasterTriggeredPlaybackStopForDevice(TriCasterController& device) = 0;

  virtual void triCasterDidConnect(TriCasterController& /*device*/) {}
  virtual void triCasterDidDisconnect(TriCasterController& /*device*/) {}
  virtual void triCasterLabelOfInputAtIndex(std::int64_t /*index*/, const std::string& /*label*/,
                                            TriCasterController& /*device*/) {}
  virtual void triCasterConfigurationDidChangeForDevice(TriCasterController& /*device*/) {}
  virtual void triCasterSelectedInput(const std::string& /*input*/, const std::string& /*output*/,
                                      TriCasterController& /*device*/) {}
};

class TriCasterController {
 public:
  TriCasterController();
  TriCasterController(const TriCasterController&) = delete;
  TriCasterController& operator=(const TriCasterController&) = delete;

  TriCasterController_Delegate* delegate() const { return delegate_; }
  void setDelegate(TriCasterController_Delegate* delegate) { delegate_ = delegate; }

  // The identifier of the switcher input that carries the playout.
  const std::string& identifierOfClipPlayingInput() const { return identifierOfClipPlayingInput_; }
  void setIdentifierOfClipPlayingInput(std::string identifier) { identifierOfClipPlayingInput_ = std::move(identifier); }
  const std::string& switcherIPAddress() const { return switcherIPAddress_; }
  void setSwitcherIPAddress(std::string address) { switcherIPAddress_ = std::move(address); }

  void connect();
  void disconnect();
  bool isConnected() const { return false; }

 private:
  TriCasterController_Delegate* delegate_ = nullptr;  // not owned; outlives this
  std::string identifierOfClipPlayingInput_;
  std::string switcherIPAddress_;
  NotAvailableNotice notice_{"Switcher control (TriCaster)"};
};

}  // namespace app
