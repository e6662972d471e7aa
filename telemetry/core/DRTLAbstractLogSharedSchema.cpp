// The Shared Schema conversion of DRTLAbstractLog.
#include <cstdio>
#include <cstdlib>

#include "platform/Bundle.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

// The main bundle's first localization, else "en".
std::string applicationLocale() {
  if (auto bundle = platform::Bundle::main()) {
    const platform::Value value = bundle->objectForInfoDictionaryKey("CFBundleLocalizations");
    if (const platform::Array* localizations = value.array()) {
      if (!localizations->empty() && localizations->front().isString() && !localizations->front().string()->empty()) {
        return *localizations->front().string();
      }
    }
  }
  return "en";
}

std::optional<std::string> nonEmpty(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::string> DRTLAbstractLog::combineOsVersion(const std::optional<std::string>& version,
                                                             const std::optional<std::string>& build) {
  if (!nonEmpty(version)) return std::nullopt;
  std::string text = "Version " + *version;
  if (nonEmpty(build)) text += " (Build " + *build + ")";
  return text;
}

std::optional<std::string> DRTLAbstractLog::combineSDKLibVer(const std::optional<std::string>& name,
                                                             const std::optional<std::string>& version) {
  if (!nonEmpty(name) || !nonEmpty(version)) return std::nullopt;
  return *name + "-" + *version;
}

std::string DRTLAbstractLog::convertTimeZoneOffsetToISO8601(std::int64_t minutes) {
  // The sign comes from the minutes, not the hours: -30 is "-00:30".
  char text[32];
  std::snprintf(text, sizeof text, "%c%02lld:%02lld", minutes < 0 ? '-' : '+',
                static_cast<long long>(std::llabs(minutes) / 60), static_cast<long long>(std::llabs(minutes) % 60));
  return text;
}

std::optional<std::vector<std::shared_ptr<DRTLSharedSchemaLog>>> DRTLAbstractLog::toSharedSchemaLogsWithFlags(
    std::int64_t flags) const {
  std::optional<std::set<std::string>> tokens = transmissionTargetTokens();
  std::vector<std::shared_ptr<DRTLSharedSchemaLog>> logs;
  for (const std::string& token : tokens.value_or(std::set<std::string>())) {
    if (auto log = toSharedSchemaLogForTargetToken(token, flags)) logs.push_back(std::move(log));
  }
  if (logs.empty()) return std::nullopt;
  return logs;
}

std::shared_ptr<DRTLSharedSchemaLog> DRTLAbstractLog::toSharedSchemaLogForTargetToken(const std::string& token,
                                                                                      std::int64_t flags) const {
  auto log = std::make_shared<DRTLSharedSchemaLog>();
  log->setTransmissionTargetTokens(std::set<std::string>{token});
  log->ver = "3.0";
  log->timestamp = timestamp;
  log->iKey = DRTLUtility::iKeyFromTargetToken(token);
  log->flags = flags;
  log->ext = std::make_shared<DRTLCSExtensions>();
  auto& ext = *log->ext;
  const DRTLDevice empty;
  const DRTLDevice& source = device ? *device : empty;

  ext.protocolExt = std::make_shared<DRTLProtocolExtension>();
  ext.protocolExt->devMake = source.oemName;
  ext.protocolExt->devModel = source.model;

  ext.userExt = std::make_shared<DRTLUserExtension>();
  ext.userExt->localId = DRTLUserIdContext::prefixedUserIdFromUserId(userId);
  if (source.locale) {
    std::string locale = *source.locale;
    for (char& c : locale) c = c == '_' ? '-' : c;
    ext.userExt->locale = locale;
  }

  ext.osExt = std::make_shared<DRTLOSExtension>();
  ext.osExt->name = source.osName;
  ext.osExt->ver = combineOsVersion(source.osVersion, source.osBuild);

  ext.appExt = std::make_shared<DRTLAppExtension>();
  if (source.appNamespace) ext.appExt->appId = "I:" + *source.appNamespace;
  ext.appExt->ver = source.appVersion;
  ext.appExt->locale = applicationLocale();

  ext.netExt = std::make_shared<DRTLNetExtension>();
  ext.netExt->provider = source.carrierName;

  ext.sdkExt = std::make_shared<DRTLSDKExtension>();
  ext.sdkExt->libVer = combineSDKLibVer(source.sdkName, source.sdkVersion);

  ext.locExt = std::make_shared<DRTLLocExtension>();
  if (source.timeZoneOffset) ext.locExt->tz = convertTimeZoneOffsetToISO8601(*source.timeZoneOffset);

  ext.deviceExt = std::make_shared<DRTLDeviceExtension>();
  return log;
}

}  // namespace telemetry::core
