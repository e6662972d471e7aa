#pragma once
// ExternalMixerPreferencesPane: what the external mixer preferences pane
// shows, decided without Qt. It watches the five switcher defaults and the
// connection state and input lists of both switcher controllers, and tells
// its outlets which status image ("Green" or "Red") and progress to show and
// which sources the two menus list (the ATEM switcher's external inputs, with
// the input identifier as the tag; nothing for other brands). The defaults
// are read, never written.
//
// Owned by the pane's view controller; the defaults, the observed values and
// the outlets outlive it. Works on the thread that delivers each change (the
// main thread: the controllers change their state there).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/switchers/ATEMModel.h"
#include "platform/Observable.h"
#include "platform/UserDefaults.h"

namespace control {

class ATEMDeviceController;
class TriCasterController;

inline constexpr const char* kExternalMixerPaneTriggerKey = "useExternalMixerToTriggerPlayback";
inline constexpr const char* kExternalMixerPaneBrandKey = "externalMixerBrand";
inline constexpr const char* kExternalMixerPaneIPAddressKey = "externalMixerIPAddress";
inline constexpr const char* kExternalMixerPaneSourceAKey = "externalMixerVideoSourceAIdentifier";
inline constexpr const char* kExternalMixerPaneSourceBKey = "externalMixerVideoSourceBIdentifier";
inline constexpr const char* kExternalMixerPaneGreenImage = "Green";
inline constexpr const char* kExternalMixerPaneRedImage = "Red";

struct ExternalMixerSourceItem {
  std::string title;
  std::int64_t tag = 0;
  friend bool operator==(const ExternalMixerSourceItem&, const ExternalMixerSourceItem&) = default;
};

// The pane's controls.
class ExternalMixerPreferencesOutlets {
 public:
  virtual ~ExternalMixerPreferencesOutlets() = default;
  virtual void showStatusImage(const std::string& imageName, bool visible) = 0;
  virtual void showProgress(bool animating, bool visible) = 0;
  // Replaces the items of the input A and input B menus.
  virtual void setSourceMenuItems(const std::vector<ExternalMixerSourceItem>& items) = 0;
};

// The observed state of both switcher controllers (tests give their own).
struct ExternalMixerSwitchers {
  platform::Observable<bool>& atemIsConnected;
  platform::Observable<bool>& atemIsConnecting;
  platform::Observable<std::vector<ATEMInput>>& atemAvailableInputs;
  platform::Observable<bool>& triCasterIsConnected;
  platform::Observable<bool>& triCasterIsConnecting;

  static ExternalMixerSwitchers of(ATEMDeviceController& atem, TriCasterController& triCaster);
};

class ExternalMixerPreferencesPane {
 public:
  ExternalMixerPreferencesPane(platform::UserDefaults& defaults, ExternalMixerSwitchers switchers,
                               ExternalMixerPreferencesOutlets& outlets);
  ExternalMixerPreferencesPane(const ExternalMixerPreferencesPane&) = delete;
  ExternalMixerPreferencesPane& operator=(const ExternalMixerPreferencesPane&) = delete;

  // Fills the controls once the view exists.
  void viewDidLoad();
  void updateConnectionStatus();
  void updateInputsPopUpButton();

  // The last value of each default that the pane has acted on.
  bool useExternalMixerToTriggerPlayback() const { return useExternalMixerToTriggerPlayback_; }
  const std::optional<std::string>& externalMixerIPAddress() const { return strings_[0]; }
  const std::optional<std::string>& externalMixerVideoSourceAIdentifier() const { return strings_[1]; }
  const std::optional<std::string>& externalMixerVideoSourceBIdentifier() const { return strings_[2]; }
  const std::optional<std::string>& externalMixerBrand() const { return strings_[3]; }

 private:
  void stringDefaultChanged(std::size_t slot, const char* key);

  platform::UserDefaults& defaults_;
  ExternalMixerSwitchers switchers_;
  ExternalMixerPreferencesOutlets& outlets_;
  bool useExternalMixerToTriggerPlayback_ = false;
  std::optional<std::string> strings_[4];  // address, source A, source B, brand
  std::vector<platform::ObservationToken> observations_;  // last: removed first
};

}  // namespace control
