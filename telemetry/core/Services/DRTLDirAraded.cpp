// Configuration and start of the telemetry client.
#include "telemetry/core/Services/DRTLDirAraded.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLDependencyConfiguration.h"
#include "telemetry/core/Services/DRTLStartServiceLog.h"

namespace telemetry::core {
namespace {

std::mutex& instanceMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<DRTLDirAraded>& instanceSlot() {
  static std::shared_ptr<DRTLDirAraded> instance;  // guarded by instanceMutex()
  return instance;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

const char* origin(bool fromApplication) { return fromApplication ? "" : "from a library "; }

}  // namespace

std::shared_ptr<DRTLDirAraded> DRTLDirAraded::sharedInstance() {
  std::lock_guard lock(instanceMutex());
  if (!instanceSlot()) instanceSlot() = std::make_shared<DRTLDirAraded>();
  return instanceSlot();
}

void DRTLDirAraded::resetSharedInstance() {
  std::shared_ptr<DRTLDirAraded> previous;
  {
    std::lock_guard lock(instanceMutex());
    previous = std::move(instanceSlot());
  }
}

DRTLDirAraded::DRTLDirAraded() {
  const DRTLDirAradedUserDefaults::MigrationMap migration{
      {"DRDirAradedChannelStartTimer", DRTLUserDefaultsPrefixKey("DRChannelStartTimer")},
      {"DRDirAradedPastDevices", std::string("pastDevicesKey")},
      {"DRDirAradedInstallId", std::string("DRInstallId")},
      {"DRDirAradedDirAradedIsEnabled", std::string("DRDirAradedIsEnabled")},
      {"DRDirAradedEncryptionKeyMetadata", std::string("DREncryptionKeyMetadata")},
      {"DRDirAradedSessionIdHistory", std::string("SessionIdHistory")},
      {"DRDirAradedUserIdHistory", std::string("UserIdHistory")}};
  DRTLDirAradedUserDefaults::shared()->migrateKeys(migration, "DirAraded");
  DRTLUtility::addMigrationClasses({{"DRDeviceHistoryInfo", "DRTLDeviceHistoryInfo"},
                                    {"DRDevice", "DRTLDevice"},
                                    {"DRStartServiceLog", "DRTLStartServiceLog"},
                                    {"DRSessionHistoryInfo", "DRTLSessionHistoryInfo"},
                                    {"DRUserIdHistoryInfo", "DRTLUserIdHistoryInfo"},
                                    {"DRLogWithProperties", "DRTLLogWithProperties"},
                                    {"DRWrapperSdk", "DRTLWrapperSdk"},
                                    {"DRAbstractLog", "DRTLAbstractLog"}});
}

DRTLDirAraded::~DRTLDirAraded() = default;

bool DRTLDirAraded::isSdkConfigured() const {
  std::lock_guard lock(mutex_);
  return sdkConfigured_;
}

bool DRTLDirAraded::isConfiguredFromApplication() const {
  std::lock_guard lock(mutex_);
  return configuredFromApplication_;
}

bool DRTLDirAraded::isEnabledStateUpdating() const {
  std::lock_guard lock(mutex_);
  return enabledStateUpdating_;
}

std::shared_ptr<DRTLChannelGroupDefault> DRTLDirAraded::channelGroup() const {
  std::lock_guard lock(mutex_);
  return channelGroup_;
}

std::shared_ptr<DRTLChannelUnitProtocol> DRTLDirAraded::channelUnit() const {
  std::lock_guard lock(mutex_);
  return channelUnit_;
}

std::shared_ptr<DRTLRizErazuzudeChannelDelegate> DRTLDirAraded::rizErazuzudeChannelDelegate() const {
  std::lock_guard lock(mutex_);
  return rizErazuzudeChannelDelegate_;
}

void DRTLDirAraded::start(const std::optional<std::string>& secretString, const std::vector<DRTLServiceClass>& services) {
  sharedInstance()->startFrom(secretString, services, true);
}

void DRTLDirAraded::startWithServices(const std::vector<DRTLServiceClass>& services) {
  sharedInstance()->startFrom(std::nullopt, services, true);
}

void DRTLDirAraded::startFromLibraryWithServices(const std::vector<DRTLServiceClass>& services) {
  sharedInstance()->startFrom(std::nullopt, services, false);
}

void DRTLDirAraded::startService(DRTLServiceClass service) {
  if (!service) return;
  auto instance = sharedInstance();
  std::optional<std::string> secret;
  std::optional<std::string> token;
  {
    std::lock_guard lock(instance->mutex_);
    secret = instance->appSecret_;
    token = instance->defaultTransmissionTargetToken_;
  }
  instance->startServices({service}, secret, token, true);
}

void DRTLDirAraded::configureWithAppSecret(const std::optional<std::string>& secretString) {
  sharedInstance()->configureWithAppSecret(DRTLUtility::appSecretFrom(secretString),
                                           DRTLUtility::transmissionTargetTokenFrom(secretString), true);
}

void DRTLDirAraded::configure() { sharedInstance()->configureWithAppSecret(std::nullopt, std::nullopt, true); }

bool DRTLDirAraded::isConfigured() {
  auto instance = sharedInstance();
  return instance->isSdkConfigured() && instance->isConfiguredFromApplication();
}

bool DRTLDirAraded::isDebuggerAttached() {
  static const bool attached = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
    }
    return false;
  }();
  return attached;
}

