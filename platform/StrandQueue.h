#pragma once
// StrandQueue: a labelled serial queue without a thread of its own. Its tasks
// run one at a time, in FIFO order, on the default global pool, so thousands of
// them (one per socket) cost no threads while idle. Same guarantees as every
// DispatchQueue (bounded, delayed tasks on Clock::current(), sync with a limit,
// isCurrent inside its tasks).
//
// Owned by whoever creates it (sockets share theirs through shared_ptr).
// Destruction refuses new tasks, drops delayed ones, and runs the tasks already
// queued on the destroying thread, unless it happens inside one of the strand's
// own tasks: then the running drain finishes them.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/DispatchQueue.h"

namespace platform {

class StrandQueue final : public DispatchQueue {
 public:
  explicit StrandQueue(std::string label, std::size_t capacity = kDefaultCapacity);
  ~StrandQueue() override;

  bool isCurrent() const override;

 private:
  struct State;
  static void drain(const std::shared_ptr<State>& state);
  static void scheduleDrain(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
};

}  // namespace platform
