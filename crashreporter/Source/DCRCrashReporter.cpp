#include "crashreporter/Source/DCRCrashReporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "crashreporter/Source/AsyncFileOutput.h"
#include "crashreporter/Source/AsyncImageList.h"
#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/DCRCrashReportWriter.h"
#include "crashreporter/Source/DCRCrashReporterError.h"
#include "crashreporter/Source/DCRCrashSignalHandler.h"
#include "crashreporter/Source/ThreadCapture.h"
#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "platform/ThreadHooks.h"
#include "platform/UncaughtException.h"

namespace crashreporter {
namespace {

constexpr int kMonitoredSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// What crash-time code reads: prepared by enable, never freed.
std::mutex enableMutex;
bool processEnabled = false;                     // guarded by enableMutex
drcrash_log_writer crashWriter;                  // filled once by enable
char crashReportPath[4096];                      // NUL-terminated
std::atomic<DCRCrashReporterCallbacks*> crashCallbacks{nullptr};
std::atomic<pid_t> crashWritingThread{0};  // 0 until a crash is being written
std::atomic<bool> exceptionRecorded{false};

platform::Error posixError(const std::string& message, int code) {
  return crashReporterError(DCRCrashReporterErrorCode::OperatingSystem, message, MessageText::Localized,
                            {{"NSUnderlyingError", platform::Value("NSPOSIXErrorDomain " + std::to_string(code))}});
}

pid_t currentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Writes one report into `fd` with every thread of the process: `crashed` is
// marked crashed; `own` is the calling thread's state (null leaves the calling
// thread out). The other threads are stopped for the write. False when the
// report was cut, the file failed, or `crashed` is no thread of this process.
bool writeReport(drcrash_log_writer* writer, int fd, const drcrash_log_signal_info& signal, pid_t crashed,
                 const drcrash_async_thread_state* own, bool waitForCapture) {
  drcrash_thread_capture_options options;
  options.crashed = crashed;
  options.own = own;
  options.wait_for_lock = waitForCapture;
  const drcrash_log_thread* threads = nullptr;
  bool foundCrashed = false;
  std::size_t count = drcrash_thread_capture_suspend_all(options, &threads, &foundCrashed);
  drcrash_log_thread alone;  // the capture could not list the threads: the calling thread only
  if (count == 0 && own != nullptr) {
    alone.tid = currentThreadId();
    alone.crashed = alone.tid == crashed;
    alone.has_state = true;
    alone.state = *own;
    threads = &alone;
    count = 1;
    foundCrashed = alone.crashed;
  }
  drcrash_async_file file;
  drcrash_async_file_init(&file, fd, kDrcrashReportSizeLimit);
  const drcrash_error_t written =
      foundCrashed ? drcrash_log_writer_write(writer, drcrash_async_shared_images(), &file, &signal, threads, count)
                   : DRCRASH_ENOTFOUND;
  // Closed before the others go on: a released thread may end the process at once.
  const bool closed = drcrash_async_file_close(&file);
  drcrash_thread_capture_resume_all();
  return written == DRCRASH_ESUCCESS && closed;
}

void resetMonitoredSignals() {
  for (const int monitored : kMonitoredSignals) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(monitored, &fallback, nullptr);
  }
}

bool signalCrashCallback(int signo, siginfo_t* info, void* ucontext, void*, const DCRCrashSignalNext*) {
  // One report per process. The handlers stay in place while it is written:
  // the other threads run until the capture stops them, and one of them that
  // faults meanwhile must wait here, not end the process under the writer.
  pid_t writer = 0;
  if (!crashWritingThread.compare_exchange_strong(writer, currentThreadId())) {
    if (writer == currentThreadId()) {
      // A fault inside the writer: the default action ends the process when the instruction runs again.
      resetMonitoredSignals();
      return true;
    }
    for (;;) {
      const timespec pause{1, 0};
      nanosleep(&pause, nullptr);
    }
  }
  // A live report this thread was writing holds the read cache: its pages of
  // this thread's stack are out of date now.
  drcrash_async_read_cache_end();
  drcrash_async_thread_state state;
  if (ucontext != nullptr) drcrash_async_thread_state_ucontext_init(&state, ucontext);
  drcrash_log_signal_info signal;
  signal.signo = signo;
  signal.code = info != nullptr ? info->si_code : 0;
  signal.address = info != nullptr ? reinterpret_cast<std::uint64_t>(info->si_addr) : 0;
  const int fd = open(crashReportPath, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) writeReport(&crashWriter, fd, signal, currentThreadId(), &state, true);
  resetMonitoredSignals();
  if (const DCRCrashReporterCallbacks* callbacks = crashCallbacks.load(); callbacks != nullptr && callbacks->handleSignal) {
    callbacks->handleSignal(info, ucontext, callbacks->context);
  }
  // What was installed before gets the signal too; unhandled, it is re-raised with the default action.
  return DCRCrashSignalHandler::callPreviousAction(signo, info, ucontext);
}

void recordUncaughtException(const char* name, const char* reason, const std::uint64_t* frames, std::size_t count) {
  if (exceptionRecorded.exchange(true)) return;
  drcrash_log_writer_set_exception(&crashWriter, name, reason, frames, count);
}

void installThreadStack() { DCRCrashSignalHandler::installAlternateStackOnCurrentThread(); }
void releaseThreadStack() { DCRCrashSignalHandler::releaseAlternateStackOnCurrentThread(); }

std::string directoryName(std::string identifier) {
  for (char& c : identifier) {
    if (c == '/') c = '_';
  }
  return identifier;
}

}  // namespace

