#pragma once
// DRTLHttpCall: one request of the HTTP client, in flight or waiting for its
// retry. The body is already as it goes on the wire (gzip from 1400 bytes
// when compression is on; plain when compression fails).
//
// The retry fields are guarded by the call's own lock; `inProgress` by the
// client's lock (lock order: client, then call). The retry timer is a
// platform::Timer on the default global queue, on platform::Clock.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Timer.h"
#include "telemetry/core/Ingestion/DRTLHttpUtil.h"

namespace telemetry::core {

inline constexpr std::size_t kDRTLMinimumCompressionLength = 1400;

using DRTLHttpRequestCompletionHandler =
    std::function<void(const std::optional<std::string>& data, const std::shared_ptr<DRTLHttpResponse>& response,
                       const std::optional<platform::Error>& error)>;
// A uniform random integer in [0, bound) (bound > 0).
using DRTLRandomSource = std::function<std::uint64_t(std::uint64_t bound)>;

DRTLRandomSource defaultRandomSource();

class DRTLHttpCall {
 public:
  DRTLHttpCall(std::string url, std::string method, const DRTLHttpHeaders& headers,
               const std::optional<std::string>& data, std::vector<double> retryIntervals, bool compressionEnabled,
               DRTLHttpRequestCompletionHandler completionHandler);

  const std::string url;
  const std::string method;
  DRTLHttpHeaders headers;
  std::optional<std::string> data;
  const std::vector<double> retryIntervals;
  const DRTLHttpRequestCompletionHandler completionHandler;
  bool inProgress = false;  // guarded by the client's lock

  bool hasReachedMaxRetries();
  int retryCount();
  void resetRetry();
  // Schedules `event` once, after `retryAfterMs` when given, else after the
  // randomised delay of the current retry count.
  void startRetryTimer(std::int64_t statusCode, std::optional<std::uint32_t> retryAfterMs,
                       std::function<void()> event, const DRTLRandomSource& random);
  // Half the interval in ms (h) plus a random part in [0, h).
  std::int64_t delayForRetryCount(int retryCount, const DRTLRandomSource& random) const;

 private:
  std::mutex mutex_;
  int retryCount_ = 0;                   // guarded by mutex_
  std::unique_ptr<platform::Timer> timer_;  // guarded by mutex_
};

}  // namespace telemetry::core
