// Reading the switcher into the model, the lookups and the tally triggers
// (main thread).

#include <cstdio>

#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/SwitcherConsole.h"

namespace control {
namespace {

std::optional<std::string> longName(atem::IBMDSwitcherInput& input) {
  char name[256];
  if (input.GetLongName(name, sizeof name) != atem::S_OK) return std::nullopt;
  return std::string(name);
}

}  // namespace

ComPtr<atem::IBMDSwitcherInputIterator> ATEMDeviceController::makeInputIterator() const {
  ComPtr<atem::IBMDSwitcher> switcher = session().switcher;
  ComPtr<atem::IBMDSwitcherInputIterator> iterator;
  if (!switcher ||
      switcher->CreateIterator(atem::IID_IBMDSwitcherInputIterator, reinterpret_cast<void**>(iterator.put())) < 0) {
    return {};
  }
  return iterator;
}

void ATEMDeviceController::updateInputNames() {
  ComPtr<atem::IBMDSwitcherInputIterator> iterator = makeInputIterator();
  if (!iterator) {
    log(1, true, "ATEMPlugin: Could not create IBMDSwitcherInputIterator iterator (updateInputNames)");
    return;
  }
  std::vector<ATEMInput> inputs;
  ComPtr<atem::IBMDSwitcherInput> input;
  while (iterator->Next(input.put()) == atem::S_OK && input) {
    atem::BMDSwitcherInputId identifier = 0;
    atem::FourCharCode portType = 0;
    const bool hasIdentifier = input->GetInputId(&identifier) == atem::S_OK;
    std::optional<std::string> name = longName(*input);
    if (hasIdentifier && name && input->GetPortType(&portType) == atem::S_OK) {
      inputs.emplace_back(std::move(*name), portType, identifier);
    }
  }
  for (std::size_t index = 0; index < inputs.size() && delegate_; ++index) {
    delegate_->ATEMLabelOfInputAtIndex(static_cast<std::int32_t>(index), inputs[index].name, *this);
  }
  availableInputs_.set(std::move(inputs));
}

void ATEMDeviceController::updateInputNameWithIdentifier(std::int64_t identifier) {
  ComPtr<atem::IBMDSwitcherInputIterator> iterator = makeInputIterator();
  if (!iterator) {
    log(1, true, "ATEMPlugin: Could not create IBMDSwitcherInputIterator iterator (updateInputNameWithIdentifier)");
    return;
  }
  ComPtr<atem::IBMDSwitcherInput> input;
  while (iterator->Next(input.put()) == atem::S_OK && input) {
    atem::BMDSwitcherInputId candidate = 0;
    if (input->GetInputId(&candidate) == atem::S_OK && candidate == identifier) break;
  }
  if (!input) return;
  std::optional<std::string> name = longName(*input);
  if (!name) return;
  std::vector<ATEMInput> inputs = availableInputs_.get();
  const std::int32_t index = indexOfInputWithIdentifier(identifier);
  if (index < 0) return;
  inputs[static_cast<std::size_t>(index)].name = *name;
  availableInputs_.set(std::move(inputs));
  if (delegate_) delegate_->ATEMLabelOfInputAtIndex(index, *name, *this);
}

void ATEMDeviceController::addBuiltInOutputs(const ComPtr<atem::IBMDSwitcherMixEffectBlock>& block) {
  std::int64_t program = 0;
  std::int64_t preview = 0;
  if (block) {
    block->GetInt(atem::kMixEffectProgramInput, &program);
    block->GetInt(atem::kMixEffectPreviewInput, &preview);
  }
  availableOutputs_.emplace_back(kATEMProgramOutputName, kATEMProgramOutputIdentifier, false);
  availableOutputs_.back().selectedSource = program;
  availableOutputs_.emplace_back(kATEMPreviewOutputName, kATEMPreviewOutputIdentifier, false);
  availableOutputs_.back().selectedSource = preview;
}

void ATEMDeviceController::updateOutputNames() {
  ComPtr<atem::IBMDSwitcherInputIterator> iterator = makeInputIterator();
  if (!iterator) {
    log(1, true, "ATEMPlugin: Could not create IBMDSwitcherInputIterator iterator (updateOutputNames)");
    return;
  }
  availableOutputs_.clear();
  addBuiltInOutputs(session().mixEffectBlock);
  ComPtr<atem::IBMDSwitcherInput> input;
  while (iterator->Next(input.put()) == atem::S_OK && input) {
    atem::FourCharCode portType = 0;
    atem::BMDSwitcherInputId identifier = 0;
    if (input->GetPortType(&portType) != atem::S_OK || portType != atem::kPortTypeAuxOutput) continue;
    if (!ComPtr<atem::IBMDSwitcherInputAux>::query(input.get(), atem::IID_IBMDSwitcherInputAux)) continue;
    std::optional<std::string> name = longName(*input);
    if (!name || input->GetInputId(&identifier) != atem::S_OK) continue;
    availableOutputs_.emplace_back(std::move(*name), identifier, true);
  }
  if (delegate_) delegate_->ATEMConfigurationDidChangeForDevice(*this);
}

void ATEMDeviceController::updateDownstreamKeyerNames() {
  ComPtr<atem::IBMDSwitcher> switcher = session().switcher;
  if (!switcher) return;
  ComPtr<atem::IBMDSwitcherDownstreamKeyIterator> iterator;
  if (switcher->CreateIterator(atem::IID_IBMDSwitcherDownstreamKeyIterator,
                               reinterpret_cast<void**>(iterator.put())) < 0 ||
      !iterator) {
    return;
  }
  availableDownstreamKeyers_.clear();
  ComPtr<atem::IBMDSwitcherDownstreamKey> keyer;
  while (iterator->Next(keyer.put()) == atem::S_OK && keyer) {
    char name[32];
    std::snprintf(name, sizeof name, "Downstream Keyer %i", static_cast<int>(availableDownstreamKeyers_.size() + 1));
    availableDownstreamKeyers_.emplace_back(name);
  }
  for (std::size_t index = 0; index < availableDownstreamKeyers_.size() && delegate_; ++index) {
    delegate_->ATEMLabelOfDownstreamKeyerAtIndex(static_cast<std::int32_t>(index),
                                                 availableDownstreamKeyers_[index].name, *this);
  }
}

void ATEMDeviceController::updateProgramState() {
  ComPtr<atem::IBMDSwitcherMixEffectBlock> block = session().mixEffectBlock;
  if (!block) return;
  std::int64_t program = 0;
  double position = 0;
  block->GetInt(atem::kMixEffectProgramInput, &program);
  block->GetFloat(atem::kMixEffectTransitionPosition, &position);
  char message[128];
  std::snprintf(message, sizeof message, "ATEMPlugin: --> updateProgramState: to %lli position = %f",
                static_cast<long long>(program), position);
  log(2, false, message);
  const std::int32_t output = indexOfProgramOutput();
  if (output < 0) return;
  ATEMOutput& programOutput = availableOutputs_[static_cast<std::size_t>(output)];
  if (programOutput.selectedSource == program) return;
  programOutput.selectedSource = program;
  if (delegate_) delegate_->ATEMSelectedInput(indexOfInputWithIdentifier(program), output, *this);
}

void ATEMDeviceController::updateAuxState() {
  ComPtr<atem::IBMDSwitcherInputIterator> iterator = makeInputIterator();
  if (!iterator) {
    log(1, true, "ATEMPlugin: Could not create IBMDSwitcherInputIterator iterator (updateAuxState)");
    return;
  }
  ComPtr<atem::IBMDSwitcherInput> input;
  while (iterator->Next(input.put()) == atem::S_OK && input) {
    atem::FourCharCode portType = 0;
    if (input->GetPortType(&portType) != atem::S_OK || portType != atem::kPortTypeAuxOutput) continue;
    auto aux = ComPtr<atem::IBMDSwitcherInputAux>::query(input.get(), atem::IID_IBMDSwitcherInputAux);
    atem::BMDSwitcherInputId identifier = 0;
    atem::BMDSwitcherInputId source = 0;
    if (!aux || input->GetInputId(&identifier) != atem::S_OK || aux->GetInputSource(&source) != atem::S_OK) continue;
    const std::int32_t output = indexOfOutputWithIdentifier(identifier);
    if (output < 0 || availableOutputs_[static_cast<std::size_t>(output)].selectedSource == source) continue;
    availableOutputs_[static_cast<std::size_t>(output)].selectedSource = source;
    if (delegate_) delegate_->ATEMSelectedInput(indexOfInputWithIdentifier(source), output, *this);
  }
}

void ATEMDeviceController::updateDownstreamKeyerStateAtIndex(std::int32_t index) {
  switcherConsoleLog("Downstream Keyer %i has changed its OnAir state (%i)", index,
                     keyStateForDownstreamKeyerAtIndex(index) ? 1 : 0);
}

void ATEMDeviceController::updateMacroNames() {
  ComPtr<atem::IBMDSwitcherMacroPool> pool = session().macroPool;
  if (!pool) {
    log(1, true, "ATEMPlugin: mMacroPool = NULL");
    return;
  }
  std::uint32_t count = 0;
  pool->GetMaxCount(&count);
  std::lock_guard guard(macroMutex_);
  macroIndexes_.clear();
  for (std::uint32_t index = 0; index < count; ++index) {
    bool valid = false;
    char name[256];
    if (pool->IsValid(index, &valid) != atem::S_OK || !valid) continue;
    if (pool->GetName(index, name, sizeof name) != atem::S_OK) continue;
    macroIndexes_[name] = index;
  }
}

// The unset clip player input (-1) must not match an input that is not in
// the list (-1 too): only a listed input triggers.
void ATEMDeviceController::tallyOnProgramInputNameWithIdentifier(std::int64_t identifier) {
  const std::int64_t position = indexOfInputWithIdentifier(identifier);
  if (position < 0 || position != indexOfClipPlayerInput_) return;
  isPlayingClip_ = true;
  if (delegate_) delegate_->ATEMTriggeredPlaybackStartForDevice(*this);
}

void ATEMDeviceController::tallyOffProgramInputNameWithIdentifier(std::int64_t identifier) {
  const std::int64_t position = indexOfInputWithIdentifier(identifier);
  if (position < 0 || position != indexOfClipPlayerInput_) return;
  isPlayingClip_ = false;
  if (delegate_) delegate_->ATEMTriggeredPlaybackStopForDevice(*this);
}

// ---- Lookups ----

std::optional<std::string> ATEMDeviceController::nameOfOutputAtIndex(std::int64_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= availableOutputs_.size()) return std::nullopt;
  return availableOutputs_[static_cast<std::size_t>(index)].name;
}

