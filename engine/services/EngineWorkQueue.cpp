#include "engine/services/EngineWorkQueue.h"

#include <chrono>
#include <utility>

#include "foundation/CVNLogController.h"

namespace engine {

namespace {

// The slot wait has no deadline of its own; the slices only let a stop request in.
constexpr auto kSlotWaitSlice = std::chrono::seconds(1);

}  // namespace

EngineWorkQueue::EngineWorkQueue(Performers performers) : performers_(std::move(performers)) {}

EngineWorkQueue::~EngineWorkQueue() {
  stopping_.store(true);
  // Wakes a dispatcher waiting for a slot.
  jobSlots_->signal();
}

void EngineWorkQueue::enqueue(EngineWorkJob job) {
  bool start = false;
  {
    std::lock_guard guard(listMutex_);
    pending_.push_back(std::move(job));
    int expected = 0;
    start = dispatcherRunning_.compare_exchange_strong(expected, 1);
  }
  if (start) startWork();
}

void EngineWorkQueue::startWork() {
  dispatcherQueue_.async([this] {
    while (dispatchOne()) {
    }
  });
}

bool EngineWorkQueue::dispatchOne() {
  while (!jobSlots_->wait(kSlotWaitSlice)) {
    if (stopping_.load()) return false;
  }
  if (stopping_.load()) return false;
  auto slot = std::make_shared<EngineWorkSlot>(jobSlots_);
  EngineWorkJob job;
  bool remaining = false;
  {
    std::lock_guard guard(listMutex_);
    if (pending_.empty()) {
      // Cannot happen while the flag is held; give the slot back and stop.
      dispatcherRunning_.store(0);
      return false;
    }
    job = std::move(pending_.front());
    pending_.pop_front();
    remaining = !pending_.empty();
    if (!remaining) dispatcherRunning_.store(0);
  }
  const Performer& perform =
      job.type() == kEngineWorkTypeThumbnail ? performers_.thumbnail : performers_.loadInformation;
  if (job.type() > kEngineWorkTypeThumbnail || !perform) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        0, false, "Engine: Error: work job of unknown type " + std::to_string(job.type()) + " dropped");
    return remaining;
  }
  workQueue_.async([&perform, job = std::move(job), slot = std::move(slot)]() mutable {
    perform(std::move(job), std::move(slot));
  });
  return remaining;
}

}  // namespace engine
