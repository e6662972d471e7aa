#pragma once
// Collects platform diagnostics for the lifetime of the object (one test), so
// a test can check what was reported; restores standard error afterwards. A
// report racing with the destruction lands in the shared state, not in freed
// memory.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Diagnostics.h"

namespace testing_support {

class CapturedDiagnostics {
 public:
  CapturedDiagnostics();
  ~CapturedDiagnostics();
  CapturedDiagnostics(const CapturedDiagnostics&) = delete;
  CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;

  std::vector<std::string> messages() const;
  // Messages containing `text`.
  std::size_t count(std::string_view text) const;

 private:
  struct State {
    std::mutex mutex;
    std::vector<std::string> messages;  // guarded by mutex
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace testing_support
