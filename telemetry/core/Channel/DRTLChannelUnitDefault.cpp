#include "telemetry/core/Channel/DRTLChannelUnitDefault.h"

#include <algorithm>
#include <sstream>

#include "foundation/GenerateUniqueID.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLStorage.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

platform::Date now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

std::string describe(const std::shared_ptr<void>& object) {
  std::ostringstream text;
  text << object.get();
  return text.str();
}

bool sameObject(const std::weak_ptr<void>& held, const std::shared_ptr<void>& object) {
  return !held.owner_before(object) && !object.owner_before(held);
}

platform::Error pausedWithDeletionError() {
  return platform::Error(DRTLErrorDomain, DRTLConnectionPausedErrorCode, kDRTLConnectionPausedErrorDesc);
}

}  // namespace

DRTLChannelUnitDefault::DRTLChannelUnitDefault(std::shared_ptr<DRTLIngestionProtocol> ingestion,
                                               std::shared_ptr<DRTLStorage> storage,
                                               DRTLChannelUnitConfiguration configuration,
                                               std::shared_ptr<platform::DispatchQueue> logsDispatchQueue)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      configuration_(std::move(configuration)),
      queue_(std::move(logsDispatchQueue)) {}

DRTLChannelUnitDefault::~DRTLChannelUnitDefault() {
  if (timer_) timer_->invalidate();
}

std::string DRTLChannelUnitDefault::oldestPendingLogTimestampKey() const {
  return std::string(kDRTLStartTimerPrefix) + ":" + configuration_.groupId;
}

bool DRTLChannelUnitDefault::hasRunningTimer() const { return timer_ && timer_->isValid(); }

void DRTLChannelUnitDefault::enqueueItem(const std::shared_ptr<DRTLAbstractLog>& log, std::uint64_t flags) {
  if (!log) {
    DRTLLogWarning(std::string("Log is not valid."));
    return;
  }
  if (!log->timestamp) log->timestamp = now();
  if (!log->device) log->device = DRTLDeviceTracker::sharedInstance()->device();
  if (!log->isValid()) {
    DRTLLogWarning(std::string("Log is not valid."));
    return;
  }
  const std::string internalId = foundation::GenerateUniqueID::generateUniqueID();
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelPrepareLog(this, log); });
  delegates_.forEach(
      [&](DRTLChannelDelegate& delegate) { delegate.channelDidPrepareLog(this, log, internalId, flags); });
  std::shared_ptr<EnqueueGroup> group;
  {
    std::lock_guard lock(enqueueMutex_);
    const std::size_t limit = std::max<std::size_t>(1, configuration_.batchSizeLimit);
    if (openEnqueueGroup_ && openEnqueueGroup_->size() < limit) {
      openEnqueueGroup_->push_back({log, internalId, flags});
      return;
    }
    group = openEnqueueGroup_ = std::make_shared<EnqueueGroup>();
    group->push_back({log, internalId, flags});
  }
  queue_->async([self = shared_from_this(), group] { self->enqueueGroupOnQueue(group); });
}

void DRTLChannelUnitDefault::closeEnqueueGroup() {
  std::lock_guard lock(enqueueMutex_);
  openEnqueueGroup_.reset();
}