DCRCrashReporter::DCRCrashReporter(std::string applicationIdentifier, std::string appVersion,
                                   std::optional<std::string> appMarketingVersion, DCRCrashReporterConfig configuration)
    : config_(configuration), applicationIdentifier_(std::move(applicationIdentifier)),
      applicationVersion_(std::move(appVersion)), applicationMarketingVersion_(std::move(appMarketingVersion)) {
  crashReportDirectory_ = platform::userCachesFolder() / "CrashReporterData" / directoryName(applicationIdentifier_);
}

DCRCrashReporter DCRCrashReporter::initWithBundle(const platform::Bundle& bundle, DCRCrashReporterConfig configuration) {
  std::string identifier = bundle.bundleIdentifier();
  if (identifier.empty()) {
    identifier = program_invocation_short_name;
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               "[DCRCrashReporter] Warning -- bundle identifier, using process name " + identifier);
  }
  std::string version = bundle.version();
  if (version.empty()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info, "[DCRCrashReporter] Warning -- bundle version unavailable");
  }
  std::optional<std::string> marketing;
  if (!bundle.shortVersionString().empty()) marketing = bundle.shortVersionString();
  return DCRCrashReporter(std::move(identifier), std::move(version), std::move(marketing), configuration);
}

bool DCRCrashReporter::hasPendingCrashReport() const {
  std::error_code error;
  return std::filesystem::exists(pendingReportPath(), error);
}

platform::Result<std::vector<std::uint8_t>> DCRCrashReporter::loadPendingCrashReportData() const {
  platform::Result<std::string> bytes = platform::readFile(pendingReportPath(), kDrcrashReportSizeLimit * 64);
  if (!bytes) return bytes.error();
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

platform::Status DCRCrashReporter::purgePendingCrashReport() const {
  std::error_code error;
  if (!std::filesystem::remove(pendingReportPath(), error) && error) return posixError(error.message(), error.value());
  return platform::Status::success();
}

platform::Status DCRCrashReporter::enableCrashReporter() {
  {
    std::lock_guard guard(enableMutex);
    if (processEnabled) {
      return crashReporterError(DCRCrashReporterErrorCode::ResourceBusy,
                                "A DCRCrashReporter instance has already been enabled", MessageText::Localized);
    }
    processEnabled = true;  // stays set when a later step fails: no second try in this process
  }
  std::error_code error;
  std::filesystem::create_directories(crashReportDirectory_ / "queued_reports", error);
  if (error) return posixError(error.message(), error.value());
  std::filesystem::permissions(crashReportDirectory_, std::filesystem::perms(0755), error);
  const std::string path = pendingReportPath().string();
  if (path.size() >= sizeof crashReportPath) return posixError("Report path too long", ENAMETOOLONG);
  std::memcpy(crashReportPath, path.c_str(), path.size() + 1);

  drcrash_async_memory_init();
  drcrash_async_loaded_images_refresh(drcrash_async_shared_images());
  if (!drcrash_thread_capture_init()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               "[DCRCrashReporter] Other threads cannot be captured; reports hold the crashed thread only");
  }
  drcrash_log_writer_init(&crashWriter, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                          applicationMarketingVersion_ ? applicationMarketingVersion_->c_str() : nullptr,
                          static_cast<std::uint32_t>(config_.symbolicationStrategy()), false);
  if (customData_) drcrash_log_writer_set_custom_data(&crashWriter, customData_->data(), customData_->size());

  if (config_.signalHandlerType() == 1) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               "[DCRCrashReporter] Mach exception handling is not available; using signal handlers");
  }
  if (config_.signalHandlerType() <= 1) {
    for (const int signal : kMonitoredSignals) {
      platform::Status registered = DCRCrashSignalHandler::sharedHandler().registerHandlerForSignal(signal, signalCrashCallback, nullptr);
      if (!registered) return registered;
    }
  }
  platform::setThreadHooks({installThreadStack, releaseThreadStack});
  if (config_.shouldRegisterUncaughtExceptionHandler()) platform::setUncaughtExceptionHandler(recordUncaughtException);
  enabled_ = true;
  return platform::Status::success();
}

