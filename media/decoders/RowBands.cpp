#include "media/decoders/RowBands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/DispatchQueue.h"

namespace media {
namespace {

// The caller and up to four helpers: the high-priority pool has four threads
// at most, and more bands than workers only add hand-overs.
constexpr std::size_t kMaximumBands = 5;

// Shared with helpers that may start after the caller has returned; those find
// no band left and never touch `work`.
struct Job {
  const std::function<void(RowBand)>* work = nullptr;
  std::size_t rows = 0;
  std::size_t bandRows = 0;
  std::size_t bands = 0;
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable allDone;
  std::size_t finished = 0;

  // Runs one unclaimed band; false when none is left.
  bool runOneBand() {
    const std::size_t band = next.fetch_add(1);
    if (band >= bands) return false;
    const std::size_t first = band * bandRows;
    (*work)({first, std::min(bandRows, rows - first)});
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++finished;
    }
    allDone.notify_all();
    return true;
  }
};

}  // namespace

void forEachRowBand(std::size_t rows, std::size_t minimumRows, const std::function<void(RowBand)>& work) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t bands = std::min({kMaximumBands, cores, rows / std::max<std::size_t>(1, minimumRows)});
  if (bands <= 1) {
    if (rows > 0) work({0, rows});
    return;
  }
  auto job = std::make_shared<Job>();
  job->work = &work;
  job->rows = rows;
  job->bandRows = (rows + bands - 1) / bands;
  job->bands = (rows + job->bandRows - 1) / job->bandRows;
  platform::DispatchQueue& pool = platform::DispatchQueue::global(platform::DispatchQueue::Priority::High);
  for (std::size_t i = 1; i < job->bands; ++i) {
    if (!pool.async([job] { while (job->runOneBand()) {} })) break;
  }
  while (job->runOneBand()) {
  }
  std::unique_lock<std::mutex> lock(job->mutex);
  job->allDone.wait(lock, [&] { return job->finished == job->bands; });
}

}  // namespace media
