#pragma once
// DRTLChannelGroupDefault: the hub of the log pipeline. It owns the channel
// group queue ("TelemetryCore.ChannelGroupQueue"), the log ingestion, the log
// store and the units; it is the delegate of every unit and passes each of
// their callbacks on to its own (weakly held) delegates, and applies enable,
// pause and resume to the ingestion and all units at once. Setting the app
// secret makes every unit check its pending logs, so logs stored before
// there was a secret leave.
//
// Owned through a shared_ptr (create()). Group operations run on the
// caller's thread; the unit list and the delegate table have locks of their
// own and callbacks go to snapshots, outside them.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/DispatchQueue.h"
#include "telemetry/core/Channel/DRTLChannelUnitDefault.h"
#include "telemetry/core/Ingestion/DRTLDirAradedIngestion.h"

namespace telemetry::core {

inline constexpr const char* kDRTLChannelGroupQueueLabel = "TelemetryCore.ChannelGroupQueue";

class DRTLChannelGroupProtocol : public DRTLChannelProtocol {
 public:
  virtual std::shared_ptr<DRTLChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::optional<DRTLChannelUnitConfiguration>& configuration,
      std::shared_ptr<DRTLIngestionProtocol> ingestion = nullptr) = 0;
  virtual void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler) = 0;
  virtual std::shared_ptr<DRTLChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) const = 0;
  virtual std::string logUrl() const = 0;
  virtual void setLogUrl(const std::string& logUrl) = 0;
  virtual std::optional<std::string> appSecret() const = 0;
  virtual void setAppSecret(std::optional<std::string> appSecret) = 0;
};

class DRTLChannelGroupDefault : public DRTLChannelGroupProtocol,
                                public DRTLChannelDelegate,
                                public std::enable_shared_from_this<DRTLChannelGroupDefault> {
 public:
  // The log ingestion for `logUrl` with the install id, and a new log store.
  static std::shared_ptr<DRTLChannelGroupDefault> create(std::shared_ptr<DRTLHttpClientProtocol> httpClient,
                                                         const std::string& installId, const std::string& logUrl);
  // The given ingestion (may be null) and store (a new log store when null).
  static std::shared_ptr<DRTLChannelGroupDefault> create(std::shared_ptr<DRTLDirAradedIngestion> ingestion,
                                                         std::shared_ptr<DRTLStorage> storage = nullptr);
  ~DRTLChannelGroupDefault() override;

  std::shared_ptr<DRTLChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::optional<DRTLChannelUnitConfiguration>& configuration,
      std::shared_ptr<DRTLIngestionProtocol> ingestion = nullptr) override;
  std::shared_ptr<DRTLChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) const override;
  void addDelegate(const std::shared_ptr<DRTLChannelDelegate>& delegate) override { delegates_.add(delegate); }
  void removeDelegate(const std::shared_ptr<DRTLChannelDelegate>& delegate) override { delegates_.remove(delegate); }
  void setEnabled(bool enabled, bool deleteData) override;
  void pauseWithIdentifyingObject(const std::shared_ptr<void>& object) override;
  void resumeWithIdentifyingObject(const std::shared_ptr<void>& object) override;
  void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler) override;
  std::string logUrl() const override;
  void setLogUrl(const std::string& logUrl) override;
  std::optional<std::string> appSecret() const override;
  void setAppSecret(std::optional<std::string> appSecret) override;

  const std::shared_ptr<platform::SerialQueue>& logsDispatchQueue() const { return queue_; }
  const std::shared_ptr<DRTLDirAradedIngestion>& ingestion() const { return ingestion_; }
  const std::shared_ptr<DRTLStorage>& storage() const { return storage_; }

  // Unit callbacks, passed on to the group's delegates.
  void channelPrepareLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log) override;
  void channelDidPrepareLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log,
                            const std::string& internalId, std::uint64_t flags) override;
  void channelDidStoreLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log,
                          const std::string& internalId) override;
  void channelDidCompleteEnqueueingLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log,
                                       const std::string& internalId) override;
  void channelWillSendLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log) override;
  void channelDidSucceedSendingLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log) override;
  void channelDidFailSendingLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log,
                                const std::optional<platform::Error>& error) override;
  void channelDidSetEnabled(DRTLChannelProtocol* channel, bool enabled, bool deleteData) override;
  void channelDidPauseWithIdentifyingObject(DRTLChannelProtocol* channel, const std::shared_ptr<void>& object) override;
  void channelDidResumeWithIdentifyingObject(DRTLChannelProtocol* channel,
                                             const std::shared_ptr<void>& object) override;
  bool channelUnitShouldFilterLog(DRTLChannelUnitProtocol* unit, const std::shared_ptr<DRTLAbstractLog>& log) override;

 private:
  DRTLChannelGroupDefault(std::shared_ptr<DRTLDirAradedIngestion> ingestion, std::shared_ptr<DRTLStorage> storage);
  std::vector<std::shared_ptr<DRTLChannelUnitDefault>> units() const;

  const std::shared_ptr<DRTLDirAradedIngestion> ingestion_;
  const std::shared_ptr<DRTLStorage> storage_;
  const std::shared_ptr<platform::SerialQueue> queue_;
  DRTLDelegateTable delegates_;
  mutable std::mutex channelsMutex_;
  std::vector<std::shared_ptr<DRTLChannelUnitDefault>> channels_;  // guarded by channelsMutex_; never shrinks
};

}  // namespace telemetry::core