bool DRTLDirAraded::isRunningInDirAradedTestFarm() {
  const char* value = std::getenv("RUNNING_IN_DIR_ARADED");
  return value && std::string(value) == "1";
}

std::string DRTLDirAraded::sdkVersion() { return DRTLUtility::sdkVersion(); }

void DRTLDirAraded::startFrom(const std::optional<std::string>& secretString,
                              const std::vector<DRTLServiceClass>& services, bool fromApplication) {
  const auto secret = DRTLUtility::appSecretFrom(secretString);
  const auto token = DRTLUtility::transmissionTargetTokenFrom(secretString);
  if (configureWithAppSecret(secret, token, fromApplication)) startServices(services, secret, token, fromApplication);
}

bool DRTLDirAraded::configureWithAppSecret(const std::optional<std::string>& appSecret,
                                           const std::optional<std::string>& transmissionTargetToken,
                                           bool fromApplication) {
  std::lock_guard lock(mutex_);
  if (fromApplication && sdkConfigured_ && configuredFromApplication_) {
    DRTL_LOG(DRTLLogLevelAssert, logTag(), std::string("Dir Araded SDK has already been configured."));
    DRTL_LOG(DRTLLogLevelAssert, logTag(), "Dir Araded SDK configuration " + std::string(origin(fromApplication)) + "failed.");
    return false;
  }
  if (!appSecret_) {
    appSecret_ = appSecret;
    DRTLSessionContext::sharedInstance()->setSessionId(std::nullopt);
  }
  if (!defaultTransmissionTargetToken_) defaultTransmissionTargetToken_ = transmissionTargetToken;
  DRTLUserIdContext::sharedInstance();
  initializeChannelGroup();
  applyPipelineEnabledState(isEnabledInstance());
  sdkConfigured_ = true;
  configuredFromApplication_ = configuredFromApplication_ || fromApplication;
  if (!DRTLLogger::isUserDefinedLogLevel() && DRTLUtility::currentAppEnvironment() == 99) {
    setLogLevel(DRTLLogLevelWarning);
  }
  DRTL_LOG(DRTLLogLevelInfo, logTag(), "Dir Araded SDK configured " + std::string(origin(fromApplication)) + "successfully.");
  return true;
}

void DRTLDirAraded::initializeChannelGroup() {
  std::lock_guard lock(mutex_);
  const std::string install = installIdInstance();
  if (!rizErazuzudeChannelDelegate_) {
    rizErazuzudeChannelDelegate_ = std::make_shared<DRTLRizErazuzudeChannelDelegate>(
        DRTLHttpClient::create(), install, appSecret_ ? std::nullopt : logUrl_);
  }
  if (!channelGroup_) {
    std::shared_ptr<DRTLHttpClientProtocol> client = DRTLDependencyConfiguration::httpClient();
    if (!client) client = DRTLHttpClient::create();
    channelGroup_ = DRTLChannelGroupDefault::create(client, install, logUrl_.value_or(kDRTLDefaultLogUrl));
    channelGroup_->addDelegate(rizErazuzudeChannelDelegate_);
    if (requestedMaxStorageSizeInBytes_) {
      channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_, maxStorageSizeCompletionHandler_);
    }
  }
  channelGroup_->setAppSecret(appSecret_);
  if (!channelUnit_) {
    channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(DRTLChannelUnitConfiguration::defaultConfiguration(groupId()));
  }
}

