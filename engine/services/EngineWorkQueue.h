#pragma once
// The engine's process-wide work queue for media information and thumbnail
// jobs: jobs wait in a pending list, one dispatcher loop hands them out in the
// order they came, and at most four run at once. A job holds its slot until
// its performer releases it (or drops the slot object), so a slow file never
// holds more than one slot and a lost callback never keeps one for ever.
//
// Lives on: enqueue() from any thread; the dispatcher on
// "com.dirarovazovo.workDispatcherQueue", jobs on the concurrent
// "com.dirarovazovo.workQueue". Destruction drops jobs not yet started.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <variant>

#include "media/thumbnails/CVNAssetThumbnailGenerator.h"
#include "platform/DispatchQueue.h"
#include "platform/Semaphore.h"
#include "platform/Value.h"

namespace engine {

// Job keys.
inline constexpr const char* kWorkTypeKey = "workType";
inline constexpr const char* kWorkURLKey = "workURL";
inline constexpr const char* kWorkSourceDescriptionKey = "workSourceDescription";
inline constexpr const char* kWorkThumbnailSizeKey = "workThumbnailSize";
inline constexpr const char* kWorkThumbnailTimeKey = "workThumbnailTime";
inline constexpr const char* kWorkThumbnailPrecisionKey = "workThumbnailPrecision";
inline constexpr const char* kWorkThumbnailFormatKey = "workThumbnailFormat";

enum EngineWorkType : std::uint32_t {
  kEngineWorkTypeLoadInformation = 0,
  kEngineWorkTypeThumbnail = 1,
};

inline constexpr int kEngineWorkConcurrentJobs = 4;

using InfoCompletionHandler = std::function<void(const platform::Dictionary& info)>;
using ThumbnailCompletionHandler = media::CVNAssetThumbnailGenerator::ThumbnailHandler;

// One pending job: the "work…" keys, and the caller's completion (the value
// the dictionary cannot hold).
struct EngineWorkJob {
  platform::Dictionary keys;
  std::variant<InfoCompletionHandler, ThumbnailCompletionHandler> workCompletionHandler;

  // The value of a key; none when the job has no such key.
  const platform::Value& value(std::string_view key) const {
    static const platform::Value none;
    const auto it = keys.find(key);
    return it == keys.end() ? none : it->second;
  }
  std::uint32_t type() const { return static_cast<std::uint32_t>(value(kWorkTypeKey).integerOr(-1)); }
};

// A running job's claim on one of the four slots: released once, by release()
// or when the last copy goes.
class EngineWorkSlot {
 public:
  explicit EngineWorkSlot(std::shared_ptr<platform::Semaphore> slots) : slots_(std::move(slots)) {}
  ~EngineWorkSlot() { release(); }
  EngineWorkSlot(const EngineWorkSlot&) = delete;
  EngineWorkSlot& operator=(const EngineWorkSlot&) = delete;

  void release() {
    if (!released_.exchange(true)) slots_->signal();
  }

 private:
  std::shared_ptr<platform::Semaphore> slots_;
  std::atomic<bool> released_{false};
};

class EngineWorkQueue {
 public:
  // Runs a job of one type on the work queue; keeps or passes on `slot` until the job is done.
  using Performer = std::function<void(EngineWorkJob job, std::shared_ptr<EngineWorkSlot> slot)>;
  struct Performers {
    Performer loadInformation;
    Performer thumbnail;
  };

  explicit EngineWorkQueue(Performers performers);
  ~EngineWorkQueue();
  EngineWorkQueue(const EngineWorkQueue&) = delete;
  EngineWorkQueue& operator=(const EngineWorkQueue&) = delete;

  void enqueue(EngineWorkJob job);

 private:
  void startWork();
  // One round of the dispatcher loop; false when it should stop.
  bool dispatchOne();

  const Performers performers_;
  std::shared_ptr<platform::Semaphore> jobSlots_ = std::make_shared<platform::Semaphore>(kEngineWorkConcurrentJobs);
  std::atomic<bool> stopping_{false};

  std::mutex listMutex_;
  std::deque<EngineWorkJob> pending_;     // guarded by listMutex_
  std::atomic<int> dispatcherRunning_{0};  // 1 while a dispatcher loop owns the list's jobs

  // Declared last: destroyed first, so their threads end before the state above goes.
  platform::ConcurrentQueue workQueue_{"com.dirarovazovo.workQueue", kEngineWorkConcurrentJobs};
  platform::SerialQueue dispatcherQueue_{"com.dirarovazovo.workDispatcherQueue"};
};

}  // namespace engine