namespace {

template <typename List, typename Matches>
std::int64_t firstPosition(const List& list, Matches matches) {
  for (std::size_t index = 0; index < list.size(); ++index) {
    if (matches(list[index])) return static_cast<std::int64_t>(index);
  }
  return -1;
}

}  // namespace

std::int64_t ATEMDeviceController::indexOfOutputWithName(const std::string& name) const {
  return firstPosition(availableOutputs_, [&](const ATEMOutput& output) { return output.name == name; });
}

std::int64_t ATEMDeviceController::indexOfInputWithName(const std::string& name) const {
  return firstPosition(availableInputs_.get(), [&](const ATEMInput& input) { return input.name == name; });
}

std::optional<ATEMInput> ATEMDeviceController::inputWithIdentifier(std::int64_t identifier) const {
  const std::vector<ATEMInput> inputs = availableInputs_.get();
  const std::int64_t index = firstPosition(inputs, [&](const ATEMInput& input) { return input.identifier == identifier; });
  if (index < 0) return std::nullopt;
  return inputs[static_cast<std::size_t>(index)];
}

std::optional<ATEMOutput> ATEMDeviceController::outputWithIdentifier(std::int64_t identifier) const {
  const std::int32_t index = indexOfOutputWithIdentifier(identifier);
  if (index < 0) return std::nullopt;
  return availableOutputs_[static_cast<std::size_t>(index)];
}

std::int32_t ATEMDeviceController::indexOfInputWithIdentifier(std::int64_t identifier) const {
  return static_cast<std::int32_t>(
      firstPosition(availableInputs_.get(), [&](const ATEMInput& input) { return input.identifier == identifier; }));
}

std::int32_t ATEMDeviceController::indexOfOutputWithIdentifier(std::int64_t identifier) const {
  return static_cast<std::int32_t>(
      firstPosition(availableOutputs_, [&](const ATEMOutput& output) { return output.identifier == identifier; }));
}

}  // namespace control