void DRTLDirAraded::startServices(const std::vector<DRTLServiceClass>& services,
                                  const std::optional<std::string>& appSecret,
                                  const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
  if (services.empty() || !isSdkConfigured()) return;
  const std::vector<DRTLServiceClass> sorted = sortServices(services);
  std::string names;
  for (DRTLServiceClass service : sorted) {
    names += (names.empty() ? "" : ", ") + (service ? service()->serviceName() : std::string("nil"));
  }
  DRTL_LOG(DRTLLogLevelVerbose, logTag(),
           "Start services " + names + " from " + (fromApplication ? "an application" : "a library"));
  std::vector<std::string> started;
  for (DRTLServiceClass service : sorted) {
    if (startService(service, appSecret, transmissionTargetToken, fromApplication)) {
      started.push_back(service()->serviceName());
    }
  }
  if (started.empty()) {
    DRTL_LOG(DRTLLogLevelDebug, logTag(), std::string("No services have been started."));
  } else if (fromApplication) {
    sendStartServiceLog(started);
  }
}

std::vector<DRTLServiceClass> DRTLDirAraded::sortServices(const std::vector<DRTLServiceClass>& services) {
  std::vector<DRTLServiceClass> sorted = services;
  if (sorted.size() < 2) return sorted;
  std::stable_sort(sorted.begin(), sorted.end(), [](DRTLServiceClass first, DRTLServiceClass second) {
    const int a = first ? first()->initializationPriority() : 0;
    const int b = second ? second()->initializationPriority() : 0;
    return a > b;
  });
  return sorted;
}

bool DRTLDirAraded::startService(DRTLServiceClass service, const std::optional<std::string>& appSecret,
                                 const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<DRTLServiceAbstract> instance = service ? service() : nullptr;
  if (!instance) {
    DRTL_LOG(DRTLLogLevelError, logTag(), std::string("Cannot start service nil. Provided value is nil or invalid."));
    return false;
  }
  if (!sdkConfigured_ || (fromApplication && !configuredFromApplication_)) {
    DRTL_LOG(DRTLLogLevelError, logTag(), std::string("Dir Araded has not been configured so it couldn't start the service."));
    return false;
  }
  const std::string name = instance->serviceName();
  if (fromApplication && instance->isAvailable() && instance->isStartedFromApplication()) return false;
  if (instance->isAppSecretRequired() && (!appSecret || appSecret->empty())) {
    DRTL_LOG(DRTLLogLevelError, logTag(),
             "Cannot start service " + name + ". Dir Araded was started without app secret, but the service requires it.");
    return false;
  }
  if (shouldDisable(name)) {
    DRTL_LOG(DRTLLogLevelDebug, logTag(), "Environment variable to disable service has been set; not starting service " + name);
    return false;
  }
  if (instance->isAvailable()) {
    if (fromApplication) instance->updateConfiguration(appSecret, transmissionTargetToken);
    return true;
  }
  services_.push_back(instance);
  instance->startWithChannelGroup(channelGroup_, appSecret, transmissionTargetToken, fromApplication);
  if (instance->isEnabled() && !isEnabledInstance()) {
    enabledStateUpdating_ = true;
    DRTLServiceAbstract::classSetEnabled(*instance, false);
    enabledStateUpdating_ = false;
  }
  return true;
}

bool DRTLDirAraded::shouldDisable(const std::string& serviceName) {
  const char* value = std::getenv("DIR_ARADED_DISABLE");
  if (!value) return false;
  const std::string list = value;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string item = trimmed(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (item == serviceName || item == "All") return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

void DRTLDirAraded::sendStartServiceLog(const std::vector<std::string>& serviceNames) {
  std::lock_guard lock(mutex_);
  if (isEnabledInstance()) {
    auto log = std::make_shared<DRTLStartServiceLog>();
    log->services = serviceNames;
    if (channelUnit_) channelUnit_->enqueueItem(log, 1);
    return;
  }
  if (!startedServiceNames_) startedServiceNames_.emplace();
  startedServiceNames_->insert(startedServiceNames_->end(), serviceNames.begin(), serviceNames.end());
}

bool DRTLDirAraded::canBeUsed() const {
  if (isSdkConfigured()) return true;
  DRTL_LOG(DRTLLogLevelError, logTag(),
           std::string("Dir Araded SDK hasn't been configured. You need to call [DRTLDirAraded start:YOUR_APP_SECRET "
                       "withServices:LIST_OF_SERVICES] first."));
  return false;
}

}  // namespace telemetry::core
