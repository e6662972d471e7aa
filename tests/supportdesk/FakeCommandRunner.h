#pragma once
// A CommandRunner that records commands; the test answers them.
#include <vector>

#include "support/CommandRunner.h"

namespace testing_support {

class FakeCommandRunner : public support::CommandRunner {
 public:
  struct Call {
    support::Command command;
    Completion completion;
  };
  void run(support::Command command, Completion completion) override {
    calls.push_back({std::move(command), std::move(completion)});
  }
  void answer(std::size_t index, int exitStatus, std::string output = {}) {
    support::CommandResult result;
    result.exitStatus = exitStatus;
    result.output = std::move(output);
    calls.at(index).completion(std::move(result));
  }
  std::vector<Call> calls;
};

}  // namespace testing_support
