#pragma once
// DRTLErrorLogFormatter: turns the decoded crash report of the previous run
// into the crash log the crash service sends and into the summary the host is
// shown. Class operations only, no state: any thread may call them. Missing
// parts of a report give defaults ("???", 0, none); nothing here fails.
//
// On this system: image kind 1 ("the application's own") means an image in
// the executable's folder or in its plug-ins folder (<exe dir>/../lib/<exe
// name>/); the selector register is never read (no class runtime), so the
// selector is always none.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crashreporter/Source/DCRCrashReport.h"
#include "telemetry/services/crashes/logs/DRTLAppleErrorLog.h"
#include "telemetry/services/crashes/logs/DRTLErrorReport.h"

namespace telemetry::crashes {

// The crash service's log tag.
inline constexpr const char* kDRTLCrashesLogTag = "DirAradedCrashes";

class DRTLErrorLogFormatter {
 public:
  using Report = crashreporter::DCRCrashReport;
  using ThreadInfo = crashreporter::DCRCrashReportThreadInfo;
  using FrameInfo = crashreporter::DCRCrashReportStackFrameInfo;

  enum ImageKind : int { kApplicationExecutable = 0, kApplicationFramework = 1, kOtherImage = 2 };

  DRTLErrorLogFormatter() = delete;

  static std::shared_ptr<DRTLAppleErrorLog> errorLogFromCrashReport(const Report& report);
  static std::shared_ptr<DRTLErrorReport> errorReportFromCrashReport(const Report* report);
  static std::shared_ptr<DRTLErrorReport> errorReportFromLog(const DRTLAppleErrorLog& log);

  static std::string errorIdForCrashReport(const Report& report);
  static DRTLAppleErrorLog& addProcessInfoAndApplicationPathTo(DRTLAppleErrorLog& log, const Report& report);
  static std::optional<platform::Date> getAppLaunchTimeFromReport(const Report& report);
  static std::optional<platform::Date> getCrashTimeFromReport(const Report& report);
  static std::shared_ptr<const ThreadInfo> findCrashedThreadInReport(const Report& report);
  static bool isCodeType64bit(std::uint64_t codeType);
  static std::string formatAddress(std::uint64_t address, bool is64bit);
  static std::optional<std::string> uuidRefToString(const std::optional<Report::UUID>& uuid);
  static std::vector<std::shared_ptr<DRTLThread>> extractThreadsFromReport(
      const Report& report, const std::shared_ptr<const ThreadInfo>& crashedThread, bool is64bit);
  static std::string formatStackFrame(const FrameInfo& frame, const Report& report);
  static std::map<std::string, std::string> extractRegistersFromCrashedThread(
      const std::shared_ptr<const ThreadInfo>& thread, bool is64bit);
  static std::optional<std::string> extractExceptionReasonFromReport(const Report& report);
  static std::optional<std::string> selectorRegisterValueFromReport(const Report& report,
                                                                    const std::shared_ptr<const ThreadInfo>& crashedThread,
                                                                    std::uint64_t codeType);
  static std::optional<std::string> selectorForRegisterWithName(const std::string& name, const ThreadInfo& thread,
                                                                const Report& report);
  static std::vector<std::shared_ptr<DRTLBinary>> extractBinaryImagesFromReport(const Report& report, bool is64bit);
  static std::vector<std::uint64_t> addressesFromReport(const Report& report);
  static bool isBinaryWithStart(std::uint64_t start, std::uint64_t end, const std::vector<std::uint64_t>& addresses);
  static ImageKind imageTypeForImagePath(const std::optional<std::string>& imagePath,
                                         const std::optional<std::string>& processPath);
  // User names out of a path: "/Users/<name>/" and "/home/<name>/" become
  // ".../USER/", and so does the last part of the current user's home folder.
  static std::string anonymizedPathFromPath(const std::string& path);
};

}  // namespace telemetry::crashes
