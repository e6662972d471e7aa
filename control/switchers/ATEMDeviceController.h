#pragma once
// ATEMDeviceController: follows and drives one ATEM production switcher
// through its driver (see ATEMSwitcherDriver.h). It keeps a small model of
// the switcher, reports changes to its delegate, and turns the program tally
// of the clip player input into start and stop signals.
//
// Threads: connect and disconnect may be called from any thread; the driver's
// connect call and the stop work of disconnect run on the serial queue
// "com.dirarovazovo.ATEMDeviceControllerConnection"; the model, the observable
// properties and every delegate call live on the main thread. Driver events
// are posted to the main queue without waiting. A failed attempt or a lost
// connection is retried after 5.0 s (platform::Clock) while the controller
// should be connected, except when the driver is missing or the firmware
// does not fit.
//
// Owned by the application delegate; destroyed on the main thread.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "control/switchers/ATEMModel.h"
#include "control/switchers/ATEMMonitors.h"
#include "control/switchers/ComPtr.h"
#include "platform/DispatchQueue.h"
#include "platform/Observable.h"

namespace control {

inline constexpr const char* kATEMConnectionQueueLabel = "com.dirarovazovo.ATEMDeviceControllerConnection";
inline constexpr const char* kATEMDriversNotInstalled = "ATEM Drivers not installed";
inline constexpr const char* kATEMNoResponse = "No response from Switcher";
inline constexpr const char* kATEMIncompatibleFirmware = "Switcher has incompatible firmware";
inline constexpr const char* kATEMUnknownFailure = "Connection failed for unknown reason";
inline constexpr platform::Clock::Duration kATEMRetryDelay = std::chrono::milliseconds(5000);

class ATEMDeviceController;

// Main thread. Indexes are positions in the controller's lists, -1 when the
// object is not in the list.
class ATEMDeviceController_Delegate {
 public:
  virtual ~ATEMDeviceController_Delegate() = default;
  virtual void ATEMDeviceDidConnect(ATEMDeviceController& device) = 0;
  virtual void ATEMDeviceDidDisconnect(ATEMDeviceController& device) = 0;
  virtual void ATEMLabelOfDownstreamKeyerAtIndex(std::int32_t index, const std::string& label,
                                                 ATEMDeviceController& device) = 0;
  virtual void ATEMLabelOfInputAtIndex(std::int32_t index, const std::string& label, ATEMDeviceController& device) = 0;
  virtual void ATEMConfigurationDidChangeForDevice(ATEMDeviceController& device) = 0;
  virtual void ATEMSelectedInput(std::int32_t input, std::int32_t output, ATEMDeviceController& device) = 0;
  virtual void ATEMExternalAudioInputDidChangeState(bool state, ATEMDeviceController& device) = 0;
  virtual void ATEMDownstreamKeyerAtIndex(std::int32_t index, bool onAir, ATEMDeviceController& device) = 0;
  virtual void ATEMTriggeredPlaybackStartForDevice(ATEMDeviceController& device) = 0;
  virtual void ATEMTriggeredPlaybackStopForDevice(ATEMDeviceController& device) = 0;
};

class ATEMDeviceController {
 public:
  ATEMDeviceController();
  ~ATEMDeviceController();
  ATEMDeviceController(const ATEMDeviceController&) = delete;
  ATEMDeviceController& operator=(const ATEMDeviceController&) = delete;

  ATEMDeviceController_Delegate* delegate() const { return delegate_; }
  void setDelegate(ATEMDeviceController_Delegate* delegate) { delegate_ = delegate; }  // not owned

  std::string switcherName() const;
  std::string switcherIPAddress() const;
  void setSwitcherIPAddress(std::string address);
  std::int64_t indexOfClipPlayerInput() const { return indexOfClipPlayerInput_; }
  void setIndexOfClipPlayerInput(std::int64_t index) { indexOfClipPlayerInput_ = index; }
  bool isPlayingClip() const { return isPlayingClip_; }

  // Observable (main thread sets them).
  platform::Observable<bool>& isConnected() { return isConnected_; }
  platform::Observable<bool>& isConnecting() { return isConnecting_; }
  platform::Observable<std::vector<ATEMInput>>& availableInputs() { return availableInputs_; }
  std::vector<ATEMOutput> availableOutputs() const { return availableOutputs_; }
  std::vector<ATEMDownstreamKeyer> availableDownstreamKeyers() const { return availableDownstreamKeyers_; }

  void connect();
  void disconnect();

  static std::string stringWithOSType(std::uint32_t code);
  static bool validateIPAddress(const std::string& address);

