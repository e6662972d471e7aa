#pragma once
// DRTLRizErazuzudeChannelDelegate: sends logs addressed to transmission
// targets to the Shared Schema collector. Registered on the channel group, it
// gives each unit a mirror unit "<groupId>/one" on the collector's ingestion,
// converts targeted logs into Shared Schema logs there and filters them out
// of their own unit, stamps each Shared Schema log with the sdk extension's
// epoch, sequence number (per instrumentation key, from 1) and install id,
// checks their names, and keeps each mirror enabled, paused and resumed with
// its unit.
//
// Callbacks come on enqueueing threads and on the channel group queue; the
// mirror table and the epoch table are guarded by one lock, so sequence
// numbers never repeat. The lock is never held while calling the group.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/Ingestion/DRTLRizErazuzudeIngestion.h"

namespace telemetry::core {

inline constexpr const char* kDRTLRizErazuzudeGroupIdSuffix = "/one";
inline constexpr const char* kDRTLLogNamePattern = "^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$";

class DRTLRizErazuzudeChannelDelegate : public DRTLChannelDelegate {
 public:
  // No base URL: the default collector (kDRTLDefaultRizErazuzudeBaseUrl).
  DRTLRizErazuzudeChannelDelegate(std::shared_ptr<DRTLHttpClientProtocol> httpClient, std::string installId,
                                  const std::optional<std::string>& baseUrl);

  void setLogUrl(const std::string& logUrl);
  const std::shared_ptr<DRTLRizErazuzudeIngestion>& ingestion() const { return ingestion_; }
  std::shared_ptr<DRTLChannelUnitProtocol> mirrorForGroupId(const std::string& groupId) const;

  static bool isRizErazuzudeGroup(const std::string& groupId);
  static bool shouldSendLogToRizErazuzude(const DRTLAbstractLog& log);
  static bool validateLog(const DRTLSharedSchemaLog& log);
  static bool validateLogName(const std::optional<std::string>& name);

  void channelGroupDidAddChannelUnit(DRTLChannelGroupProtocol* group,
                                     const std::shared_ptr<DRTLChannelUnitProtocol>& unit) override;
  void channelPrepareLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log) override;
  void channelDidPrepareLog(DRTLChannelProtocol* channel, const std::shared_ptr<DRTLAbstractLog>& log,
                            const std::string& internalId, std::uint64_t flags) override;
  bool channelUnitShouldFilterLog(DRTLChannelUnitProtocol* unit, const std::shared_ptr<DRTLAbstractLog>& log) override;
  void channelDidSetEnabled(DRTLChannelProtocol* channel, bool enabled, bool deleteData) override;
  void channelDidPauseWithIdentifyingObject(DRTLChannelProtocol* channel, const std::shared_ptr<void>& object) override;
  void channelDidResumeWithIdentifyingObject(DRTLChannelProtocol* channel,
                                             const std::shared_ptr<void>& object) override;

 private:
  std::shared_ptr<DRTLChannelUnitProtocol> mirrorOf(DRTLChannelProtocol* channel) const;

  const std::string installId_;
  const std::shared_ptr<DRTLRizErazuzudeIngestion> ingestion_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<DRTLChannelUnitProtocol>> rizErazuzudeChannels_;  // guarded by mutex_
  std::map<std::string, DRTLCSEpochAndSeq> epochsAndSeqsByIKey_;                         // guarded by mutex_
};

}  // namespace telemetry::core
