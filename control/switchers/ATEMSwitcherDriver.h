#pragma once
// Finding the switcher driver: the shared object at the absolute path of the
// user default "ATEMSwitcherSDKPath". Each path is opened once and kept for the
// life of the process; a missing file, a relative path or a missing entry point
// gives no discovery object (said once per path on the console).

#include "control/switchers/ComPtr.h"

namespace control {

inline constexpr const char* kATEMSwitcherSDKPathKey = "ATEMSwitcherSDKPath";

// A new discovery object of the driver the defaults name, or none. Any thread.
ComPtr<atem::IBMDSwitcherDiscovery> makeSwitcherDiscovery();

}  // namespace control
