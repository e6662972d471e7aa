#include "app/shell/ExternalMixerPreferencesViewController.h"

#include "app/shell/RegisteredDefaults.h"

namespace app {

ExternalMixerPreferencesViewController::ExternalMixerPreferencesViewController(platform::UserDefaults& defaults)
    : defaults_(defaults) {
  notice_.note();
  readDefaults();
  const char* keys[] = {kUseExternalMixerToTriggerPlaybackKey, kExternalMixerIPAddressKey,
                        kExternalMixerVideoSourceAIdentifierKey, kExternalMixerVideoSourceBIdentifierKey,
                        kExternalMixerBrandKey};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    observations_[i] = defaults_.observeKey(keys[i], [this](const platform::Value&, const platform::Value&) {
      readDefaults();
    });
  }
}

void ExternalMixerPreferencesViewController::readDefaults() {
  useExternalMixerToTriggerPlayback_ = defaults_.boolForKey(kUseExternalMixerToTriggerPlaybackKey);
  externalMixerIPAddress_ = defaults_.stringForKey(kExternalMixerIPAddressKey);
  videoSourceAIdentifier_ = defaults_.stringForKey(kExternalMixerVideoSourceAIdentifierKey);
  videoSourceBIdentifier_ = defaults_.stringForKey(kExternalMixerVideoSourceBIdentifierKey);
  externalMixerBrand_ = defaults_.stringForKey(kExternalMixerBrandKey);
}

}  // namespace app
