#include "telemetry/core/DRTLLogger.h"

#include <syslog.h>

#include <atomic>
#include <mutex>

namespace telemetry::core {
namespace {

struct LoggerState {
  std::mutex mutex;
  std::atomic<int> level{DRTLLogLevelAssert};
  std::atomic<bool> userDefined{false};
  DRTLLogHandler handler = DRTLLogger::defaultLogHandler();  // guarded by mutex
  std::function<void(const std::string&)> systemLogWriter;   // guarded by mutex; empty = syslog
};

LoggerState& state() {
  static LoggerState* instance = new LoggerState();  // never destroyed: logging may run during exit
  return *instance;
}

}  // namespace

int DRTLLogger::currentLogLevel() { return state().level.load(); }

void DRTLLogger::setCurrentLogLevel(int level) {
  std::lock_guard lock(state().mutex);
  state().userDefined = true;
  state().level = level;
}

DRTLLogHandler DRTLLogger::logHandler() {
  std::lock_guard lock(state().mutex);
  return state().handler;
}

void DRTLLogger::setLogHandler(DRTLLogHandler handler) {
  std::lock_guard lock(state().mutex);
  state().userDefined = true;
  state().handler = std::move(handler);
}

bool DRTLLogger::isUserDefinedLogLevel() { return state().userDefined.load(); }
void DRTLLogger::setIsUserDefinedLogLevel(bool value) { state().userDefined = value; }

void DRTLLogger::logMessage(const DRTLLogMessageProvider& message, int level, const std::string& tag, const char* file,
                            const char* function, int line) {
  DRTLLogHandler handler = logHandler();
  if (handler) handler(message, level, tag, file, function, line);
}

const char* DRTLLogger::levelName(int level) {
  switch (level) {
    case DRTLLogLevelVerbose: return "VERBOSE";
    case DRTLLogLevelDebug: return "DEBUG";
    case DRTLLogLevelInfo: return "INFO";
    case DRTLLogLevelWarning: return "WARNING";
    case DRTLLogLevelError: return "ERROR";
    case DRTLLogLevelAssert: return "ASSERT";
    default: return nullptr;
  }
}

std::string DRTLLogger::formatLine(const std::string& tag, const char* levelName, const char* function, int line,
                                   const std::string& message) {
  return "[" + tag + "] " + (levelName ? levelName : "(null)") + ": " + (function ? function : "") + "/" +
         std::to_string(line) + " " + message;
}

void DRTLLogger::setSystemLogWriterForTesting(std::function<void(const std::string&)> writer) {
  std::lock_guard lock(state().mutex);
  state().systemLogWriter = std::move(writer);
}

DRTLLogHandler DRTLLogger::defaultLogHandler() {
  return [](const DRTLLogMessageProvider& message, int level, const std::string& tag, const char*,
            const char* function, int line) {
    if (!message || level < currentLogLevel() || level == DRTLLogLevelNone) return;
    std::string text = formatLine(tag, levelName(level), function, line, message());
    std::function<void(const std::string&)> writer;
    {
      std::lock_guard lock(state().mutex);
      writer = state().systemLogWriter;
    }
    if (writer) {
      writer(text);
    } else {
      syslog(LOG_NOTICE, "%s", text.c_str());
    }
  };
}

}  // namespace telemetry::core
