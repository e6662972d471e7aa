// From the crash reporter's pending report to crash logs on the "Crashes"
// channel, and the sending results relayed to the host's delegate.

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "platform/RunLoop.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Services/DRTLDispatcherUtil.h"
#include "telemetry/services/crashes/DRTLCrashes.h"
#include "telemetry/services/crashes/DRTLCrashesSupport.h"
#include "telemetry/services/crashes/logs/DRTLErrorLogFormatter.h"
#include "telemetry/services/crashes/exceptions/DRTLWrapperExceptionManager.h"

namespace telemetry::crashes {
namespace {

namespace fs = std::filesystem;

// Seconds between 1970-01-01 and 2001-01-01.
constexpr double kReferenceDateOffset = 978307200.0;
constexpr auto kUnprocessedWaitLimit = std::chrono::seconds(10);

std::vector<std::uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

bool writeWhole(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool DRTLCrashes::writeCrashFile(const std::vector<std::uint8_t>& bytes) {
  const auto directory = core::DRTLUtility::fullURLForPathComponent(crashesPathComponent_);
  if (!directory) return false;
  std::error_code error;
  fs::create_directories(*directory, error);
  const double seconds =
      std::chrono::duration<double>(detail::wallDate().time_since_epoch()).count() - kReferenceDateOffset;
  char base[64];
  std::snprintf(base, sizeof base, "%.0f", seconds);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = attempt == 0 ? base : std::string(base) + "-" + std::to_string(attempt);
    const fs::path path = *directory / name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    const bool written = writeWhole(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (written && readBytes(path) == bytes) return true;
    fs::remove(path, error);
    return false;
  }
  return false;
}

void DRTLCrashes::handleLatestCrashReport() {
  bool mayPurge = true;
  if (core::DRTLUtility::fileExistsForPathComponent(analyzerFilePathComponent_)) {
    DRTLLogError("Error on loading the crash report, it will be purged.");
  } else {
    if (!core::DRTLUtility::createFileAtPathComponent(analyzerFilePathComponent_, std::string(), false, true)) {
      DRTLLogError("Couldn't create crash analyzer file.");
    }
    auto data = crashReporter_->loadPendingCrashReportData();
    if (!data.ok()) {
      DRTLLogError("Couldn't load crash report: " + data.error().localizedDescription);
    } else {
      const std::vector<std::uint8_t> bytes = data.value();
      auto report = crashreporter::DCRCrashReport::initWithData(bytes);
      if (!report.ok()) {
        DRTLLogWarning("Couldn't parse crash report: " + report.error().localizedDescription);
      } else if (!writeCrashFile(bytes)) {
        // The pending report is the only copy: keep it for the next launch.
        DRTLLogError("Couldn't store the crash report; it stays pending for the next launch.");
        mayPurge = false;
      } else {
        lastSessionCrashReport_ = DRTLErrorLogFormatter::errorReportFromCrashReport(report.value().get());
        DRTLWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({lastSessionCrashReport_});
      }
    }
  }
  core::DRTLUtility::deleteItemForPathComponent(analyzerFilePathComponent_);
  if (mayPurge) (void)crashReporter_->purgePendingCrashReport();
}

std::vector<fs::path> DRTLCrashes::persistedCrashReports() const {
  std::vector<fs::path> found;
  const auto entries = core::DRTLUtility::contentsOfDirectory(crashesPathComponent_);
  if (!entries) {
    DRTLLogError("No persisted crashes found.");
    return found;
  }
  for (const fs::path& entry : *entries) {
    std::error_code error;
    if (!fs::is_regular_file(entry, error) || static_cast<std::int32_t>(fs::file_size(entry, error)) <= 0 || error) {
      continue;
    }
    const std::string name = entry.filename().string();
    bool excluded = false;
    for (const char* suffix : {".DS_Store", ".analyzer", ".plist", ".data", ".meta", ".desc"}) {
      const std::string s(suffix);
      excluded |= name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    }
    if (!excluded) found.push_back(entry);
  }
  return found;
}

void DRTLCrashes::startDelayedCrashProcessing() {
  std::weak_ptr<DRTLCrashes> weak = shared_from_this();
  // The state is read on the main queue: off the main thread it always reads
  // unknown, and the background check would never hold.
  platform::DispatchQueue::main().after(std::chrono::seconds(1), [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->automaticProcessingEnabled_ && core::DRTLUtility::applicationState() == 2) {
      DRTLLogWarning("Crashes will not be processed because the application is in the background.");
      return;
    }
    platform::DispatchQueue::global().async([weak] {
      auto self = weak.lock();
      if (!self) return;
      {
        std::lock_guard lock(self->processedMutex_);
        if (self->delayedProcessingDone_) return;
        self->delayedProcessingDone_ = true;
      }
      self->startCrashProcessing();
      self->markProcessingDone();
    });
  });
}

void DRTLCrashes::applicationWillEnterForeground() {
  bool waiting = false;
  {
    std::lock_guard lock(instanceLock());
    waiting = !crashFiles_.empty();
  }
  if (waiting) startDelayedCrashProcessing();
}

void DRTLCrashes::markProcessingDone() {
  std::lock_guard lock(processedMutex_);
  processed_ = true;
  processedCondition_.notify_all();
}

void DRTLCrashes::startCrashProcessing() {
  DRTLLogDebug("Start delayed CrashManager processing");
  processCrashReports();
}

void DRTLCrashes::processCrashReports() {
  std::unique_lock lock(instanceLock());
  processingRan_ = true;
  if (!isEnabled()) {
    DRTLLogDebug("Crashes service is disabled; discard all crash reports");
    lock.unlock();
    deleteAllFromCrashesDirectory();
    return;
  }
  unprocessedLogs_.clear();
  unprocessedReports_.clear();
  unprocessedFilePaths_.clear();
  const std::vector<fs::path> files = crashFiles_;
  for (const fs::path& file : files) {
    const std::vector<std::uint8_t> bytes = readBytes(file);
    if (bytes.empty()) continue;
    auto decoded = crashreporter::DCRCrashReport::initWithData(bytes);
    if (!decoded.ok()) {
      DRTLLogWarning("Crash report found but couldn't parse it, discard the crash report: " +
                     decoded.error().localizedDescription);
      continue;
    }
    DRTLLogVerbose("Crash reports found");
    const auto& report = *decoded.value();
    auto log = DRTLErrorLogFormatter::errorLogFromCrashReport(report);
    auto errorReport = DRTLErrorLogFormatter::errorReportFromCrashReport(&report);
    auto delegate = delegate_.lock();
    if (automaticProcessingEnabled_ && delegate && errorReport &&
        !delegate->crashesShouldProcessErrorReport(*this, *errorReport)) {
      DRTLLogDebug("shouldProcessErrorReport returned NO, discard the crash report: " + file.string());
      std::error_code error;
      fs::remove(file, error);
      forgetCrashFile(file);
      continue;
    }
    DRTLLogDebug(automaticProcessingEnabled_
                     ? "shouldProcessErrorReport is not implemented or returned YES, processing the crash report: " +
                           file.string()
                     : "Automatic crash processing is disabled, storing the crash report for later processing: " +
                           file.string());
    unprocessedLogs_.push_back(log);
    unprocessedReports_.push_back(errorReport);
    unprocessedFilePaths_.push_back(file);
  }
  DRTLWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(unprocessedReports_);
  lock.unlock();
  if (automaticProcessingEnabled_) sendCrashReportsOrAwaitUserConfirmation();
}

bool DRTLCrashes::sendCrashReportsOrAwaitUserConfirmation() {
  const bool alwaysSend =
      core::DRTLDirAradedUserDefaults::shared()->objectForKey(kDRTLUserConfirmationKey).booleanOr(false);
  {
    std::lock_guard lock(instanceLock());
    if (unprocessedReports_.empty()) return alwaysSend;
  }
  if (alwaysSend) {
    DRTLLogDebug("The flag for user confirmation is set to DRTLUserConfirmationAlways, continue sending logs");
    handleUserConfirmation(DRTLUserConfirmationSend);
    return true;
  }
  if (!automaticProcessingEnabled_) {
    DRTLLogDebug("Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting user confirmation.");
    return false;
  }
  if (userConfirmationHandler_) {
    // Asked on the main queue; a "no prompt" answer goes on from there.
    std::weak_ptr<DRTLCrashes> weak = shared_from_this();
    core::DRTLDispatcherUtil::performBlockOnMainThread([weak] {
      auto self = weak.lock();
      if (self && !self->userPromptedForConfirmation()) {
        DRTLLogDebug("The user confirmation handler is not implemented or returned NO, continue sending logs");
        self->handleUserConfirmation(DRTLUserConfirmationSend);
      }
    });
    return false;
  }
  DRTLLogDebug("The user confirmation handler is not implemented or returned NO, continue sending logs");
  handleUserConfirmation(DRTLUserConfirmationSend);
  return false;
}

bool DRTLCrashes::userPromptedForConfirmation() {
  std::vector<std::shared_ptr<DRTLErrorReport>> reports;
  {
    std::lock_guard lock(instanceLock());
    reports = unprocessedReports_;
  }
  return userConfirmationHandler_ && userConfirmationHandler_(reports);
}

void DRTLCrashes::notifyWithUserConfirmation(unsigned confirmation) {
  auto self = sharedInstance();
  bool ran = false;
  {
    std::lock_guard lock(self->instanceLock());
    ran = self->processingRan_;
  }
  if (!self->userConfirmationHandler_ && !ran) {
    DRTLLogError("Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                 "userConfirmationHandler. For more information refer to the documentation.");
    return;
  }
  self->handleUserConfirmation(confirmation);
}

void DRTLCrashes::handleUserConfirmation(unsigned confirmation) {
  std::unique_lock lock(instanceLock());
  if (confirmation == DRTLUserConfirmationDontSend) {
    for (const fs::path& file : unprocessedFilePaths_) {
      std::error_code error;
      fs::remove(file, error);
      forgetCrashFile(file);
    }
    unprocessedLogs_.clear();
    unprocessedReports_.clear();
    unprocessedFilePaths_.clear();
    lock.unlock();
    clearContextHistoryAndKeepCurrentSession();
    return;
  }
  if (confirmation == DRTLUserConfirmationAlways) {
    core::DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(true), kDRTLUserConfirmationKey);
  }
  sendUnprocessed();
  lock.unlock();
  clearContextHistoryAndKeepCurrentSession();
}

void DRTLCrashes::sendUnprocessed() {
  auto delegate = delegate_.lock();
  for (std::size_t i = 0; i < unprocessedReports_.size(); ++i) {
    const auto& log = unprocessedLogs_[i];
    const auto& report = unprocessedReports_[i];
    std::vector<std::shared_ptr<DRTLErrorAttachmentLog>> attachments;
    if (auto given = delegate && report ? delegate->attachmentsWithCrashes(*this, *report) : std::nullopt) {
      attachments = std::move(*given);
    } else {
      DRTLLogDebug("attachmentsWithCrashes is not implemented");
    }
    if (log->timestamp) {
      log->sid = core::DRTLSessionContext::sharedInstance()->sessionIdAt(*log->timestamp);
      log->userId = core::DRTLUserIdContext::sharedInstance()->userIdAt(*log->timestamp);
    }
    // The file goes once the channel has stored the log (channelDidStoreLog).
    filesAwaitingStore_[log.get()] = unprocessedFilePaths_[i];
    if (channelUnit()) channelUnit()->enqueueItem(log, 2);
    if (report && report->incidentIdentifier()) sendErrorAttachments(attachments, *report->incidentIdentifier());
  }
  unprocessedLogs_.clear();
  unprocessedReports_.clear();
  unprocessedFilePaths_.clear();
}

void DRTLCrashes::channelDidStoreLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                                     const std::string&) {
  std::lock_guard lock(instanceLock());
  const auto awaiting = filesAwaitingStore_.find(log.get());
  if (awaiting == filesAwaitingStore_.end()) return;
  std::error_code error;
  fs::remove(awaiting->second, error);
  forgetCrashFile(awaiting->second);
  filesAwaitingStore_.erase(awaiting);
}

void DRTLCrashes::forgetCrashFile(const fs::path& file) { std::erase(crashFiles_, file); }

void DRTLCrashes::sendErrorAttachments(const std::vector<std::shared_ptr<DRTLErrorAttachmentLog>>& attachments,
                                       const std::string& incidentIdentifier) {
  for (const auto& attachment : attachments) {
    if (!attachment) continue;
    attachment->errorId = incidentIdentifier;
    if (!validatePropertiesForAttachment(*attachment)) {
      DRTLLogError("Not all required fields are present in DRTLErrorAttachmentLog.");
      continue;
    }
    if (attachment->data->size() > kDRTLMaxAttachmentSize) {
      DRTLLogError("Discarding attachment with size above " + std::to_string(kDRTLMaxAttachmentSize) +
                   " bytes: size=" + std::to_string(attachment->data->size()) +
                   ", fileName=" + attachment->filename.value_or("(null)") + ".");
      continue;
    }
    if (channelUnit()) channelUnit()->enqueueItem(attachment, 1);
  }
}

bool DRTLCrashes::validatePropertiesForAttachment(const DRTLErrorAttachmentLog& attachment) {
  return attachment.errorId && !attachment.errorId->empty() && attachment.attachmentId &&
         !attachment.attachmentId->empty() && attachment.data && !attachment.data->empty() &&
         attachment.contentType && !attachment.contentType->empty();
}

std::vector<std::shared_ptr<DRTLErrorReport>> DRTLCrashes::unprocessedCrashReports() {
  bool done = false;
  if (platform::isMainThread()) {
    // The state check before processing runs on the main queue: keep it running meanwhile.
    done = platform::RunLoop::main().runUntil(
        [this] {
          std::lock_guard lock(processedMutex_);
          return processed_;
        },
        kUnprocessedWaitLimit);
  } else {
    std::unique_lock lock(processedMutex_);
    done = platform::waitOnCurrentClock(lock, processedCondition_, kUnprocessedWaitLimit, [this] { return processed_; });
  }
  if (!done) DRTLLogWarning("Crash processing has not run within 10 seconds.");
  std::lock_guard lock(instanceLock());
  return unprocessedReports_;
}

bool DRTLCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::set<std::string>& incidentIds) {
  {
    std::lock_guard lock(instanceLock());
    for (std::size_t i = unprocessedReports_.size(); i-- > 0;) {
      const auto& id = unprocessedReports_[i] ? unprocessedReports_[i]->incidentIdentifier() : std::nullopt;
      if (id && incidentIds.count(*id)) continue;
      std::error_code error;
      fs::remove(unprocessedFilePaths_[i], error);
      forgetCrashFile(unprocessedFilePaths_[i]);
      unprocessedLogs_.erase(unprocessedLogs_.begin() + static_cast<std::ptrdiff_t>(i));
      unprocessedReports_.erase(unprocessedReports_.begin() + static_cast<std::ptrdiff_t>(i));
      unprocessedFilePaths_.erase(unprocessedFilePaths_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return sendCrashReportsOrAwaitUserConfirmation();
}

void DRTLCrashes::setAutomaticProcessingEnabled(bool enabled) { automaticProcessingEnabled_ = enabled; }

void DRTLCrashes::deleteAllFromCrashesDirectory() {
  std::lock_guard lock(instanceLock());
  core::DRTLUtility::deleteItemForPathComponent(crashesPathComponent_);
  crashFiles_.clear();
}

void DRTLCrashes::clearUnprocessedReports() {
  std::lock_guard lock(instanceLock());
  unprocessedLogs_.clear();
  unprocessedReports_.clear();
  unprocessedFilePaths_.clear();
}

std::vector<fs::path> DRTLCrashes::crashFiles() const {
  std::lock_guard lock(const_cast<DRTLCrashes*>(this)->instanceLock());
  return crashFiles_;
}

void DRTLCrashes::notifyDelegate(const std::shared_ptr<core::DRTLAbstractLog>& log,
                                 std::function<void(DRTLCrashesDelegate&, DRTLCrashes&, const DRTLErrorReport&)> call) {
  auto crashLog = std::dynamic_pointer_cast<DRTLAppleErrorLog>(log);
  if (!crashLog || delegate_.expired()) return;
  auto report = DRTLErrorLogFormatter::errorReportFromLog(*crashLog);
  if (!report) return;
  std::weak_ptr<DRTLCrashes> weak = shared_from_this();
  core::DRTLDispatcherUtil::performBlockOnMainThread([weak, report, call = std::move(call)] {
    auto self = weak.lock();
    auto delegate = self ? self->delegate_.lock() : nullptr;
    if (delegate) call(*delegate, *self, *report);
  });
}

void DRTLCrashes::channelWillSendLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log) {
  notifyDelegate(log, [](DRTLCrashesDelegate& d, DRTLCrashes& s, const DRTLErrorReport& r) {
    d.crashesWillSendErrorReport(s, r);
  });
}

void DRTLCrashes::channelDidSucceedSendingLog(core::DRTLChannelProtocol*,
                                              const std::shared_ptr<core::DRTLAbstractLog>& log) {
  notifyDelegate(log, [](DRTLCrashesDelegate& d, DRTLCrashes& s, const DRTLErrorReport& r) {
    d.crashesDidSucceedSendingErrorReport(s, r);
  });
}

void DRTLCrashes::channelDidFailSendingLog(core::DRTLChannelProtocol*,
                                           const std::shared_ptr<core::DRTLAbstractLog>& log,
                                           const std::optional<platform::Error>& error) {
  notifyDelegate(log, [error](DRTLCrashesDelegate& d, DRTLCrashes& s, const DRTLErrorReport& r) {
    d.crashesDidFailSendingErrorReport(s, r, error);
  });
}

}  // namespace telemetry::crashes
