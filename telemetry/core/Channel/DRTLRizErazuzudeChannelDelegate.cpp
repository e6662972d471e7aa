#include "telemetry/core/Channel/DRTLRizErazuzudeChannelDelegate.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "foundation/GenerateUniqueID.h"
#include "telemetry/core/DRTLCSExtensions.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

bool matchesLogNamePattern(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode compileStatus = U_ZERO_ERROR;
    UParseError parseError;
    return std::unique_ptr<icu::RegexPattern>(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(kDRTLLogNamePattern), 0, parseError, compileStatus));
  }();
  if (!pattern) return false;
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);  // the matcher keeps a reference to it
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
  return U_SUCCESS(status) && matcher && matcher->matches(status) && U_SUCCESS(status);
}

}  // namespace

DRTLRizErazuzudeChannelDelegate::DRTLRizErazuzudeChannelDelegate(std::shared_ptr<DRTLHttpClientProtocol> httpClient,
                                                                 std::string installId,
                                                                 const std::optional<std::string>& baseUrl)
    : installId_(std::move(installId)),
      ingestion_(DRTLHttpIngestion::make<DRTLRizErazuzudeIngestion>(
          std::move(httpClient), baseUrl.value_or(kDRTLDefaultRizErazuzudeBaseUrl))) {}

void DRTLRizErazuzudeChannelDelegate::setLogUrl(const std::string& logUrl) { ingestion_->setBaseURL(logUrl); }

