#pragma once
// DRTLLogger: the one diagnostic outlet of the telemetry client. Process-wide
// state only: the current level, whether a host chose it, and the handler.
// Messages are blocks, evaluated only by a handler that wants them, so a line
// below the level costs one comparison.
//
// Threads: any. The level and the handler are read and replaced under a lock
// private to the logger; the handler is called without it.

#include <functional>
#include <string>

namespace telemetry::core {

enum DRTLLogLevel : int {
  DRTLLogLevelVerbose = 2,
  DRTLLogLevelDebug = 3,
  DRTLLogLevelInfo = 4,
  DRTLLogLevelWarning = 5,
  DRTLLogLevelError = 6,
  DRTLLogLevelAssert = 7,
  DRTLLogLevelNone = 99,
};

using DRTLLogMessageProvider = std::function<std::string()>;
using DRTLLogHandler = std::function<void(const DRTLLogMessageProvider& message, int level, const std::string& tag,
                                          const char* file, const char* function, int line)>;

class DRTLLogger {
 public:
  static int currentLogLevel();
  static void setCurrentLogLevel(int level);
  static DRTLLogHandler logHandler();
  // An empty handler silences all output.
  static void setLogHandler(DRTLLogHandler handler);
  static bool isUserDefinedLogLevel();
  static void setIsUserDefinedLogLevel(bool value);

  static void logMessage(const DRTLLogMessageProvider& message, int level, const std::string& tag, const char* file,
                         const char* function, int line);

  // The handler installed at start: writes "[tag] LEVEL: function/line message"
  // to syslog(3) for levels at or above the current one.
  static DRTLLogHandler defaultLogHandler();
  // The name printed for a level, nullptr for 99 and unknown levels.
  static const char* levelName(int level);
  // The syslog line of the default handler (without the syslog prefix).
  // Where the default handler's lines go (syslog(3) unless replaced).
  static void setSystemLogWriterForTesting(std::function<void(const std::string&)> writer);
  static std::string formatLine(const std::string& tag, const char* levelName, const char* function, int line,
                                const std::string& message);
};

// The core's log tag ("DirAraded").
inline constexpr const char* kDRTLLogTag = "DirAraded";

}  // namespace telemetry::core

// One line through the logger; `expression` (a std::string) is evaluated only
// when the handler asks for it.
#define DRTL_LOG(level, tag, expression)                                                           \
  ::telemetry::core::DRTLLogger::logMessage([&]() -> std::string { return (expression); }, (level), \
                                            (tag), __FILE__, __func__, __LINE__)
#define DRTLLogVerbose(expression) DRTL_LOG(::telemetry::core::DRTLLogLevelVerbose, ::telemetry::core::kDRTLLogTag, expression)
#define DRTLLogDebug(expression) DRTL_LOG(::telemetry::core::DRTLLogLevelDebug, ::telemetry::core::kDRTLLogTag, expression)
#define DRTLLogInfo(expression) DRTL_LOG(::telemetry::core::DRTLLogLevelInfo, ::telemetry::core::kDRTLLogTag, expression)
#define DRTLLogWarning(expression) DRTL_LOG(::telemetry::core::DRTLLogLevelWarning, ::telemetry::core::kDRTLLogTag, expression)
#define DRTLLogError(expression) DRTL_LOG(::telemetry::core::DRTLLogLevelError, ::telemetry::core::kDRTLLogTag, expression)