  // Lookups (main thread, from the model).
  std::size_t numberOfInputs() const { return availableInputs_.get().size(); }
  std::size_t numberOfOutputs() const { return availableOutputs_.size(); }
  std::optional<std::string> nameOfOutputAtIndex(std::int64_t index) const;
  std::int64_t indexOfOutputWithName(const std::string& name) const;
  std::int64_t indexOfInputWithName(const std::string& name) const;
  std::optional<ATEMInput> inputWithIdentifier(std::int64_t identifier) const;
  std::optional<ATEMOutput> outputWithIdentifier(std::int64_t identifier) const;
  std::int32_t indexOfInputWithIdentifier(std::int64_t identifier) const;
  std::int32_t indexOfOutputWithIdentifier(std::int64_t identifier) const;
  std::int32_t indexOfProgramOutput() const { return indexOfOutputWithIdentifier(kATEMProgramOutputIdentifier); }
  std::int32_t indexOfPreviewOutput() const { return indexOfOutputWithIdentifier(kATEMPreviewOutputIdentifier); }
  std::optional<ATEMOutput> programOutput() const { return outputWithIdentifier(kATEMProgramOutputIdentifier); }
  std::optional<ATEMOutput> previewOutput() const { return outputWithIdentifier(kATEMPreviewOutputIdentifier); }

  // Control (main thread); false when the switcher refuses or cannot be asked.
  bool selectInputAtIndex(std::int64_t inputIndex, std::int64_t outputIndex);
  bool setAuxOutputWithIdentifier(std::int64_t outputIdentifier, std::int64_t inputIdentifier);
  bool setKeyState(bool onAir, std::int32_t keyerIndex);
  bool keyStateForDownstreamKeyerAtIndex(std::int32_t keyerIndex);
  bool runMacroWithName(const std::string& name);
  bool isBackgroundEnabledForTransitions();

  // Connection steps. Monitoring starts and stops only on the connection
  // queue, so a disconnect can never run between a start's registrations.
  void switcherDidConnect();                                           // connection queue
  void switcherDidFailToConnectWithReason(const std::string& reason);  // connection queue
  void switcherDidDisconnect();                                        // main thread, from the monitor
  // Steps the monitors and the connection queue hand to the main thread.
  void updateInputNames();
  void updateInputNameWithIdentifier(std::int64_t identifier);
  void updateDownstreamKeyerNames();
  void updateOutputNames();
  void updateProgramState();
  void updatePreviewState() {}
  void updateInTransitionState() {}
  void updateAuxState();
  void updateDownstreamKeyerStateAtIndex(std::int32_t index);
  void updateMacroNames();
  void tallyOnProgramInputNameWithIdentifier(std::int64_t identifier);
  void tallyOffProgramInputNameWithIdentifier(std::int64_t identifier);

 private:
  // The driver objects of the current connection, taken together.
  struct Session {
    ComPtr<atem::IBMDSwitcher> switcher;
    ComPtr<atem::IBMDSwitcherMixEffectBlock> mixEffectBlock;
    ComPtr<atem::IBMDSwitcherMacroPool> macroPool;
  };
  Session session() const;
  ComPtr<atem::IBMDSwitcherInputIterator> makeInputIterator() const;

  bool startSwitcherMonitoring();
  // Connection queue; `thenOnMain` runs in the main-thread task that marks the controller idle.
  void stopSwitcherMonitoring(std::function<void()> thenOnMain = nullptr);
  void retryConnectingToTheSwitcher();
  void addBuiltInOutputs(const ComPtr<atem::IBMDSwitcherMixEffectBlock>& block);
  void postToMain(std::function<void()> task);
  void setSwitcherName(std::string name);
  void log(std::uint32_t level, bool show, const std::string& message) const;
  bool shouldRetry() const;

  ATEMDeviceController_Delegate* delegate_ = nullptr;  // not owned; outlives this
  std::int64_t indexOfClipPlayerInput_ = -1;
  bool isPlayingClip_ = false;

  platform::Observable<bool> isConnected_{false};
  platform::Observable<bool> isConnecting_{false};
  platform::Observable<std::vector<ATEMInput>> availableInputs_;
  std::vector<ATEMOutput> availableOutputs_;                    // main thread
  std::vector<ATEMDownstreamKeyer> availableDownstreamKeyers_;  // main thread

  mutable std::mutex stateMutex_;
  std::string switcherName_;       // guarded by stateMutex_
  std::string switcherIPAddress_;  // guarded by stateMutex_
  Session session_;                // guarded by stateMutex_
  std::vector<ComPtr<InputMonitor>> inputMonitors_;                // guarded by stateMutex_
  std::vector<ComPtr<InputAuxMonitor>> inputAuxMonitors_;          // guarded by stateMutex_
  std::vector<ComPtr<DownstreamKeyerMonitor>> keyerMonitors_;      // guarded by stateMutex_

  mutable std::mutex macroMutex_;
  std::map<std::string, std::uint32_t> macroIndexes_;  // guarded by macroMutex_

  std::atomic<bool> shouldBeConnected_{false};
  std::atomic<bool> shouldReconnect_{true};

  std::shared_ptr<ATEMEventSink> sink_;
  ComPtr<SwitcherMonitor> switcherMonitor_;
  ComPtr<MixEffectBlockMonitor> mixEffectBlockMonitor_;
  // Lets main-queue work and the retry timer find out that the controller is
  // gone. All three run on the main thread, so the flag needs no lock.
  struct Lifetime {
    bool alive = true;
  };
  std::shared_ptr<Lifetime> lifetime_ = std::make_shared<Lifetime>();
  platform::TaskHandle retry_;
  platform::SerialQueue connectionQueue_{kATEMConnectionQueueLabel};  // last: joined first
};

}  // namespace control
