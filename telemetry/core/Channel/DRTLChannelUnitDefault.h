#pragma once
// DRTLChannelUnitDefault: carries the logs of one group from enqueueing to
// delivery. It stamps and validates each log, lets the delegates filter it,
// stores it, and sends batches when 50 are waiting (3 s interval) or when the
// flush timer fires; at most `pendingBatchesLimit` batches are in flight.
//
// - The flush timer starts with the first pending log; later logs do not
//   restart it, so the interval is the longest wait. Intervals of 4 s and
//   more count from a start time kept in the settings store
//   ("ChannelStartTimer:<groupId>"), so they survive restarts.
// - Logs are stored while the ingestion is not ready (no secret yet) and wait.
// - A recoverable failure releases the batch in the store (its logs leave at
//   the next flush); a refused batch is deleted alone and the unit disabled
//   without touching the group's other logs.
//
// Logs enqueued one after another (up to a batch) are stored by one task in
// one transaction; any other operation of the unit starts a new group, so the
// order of the unit's operations is kept.
//
// All state lives on the channel group queue; enqueueItem's first part, the
// open enqueue group (its lock) and the delegate table are safe from any
// thread. Owned through a shared_ptr.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/Timer.h"
#include "telemetry/core/Channel/DRTLChannelUnitConfiguration.h"
#include "telemetry/core/Channel/DRTLDelegateTable.h"
#include "telemetry/core/DRTLStorage.h"
#include "telemetry/core/Ingestion/DRTLHttpIngestion.h"

namespace telemetry::core {

class DRTLLogContainer;

inline constexpr const char* kDRTLStartTimerPrefix = "ChannelStartTimer";

class DRTLChannelUnitProtocol : public DRTLChannelProtocol {
 public:
  virtual void enqueueItem(const std::shared_ptr<DRTLAbstractLog>& log, std::uint64_t flags) = 0;
  virtual void pauseSendingLogsWithToken(const std::string& token) = 0;
  virtual void resumeSendingLogsWithToken(const std::string& token) = 0;
  virtual void checkPendingLogs() = 0;
  virtual const DRTLChannelUnitConfiguration& configuration() const = 0;
  virtual const std::shared_ptr<platform::DispatchQueue>& logsDispatchQueue() const = 0;
};

class DRTLChannelUnitDefault : public DRTLChannelUnitProtocol,
                               public std::enable_shared_from_this<DRTLChannelUnitDefault> {
 public:
  DRTLChannelUnitDefault(std::shared_ptr<DRTLIngestionProtocol> ingestion, std::shared_ptr<DRTLStorage> storage,
                         DRTLChannelUnitConfiguration configuration,
                         std::shared_ptr<platform::DispatchQueue> logsDispatchQueue);
  ~DRTLChannelUnitDefault() override;

  void addDelegate(const std::shared_ptr<DRTLChannelDelegate>& delegate) override { delegates_.add(delegate); }
  void removeDelegate(const std::shared_ptr<DRTLChannelDelegate>& delegate) override { delegates_.remove(delegate); }
  void enqueueItem(const std::shared_ptr<DRTLAbstractLog>& log, std::uint64_t flags) override;
  void setEnabled(bool enabled, bool deleteData) override;
  void pauseWithIdentifyingObject(const std::shared_ptr<void>& object) override;
  void resumeWithIdentifyingObject(const std::shared_ptr<void>& object) override;
  void pauseSendingLogsWithToken(const std::string& token) override;
  void resumeSendingLogsWithToken(const std::string& token) override;
  void deleteAllLogsWithError(const platform::Error& error);
  const DRTLChannelUnitConfiguration& configuration() const override { return configuration_; }
  const std::shared_ptr<platform::DispatchQueue>& logsDispatchQueue() const override { return queue_; }
  const std::shared_ptr<DRTLIngestionProtocol>& ingestion() const { return ingestion_; }

  // On the channel group queue.
  void checkPendingLogs() override;
  // The first check: logs an earlier run left in the store count as pending.
  void checkLogsLeftInStore();
  void flushQueue();
  void sendLogContainer(const std::shared_ptr<DRTLLogContainer>& container);
  void startTimer(std::uint64_t seconds);
  std::uint64_t resolveFlushInterval();
  void resetTimer();
  void setEnabledSync(bool enabled, bool deleteData);
  void pauseWithIdentifyingObjectSync(const std::shared_ptr<void>& object);
  void resumeWithIdentifyingObjectSync(const std::shared_ptr<void>& object);
  void deleteAllLogsWithErrorSync(const platform::Error& error);
  std::string oldestPendingLogTimestampKey() const;

  // State, read on the channel group queue (tests).
  std::uint64_t itemsCount() const { return itemsCount_; }
  bool isPaused() const { return paused_; }
  bool isEnabled() const { return enabled_; }
  bool discardsLogs() const { return discardLogs_; }
  std::size_t pendingBatchCount() const { return pendingBatchIds_.size(); }
  bool hasRunningTimer() const;

 private:
  struct EnqueuedLog {
    std::shared_ptr<DRTLAbstractLog> log;
    std::string internalId;
    std::uint64_t flags = 0;
  };
  using EnqueueGroup = std::vector<EnqueuedLog>;

  void enqueueGroupOnQueue(const std::shared_ptr<EnqueueGroup>& group);
  // Later logs go to a new group, queued after the operation about to be queued.
  void closeEnqueueGroup();
  void handleResponse(const std::shared_ptr<DRTLLogContainer>& container, std::int64_t statusCode,
                      const std::optional<platform::Error>& error);
  void notifyFailureBeforeSendingForItem(const std::shared_ptr<DRTLAbstractLog>& log, const platform::Error& error);
  bool isPausedBy(const std::shared_ptr<void>& object) const;

  const std::shared_ptr<DRTLIngestionProtocol> ingestion_;
  const std::shared_ptr<DRTLStorage> storage_;
  const DRTLChannelUnitConfiguration configuration_;
  const std::shared_ptr<platform::DispatchQueue> queue_;
  DRTLDelegateTable delegates_;

  std::mutex enqueueMutex_;
  std::shared_ptr<EnqueueGroup> openEnqueueGroup_;  // guarded by enqueueMutex_; its task is queued

  // On the channel group queue only.
  bool availableBatchFromStorage_ = false;
  bool pendingBatchQueueFull_ = false;
  bool enabled_ = true;
  bool paused_ = false;
  bool discardLogs_ = false;
  std::unique_ptr<platform::Timer> timer_;
  std::uint64_t itemsCount_ = 0;
  std::vector<std::string> pendingBatchIds_;
  std::vector<std::weak_ptr<void>> pausedIdentifyingObjects_;
  std::set<std::string> pausedTargetKeys_;
};

}  // namespace telemetry::core
