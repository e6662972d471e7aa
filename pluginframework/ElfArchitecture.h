#pragma once
// Whether a shared object was built for this process: ELF class, byte order
// and machine of its header against the process's own. Checked before a
// plug-in is loaded, so a library of another architecture is refused with a
// clear log line instead of a loader error.

#include <filesystem>

namespace pluginframework {

bool elfMatchesProcess(const std::filesystem::path& path);
// The process runs natively on 64-bit ARM.
bool processIsARM64();

}  // namespace pluginframework
