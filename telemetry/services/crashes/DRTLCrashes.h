#pragma once
// DRTLCrashes: the crash service. Started before every other service
// (priority 999), it configures and enables the crash reporter once per
// process, turns the previous run's pending report into a crash file and,
// one second after enable (platform::Clock), into crash logs on its "Crashes"
// channel; it keeps the crash log buffer (DRTLCrashesLogBuffer.h), the
// memory-warning flag of the previous run and the handled errors.
//
// Nothing of a crash is lost: a crash file is written under a free name,
// synced and checked before the pending report is purged, and it is deleted
// only once the channel has stored its log.
//
// The unprocessed arrays and the crash file list are guarded by the
// instance lock; processing runs on the default global queue, the host's
// delegate and confirmation block on the main queue.

#include <condition_variable>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "crashreporter/Source/DCRCrashReporter.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "telemetry/core/Channel/DRTLChannelDelegate.h"
#include "telemetry/core/DRTLEncrypter.h"
#include "telemetry/core/Services/DRTLServiceAbstract.h"
#include "telemetry/services/crashes/logs/DRTLAppleErrorLog.h"
#include "telemetry/services/crashes/DRTLCrashesDelegate.h"
#include "telemetry/services/crashes/DRTLCrashesMemoryPressureSource.h"
#include "telemetry/services/crashes/logs/DRTLErrorAttachmentLog.h"
#include "telemetry/services/crashes/logs/DRTLErrorReport.h"
#include "telemetry/services/crashes/logs/DRTLHandledErrorLog.h"

namespace telemetry::crashes {

inline constexpr const char* kDRTLCrashesGroupId = "Crashes";
inline constexpr const char* kDRTLCrashesBufferGroupId = "CrashesBuffer";
inline constexpr const char* kDRTLAppDidReceiveMemoryWarningKey = "AppDidReceiveMemoryWarning";
inline constexpr const char* kDRTLUserConfirmationKey = "CrashesUserConfirmation";
inline constexpr const char* kDRTLAnalyzerFileName = "DRCrashes.analyzer";

class DRTLCrashes : public core::DRTLServiceAbstract,
                    public core::DRTLChannelDelegate,
                    public std::enable_shared_from_this<DRTLCrashes> {
 public:
  using ConfirmationHandler = std::function<bool(const std::vector<std::shared_ptr<DRTLErrorReport>>&)>;

  DRTLCrashes();
  ~DRTLCrashes() override;

  // The service class (for DRTLDirAraded::start) and the singleton.
  static std::shared_ptr<core::DRTLServiceAbstract> serviceClass() { return sharedInstance(); }
  static std::shared_ptr<DRTLCrashes> sharedInstance();
  static void resetSharedInstance();
  static std::string staticServiceName() { return "Crashes"; }
  static void generateTestCrash();
  // An exception the application object caught around an event handler (the
  // application forwarder hands it over): unless a debugger is attached, it
  // goes to the crash reporter's uncaught-exception hook while the service's
  // handler is in force, so the report of the crash that follows names it.
  static void applicationDidReportException(const std::exception_ptr& exception);

  // Class operations on the shared instance.
  static bool hasCrashedInLastSession();
  static bool hasReceivedMemoryWarningInLastSession();
  static std::shared_ptr<DRTLErrorReport> lastSessionCrashReport();
  static void setDelegate(const std::shared_ptr<DRTLCrashesDelegate>& delegate);
  static void setUserConfirmationHandler(ConfirmationHandler handler);
  static void notifyWithUserConfirmation(unsigned confirmation);
  static void disableMachExceptionHandler();
  static bool validatePropertiesForAttachment(const DRTLErrorAttachmentLog& attachment);

  // The service.
  std::string groupId() const override { return kDRTLCrashesGroupId; }
  std::string serviceName() const override { return staticServiceName(); }
  std::string logTag() const override { return "DirAradedCrashes"; }
  int initializationPriority() const override { return 999; }
  std::optional<core::DRTLChannelUnitConfiguration> channelUnitConfiguration() const override;
  void startWithChannelGroup(std::shared_ptr<core::DRTLChannelGroupProtocol> channelGroup,
                             std::optional<std::string> appSecret, std::optional<std::string> transmissionTargetToken,
                             bool fromApplication) override;
  void updateConfiguration(std::optional<std::string> appSecret,
                           std::optional<std::string> transmissionTargetToken) override;
  void applyEnabledState(bool enabled) override;

  // Processing and sending.
  void handleLatestCrashReport();
  std::vector<std::filesystem::path> persistedCrashReports() const;
  // One second later the application state is read on the main queue (off
  // it the state is always unknown); in the background processing waits for
  // the application to become active again.
  void startDelayedCrashProcessing();
  void applicationWillEnterForeground();
  void processCrashReports();
  bool sendCrashReportsOrAwaitUserConfirmation();
  void handleUserConfirmation(unsigned confirmation);
  void sendErrorAttachments(const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>& attachments,
                            const std::string& incidentIdentifier);
  // The waiting reports once processing has run; empty after 10 s without it.
  std::vector<std::shared_ptr<DRTLErrorReport>> unprocessedCrashReports();
  bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::set<std::string>& incidentIds);
  void setAutomaticProcessingEnabled(bool enabled);
  bool isAutomaticProcessingEnabled() const { return automaticProcessingEnabled_; }
  void deleteAllFromCrashesDirectory();
  void clearUnprocessedReports();
  std::vector<std::filesystem::path> crashFiles() const;

