// The control operations the controller offers its users (main thread).

#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/SwitcherConsole.h"

namespace control {
namespace {

// The keyer at `index` of the switcher's downstream-key iterator, or none.
ComPtr<atem::IBMDSwitcherDownstreamKey> keyerAtIndex(atem::IBMDSwitcher& switcher, std::int32_t index) {
  ComPtr<atem::IBMDSwitcherDownstreamKeyIterator> iterator;
  if (index < 0 || switcher.CreateIterator(atem::IID_IBMDSwitcherDownstreamKeyIterator,
                                           reinterpret_cast<void**>(iterator.put())) < 0 ||
      !iterator) {
    return {};
  }
  ComPtr<atem::IBMDSwitcherDownstreamKey> keyer;
  for (std::int32_t position = 0; iterator->Next(keyer.put()) == atem::S_OK && keyer; ++position) {
    if (position == index) return keyer;
  }
  return {};
}

}  // namespace

bool ATEMDeviceController::selectInputAtIndex(std::int64_t inputIndex, std::int64_t outputIndex) {
  const std::vector<ATEMInput> inputs = availableInputs_.get();
  if (!isConnected_.get() || inputIndex < 0 || static_cast<std::size_t>(inputIndex) >= inputs.size() ||
      outputIndex < 0 || static_cast<std::size_t>(outputIndex) >= availableOutputs_.size()) {
    return false;
  }
  const std::int64_t output = availableOutputs_[static_cast<std::size_t>(outputIndex)].identifier;
  if (output != kATEMProgramOutputIdentifier && output != kATEMPreviewOutputIdentifier) return true;
  ComPtr<atem::IBMDSwitcherMixEffectBlock> block = session().mixEffectBlock;
  if (!block) return false;
  // The model follows when the switcher reports the change back.
  block->SetInt(output == kATEMProgramOutputIdentifier ? atem::kMixEffectProgramInput : atem::kMixEffectPreviewInput,
                inputs[static_cast<std::size_t>(inputIndex)].identifier);
  return true;
}

bool ATEMDeviceController::setAuxOutputWithIdentifier(std::int64_t outputIdentifier, std::int64_t inputIdentifier) {
  if (!session().switcher) return false;
  ComPtr<atem::IBMDSwitcherInputIterator> iterator = makeInputIterator();
  if (!iterator) {
    switcherConsoleLog("Could not create IBMDSwitcherInputIterator iterator");
    return false;
  }
  ComPtr<atem::IBMDSwitcherInput> input;
  while (iterator->Next(input.put()) == atem::S_OK && input) {
    atem::FourCharCode portType = 0;
    atem::BMDSwitcherInputId identifier = 0;
    if (input->GetPortType(&portType) != atem::S_OK || portType != atem::kPortTypeAuxOutput) continue;
    auto aux = ComPtr<atem::IBMDSwitcherInputAux>::query(input.get(), atem::IID_IBMDSwitcherInputAux);
    if (!aux || input->GetInputId(&identifier) != atem::S_OK || identifier != outputIdentifier) continue;
    aux->SetInputSource(inputIdentifier);
    const std::int32_t output = indexOfOutputWithIdentifier(outputIdentifier);
    if (output >= 0) availableOutputs_[static_cast<std::size_t>(output)].selectedSource = inputIdentifier;
    if (delegate_) delegate_->ATEMSelectedInput(indexOfInputWithIdentifier(inputIdentifier), output, *this);
    return true;
  }
  return false;
}

bool ATEMDeviceController::setKeyState(bool onAir, std::int32_t keyerIndex) {
  ComPtr<atem::IBMDSwitcher> switcher = session().switcher;
  if (!switcher) return false;
  ComPtr<atem::IBMDSwitcherDownstreamKey> keyer = keyerAtIndex(*switcher, keyerIndex);
  return keyer && keyer->SetOnAir(onAir) == atem::S_OK;
}

bool ATEMDeviceController::keyStateForDownstreamKeyerAtIndex(std::int32_t keyerIndex) {
  ComPtr<atem::IBMDSwitcher> switcher = session().switcher;
  if (!switcher) return false;
  ComPtr<atem::IBMDSwitcherDownstreamKey> keyer = keyerAtIndex(*switcher, keyerIndex);
  bool onAir = false;
  return keyer && keyer->GetOnAir(&onAir) == atem::S_OK && onAir;
}

bool ATEMDeviceController::runMacroWithName(const std::string& name) {
  std::uint32_t index = 0;
  {
    std::lock_guard guard(macroMutex_);
    auto found = macroIndexes_.find(name);
    if (found == macroIndexes_.end()) return false;
    index = found->second;
  }
  ComPtr<atem::IBMDSwitcher> switcher = session().switcher;
  if (!switcher) {
    log(1, true, "ATEMPlugin: mSwitcher = NULL");
    return false;
  }
  auto control = ComPtr<atem::IBMDSwitcherMacroControl>::query(switcher.get(), atem::IID_IBMDSwitcherMacroControl);
  if (!control) return false;
  control->Run(index);
  return true;
}

bool ATEMDeviceController::isBackgroundEnabledForTransitions() {
  ComPtr<atem::IBMDSwitcherMixEffectBlock> block = session().mixEffectBlock;
  auto parameters = ComPtr<atem::IBMDSwitcherTransitionParameters>::query(
      block.get(), atem::IID_IBMDSwitcherTransitionParameters);
  std::uint32_t selection = 0;
  if (!parameters || parameters->GetNextTransitionSelection(&selection) != atem::S_OK) return false;
  return (selection & atem::kTransitionSelectionBackground) != 0;
}

}  // namespace control
