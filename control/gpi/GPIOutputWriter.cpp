#include "control/gpi/GPIOutputWriter.h"

#include <algorithm>
#include <vector>

#include "control/gpi/GPITransport.h"

namespace control {

GPIOutputWriter::GPIOutputWriter(std::size_t reportSize, ResultHandler handler)
    : reportSize_(reportSize),
      handler_(std::move(handler)),
      queue_(std::make_unique<platform::SerialQueue>("com.dirarovazovo.GPIDeviceOutputs", 1024)) {}

GPIOutputWriter::~GPIOutputWriter() {
  {
    std::lock_guard guard(mutex_);
    stopped_ = true;
  }
  queue_.reset();
}

void GPIOutputWriter::setTransport(std::shared_ptr<GPITransport> transport) {
  std::lock_guard guard(mutex_);
  transport_ = std::move(transport);
}

std::uint8_t GPIOutputWriter::image() const {
  std::lock_guard guard(mutex_);
  return image_;
}

void GPIOutputWriter::setImage(std::uint8_t image) {
  std::lock_guard guard(mutex_);
  image_ = image;
}

void GPIOutputWriter::setLine(int line, bool on) {
  if (line < 0 || line > 7) return;
  std::lock_guard guard(mutex_);
  const auto weight = static_cast<std::uint8_t>(1u << line);
  image_ = on ? static_cast<std::uint8_t>(image_ & ~weight) : static_cast<std::uint8_t>(image_ | weight);
}

bool GPIOutputWriter::line(int line) const {
  if (line < 0 || line > 7) return false;
  std::lock_guard guard(mutex_);
  return (image_ & (1u << line)) == 0;
}

void GPIOutputWriter::requestWrite() {
  std::lock_guard guard(mutex_);
  if (stopped_) return;
  ++pending_;
  if (!scheduled_) scheduleLocked();
}

std::size_t GPIOutputWriter::pendingWrites() const {
  std::lock_guard guard(mutex_);
  return pending_;
}

void GPIOutputWriter::scheduleLocked() {
  scheduled_ = true;
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  const platform::Clock::TimePoint due = lastWrite_ ? std::max(now, *lastWrite_ + kWriteSpacing) : now;
  nextDue_ = due;
  // The queue is ours and outlives its tasks (it is destroyed first).
  if (!queue_->at(due, [this] { writeNow(); })) {
    scheduled_ = false;
    pending_ = 0;
  }
}

void GPIOutputWriter::writeNow() {
  std::shared_ptr<GPITransport> transport;
  std::uint8_t image = 0xFF;
  {
    std::lock_guard guard(mutex_);
    if (stopped_ || pending_ == 0) {
      scheduled_ = false;
      return;
    }
    --pending_;
    transport = transport_;
    image = image_;
    // Spacing counts from each write's deadline, so neither the time a send
    // takes nor a late wake-up of the queue adds up from write to write.
    lastWrite_ = nextDue_;
  }
  // Only byte 3 drives the box: every other byte goes out as all ones.
  std::vector<std::uint8_t> report(reportSize_, 0xFF);
  if (report.size() > 3) report[3] = image;
  const int result = transport ? transport->setOutputReport(0, report) : static_cast<int>(kGPITransportDeviceGone);
  if (handler_) handler_(result, image);
  std::lock_guard guard(mutex_);
  if (stopped_) return;
  if (pending_ > 0) {
    scheduleLocked();
  } else {
    scheduled_ = false;
  }
}

}  // namespace control