void DCRCrashReporter::setCrashCallbacks(const DCRCrashReporterCallbacks& callbacks) {
  if (enabled_) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, "[DCRCrashReporter] The crash reporter has alread been enabled");
    std::abort();
  }
  // Read at crash time; kept for the life of the process.
  delete crashCallbacks.exchange(new DCRCrashReporterCallbacks(callbacks));
}

void DCRCrashReporter::setCustomData(std::optional<std::vector<std::uint8_t>> data) {
  customData_ = std::move(data);
  std::lock_guard guard(enableMutex);
  if (processEnabled) {
    drcrash_log_writer_set_custom_data(&crashWriter, customData_ ? customData_->data() : nullptr,
                                       customData_ ? customData_->size() : 0);
  }
}

platform::Result<std::vector<std::uint8_t>> DCRCrashReporter::generateZiraReport() {
  return generateZiraReportWithThread(currentThreadId());
}

platform::Result<std::vector<std::uint8_t>> DCRCrashReporter::generateZiraReportWithThread(pid_t thread) {
  std::string scratch = (std::filesystem::temp_directory_path() / "zira_crash_report.XXXXXX").string();
  const int fd = mkstemp(scratch.data());
  if (fd < 0) return posixError("Failed to create temporary path", errno);
  drcrash_async_memory_init();
  drcrash_async_loaded_images_refresh(drcrash_async_shared_images());
  drcrash_thread_capture_init();
  drcrash_log_writer writer;
  drcrash_log_writer_init(&writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                          applicationMarketingVersion_ ? applicationMarketingVersion_->c_str() : nullptr,
                          static_cast<std::uint32_t>(config_.symbolicationStrategy()), true);
  if (customData_) drcrash_log_writer_set_custom_data(&writer, customData_->data(), customData_->size());

  struct Live {
    drcrash_log_writer* writer;
    int fd;
    pid_t thread;
    bool ok;
  } live{&writer, fd, thread, false};
  drcrash_async_thread_state_current(
      [](drcrash_async_thread_state* state, void* context) {
        auto* l = static_cast<Live*>(context);
        drcrash_log_signal_info signal;
        signal.signo = SIGTRAP;
        signal.code = TRAP_TRACE;
        signal.address = drcrash_async_thread_state_get_reg(state, DRCRASH_REG_IP);
        // Another thread is stopped and read like the rest; the calling thread is then left out.
        const bool self = l->thread == currentThreadId();
        l->ok = writeReport(l->writer, l->fd, signal, l->thread, self ? state : nullptr, true);
        return DRCRASH_ESUCCESS;
      },
      &live);
  drcrash_log_writer_free(&writer);
  platform::Result<std::vector<std::uint8_t>> result = crashReporterError(
      DCRCrashReporterErrorCode::Unknown, "Failed to write the crash report to disk", MessageText::Localized);
  if (live.ok) {
    platform::Result<std::string> bytes = platform::readFile(scratch);
    if (bytes) {
      result = std::vector<std::uint8_t>(bytes->begin(), bytes->end());
    } else {
      result = crashReporterError(DCRCrashReporterErrorCode::Unknown, "Unable to open live crash report for reading",
                                  MessageText::Localized);
    }
  } else {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info, "[DCRCrashReporter] Write failed with error Output file can not be opened (or written to)");
  }
  if (unlink(scratch.c_str()) != 0) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               std::string("[DCRCrashReporter] Failure occured deleting live crash report: ") + std::strerror(errno));
  }
  return result;
}

void DCRCrashReporter::refreshBinaryImages() { drcrash_async_loaded_images_refresh(drcrash_async_shared_images()); }

}  // namespace crashreporter
