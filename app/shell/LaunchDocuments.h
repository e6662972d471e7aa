#pragma once
// The playlist documents named on the command line, which the program opens
// once launching has finished ("VantelioZira -key value ... FILE.vzplaylist").
//
// The arguments are read by the user-defaults rule, so a defaults value is
// never taken for a file: "-key" (one dash) takes the next argument as its
// value, whatever it looks like; "--" ends the defaults, and every argument
// after it is a plain argument; other arguments starting with "-" are
// options of their own. A plain argument ending in ".vzplaylist" is a
// document. Pure; any thread.

#include <filesystem>
#include <string>
#include <vector>

namespace app {

// The documents among `arguments` (the program name not included), in
// order, made absolute against `workingFolder`.
std::vector<std::filesystem::path> playlistDocumentsInArguments(const std::vector<std::string>& arguments,
                                                                const std::filesystem::path& workingFolder);

}  // namespace app
