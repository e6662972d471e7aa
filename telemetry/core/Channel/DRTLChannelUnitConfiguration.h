#pragma once
// The settings of one channel unit; immutable once made.

#include <cstdint>
#include <string>

namespace telemetry::core {

inline constexpr std::uint64_t kDRTLFlushIntervalDefault = 3;

struct DRTLChannelUnitConfiguration {
  // Note the argument order, which differs from the field order.
  DRTLChannelUnitConfiguration(std::string groupId, std::int64_t priority, std::uint64_t flushInterval,
                               std::uint64_t batchSizeLimit, std::uint64_t pendingBatchesLimit)
      : groupId(std::move(groupId)),
        priority(priority),
        batchSizeLimit(batchSizeLimit),
        pendingBatchesLimit(pendingBatchesLimit),
        flushInterval(flushInterval) {}

  // Priority 1, batches of 50, 3 in flight.
  static DRTLChannelUnitConfiguration defaultConfiguration(std::string groupId,
                                                           std::uint64_t flushInterval = kDRTLFlushIntervalDefault) {
    return DRTLChannelUnitConfiguration(std::move(groupId), 1, flushInterval, 50, 3);
  }

  const std::string groupId;
  const std::int64_t priority;  // kept, read by no part of the pipeline
  const std::uint64_t batchSizeLimit;
  const std::uint64_t pendingBatchesLimit;
  const std::uint64_t flushInterval;  // seconds
};

}  // namespace telemetry::core
