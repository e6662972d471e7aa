#pragma once
// DCRCrashReporter: the crash reporter's front. Configured once, enabled once
// per process (never disabled); from then on SIGABRT, SIGBUS, SIGFPE, SIGILL,
// SIGSEGV and SIGTRAP make the crash-time writer dump a report into
// $XDG_CACHE_HOME/CrashReporterData/<identifier, "/" as "_">/zira_report.drcrash,
// which the next launch reads and purges. It also writes live reports of the
// calling thread without crashing.
//
// Linux has no Mach exception ports: handler type 1 installs the signal
// handlers of type 0 (with a log line) and no Mach exception is ever written.
// Every report holds all threads of the process (at most 256): the others are
// stopped by a capture signal while it is written (ThreadCapture.h).
//
// Enable and the setters run on any thread (one mutex); crash-time code only
// reads what enable prepared.

#include <signal.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "platform/Error.h"

namespace crashreporter {

class DCRCrashReporterConfig {
 public:
  DCRCrashReporterConfig() = default;
  DCRCrashReporterConfig(std::uint64_t signalHandlerType, std::uint64_t symbolicationStrategy,
                         bool shouldRegisterUncaughtExceptionHandler = true)
      : signalHandlerType_(signalHandlerType), symbolicationStrategy_(symbolicationStrategy),
        shouldRegisterUncaughtExceptionHandler_(shouldRegisterUncaughtExceptionHandler) {}
  static DCRCrashReporterConfig defaultConfiguration() { return {}; }

  std::uint64_t signalHandlerType() const { return signalHandlerType_; }
  std::uint64_t symbolicationStrategy() const { return symbolicationStrategy_; }
  bool shouldRegisterUncaughtExceptionHandler() const { return shouldRegisterUncaughtExceptionHandler_; }

 private:
  std::uint64_t signalHandlerType_ = 0;
  std::uint64_t symbolicationStrategy_ = 0;
  bool shouldRegisterUncaughtExceptionHandler_ = false;
};

// Called at crash time after the report is written; async-signal-safe code only.
struct DCRCrashReporterCallbacks {
  std::uint32_t version = 0;
  void* context = nullptr;
  void (*handleSignal)(siginfo_t* info, void* ucontext, void* context) = nullptr;
};

class DCRCrashReporter {
 public:
  DCRCrashReporter(std::string applicationIdentifier, std::string appVersion,
                   std::optional<std::string> appMarketingVersion, DCRCrashReporterConfig configuration);
  // From the bundle's identifier and versions; the process name stands in for
  // a missing identifier.
  static DCRCrashReporter initWithBundle(const platform::Bundle& bundle, DCRCrashReporterConfig configuration);

  bool hasPendingCrashReport() const;
  platform::Result<std::vector<std::uint8_t>> loadPendingCrashReportData() const;
  platform::Status purgePendingCrashReport() const;

  platform::Status enableCrashReporter();
  void setCrashCallbacks(const DCRCrashReporterCallbacks& callbacks);
  void setCustomData(std::optional<std::vector<std::uint8_t>> data);
  const std::optional<std::vector<std::uint8_t>>& customData() const { return customData_; }

  // A report of the running process with the calling thread marked crashed
  // (SIGTRAP, "TRAP_TRACE").
  platform::Result<std::vector<std::uint8_t>> generateZiraReport();
  // The same with another thread of this process (by its kernel thread id)
  // marked crashed; the calling thread is left out. Fails when no thread of
  // this process has that id.
  platform::Result<std::vector<std::uint8_t>> generateZiraReportWithThread(pid_t thread);

  // The program calls this after each dlopen and dlclose.
  static void refreshBinaryImages();

  const std::filesystem::path& crashReportDirectory() const { return crashReportDirectory_; }
  std::filesystem::path pendingReportPath() const { return crashReportDirectory_ / "zira_report.drcrash"; }

 private:
  DCRCrashReporterConfig config_;
  bool enabled_ = false;
  std::string applicationIdentifier_;
  std::string applicationVersion_;
  std::optional<std::string> applicationMarketingVersion_;
  std::optional<std::vector<std::uint8_t>> customData_;
  std::filesystem::path crashReportDirectory_;
};

}  // namespace crashreporter
