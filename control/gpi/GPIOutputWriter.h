#pragma once
// GPIOutputWriter: drives the output lines of one GPI box. It keeps the output
// image (the eight output levels, active-low, line i at bit i) and sends it to
// interface 0 on its own serial queue, each write at least 10 ms after the one
// before, so the main thread never waits for the box. A write sends the image
// as it is when the write runs; every requested write is sent.
//
// Owned by its GPIDeviceController. The image calls are safe from any thread;
// the result handler runs on the writer's queue. Destruction drops the writes
// not yet sent.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace control {

class GPITransport;

class GPIOutputWriter {
 public:
  static constexpr std::chrono::milliseconds kWriteSpacing{10};
  // Called after each write with its result and the byte sent.
  using ResultHandler = std::function<void(int result, std::uint8_t outputByte)>;

  GPIOutputWriter(std::size_t reportSize, ResultHandler handler);
  ~GPIOutputWriter();
  GPIOutputWriter(const GPIOutputWriter&) = delete;
  GPIOutputWriter& operator=(const GPIOutputWriter&) = delete;

  void setTransport(std::shared_ptr<GPITransport> transport);

  std::uint8_t image() const;
  void setImage(std::uint8_t image);
  // Sets one line's level in the image (true = on, a 0 bit); lines past 7 are ignored.
  void setLine(int line, bool on);
  bool line(int line) const;

  // Queues one write of the image.
  void requestWrite();
  // Writes queued and not yet sent.
  std::size_t pendingWrites() const;

 private:
  void scheduleLocked();
  void writeNow();

  const std::size_t reportSize_;
  const ResultHandler handler_;
  mutable std::mutex mutex_;
  std::shared_ptr<GPITransport> transport_;  // guarded by mutex_
  std::uint8_t image_ = 0xFF;                // guarded by mutex_; all lines off
  std::size_t pending_ = 0;                  // guarded by mutex_
  bool scheduled_ = false;                   // guarded by mutex_
  bool stopped_ = false;                     // guarded by mutex_
  std::optional<platform::Clock::TimePoint> lastWrite_;  // guarded by mutex_; deadline of the last write
  platform::Clock::TimePoint nextDue_{};                // guarded by mutex_; deadline of the scheduled write
  // Last member: destroyed first, while the fields its tasks use still exist.
  std::unique_ptr<platform::SerialQueue> queue_;
};

}  // namespace control
