#include "control/switchers/ATEMMonitors.h"

#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/SwitcherConsole.h"
#include "platform/DispatchQueue.h"

namespace control {

void ATEMEventSink::post(std::function<void(ATEMDeviceController&)> event,
                         std::shared_ptr<const std::atomic<bool>> stopped) {
  const std::uint64_t generation = generation_.load();
  platform::DispatchQueue::main().async(
      [self = shared_from_this(), event = std::move(event), stopped = std::move(stopped), generation] {
        if (!self->open_.load() || generation != self->generation_.load() || stopped->load()) return;
        event(*self->owner_);
      });
}

atem::HRESULT SwitcherMonitor::Notify(atem::FourCharCode eventType) {
  if (eventType == atem::kSwitcherEventDisconnected) {
    deliver([](ATEMDeviceController& controller) { controller.switcherDidDisconnect(); });
  }
  return atem::S_OK;
}

atem::HRESULT MixEffectBlockMonitor::PropertyChanged(atem::FourCharCode propertyId) {
  switch (propertyId) {
    case atem::kMixEffectProgramInput:
      deliver([](ATEMDeviceController& controller) { controller.updateProgramState(); });
      break;
    case atem::kMixEffectPreviewInput:
      deliver([](ATEMDeviceController& controller) { controller.updatePreviewState(); });
      break;
    case atem::kMixEffectInTransition:
      deliver([](ATEMDeviceController& controller) { controller.updateInTransitionState(); });
      break;
    default:
      break;
  }
  return atem::S_OK;
}

InputMonitor::InputMonitor(ComPtr<atem::IBMDSwitcherInput> input, std::shared_ptr<ATEMEventSink> sink)
    : ATEMMonitor(std::move(sink)), input_(std::move(input)) {
  input_->AddCallback(this);
}

void InputMonitor::detach() {
  stop();
  std::call_once(detached_, [this] { input_->RemoveCallback(this); });
}

atem::HRESULT InputMonitor::Notify(atem::FourCharCode eventType) {
  if (eventType != atem::kInputEventProgramTally && eventType != atem::kInputEventLongName) return atem::S_OK;
  atem::BMDSwitcherInputId identifier = 0;
  if (input_->GetInputId(&identifier) < 0) return atem::S_OK;
  if (eventType == atem::kInputEventLongName) {
    deliver([identifier](ATEMDeviceController& controller) { controller.updateInputNameWithIdentifier(identifier); });
    return atem::S_OK;
  }
  bool tallied = false;
  if (input_->IsProgramTallied(&tallied) < 0) return atem::S_OK;
  switcherConsoleLog(tallied ? "Input %lli is ON PROGRAM" : "Input %lli is OFF PROGRAM",
                     static_cast<long long>(identifier));
  deliver([identifier, tallied](ATEMDeviceController& controller) {
    if (tallied) {
      controller.tallyOnProgramInputNameWithIdentifier(identifier);
    } else {
      controller.tallyOffProgramInputNameWithIdentifier(identifier);
    }
  });
  return atem::S_OK;
}

InputAuxMonitor::InputAuxMonitor(ComPtr<atem::IBMDSwitcherInputAux> aux, std::shared_ptr<ATEMEventSink> sink)
    : ATEMMonitor(std::move(sink)), aux_(std::move(aux)) {
  aux_->AddCallback(this);
}

void InputAuxMonitor::detach() {
  stop();
  std::call_once(detached_, [this] { aux_->RemoveCallback(this); });
}

DownstreamKeyerMonitor::DownstreamKeyerMonitor(ComPtr<atem::IBMDSwitcherDownstreamKey> keyer, std::int32_t index,
                                               std::shared_ptr<ATEMEventSink> sink)
    : ATEMMonitor(std::move(sink)), keyer_(std::move(keyer)), index_(index) {
  keyer_->AddCallback(this);
}

void DownstreamKeyerMonitor::detach() {
  stop();
  std::call_once(detached_, [this] { keyer_->RemoveCallback(this); });
}

atem::HRESULT DownstreamKeyerMonitor::Notify(atem::FourCharCode eventType) {
  if (eventType == atem::kDownstreamKeyEventOnAir) {
    deliver([index = index_](ATEMDeviceController& controller) {
      controller.updateDownstreamKeyerStateAtIndex(index);
    });
  }
  return atem::S_OK;
}

}  // namespace control
