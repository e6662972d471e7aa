#pragma once
// A device input as the plug-ins present it: name, unique ID, device type,
// running state, selected display mode, connection description, capture
// start and stop, a settings dictionary and a delegate that receives the
// captured frames (the live sources define it). Abstract: inputs come with
// the plug-ins.
//
// Threads: control calls from the live source registry's queue; captured
// frames arrive on the device's capture thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Observable.h"
#include "platform/Value.h"
#include "pluginframework/CVNDisplayMode.h"

namespace pluginframework {

// What an input calls back with captured frames: live sources extend it.
class CVNVideoInputDelegate {
 public:
  virtual ~CVNVideoInputDelegate() = default;
};

class CVNVideoInput {
 public:
  virtual ~CVNVideoInput() = default;

  virtual std::string name() const = 0;
  virtual std::string uniqueID() const = 0;
  virtual std::int32_t deviceType() const = 0;
  virtual bool isRunning() const = 0;
  virtual std::shared_ptr<const CVNDisplayMode> selectedDisplayMode() const = 0;
  virtual void setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) = 0;
  // True when capture started; otherwise false with the reason in `error`.
  virtual bool startCapture(platform::Error* error) = 0;
  virtual void stopCapture() = 0;
  virtual platform::Dictionary settings() const = 0;
  virtual void setSettings(const platform::Dictionary& settings) = 0;
  // Not owned; the delegate outlives capture (set to nullptr before it goes).
  virtual void setDelegate(CVNVideoInputDelegate* delegate) = 0;

  platform::Observable<std::string>& connectionDescription() { return connectionDescription_; }

 private:
  platform::Observable<std::string> connectionDescription_;
};

}  // namespace pluginframework