void DRTLChannelUnitDefault::enqueueGroupOnQueue(const std::shared_ptr<EnqueueGroup>& group) {
  EnqueueGroup logs;
  {
    std::lock_guard lock(enqueueMutex_);
    if (openEnqueueGroup_ == group) openEnqueueGroup_.reset();
    logs = std::move(*group);
  }
  enum class Fate { Filtered = 1, Discarded = 2, Stored = 3 };
  std::vector<Fate> fates;
  std::vector<DRTLLogToSave> toSave;
  for (const EnqueuedLog& entry : logs) {
    const auto& log = entry.log;
    if (delegates_.any([&](DRTLChannelDelegate& delegate) { return delegate.channelUnitShouldFilterLog(this, log); })) {
      fates.push_back(Fate::Filtered);
    } else if (discardLogs_) {
      fates.push_back(Fate::Discarded);
    } else {
      // Stored even while the ingestion is not ready (no secret yet): the log
      // waits for it instead of being lost.
      DRTLLogDebug("Saving log, type: " + log->type.value_or("") + ", flags: " + std::to_string(entry.flags) + ".");
      fates.push_back(Fate::Stored);
      toSave.push_back({log, entry.flags});
    }
  }
  std::vector<bool> saved;
  std::size_t savedIndex = 0;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    const std::shared_ptr<DRTLAbstractLog>& log = logs[i].log;
    const std::string& internalId = logs[i].internalId;
    if (fates[i] == Fate::Stored && savedIndex == saved.size()) {
      // Saved up to the log that fills a batch, so a flush finds in the store
      // what it would find had each log been saved alone.
      const std::uint64_t limit = configuration_.batchSizeLimit;
      const std::size_t room = itemsCount_ < limit ? limit - itemsCount_ : 1;
      const auto first = toSave.begin() + static_cast<std::ptrdiff_t>(saved.size());
      const auto last = first + static_cast<std::ptrdiff_t>(std::min<std::size_t>(room, toSave.end() - first));
      const std::vector<bool> chunk = storage_->saveLogs({first, last}, configuration_.groupId);
      saved.insert(saved.end(), chunk.begin(), chunk.end());
    }
    const bool stored = fates[i] == Fate::Stored && saved.at(savedIndex++);
    if (fates[i] == Fate::Filtered) {
      DRTLLogDebug("Log of type '" + log->type.value_or("") + "' was filtered out by delegate(s)");
    } else if (fates[i] == Fate::Discarded) {
      DRTLLogWarning("Channel " + configuration_.groupId + " disabled in log discarding mode, discard this log.");
      notifyFailureBeforeSendingForItem(log, pausedWithDeletionError());
    } else if (stored) {
      delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidStoreLog(this, log, internalId); });
    }
    delegates_.forEach(
        [&](DRTLChannelDelegate& delegate) { delegate.channelDidCompleteEnqueueingLog(this, log, internalId); });
    if (stored) {
      ++itemsCount_;
      checkPendingLogs();
    }
  }
}

void DRTLChannelUnitDefault::checkPendingLogs() {
  if (!paused_ && configuration_.flushInterval == kDRTLFlushIntervalDefault &&
      itemsCount_ >= configuration_.batchSizeLimit) {
    flushQueue();
    return;
  }
  if (itemsCount_ == 0) return;
  const std::uint64_t seconds = resolveFlushInterval();
  if (paused_) return;
  if (seconds == 0) {
    flushQueue();
  } else if (!hasRunningTimer()) {
    startTimer(seconds);
  }
}

void DRTLChannelUnitDefault::checkLogsLeftInStore() {
  itemsCount_ += storage_->countLogsWithGroupId(configuration_.groupId);
  checkPendingLogs();
}

std::uint64_t DRTLChannelUnitDefault::resolveFlushInterval() {
  const std::uint64_t interval = configuration_.flushInterval;
  if (interval <= kDRTLFlushIntervalDefault) return interval;
  auto defaults = DRTLDirAradedUserDefaults::shared();
  const std::string key = oldestPendingLogTimestampKey();
  const std::optional<platform::Date> start = defaults->objectForKey(key).date();
  const platform::Date current = now();
  if (start && current >= *start) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(current - *start).count();
    if (current > *start + std::chrono::seconds(interval)) {
      defaults->removeObjectForKey(key);
      return 0;
    }
    return interval - static_cast<std::uint64_t>(elapsed);
  }
  defaults->setObject(platform::Value(current), key);
  return interval;
}

void DRTLChannelUnitDefault::startTimer(std::uint64_t seconds) {
  if (!enabled_) return;
  resetTimer();
  std::weak_ptr<DRTLChannelUnitDefault> weak = weak_from_this();
  timer_ = platform::Timer::scheduled(*queue_, std::chrono::seconds(seconds), platform::Timer::Mode::OneShot, [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->itemsCount_ != 0) self->flushQueue();
    self->resetTimer();
    DRTLDirAradedUserDefaults::shared()->removeObjectForKey(self->oldestPendingLogTimestampKey());
  });
}

void DRTLChannelUnitDefault::resetTimer() {
  if (timer_) timer_->invalidate();
  timer_.reset();
}

void DRTLChannelUnitDefault::flushQueue() {
  if (!ingestion_ || !enabled_ || !ingestion_->isReadyToSend()) return;
  resetTimer();
  if (paused_ || pendingBatchQueueFull_) {
    if (itemsCount_ >= configuration_.batchSizeLimit) {
      availableBatchFromStorage_ = true;
      itemsCount_ = 0;
    }
    return;
  }
  itemsCount_ = 0;
  const std::vector<std::string> excluded(pausedTargetKeys_.begin(), pausedTargetKeys_.end());
  availableBatchFromStorage_ = storage_->loadLogsWithGroupId(
      configuration_.groupId, configuration_.batchSizeLimit, excluded,
      [this](const DRTLLogArray& logs, const std::optional<std::string>& batchId) {
        if (!logs.empty()) sendLogContainer(std::make_shared<DRTLLogContainer>(batchId, logs));
      });
  if (availableBatchFromStorage_ && !pendingBatchQueueFull_) flushQueue();
}

