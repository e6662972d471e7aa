#include "telemetry/services/crashes/exceptions/DRTLWrapperExceptionManager.h"

#include <map>
#include <mutex>

#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLCrashesArchiveClasses.h"
#include "telemetry/services/crashes/DRTLCrashesUtil.h"

namespace telemetry::crashes {
namespace {

std::mutex cacheMutex;
std::map<std::string, std::shared_ptr<DRTLWrapperException>>& cache() {
  static auto* entries = new std::map<std::string, std::shared_ptr<DRTLWrapperException>>;
  return *entries;
}

std::string pathComponent(const std::string& baseFilename) {
  return DRTLCrashesUtil::wrapperExceptionsDir() + "/" + baseFilename;
}

}  // namespace

void DRTLWrapperExceptionManager::saveWrapperException(const DRTLWrapperException& exception) {
  saveWrapperException(exception, kDRTLLastWrapperExceptionFileName);
}

void DRTLWrapperExceptionManager::saveWrapperException(const DRTLWrapperException& exception,
                                                       const std::string& baseFilename) {
  const auto bytes = core::DRTLUtility::archiveKeyedData(&exception);
  if (!bytes) return;
  core::DRTLUtility::createFileAtPathComponent(pathComponent(baseFilename), *bytes, true, true);
}

std::shared_ptr<DRTLWrapperException> DRTLWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(
    const std::string& baseFilename) {
  // An empty or path-like name would name the folder or a file outside it.
  if (baseFilename.empty() || baseFilename.find('/') != std::string::npos) return nullptr;
  const std::string component = pathComponent(baseFilename);
  if (!core::DRTLUtility::fileExistsForPathComponent(component)) return nullptr;
  registerCrashesArchiveClasses();
  auto exception = std::dynamic_pointer_cast<DRTLWrapperException>(
      core::DRTLUtility::unarchiveKeyedData(core::DRTLUtility::loadDataForPathComponent(component)));
  if (!exception) {
    DRTLLogError("Could not read exception data stored on disk with file name " + baseFilename);
    core::DRTLUtility::deleteItemForPathComponent(component);
  }
  return exception;
}

void DRTLWrapperExceptionManager::deleteWrapperExceptionWithBaseFilename(const std::string& baseFilename) {
  core::DRTLUtility::deleteItemForPathComponent(pathComponent(baseFilename));
}

void DRTLWrapperExceptionManager::deleteAllWrapperExceptions() {
  core::DRTLUtility::deleteItemForPathComponent(DRTLCrashesUtil::wrapperExceptionsDir());
}

std::shared_ptr<DRTLWrapperException> DRTLWrapperExceptionManager::loadWrapperExceptionWithUUIDString(
    const std::string& uuid) {
  {
    std::lock_guard lock(cacheMutex);
    if (const auto found = cache().find(uuid); found != cache().end()) return found->second;
  }
  return loadWrapperExceptionWithBaseFilename(uuid);
}

void DRTLWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(const std::string& uuid) {
  deleteWrapperExceptionWithBaseFilename(uuid);
}

void DRTLWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
    const std::vector<std::shared_ptr<DRTLErrorReport>>& reports) {
  const auto exception = loadWrapperExceptionWithBaseFilename(kDRTLLastWrapperExceptionFileName);
  if (!exception) return;
  deleteWrapperExceptionWithBaseFilename(kDRTLLastWrapperExceptionFileName);  // read once
  for (const auto& report : reports) {
    if (!report || !report->incidentIdentifier() || !exception->processId ||
        report->appProcessIdentifier() != *exception->processId) {
      continue;
    }
    {
      std::lock_guard lock(cacheMutex);
      cache()[*report->incidentIdentifier()] = exception;
    }
    saveWrapperException(*exception, *report->incidentIdentifier());
    return;
  }
}

}  // namespace telemetry::crashes
