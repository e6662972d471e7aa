#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"

#include "telemetry/core/DRTLLogDBStorage.h"

namespace telemetry::core {

std::shared_ptr<DRTLChannelGroupDefault> DRTLChannelGroupDefault::create(
    std::shared_ptr<DRTLHttpClientProtocol> httpClient, const std::string& installId, const std::string& logUrl) {
  return create(DRTLHttpIngestion::make<DRTLDirAradedIngestion>(std::move(httpClient), logUrl, installId));
}

std::shared_ptr<DRTLChannelGroupDefault> DRTLChannelGroupDefault::create(
    std::shared_ptr<DRTLDirAradedIngestion> ingestion, std::shared_ptr<DRTLStorage> storage) {
  if (!storage) storage = std::make_shared<DRTLLogDBStorage>();
  return std::shared_ptr<DRTLChannelGroupDefault>(new DRTLChannelGroupDefault(std::move(ingestion), std::move(storage)));
}

DRTLChannelGroupDefault::DRTLChannelGroupDefault(std::shared_ptr<DRTLDirAradedIngestion> ingestion,
                                                 std::shared_ptr<DRTLStorage> storage)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      queue_(std::make_shared<platform::SerialQueue>(kDRTLChannelGroupQueueLabel)) {}

DRTLChannelGroupDefault::~DRTLChannelGroupDefault() {
  // The units' queued work ends before the store and the units go.
  queue_->sync([] {}, std::chrono::seconds(10));
}

std::vector<std::shared_ptr<DRTLChannelUnitDefault>> DRTLChannelGroupDefault::units() const {
  std::lock_guard lock(channelsMutex_);
  return channels_;
}

std::shared_ptr<DRTLChannelUnitProtocol> DRTLChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::optional<DRTLChannelUnitConfiguration>& configuration, std::shared_ptr<DRTLIngestionProtocol> ingestion) {
  if (!configuration) return nullptr;
  auto unit = std::make_shared<DRTLChannelUnitDefault>(ingestion ? std::move(ingestion) : ingestion_, storage_,
                                                       *configuration, queue_);
  unit->addDelegate(shared_from_this());
  queue_->async([unit] { unit->checkLogsLeftInStore(); });
  {
    std::lock_guard lock(channelsMutex_);
    channels_.push_back(unit);
  }
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelGroupDidAddChannelUnit(this, unit); });
  return unit;
}

std::shared_ptr<DRTLChannelUnitProtocol> DRTLChannelGroupDefault::channelUnitForGroupId(const std::string& groupId) const {
  for (const auto& unit : units()) {
    if (unit->configuration().groupId == groupId) return unit;
  }
  return nullptr;
}

void DRTLChannelGroupDefault::setEnabled(bool enabled, bool deleteData) {
  if (ingestion_) ingestion_->setEnabled(enabled, deleteData);
  for (const auto& unit : units()) unit->setEnabled(enabled, deleteData);
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidSetEnabled(this, enabled, deleteData); });
}

void DRTLChannelGroupDefault::pauseWithIdentifyingObject(const std::shared_ptr<void>& object) {
  if (ingestion_) ingestion_->setEnabled(false, false);
  for (const auto& unit : units()) unit->pauseWithIdentifyingObject(object);
}

void DRTLChannelGroupDefault::resumeWithIdentifyingObject(const std::shared_ptr<void>& object) {
  if (ingestion_) ingestion_->setEnabled(true, false);
  for (const auto& unit : units()) unit->resumeWithIdentifyingObject(object);
}

void DRTLChannelGroupDefault::setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
  queue_->async([storage = storage_, sizeInBytes, completionHandler = std::move(completionHandler)] {
    storage->setMaxStorageSize(sizeInBytes, completionHandler ? completionHandler : [](bool) {});
  });
}

std::string DRTLChannelGroupDefault::logUrl() const { return ingestion_ ? ingestion_->baseURL() : std::string(); }

void DRTLChannelGroupDefault::setLogUrl(const std::string& logUrl) {
  if (ingestion_) ingestion_->setBaseURL(logUrl);
}

std::optional<std::string> DRTLChannelGroupDefault::appSecret() const {
  return ingestion_ ? ingestion_->appSecret() : std::nullopt;
}

void DRTLChannelGroupDefault::setAppSecret(std::optional<std::string> appSecret) {
  if (!ingestion_) return;
  const bool ready = appSecret.has_value();
  ingestion_->setAppSecret(std::move(appSecret));
  if (!ready) return;
  // Logs stored while there was no secret can leave now.
  for (const auto& unit : units()) {
    queue_->async([unit] { unit->checkPendingLogs(); });
  }
}

void DRTLChannelGroupDefault::channelPrepareLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelPrepareLog(channel, log); });
}

void DRTLChannelGroupDefault::channelDidPrepareLog(DRTLChannelProtocol* channel,
                                                   const std::shared_ptr<DRTLAbstractLog>& log,
                                                   const std::string& internalId, std::uint64_t flags) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidPrepareLog(channel, log, internalId, flags); });
}

void DRTLChannelGroupDefault::channelDidStoreLog(DRTLChannelProtocol* channel,
                                                 const std::shared_ptr<DRTLAbstractLog>& log,
                                                 const std::string& internalId) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidStoreLog(channel, log, internalId); });
}

void DRTLChannelGroupDefault::channelDidCompleteEnqueueingLog(DRTLChannelProtocol* channel,
                                                              const std::shared_ptr<DRTLAbstractLog>& log,
                                                              const std::string& internalId) {
  delegates_.forEach(
      [&](DRTLChannelDelegate& delegate) { delegate.channelDidCompleteEnqueueingLog(channel, log, internalId); });
}

void DRTLChannelGroupDefault::channelWillSendLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelWillSendLog(channel, log); });
}

void DRTLChannelGroupDefault::channelDidSucceedSendingLog(DRTLChannelProtocol* channel,
                                                          const std::shared_ptr<DRTLAbstractLog>& log) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidSucceedSendingLog(channel, log); });
}

void DRTLChannelGroupDefault::channelDidFailSendingLog(DRTLChannelProtocol* channel,
                                                       const std::shared_ptr<DRTLAbstractLog>& log,
                                                       const std::optional<platform::Error>& error) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidFailSendingLog(channel, log, error); });
}

void DRTLChannelGroupDefault::channelDidSetEnabled(DRTLChannelProtocol* channel, bool enabled, bool deleteData) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidSetEnabled(channel, enabled, deleteData); });
}

void DRTLChannelGroupDefault::channelDidPauseWithIdentifyingObject(DRTLChannelProtocol* channel,
                                                                   const std::shared_ptr<void>& object) {
  delegates_.forEach([&](DRTLChannelDelegate& delegate) { delegate.channelDidPauseWithIdentifyingObject(channel, object); });
}

void DRTLChannelGroupDefault::channelDidResumeWithIdentifyingObject(DRTLChannelProtocol* channel,
                                                                    const std::shared_ptr<void>& object) {
  delegates_.forEach(
      [&](DRTLChannelDelegate& delegate) { delegate.channelDidResumeWithIdentifyingObject(channel, object); });
}

bool DRTLChannelGroupDefault::channelUnitShouldFilterLog(DRTLChannelUnitProtocol* unit,
                                                         const std::shared_ptr<DRTLAbstractLog>& log) {
  return delegates_.any([&](DRTLChannelDelegate& delegate) { return delegate.channelUnitShouldFilterLog(unit, log); });
}

}  // namespace telemetry::core