void DRTLChannelUnitDefault::sendLogContainer(const std::shared_ptr<DRTLLogContainer>& container) {
  const std::string batchId = container->batchId.value_or("");
  pendingBatchIds_.push_back(batchId);
  if (pendingBatchIds_.size() >= configuration_.pendingBatchesLimit) pendingBatchQueueFull_ = true;
  if (DRTLLogger::currentLogLevel() <= DRTLLogLevelDebug) {
    const std::size_t count = container->logs.size();
    for (std::size_t i = 0; i < count; ++i) {
      const auto& log = container->logs[i];
      DRTLLogDebug("Sending " + std::to_string(i + 1) + "/" + std::to_string(count) + " log, group Id: " +
                   configuration_.groupId + ", batch Id: " + batchId + ", session Id: " + log->sid.value_or("") +
                   ", payload:\n" + log->serializeLogWithPrettyPrinting(true).value_or(""));
    }
  }
  for (const auto& log : container->logs) {
    delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelWillSendLog(this, log); });
  }
  std::weak_ptr<DRTLChannelUnitDefault> weak = weak_from_this();
  ingestion_->sendAsync(container, [weak, container, queue = queue_](
                                       const std::optional<std::string>&, const std::shared_ptr<DRTLHttpResponse>& response,
                                       const std::optional<std::string>&, const std::optional<platform::Error>& error) {
    const std::int64_t status = response ? response->statusCode : 0;
    queue->async([weak, container, status, error] {
      if (auto self = weak.lock()) self->handleResponse(container, status, error);
    });
  });
}

void DRTLChannelUnitDefault::handleResponse(const std::shared_ptr<DRTLLogContainer>& container,
                                            std::int64_t statusCode, const std::optional<platform::Error>& error) {
  const std::string batchId = container->batchId.value_or("");
  const auto pending = std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId);
  if (pending == pendingBatchIds_.end()) {
    DRTLLogWarning("Batch Id " + batchId + " not expected, ignore.");
    return;
  }
  pendingBatchIds_.erase(pending);
  const bool succeeded = DRTLHttpUtil::isSuccessStatusCode(statusCode);
  if (succeeded) {
    DRTLLogDebug("Log(s) sent with success, batch Id:" + batchId + ".");
    for (const auto& log : container->logs) {
      delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidSucceedSendingLog(this, log); });
    }
    storage_->deleteLogsWithBatchId(batchId, configuration_.groupId);
  } else {
    DRTLLogError("Log(s) sent with failure, batch Id:" + batchId + ", status code:" + std::to_string(statusCode));
    for (const auto& log : container->logs) {
      delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidFailSendingLog(this, log, error); });
    }
    if (!DRTLHttpUtil::isRecoverableError(statusCode)) {
      // Only the refused batch goes; the group's other logs stay for the next start.
      DRTLLogError("Fatal error encountered; shutting down channel unit with group ID " + configuration_.groupId);
      storage_->deleteLogsWithBatchId(batchId, configuration_.groupId);
      setEnabledSync(false, false);
      return;
    }
    // Released, so the next flush sends these logs again.
    storage_->releaseLogsWithBatchId(batchId, configuration_.groupId);
  }
  if (pendingBatchQueueFull_ && pendingBatchIds_.size() < configuration_.pendingBatchesLimit) {
    pendingBatchQueueFull_ = false;
    if (succeeded && availableBatchFromStorage_) flushQueue();
  }
}

void DRTLChannelUnitDefault::setEnabled(bool enabled, bool deleteData) {
  closeEnqueueGroup();
  queue_->async([self = shared_from_this(), enabled, deleteData] { self->setEnabledSync(enabled, deleteData); });
}

void DRTLChannelUnitDefault::setEnabledSync(bool enabled, bool deleteData) {
  if (enabled != enabled_) {
    enabled_ = enabled;
    if (enabled) {
      resumeWithIdentifyingObjectSync(shared_from_this());
    } else {
      pauseWithIdentifyingObjectSync(shared_from_this());
    }
  }
  if (enabled || !deleteData) {
    discardLogs_ = false;
  } else {
    DRTLLogDebug("Delete all logs for group Id " + configuration_.groupId);
    deleteAllLogsWithErrorSync(pausedWithDeletionError());
    itemsCount_ = 0;
    availableBatchFromStorage_ = false;
    pendingBatchQueueFull_ = false;
    DRTLDirAradedUserDefaults::shared()->removeObjectForKey(oldestPendingLogTimestampKey());
    discardLogs_ = true;
  }
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidSetEnabled(this, enabled, deleteData); });
}

