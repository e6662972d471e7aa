#pragma once
// The machine's profile as a property-list array of data-type dictionaries
// ("_dataType", "_items"), read from DMI, os-release, uname, cpuinfo, meminfo
// and lsblk's JSON (kept as text: it is shown, never interpreted).
#include <optional>
#include <string>

#include "platform/Value.h"
#include "support/SupportSources.h"

namespace support::SystemProfile {

platform::Array gather(const SupportSources& sources, const std::string& lsblkJson);
// DMI "product_name"; none when missing or empty.
std::optional<std::string> modelName(const SupportSources& sources);

}  // namespace support::SystemProfile
