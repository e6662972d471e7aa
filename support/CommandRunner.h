#pragma once
// Runs the support desk's external commands (journal export, zip, lsblk):
// argv only, never through a shell, so folder names are never interpreted.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace support {

struct Command {
  std::vector<std::string> argv;
  std::optional<std::filesystem::path> workingFolder;
  platform::Clock::Duration timeLimit = std::chrono::minutes(5);
  // Standard output goes to a new file (mode 0600, never overwriting) instead
  // of being collected.
  std::optional<std::filesystem::path> outputFile;
  std::size_t maxOutputBytes = std::size_t{8} << 20;
};

struct CommandResult {
  int exitStatus = -1;  // -1 when the command did not exit by itself
  bool timedOut = false;
  bool outputTruncated = false;
  std::string output;
  std::string launchError;
  bool succeeded() const { return launchError.empty() && !timedOut && exitStatus == 0; }
};

class CommandRunner {
 public:
  using Completion = std::function<void(CommandResult)>;
  virtual ~CommandRunner() = default;
  // The completion runs on the main queue.
  virtual void run(Command command, Completion completion) = 0;
};

}  // namespace support
