#include "control/switchers/ExternalMixerPreferencesPane.h"

#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/TriCasterController.h"

namespace control {

namespace {
constexpr const char* kStringKeys[] = {kExternalMixerPaneIPAddressKey, kExternalMixerPaneSourceAKey,
                                       kExternalMixerPaneSourceBKey, kExternalMixerPaneBrandKey};
}

ExternalMixerSwitchers ExternalMixerSwitchers::of(ATEMDeviceController& atem, TriCasterController& triCaster) {
  return {atem.isConnected(), atem.isConnecting(), atem.availableInputs(), triCaster.isConnected(),
          triCaster.isConnecting()};
}

ExternalMixerPreferencesPane::ExternalMixerPreferencesPane(platform::UserDefaults& defaults,
                                                           ExternalMixerSwitchers switchers,
                                                           ExternalMixerPreferencesOutlets& outlets)
    : defaults_(defaults), switchers_(switchers), outlets_(outlets) {
  useExternalMixerToTriggerPlayback_ = defaults_.boolForKey(kExternalMixerPaneTriggerKey);
  for (std::size_t i = 0; i < std::size(kStringKeys); ++i) strings_[i] = defaults_.stringForKey(kStringKeys[i]);

  observations_.push_back(defaults_.observeKey(kExternalMixerPaneTriggerKey, [this](const auto&, const auto&) {
    const bool use = defaults_.boolForKey(kExternalMixerPaneTriggerKey);
    if (use == useExternalMixerToTriggerPlayback_) return;
    updateConnectionStatus();
    updateInputsPopUpButton();
    useExternalMixerToTriggerPlayback_ = use;
  }));
  for (std::size_t i = 0; i < std::size(kStringKeys); ++i) {
    observations_.push_back(defaults_.observeKey(
        kStringKeys[i], [this, i](const auto&, const auto&) { stringDefaultChanged(i, kStringKeys[i]); }));
  }
  auto connectionChanged = [this](bool, bool) { updateConnectionStatus(); };
  for (platform::Observable<bool>* state : {&switchers_.atemIsConnected, &switchers_.atemIsConnecting,
                                            &switchers_.triCasterIsConnected, &switchers_.triCasterIsConnecting}) {
    observations_.push_back(state->observe(connectionChanged));
  }
  observations_.push_back(switchers_.atemAvailableInputs.observe(
      [this](const std::vector<ATEMInput>&, const std::vector<ATEMInput>&) { updateInputsPopUpButton(); }));
}

void ExternalMixerPreferencesPane::stringDefaultChanged(std::size_t slot, const char* key) {
  std::optional<std::string> value = defaults_.stringForKey(key);
  if (value == strings_[slot]) return;
  updateConnectionStatus();
  updateInputsPopUpButton();
  strings_[slot] = std::move(value);
}

void ExternalMixerPreferencesPane::viewDidLoad() {
  updateConnectionStatus();
  updateInputsPopUpButton();
}

void ExternalMixerPreferencesPane::updateConnectionStatus() {
  const std::optional<std::string> brand = defaults_.stringForKey(kExternalMixerPaneBrandKey);
  const bool visible = defaults_.boolForKey(kExternalMixerPaneTriggerKey);
  bool connecting = false;
  bool connected = false;
  if (brand == "ATEM") {
    connecting = switchers_.atemIsConnecting.get();
    connected = switchers_.atemIsConnected.get();
  } else if (brand == "TriCaster") {
    connecting = switchers_.triCasterIsConnecting.get();
    connected = switchers_.triCasterIsConnected.get();
  }
  if (connecting) {
    outlets_.showProgress(true, visible);
    outlets_.showStatusImage(kExternalMixerPaneRedImage, false);
    return;
  }
  outlets_.showProgress(false, false);
  outlets_.showStatusImage(connected ? kExternalMixerPaneGreenImage : kExternalMixerPaneRedImage, visible);
}

void ExternalMixerPreferencesPane::updateInputsPopUpButton() {
  std::vector<ExternalMixerSourceItem> items;
  if (defaults_.stringForKey(kExternalMixerPaneBrandKey) == "ATEM") {
    for (const ATEMInput& input : switchers_.atemAvailableInputs.get()) {
      if (input.isExternal()) items.push_back({input.name, input.identifier});
    }
  }
  outlets_.setSourceMenuItems(items);
}

}  // namespace control
