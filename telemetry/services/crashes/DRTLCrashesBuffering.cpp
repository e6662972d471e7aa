// The crash service's side of the crash log buffer: what enters it, what
// leaves it, and the replay of the files a crash left.

#include <fstream>
#include <iterator>

#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/DRTLCrashes.h"
#include "telemetry/services/crashes/DRTLCrashesLogBuffer.h"
#include "telemetry/services/crashes/DRTLCrashesSupport.h"

namespace telemetry::crashes {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void overwriteEmpty(const fs::path& path) { std::ofstream(path, std::ios::binary | std::ios::trunc); }

fs::path tokenPathFor(const fs::path& bufferPath) {
  fs::path token = bufferPath;
  return token.replace_extension(kDRTLTargetTokenFileExtension);
}

}  // namespace

void DRTLCrashes::setupLogBuffer() {
  std::lock_guard lock(instanceLock());
  const auto directory = core::DRTLUtility::fullURLForPathComponent(logBufferPathComponent_);
  if (!directory) return;
  DRTLCrashesLogBuffer::setUp(directory->string());
  // The files exist before any crash, so the crash-time writer only opens them.
  platform::DispatchQueue::global(platform::DispatchQueue::Priority::High).async([component = logBufferPathComponent_] {
    for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
      core::DRTLUtility::createFileAtPathComponent(
          component + "/" + std::to_string(i) + "." + kDRTLBufferFileExtension, std::string(), false, false);
    }
  });
}

void DRTLCrashes::channelDidPrepareLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                                       const std::string& internalId, std::uint64_t) {
  if (!log || !isEnabled()) return;
  if (std::dynamic_pointer_cast<DRTLAppleErrorLog>(log) || std::dynamic_pointer_cast<DRTLErrorAttachmentLog>(log)) {
    return;
  }
  // Archived before the lock: the log is the caller's, and other threads
  // enqueueing should not wait for this one's archive. The caller pays for
  // every log, so each thread reuses one archive's storage.
  thread_local std::string archive;
  if (!core::DRTLUtility::archiveKeyedData(log.get(), archive) || archive.empty()) return;
  std::lock_guard lock(instanceLock());
  std::string token;
  if (const auto tokens = log->transmissionTargetTokens(); tokens && !tokens->empty()) {
    token = targetTokenEncrypter_.encryptString(*tokens->begin()).value_or("");
  }
  DRTLLogVerbose("Storing a log to Crashes Buffer: (sid: " + log->sid.value_or("") + ", type: " +
                 log->type.value_or("") + ")");
  const double now = std::chrono::duration<double>(detail::wallDate().time_since_epoch()).count();
  if (!DRTLCrashesLogBuffer::store(archive, token, internalId, now)) {
    DRTLLogWarning("The log is too large for the Crashes Buffer and is not buffered (type: " +
                   log->type.value_or("") + ", " + std::to_string(archive.size()) + " bytes).");
    std::string().swap(archive);  // not kept for good
  }
}

void DRTLCrashes::channelDidCompleteEnqueueingLog(core::DRTLChannelProtocol*,
                                                  const std::shared_ptr<core::DRTLAbstractLog>& log,
                                                  const std::string& internalId) {
  {
    std::lock_guard lock(instanceLock());
    if (DRTLCrashesLogBuffer::remove(internalId)) DRTLLogVerbose("Deleting a log from buffer with id " + internalId);
    const auto awaiting = filesAwaitingStore_.find(log.get());
    if (awaiting != filesAwaitingStore_.end()) {
      // Not stored (filtered, discarded or refused by the store): the file stays for the next launch.
      DRTLLogWarning("The crash log was not stored; its crash file is kept: " + awaiting->second.string());
      filesAwaitingStore_.erase(awaiting);
    }
  }
}

void DRTLCrashes::processLogBufferAfterCrash() {
  auto group = channelGroup();
  if (!group) return;
  bufferChannelUnit_ =
      group->addChannelUnitWithConfiguration(core::DRTLChannelUnitConfiguration(kDRTLCrashesBufferGroupId, 2, 1, 50, 1));
  const auto files = core::DRTLUtility::contentsOfDirectory(logBufferPathComponent_);
  if (!files) return;
  for (const fs::path& file : *files) {
    if (file.extension() != std::string(".") + kDRTLBufferFileExtension) continue;
    const std::optional<std::string> bytes = readFile(file);
    if (!bytes || bytes->empty()) continue;  // nothing to replay
    const auto object = core::DRTLUtility::unarchiveKeyedData(*bytes);
    auto log = std::dynamic_pointer_cast<core::DRTLAbstractLog>(object);
    if (!log) {
      DRTLLogError("Deserialization failed for log: The log deserialized to NULL.");
      continue;
    }
    const fs::path tokenPath = tokenPathFor(file);
    if (const auto token = readFile(tokenPath); token && !token->empty()) {
      if (const auto decrypted = targetTokenEncrypter_.decryptString(*token)) {
        log->addTransmissionTargetToken(*decrypted);
      } else {
        DRTLLogError("Failed to decrypt the target token.");
      }
    }
    std::error_code ignored;
    fs::remove(tokenPath, ignored);
    DRTLLogDebug("Re-enqueueing buffered log, type: " + log->type.value_or("") + ".");
    bufferChannelUnit_->enqueueItem(log, 1);
    overwriteEmpty(file);
  }
}

void DRTLCrashes::emptyLogBufferFiles() {
  const auto files = core::DRTLUtility::contentsOfDirectory(logBufferPathComponent_);
  if (!files) {
    DRTLLogError("Couldn't get files in the directory \"" + logBufferPathComponent_ + "\"");
    return;
  }
  for (const fs::path& file : *files) {
    std::error_code error;
    if (file.extension() == std::string(".") + kDRTLBufferFileExtension && fs::file_size(file, error) > 0 && !error) {
      overwriteEmpty(file);
    }
  }
}

}  // namespace telemetry::crashes
