#pragma once
// Media fixtures made at test time with the ffmpeg and ffprobe programs:
// running a command and reading back what it wrote.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Runs `command` through the shell with standard input closed; true when it
// exits 0. Its standard error goes to the test's log.
bool runCommand(const std::string& command);
// The standard output of `command` (empty when it fails).
std::string commandOutput(const std::string& command);
// Makes `path` by running `command` with an output path appended. The first
// test process of this build folder to ask for a command runs it; the others
// copy what it made. Every test case runs in a process of its own, so a
// fixture kept only for the process was made again for every case.
bool makeFileOnce(const std::string& command, const std::filesystem::path& path);
// The standard output of `before` + `input` + `after`, run once per build
// folder for the same command and the same bytes in `input`: a reference
// output of ffprobe or ffmpeg costs as much as the fixture it describes.
// Failures are not kept.
std::string commandOutputOnce(const std::string& before, const std::filesystem::path& input,
                              const std::string& after = "");
std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);
// A path quoted for the shell.
std::string shellQuoted(const std::filesystem::path& path);

}  // namespace testing_support
