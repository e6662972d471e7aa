#pragma once
// The controller's listeners on the switcher driver. Each implements one
// callback interface with its own atomic reference count. An event arrives
// on a driver thread, is read there where it needs the driver (tally,
// identifiers) and is posted to the main queue without waiting, so a driver
// thread never blocks on the main thread. A posted event runs only while the
// controller lives, its connection is still the current one and the monitor
// has not been stopped.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "control/switchers/ComPtr.h"

namespace control {

class ATEMDeviceController;

// Where monitors deliver: the controller while it lives, and the number of
// the connection the events belong to. Shared with posted tasks.
class ATEMEventSink : public std::enable_shared_from_this<ATEMEventSink> {
 public:
  explicit ATEMEventSink(ATEMDeviceController* owner) : owner_(owner) {}
  // Main thread, from the controller's destructor.
  void close() { open_.store(false); }
  // Any thread: events read before this belong to a finished connection.
  void beginNewConnection() { ++generation_; }

  // Posts `event` to the main queue; dropped there when the sink is closed,
  // the connection changed or `stopped` is set.
  void post(std::function<void(ATEMDeviceController&)> event, std::shared_ptr<const std::atomic<bool>> stopped);

 private:
  ATEMDeviceController* const owner_;  // not owned; valid while open_
  std::atomic<bool> open_{true};
  std::atomic<std::uint64_t> generation_{0};
};

// Reference counting and interface queries for one callback interface.
template <typename Interface, const atem::InterfaceID& kIID>
class ATEMMonitor : public Interface {
 public:
  atem::HRESULT QueryInterface(const atem::InterfaceID& iid, void** object) override {
    if (!object) return atem::E_POINTER;
    if (iid == kIID || iid == atem::IID_IUnknown) {
      AddRef();
      *object = static_cast<Interface*>(this);
      return atem::S_OK;
    }
    *object = nullptr;
    return atem::E_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return count_.fetch_add(1) + 1; }
  std::uint32_t Release() override {
    const std::uint32_t left = count_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

  // Later events of this monitor are dropped, also those already posted.
  void stop() { stopped_->store(true); }

 protected:
  explicit ATEMMonitor(std::shared_ptr<ATEMEventSink> sink) : sink_(std::move(sink)) {}
  ~ATEMMonitor() override = default;
  void deliver(std::function<void(ATEMDeviceController&)> event) { sink_->post(std::move(event), stopped_); }

 private:
  std::atomic<std::uint32_t> count_{1};
  std::shared_ptr<ATEMEventSink> sink_;
  std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

class SwitcherMonitor final : public ATEMMonitor<atem::IBMDSwitcherCallback, atem::IID_IBMDSwitcherCallback> {
 public:
  explicit SwitcherMonitor(std::shared_ptr<ATEMEventSink> sink) : ATEMMonitor(std::move(sink)) {}
  atem::HRESULT Notify(atem::FourCharCode eventType) override;
};

class MixEffectBlockMonitor final
    : public ATEMMonitor<atem::IBMDSwitcherMixEffectBlockCallback, atem::IID_IBMDSwitcherMixEffectBlockCallback> {
 public:
  explicit MixEffectBlockMonitor(std::shared_ptr<ATEMEventSink> sink) : ATEMMonitor(std::move(sink)) {}
  atem::HRESULT PropertyChanged(atem::FourCharCode propertyId) override;
};

// Watches one input; registered with it while it lives.
class InputMonitor final : public ATEMMonitor<atem::IBMDSwitcherInputCallback, atem::IID_IBMDSwitcherInputCallback> {
 public:
  InputMonitor(ComPtr<atem::IBMDSwitcherInput> input, std::shared_ptr<ATEMEventSink> sink);
  atem::HRESULT Notify(atem::FourCharCode eventType) override;
  // Stops the monitor and takes it off its input (the input's reference to
  // the monitor goes with it).
  void detach();

 private:
  ComPtr<atem::IBMDSwitcherInput> input_;
  std::once_flag detached_;
};

// Watches one aux bus; its events are all ignored.
class InputAuxMonitor final
    : public ATEMMonitor<atem::IBMDSwitcherInputAuxCallback, atem::IID_IBMDSwitcherInputAuxCallback> {
 public:
  InputAuxMonitor(ComPtr<atem::IBMDSwitcherInputAux> aux, std::shared_ptr<ATEMEventSink> sink);
  atem::HRESULT Notify(atem::FourCharCode) override { return atem::S_OK; }
  void detach();

 private:
  ComPtr<atem::IBMDSwitcherInputAux> aux_;
  std::once_flag detached_;
};

class DownstreamKeyerMonitor final
    : public ATEMMonitor<atem::IBMDSwitcherDownstreamKeyCallback, atem::IID_IBMDSwitcherDownstreamKeyCallback> {
 public:
  DownstreamKeyerMonitor(ComPtr<atem::IBMDSwitcherDownstreamKey> keyer, std::int32_t index,
                         std::shared_ptr<ATEMEventSink> sink);
  atem::HRESULT Notify(atem::FourCharCode eventType) override;
  void detach();

 private:
  ComPtr<atem::IBMDSwitcherDownstreamKey> keyer_;
  const std::int32_t index_;
  std::once_flag detached_;
};

}  // namespace control