void DRTLChannelUnitDefault::deleteAllLogsWithError(const platform::Error& error) {
  closeEnqueueGroup();
  queue_->async([self = shared_from_this(), error] { self->deleteAllLogsWithErrorSync(error); });
}

void DRTLChannelUnitDefault::deleteAllLogsWithErrorSync(const platform::Error& error) {
  for (const std::string& batchId : pendingBatchIds_) storage_->deleteLogsWithBatchId(batchId, configuration_.groupId);
  pendingBatchIds_.clear();
  for (const auto& log : storage_->deleteLogsWithGroupId(configuration_.groupId)) {
    notifyFailureBeforeSendingForItem(log, error);
  }
}

void DRTLChannelUnitDefault::notifyFailureBeforeSendingForItem(const std::shared_ptr<DRTLAbstractLog>& log,
                                                               const platform::Error& error) {
  for (const auto& delegate : delegates_.snapshot()) {
    delegate->channelWillSendLog(this, log);
    delegate->channelDidFailSendingLog(this, log, error);
  }
}

bool DRTLChannelUnitDefault::isPausedBy(const std::shared_ptr<void>& object) const {
  return std::any_of(pausedIdentifyingObjects_.begin(), pausedIdentifyingObjects_.end(),
                     [&](const auto& held) { return sameObject(held, object); });
}

void DRTLChannelUnitDefault::pauseWithIdentifyingObject(const std::shared_ptr<void>& object) {
  closeEnqueueGroup();
  queue_->async([self = shared_from_this(), object] { self->pauseWithIdentifyingObjectSync(object); });
}

void DRTLChannelUnitDefault::resumeWithIdentifyingObject(const std::shared_ptr<void>& object) {
  closeEnqueueGroup();
  queue_->async([self = shared_from_this(), object] { self->resumeWithIdentifyingObjectSync(object); });
}

void DRTLChannelUnitDefault::pauseWithIdentifyingObjectSync(const std::shared_ptr<void>& object) {
  std::erase_if(pausedIdentifyingObjects_, [](const auto& held) { return held.expired(); });
  if (!isPausedBy(object)) pausedIdentifyingObjects_.push_back(object);
  DRTLLogVerbose("Identifying object " + describe(object) + " added to pause lane for channel " +
                 configuration_.groupId + ".");
  if (!paused_) {
    DRTLLogDebug("Pause channel " + configuration_.groupId + ".");
    paused_ = true;
    resetTimer();
  }
  delegates_.forEach(
      [&](DRTLChannelDelegate& delegate) { delegate.channelDidPauseWithIdentifyingObject(this, object); });
}

void DRTLChannelUnitDefault::resumeWithIdentifyingObjectSync(const std::shared_ptr<void>& object) {
  std::erase_if(pausedIdentifyingObjects_,
                [&](const auto& held) { return held.expired() || sameObject(held, object); });
  DRTLLogVerbose("Identifying object " + describe(object) + " removed from pause lane for channel " +
                 configuration_.groupId + ".");
  if (pausedIdentifyingObjects_.empty()) {
    DRTLLogDebug("Resume channel " + configuration_.groupId + ".");
    paused_ = false;
    checkPendingLogs();
  }
  delegates_.forEach(
      [&](DRTLChannelDelegate& delegate) { delegate.channelDidResumeWithIdentifyingObject(this, object); });
}

void DRTLChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
  const std::optional<std::string> key = DRTLUtility::targetKeyFromTargetToken(token);
  if (!key || key->empty()) return;
  closeEnqueueGroup();
  queue_->async([self = shared_from_this(), key = *key] {
    DRTLLogDebug("Pause channel for target key " + key + ".");
    self->pausedTargetKeys_.insert(key);
  });
}

void DRTLChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
  const std::optional<std::string> key = DRTLUtility::targetKeyFromTargetToken(token);
  if (!key || key->empty()) return;
  closeEnqueueGroup();
  queue_->async([self = shared_from_this(), key = *key] {
    DRTLLogDebug("Resume channel for target key " + key + ".");
    self->pausedTargetKeys_.erase(key);
    self->itemsCount_ = self->storage_->countLogs();
    self->checkPendingLogs();
  });
}

}  // namespace telemetry::core
