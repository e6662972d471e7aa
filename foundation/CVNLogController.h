#pragma once
// CVNLogController: the process-wide technical log. Every component reports
// through it with a level (0 critical, 1 problem, 2 information, 3 detail) and
// a show flag. It hands shown messages to a display delegate, writes the daily
// technical log file "<bundle name> y-MM-dd.log" in the folder the user
// defaults name, folds runs of one message into a "repeated" line, removes
// technical log files older than 30 days, and raises a user notification for
// shown critical messages. Until the first display delegate arrives it keeps
// the last 20 messages (and prints each to the console). A second family of
// "simple" log files takes timestamped lines for named files when allowed.
//
// Ownership: sharedLogController() is created on first use and lives for the
// process; tests construct their own with their own folder, defaults, clock
// and notification centre, and may install one as the shared instance.
//
// Threads: every operation may be called from any thread. A call to log only
// formats and takes the delegate lock on the caller's thread; files are
// opened, appended and closed on the serial queues
// "com.dirarovazovo.technicalLog" and "com.dirarovazovo.simpleLogWriterQueue",
// in the order the lines were requested, each line dated when it was logged
// (Clock::current().wallNow()). The clean-up runs on a background queue.
//
// Delegate: not owned. The host keeps it alive until setLogDelegate(nullptr)
// has returned; from then on nothing calls into it. A delegate may log from
// inside its own calls: such a message goes to the console and the file, not
// back to the delegate.

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/CVNLogControllerDelegate.h"
#include "platform/Value.h"

namespace platform {
class Bundle;
class UserDefaults;
}  // namespace platform

namespace foundation {

class UserNotificationCenter;

inline constexpr const char* kTechnicalLogLevelKey = "technicalLogLevel";
inline constexpr const char* kTechnicalLogFolderPathKey = "technicalLogFolderPath";
inline constexpr std::int32_t kDefaultTechnicalLogLevel = 2;
inline constexpr std::size_t kTechnicalLogKeptMessageCount = 20;
// Lines waiting for the writer beyond this many are dropped, and the writer
// says on the console how many.
inline constexpr std::size_t kTechnicalLogPendingLineLimit = 100000;

class CVNLogController {
 public:
  // Where a log controller gets its surroundings; every member left empty
  // means the process's own.
  struct Environment {
    platform::UserDefaults* defaults = nullptr;               // not owned, outlives the log; nullptr: standard()
    std::shared_ptr<const platform::Bundle> bundle;           // nullptr: Bundle::main()
    std::shared_ptr<UserNotificationCenter> notificationCenter;  // nullptr: the desktop's
    std::function<void(std::string_view line)> console;       // nullptr: standard error
    std::string localeId;    // date formatting; empty: current locale
    std::string timeZoneId;  // empty: current time zone
    std::size_t pendingLineLimit = kTechnicalLogPendingLineLimit;  // lines that may wait for the writer
  };

  // The class initialiser's part: registers "technicalLogLevel" 2 unless a
  // domain of `defaults` already holds the key.
  static void registerDefaults(platform::UserDefaults& defaults);

  // The process's own surroundings.
  CVNLogController();
  explicit CVNLogController(Environment environment);
  // Stops observing the defaults, then finishes the queued lines.
  ~CVNLogController();
  CVNLogController(const CVNLogController&) = delete;
  CVNLogController& operator=(const CVNLogController&) = delete;

  // The shared instance; created on first use (and then installed as the
  // handler of the platform's diagnostics) unless a test installed its own.
  static CVNLogController& sharedLogController();
  // Makes sharedLogController() return `controller` (not owned) until called
  // again; nullptr goes back to the process's own instance.
  static void setSharedLogControllerForTesting(CVNLogController* controller);
  // Routes platform diagnostics into this log (errors and warnings at level 1,
  // information at level 2, not shown).
  void installAsDiagnosticHandler();

  // Formats printf-style and logs the text as logMessage does.
  void logMessageWithLevel(std::uint32_t level, bool show, const char* messageFormat, ...)
      __attribute__((format(printf, 4, 5)));
  void logMessageWithLevelV(std::uint32_t level, bool show, const char* messageFormat, va_list arguments)
      __attribute__((format(printf, 4, 0)));
  // The text as it is, no formatting.
  void logMessageWithLevel(std::uint32_t level, bool show, const std::string& message);

  // Builds the info dictionary and passes it to logWithInfoDict. A null
  // message is ignored.
  void logMessage(std::string_view message, std::int32_t level, bool show);
  void logMessage(const char* message, std::int32_t level, bool show);
  // Appends " (Document: <name>)" when a document name is given. The info
  // dictionary carries "notifyRemotes" YES whatever notifyRemotes says.
  void logMessage(std::string_view message, const std::optional<std::string>& documentName, std::int32_t level,
                  bool show, bool notifyRemotes = true);

  // The dispatch: display (when shown), file, buffer and console, notification.
  void logWithInfoDict(const platform::Dictionary& infoDict);

  // Sets the display delegate (not owned; nullptr removes it) and replays the
  // kept messages to the first one, oldest first, dated now.
  void setLogDelegate(CVNLogControllerDelegate* delegate);

  // Queues one technical log line dated now. With logInConsole the text is
  // also printed to the console; the file gets the same either way.
  void writeStringToTechnicalLog(std::string_view string, bool isProblem, std::uint32_t logLevel, bool show,
                                 bool logInConsole = false);

  // Queues one simple log line for "<y-MM-dd>_<fileName>.log" when
  // allowLogSimpleMessage() is set; otherwise nothing.
  void logSimpleMessage(std::string_view message, std::string_view fileName);

  // Removes technical log files older than 30 days from the folder, on the
  // calling thread. The log runs it itself on a background queue.
  void cleanupOldTechnicalLogFiles();

  // Asks the notification centre for its settings; the answer arrives later
  // and decides whether notifications may be shown.
  void checkForNotificationAuthorization();
  // Posts a notification when allowed; shown critical messages logged before
  // the authorization answer are posted once it allows them.
  void displayNotificationWithTitle(const std::string& title, const std::string& message);

  std::string applicationBundleName() const;

  std::string logPrefix() const;
  void setLogPrefix(std::string logPrefix);
  std::optional<std::filesystem::path> technicalLogFolderPath() const;
  void setTechnicalLogFolderPath(std::optional<std::filesystem::path> folder);
  std::int32_t technicalLogLevel() const;
  void setTechnicalLogLevel(std::int32_t level);
  bool allowLogSimpleMessage() const;
  void setAllowLogSimpleMessage(bool allow);
  // A program whose log must not wait for a display: each message is written
  // to the file even while no delegate is set (and kept for the first
  // delegate, which then only shows the kept messages). Off by default.
  bool writesWithoutDelegate() const;
  void setWritesWithoutDelegate(bool writes);
  // The repeat-folding state; it changes on the technical log queue only.
  std::optional<std::filesystem::path> lastTechnicalLogFilePath() const;
  std::optional<std::string> lastTechnicalLogMessage() const;
  bool canDisplayNotifications() const;

  // Waits until every line and clean-up requested before the call has been
  // handled, or `timeout` has passed (real time: the work runs on real threads). Returns whether it
  // finished. For shut-down and tests; not for use from a delegate call.
  bool flush(std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
