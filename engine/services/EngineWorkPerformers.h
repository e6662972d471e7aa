#pragma once
// What the engine's work jobs do: a load-information job reads the file's
// information through the reader factory, a thumbnail job asks a thumbnail
// generator. Both answer the caller on `completionQueue` and free their slot
// as soon as the slow part is over. Stateless; the jobs run on the work queue.

#include "engine/services/EngineWorkQueue.h"
#include "platform/DispatchQueue.h"

namespace engine {

// `completionQueue` must outlive every job (the main queue does).
EngineWorkQueue::Performers standardEngineWorkPerformers(platform::DispatchQueue& completionQueue);

// The process-wide queue with the standard performers, answering on the main queue; made on first use.
EngineWorkQueue& sharedEngineWorkQueue();

}  // namespace engine
