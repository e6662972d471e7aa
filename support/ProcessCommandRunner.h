#pragma once
// CommandRunner on child processes. Each command gets its own process group,
// so a time limit kills whatever it started too. Destruction kills what still
// runs and joins the reader threads.
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/CommandRunner.h"

namespace support {

class ProcessCommandRunner : public CommandRunner {
 public:
  ProcessCommandRunner() = default;
  ~ProcessCommandRunner() override;
  ProcessCommandRunner(const ProcessCommandRunner&) = delete;
  ProcessCommandRunner& operator=(const ProcessCommandRunner&) = delete;

  void run(Command command, Completion completion) override;

  struct Child;

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<Child>> children_;
  std::vector<std::thread> readers_;
};

}  // namespace support