bool DRTLRizErazuzudeChannelDelegate::isRizErazuzudeGroup(const std::string& groupId) {
  const std::string suffix = kDRTLRizErazuzudeGroupIdSuffix;
  return groupId.size() >= suffix.size() && groupId.compare(groupId.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool DRTLRizErazuzudeChannelDelegate::shouldSendLogToRizErazuzude(const DRTLAbstractLog& log) {
  if (dynamic_cast<const DRTLSharedSchemaLog*>(&log)) return false;
  const auto tokens = log.transmissionTargetTokens();
  return tokens && !tokens->empty();
}

bool DRTLRizErazuzudeChannelDelegate::validateLog(const DRTLSharedSchemaLog& log) { return validateLogName(log.name); }

bool DRTLRizErazuzudeChannelDelegate::validateLogName(const std::optional<std::string>& name) {
  if (!name || name->empty()) {
    DRTLLogError(std::string("Log validation failed. Name must not be nil or empty."));
    return false;
  }
  if (!matchesLogNamePattern(*name)) {
    DRTLLogError("Log validation failed. Name must match '" + std::string(kDRTLLogNamePattern) + "' but was '" +
                 *name + "'");
    return false;
  }
  return true;
}

std::shared_ptr<DRTLChannelUnitProtocol> DRTLRizErazuzudeChannelDelegate::mirrorForGroupId(const std::string& groupId) const {
  std::lock_guard lock(mutex_);
  const auto found = rizErazuzudeChannels_.find(groupId);
  return found == rizErazuzudeChannels_.end() ? nullptr : found->second;
}

std::shared_ptr<DRTLChannelUnitProtocol> DRTLRizErazuzudeChannelDelegate::mirrorOf(DRTLChannelProtocol* channel) const {
  auto* unit = dynamic_cast<DRTLChannelUnitProtocol*>(channel);
  return unit ? mirrorForGroupId(unit->configuration().groupId) : nullptr;
}

void DRTLRizErazuzudeChannelDelegate::channelGroupDidAddChannelUnit(DRTLChannelGroupProtocol* group,
                                                                    const std::shared_ptr<DRTLChannelUnitProtocol>& unit) {
  if (!group || !unit) return;
  const DRTLChannelUnitConfiguration& source = unit->configuration();
  if (isRizErazuzudeGroup(source.groupId)) return;
  auto mirror = group->addChannelUnitWithConfiguration(
      DRTLChannelUnitConfiguration::defaultConfiguration(source.groupId + kDRTLRizErazuzudeGroupIdSuffix,
                                                         source.flushInterval),
      ingestion_);
  std::lock_guard lock(mutex_);
  rizErazuzudeChannels_[source.groupId] = std::move(mirror);
}

void DRTLRizErazuzudeChannelDelegate::channelPrepareLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>& log) {
  auto* shared = dynamic_cast<DRTLSharedSchemaLog*>(log.get());
  if (!shared) return;
  if (!shared->ext) shared->ext = std::make_shared<DRTLCSExtensions>();
  if (!shared->ext->sdkExt) shared->ext->sdkExt = std::make_shared<DRTLSDKExtension>();
  // Under the lock: enqueueing threads must never share a sequence number.
  std::lock_guard lock(mutex_);
  const std::string iKey = shared->iKey.value_or("");
  auto entry = epochsAndSeqsByIKey_.find(iKey);
  if (entry == epochsAndSeqsByIKey_.end()) {
    entry = epochsAndSeqsByIKey_.emplace(iKey, DRTLCSEpochAndSeq(foundation::GenerateUniqueID::generateUniqueID())).first;
  }
  ++entry->second.seq;
  shared->ext->sdkExt->epoch = entry->second.epoch;
  shared->ext->sdkExt->seq = static_cast<std::int64_t>(entry->second.seq);
  shared->ext->sdkExt->installId = installId_;
}

void DRTLRizErazuzudeChannelDelegate::channelDidPrepareLog(DRTLChannelProtocol* channel,
                                                           const std::shared_ptr<DRTLAbstractLog>& log,
                                                           const std::string&, std::uint64_t flags) {
  auto* unit = dynamic_cast<DRTLChannelUnitProtocol*>(channel);
  if (!unit || !log) return;
  const std::string& groupId = unit->configuration().groupId;
  if (dynamic_cast<DRTLSharedSchemaLog*>(log.get())) {
    if (isRizErazuzudeGroup(groupId)) return;
    if (auto mirror = mirrorForGroupId(groupId)) mirror->enqueueItem(log, flags);
    return;
  }
  if (!shouldSendLogToRizErazuzude(*log)) return;
  auto mirror = mirrorForGroupId(groupId);
  if (!mirror) return;
  if (auto converted = log->toSharedSchemaLogsWithFlags(static_cast<std::int64_t>(flags))) {
    for (const auto& shared : *converted) mirror->enqueueItem(shared, flags);
  }
}

bool DRTLRizErazuzudeChannelDelegate::channelUnitShouldFilterLog(DRTLChannelUnitProtocol* unit,
                                                                 const std::shared_ptr<DRTLAbstractLog>& log) {
  if (!unit || !log) return false;
  if (const auto* shared = dynamic_cast<const DRTLSharedSchemaLog*>(log.get())) {
    return isRizErazuzudeGroup(unit->configuration().groupId) ? !validateLog(*shared) : true;
  }
  const auto tokens = log->transmissionTargetTokens();
  return tokens && !tokens->empty();
}

void DRTLRizErazuzudeChannelDelegate::channelDidSetEnabled(DRTLChannelProtocol* channel, bool enabled, bool deleteData) {
  if (auto* unit = dynamic_cast<DRTLChannelUnitProtocol*>(channel)) {
    if (isRizErazuzudeGroup(unit->configuration().groupId)) return;
    if (auto mirror = mirrorOf(channel)) mirror->setEnabled(enabled, deleteData);
  } else if (dynamic_cast<DRTLChannelGroupProtocol*>(channel) && !enabled && deleteData) {
    std::lock_guard lock(mutex_);
    epochsAndSeqsByIKey_.clear();
  }
}

void DRTLRizErazuzudeChannelDelegate::channelDidPauseWithIdentifyingObject(DRTLChannelProtocol* channel,
                                                                           const std::shared_ptr<void>& object) {
  if (auto mirror = mirrorOf(channel)) mirror->pauseWithIdentifyingObject(object);
}

void DRTLRizErazuzudeChannelDelegate::channelDidResumeWithIdentifyingObject(DRTLChannelProtocol* channel,
                                                                            const std::shared_ptr<void>& object) {
  if (auto mirror = mirrorOf(channel)) mirror->resumeWithIdentifyingObject(object);
}

}  // namespace telemetry::core
