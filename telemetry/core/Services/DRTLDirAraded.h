#pragma once
// DRTLDirAraded: the telemetry client's entry object, one per process. A host
// calls the class operations (static members) with a secret string and the
// service classes; configuration builds the channel group (with the
// collector delegate and the SDK's own unit "DirAraded"), applies the stored
// enabled state and starts the services, highest initialization priority
// first, announcing them with one start-service log.
//
// Instance operations that share a name with a class operation end in
// "Instance". The instance's lock is recursive (configuration re-enters it).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/core/Channel/DRTLRizErazuzudeChannelDelegate.h"
#include "telemetry/core/DRTLCustomProperties.h"
#include "telemetry/core/DRTLDevice.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/Services/DRTLServiceAbstract.h"

namespace telemetry::core {

// Never resolves: nothing leaves until the host sets a log URL.
inline constexpr const char* kDRTLDefaultLogUrl = "https://ingestion.invalid";
inline constexpr std::int64_t kDRTLMinimumStorageSizeInBytes = 24576;

class DRTLDirAraded {
 public:
  static std::shared_ptr<DRTLDirAraded> sharedInstance();
  // Drops the instance; the next sharedInstance() builds a new one.
  static void resetSharedInstance();

  // Start and configuration (host side).
  static void start(const std::optional<std::string>& secretString, const std::vector<DRTLServiceClass>& services);
  static void startWithServices(const std::vector<DRTLServiceClass>& services);
  static void startFromLibraryWithServices(const std::vector<DRTLServiceClass>& services);
  static void startService(DRTLServiceClass service);
  static void configureWithAppSecret(const std::optional<std::string>& secretString);
  static void configure();
  static bool isConfigured();
  static bool isDebuggerAttached();
  static bool isRunningInDirAradedTestFarm();
  static std::string sdkVersion();
  static std::string logTag() { return "DirAraded"; }
  static std::string groupId() { return "DirAraded"; }

  // Run-time settings (host side).
  static void setEnabled(bool enabled);
  static bool isEnabled();
  static void setLogUrl(const std::string& logUrl);
  static std::optional<std::string> logUrl();
  static void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler);
  static void setUserId(const std::optional<std::string>& userId);
  static std::optional<std::string> userId();
  static void setCustomProperties(const std::shared_ptr<DRTLCustomProperties>& properties);
  static std::string installId();
  static int logLevel();
  static void setLogLevel(int level);
  static bool isAppDelegateForwarderEnabled();
  static DRTLLogHandler logHandler();
  static void setLogHandler(DRTLLogHandler handler);
  static void setCountryCode(const std::optional<std::string>& countryCode);
  static std::optional<std::string> countryCode();
  static void setWrapperSdk(std::shared_ptr<DRTLWrapperSdk> wrapperSdk);
  static std::shared_ptr<DRTLWrapperSdk> wrapperSdk();

  DRTLDirAraded();
  ~DRTLDirAraded();

  bool isSdkConfigured() const;
  bool isConfiguredFromApplication() const;
  bool isEnabledStateUpdating() const;
  std::shared_ptr<DRTLChannelGroupDefault> channelGroup() const;
  std::shared_ptr<DRTLChannelUnitProtocol> channelUnit() const;
  std::shared_ptr<DRTLRizErazuzudeChannelDelegate> rizErazuzudeChannelDelegate() const;

  void startFrom(const std::optional<std::string>& secretString, const std::vector<DRTLServiceClass>& services,
                 bool fromApplication);
  bool configureWithAppSecret(const std::optional<std::string>& appSecret,
                              const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
  void initializeChannelGroup();
  void startServices(const std::vector<DRTLServiceClass>& services, const std::optional<std::string>& appSecret,
                     const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
  static std::vector<DRTLServiceClass> sortServices(const std::vector<DRTLServiceClass>& services);
  bool startService(DRTLServiceClass service, const std::optional<std::string>& appSecret,
                    const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
  static bool shouldDisable(const std::string& serviceName);
  void sendStartServiceLog(const std::vector<std::string>& serviceNames);
  bool canBeUsed() const;

  void setEnabledInstance(bool enabled);
  bool isEnabledInstance() const;
  void applyPipelineEnabledState(bool enabled);
  void setLogUrlInstance(const std::string& logUrl);
  std::optional<std::string> logUrlInstance() const;
  void setMaxStorageSizeInstance(std::int64_t sizeInBytes, std::function<void(bool)> completionHandler);
  void setUserIdInstance(const std::optional<std::string>& userId);
  void setCustomPropertiesInstance(const std::shared_ptr<DRTLCustomProperties>& properties);
  void sendCustomPropertiesLog(const DRTLCustomPropertyMap& properties);
  std::string installIdInstance();

 private:
  mutable std::recursive_mutex mutex_;
  bool sdkConfigured_ = false;             // guarded by mutex_
  bool configuredFromApplication_ = false;  // guarded by mutex_
  bool enabledStateUpdating_ = false;       // guarded by mutex_
  bool setMaxStorageSizeHasBeenCalled_ = false;
  std::optional<std::string> installId_;
  std::optional<std::string> logUrl_;
  std::shared_ptr<DRTLChannelUnitProtocol> channelUnit_;
  std::shared_ptr<DRTLRizErazuzudeChannelDelegate> rizErazuzudeChannelDelegate_;
  std::shared_ptr<DRTLChannelGroupDefault> channelGroup_;
  std::vector<std::shared_ptr<DRTLServiceAbstract>> services_;
  std::optional<std::vector<std::string>> startedServiceNames_;
  std::optional<std::string> appSecret_;
  std::optional<std::string> defaultTransmissionTargetToken_;
  std::optional<std::int64_t> requestedMaxStorageSizeInBytes_;
  std::function<void(bool)> maxStorageSizeCompletionHandler_;
};

}  // namespace telemetry::core
