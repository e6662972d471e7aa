#pragma once
// Wrapper exceptions on disk, one archive per file in "crasheswrapperexceptions":
// "last_saved_wrapper_exception" as the wrapper layer saved it, then under the
// incident identifier of the crash report of the same process. A process-wide
// cache answers matched ones in the same run.

#include <memory>
#include <string>
#include <vector>

#include "telemetry/services/crashes/logs/DRTLErrorReport.h"
#include "telemetry/services/crashes/exceptions/DRTLWrapperException.h"

namespace telemetry::crashes {

inline constexpr const char* kDRTLLastWrapperExceptionFileName = "last_saved_wrapper_exception";

class DRTLWrapperExceptionManager {
 public:
  static void saveWrapperException(const DRTLWrapperException& exception);
  static void saveWrapperException(const DRTLWrapperException& exception, const std::string& baseFilename);
  // None when absent; a file that does not unarchive is reported and removed.
  static std::shared_ptr<DRTLWrapperException> loadWrapperExceptionWithBaseFilename(const std::string& baseFilename);
  static void deleteWrapperExceptionWithBaseFilename(const std::string& baseFilename);
  static void deleteAllWrapperExceptions();
  static std::shared_ptr<DRTLWrapperException> loadWrapperExceptionWithUUIDString(const std::string& uuid);
  // Removes the file only; the cache keeps its entry for this run.
  static void deleteWrapperExceptionWithUUIDString(const std::string& uuid);
  // The last saved exception goes to the first report of its process, or is dropped.
  static void correlateLastSavedWrapperExceptionToReport(const std::vector<std::shared_ptr<DRTLErrorReport>>& reports);
};

}  // namespace telemetry::crashes
