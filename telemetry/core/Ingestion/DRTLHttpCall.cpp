#include "telemetry/core/Ingestion/DRTLHttpCall.h"

#include <random>

#include "platform/DispatchQueue.h"
#include "telemetry/core/DRTLCompression.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {

DRTLRandomSource defaultRandomSource() {
  return [](std::uint64_t bound) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::uint64_t>(0, bound - 1)(generator);
  };
}

DRTLHttpCall::DRTLHttpCall(std::string url, std::string method, const DRTLHttpHeaders& headers,
                           const std::optional<std::string>& data, std::vector<double> retryIntervals,
                           bool compressionEnabled, DRTLHttpRequestCompletionHandler completionHandler)
    : url(std::move(url)),
      method(std::move(method)),
      headers(headers),
      data(data),
      retryIntervals(std::move(retryIntervals)),
      completionHandler(std::move(completionHandler)) {
  if (compressionEnabled && data && data->size() >= kDRTLMinimumCompressionLength) {
    // A failed compression sends the body plain, without the encoding header.
    if (std::optional<std::string> compressed = DRTLCompression::compressData(data)) {
      this->data = std::move(compressed);
      this->headers["Content-Encoding"] = "gzip";
    }
  }
  if (data) {
    bool hasContentType = false;
    for (const auto& [name, value] : this->headers) hasContentType = hasContentType || equalsIgnoringCase(name, "Content-Type");
    if (!hasContentType) this->headers["Content-Type"] = "application/json";
  }
}

bool DRTLHttpCall::hasReachedMaxRetries() {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(retryCount_) >= retryIntervals.size();
}

int DRTLHttpCall::retryCount() {
  std::lock_guard lock(mutex_);
  return retryCount_;
}

void DRTLHttpCall::resetRetry() {
  std::lock_guard lock(mutex_);
  if (timer_) timer_->invalidate();
  timer_.reset();
  retryCount_ = 0;
}

std::int64_t DRTLHttpCall::delayForRetryCount(int count, const DRTLRandomSource& random) const {
  if (count < 0 || static_cast<std::size_t>(count) >= retryIntervals.size()) return 0;
  const auto half = static_cast<std::int64_t>(retryIntervals[static_cast<std::size_t>(count)] * 1e9 * 0.5 / 1e6);
  if (half <= 0) return 0;
  return half + static_cast<std::int64_t>(random(static_cast<std::uint64_t>(half)) % static_cast<std::uint64_t>(half));
}

void DRTLHttpCall::startRetryTimer(std::int64_t statusCode, std::optional<std::uint32_t> retryAfterMs,
                                   std::function<void()> event, const DRTLRandomSource& random) {
  std::lock_guard lock(mutex_);
  const std::int64_t delay = retryAfterMs ? *retryAfterMs : delayForRetryCount(retryCount_, random);
  if (timer_) timer_->invalidate();
  timer_ = platform::Timer::scheduled(platform::DispatchQueue::global(), std::chrono::milliseconds(delay),
                                      platform::Timer::Mode::OneShot, std::move(event));
  // Logged once the timer runs, so the line marks a scheduled retry.
  DRTLLogWarning("Call attempt #" + std::to_string(retryCount_) + " failed with status code: " +
                 std::to_string(statusCode) + ", it will be retried in " + std::to_string(delay) + " ms.");
  ++retryCount_;
}

}  // namespace telemetry::core