  // Memory warnings and handled errors.
  void didReceiveMemoryWarning();
  void processMemoryWarningInLastSession();
  std::optional<std::string> trackModelException(const std::shared_ptr<DRTLException>& exception,
                                                  const std::optional<std::map<std::string, std::string>>& properties,
                                                  const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>* attachments);
  std::shared_ptr<DRTLErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId) const;

  // The crash log buffer.
  void processLogBufferAfterCrash();
  void emptyLogBufferFiles();

  // Channel callbacks.
  void channelDidPrepareLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                            const std::string& internalId, std::uint64_t flags) override;
  void channelDidStoreLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                          const std::string& internalId) override;
  void channelDidCompleteEnqueueingLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                                       const std::string& internalId) override;
  void channelWillSendLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) override;
  void channelDidSucceedSendingLog(core::DRTLChannelProtocol*,
                                   const std::shared_ptr<core::DRTLAbstractLog>& log) override;
  void channelDidFailSendingLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                                const std::optional<platform::Error>& error) override;

  bool didCrashInLastSession() const { return didCrashInLastSession_; }
  const crashreporter::DCRCrashReporter* crashReporter() const { return crashReporter_.get(); }
  const std::shared_ptr<core::DRTLChannelUnitProtocol>& bufferChannelUnit() const { return bufferChannelUnit_; }
  platform::Date appStartTime() const { return appStartTime_; }

 private:
  void configureCrashReporter(bool uncaughtExceptionHandlerEnabled);
  bool writeCrashFile(const std::vector<std::uint8_t>& bytes);
  void startCrashProcessing();
  bool userPromptedForConfirmation();
  void sendUnprocessed();
  void forgetCrashFile(const std::filesystem::path& file);
  void clearContextHistoryAndKeepCurrentSession();
  void markProcessingDone();
  void setupLogBuffer();
  void watchMemoryPressure(bool enabled);
  void observeForeground(bool enabled);
  void notifyDelegate(const std::shared_ptr<core::DRTLAbstractLog>& log,
                      std::function<void(DRTLCrashesDelegate&, DRTLCrashes&, const DRTLErrorReport&)> call);

  const platform::Date appStartTime_;
  const std::string crashesPathComponent_;
  const std::string logBufferPathComponent_;
  const std::string analyzerFilePathComponent_;
  core::DRTLEncrypter targetTokenEncrypter_;
  bool didCrashInLastSession_ = false;
  bool didReceiveMemoryWarningInLastSession_ = false;
  bool enableMachExceptionHandler_ = true;
  bool automaticProcessingEnabled_ = true;
  bool exceptionHandlerInstalled_ = false;
  std::unique_ptr<crashreporter::DCRCrashReporter> crashReporter_;
  std::unique_ptr<DRTLCrashesMemoryPressureSource> memoryPressureSource_;  // while enabled
  platform::ObserverToken foregroundObserver_;                              // while enabled
  std::shared_ptr<DRTLErrorReport> lastSessionCrashReport_;
  std::shared_ptr<core::DRTLChannelUnitProtocol> bufferChannelUnit_;
  std::weak_ptr<DRTLCrashesDelegate> delegate_;
  ConfirmationHandler userConfirmationHandler_;

  // Guarded by the instance lock.
  std::vector<std::filesystem::path> crashFiles_;
  bool processingRan_ = false;
  std::vector<std::shared_ptr<DRTLAppleErrorLog>> unprocessedLogs_;
  std::vector<std::shared_ptr<DRTLErrorReport>> unprocessedReports_;
  std::vector<std::filesystem::path> unprocessedFilePaths_;
  std::map<const core::DRTLAbstractLog*, std::filesystem::path> filesAwaitingStore_;

  // Signalled once processing has run or was not needed.
  std::mutex processedMutex_;
  std::condition_variable processedCondition_;
  bool processed_ = false;
  bool delayedProcessingDone_ = false;  // guarded by processedMutex_
};

}  // namespace telemetry::crashes
