#pragma once
// ExternalMixerPreferencesViewController: the "Triggers" pane of the
// preferences window, where the operator chooses the production switcher that
// starts and stops playlists. It mirrors the switcher defaults in its
// properties (read at creation, kept up to date by observing them).
//
// This build has no pane to show: creating the controller says so once in
// the technical log; the mirrored settings are what the pane would show.
//
// Created by the preferences window on first use of the pane and kept there.
// Main thread; the defaults must outlive it.

#include <optional>
#include <string>

#include "app/shell/NotAvailableNotice.h"
#include "platform/Observable.h"
#include "platform/UserDefaults.h"

namespace app {

inline constexpr const char* kExternalMixerPreferencesViewNibName = "ExternalMixerPreferencesView";
inline constexpr const char* kExternalMixerVideoSourceAIdentifierKey = "externalMixerVideoSourceAIdentifier";
inline constexpr const char* kExternalMixerVideoSourceBIdentifierKey = "externalMixerVideoSourceBIdentifier";

class ExternalMixerPreferencesViewController {
 public:
  explicit ExternalMixerPreferencesViewController(platform::UserDefaults& defaults);
  ExternalMixerPreferencesViewController(const ExternalMixerPreferencesViewController&) = delete;
  ExternalMixerPreferencesViewController& operator=(const ExternalMixerPreferencesViewController&) = delete;

  bool useExternalMixerToTriggerPlayback() const { return useExternalMixerToTriggerPlayback_; }
  const std::optional<std::string>& externalMixerIPAddress() const { return externalMixerIPAddress_; }
  const std::optional<std::string>& externalMixerVideoSourceAIdentifier() const { return videoSourceAIdentifier_; }
  const std::optional<std::string>& externalMixerVideoSourceBIdentifier() const { return videoSourceBIdentifier_; }
  const std::optional<std::string>& externalMixerBrand() const { return externalMixerBrand_; }

 private:
  void readDefaults();

  platform::UserDefaults& defaults_;
  bool useExternalMixerToTriggerPlayback_ = false;
  std::optional<std::string> externalMixerIPAddress_;
  std::optional<std::string> videoSourceAIdentifier_;
  std::optional<std::string> videoSourceBIdentifier_;
  std::optional<std::string> externalMixerBrand_;
  platform::ObservationToken observations_[5];
  NotAvailableNotice notice_{"The Triggers preferences pane"};
};

}  // namespace app
