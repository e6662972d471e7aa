#include "foundation/CVNLogController.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

#include "foundation/CriticalNotificationGate.h"
#include "foundation/DesktopNotificationCenter.h"
#include "foundation/GenerateUniqueID.h"
#include "foundation/TechnicalLogCleanup.h"
#include "foundation/TechnicalLogFormat.h"
#include "foundation/TechnicalLogLineBuffer.h"
#include "foundation/TechnicalLogRepeatFolder.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/DateFormatter.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/UserDefaults.h"

namespace foundation {
namespace {

constexpr const char* kTechnicalLogQueueLabel = "com.dirarovazovo.technicalLog";
constexpr const char* kSimpleLogWriterQueueLabel = "com.dirarovazovo.simpleLogWriterQueue";
constexpr const char* kLogFileDateFormat = "y-MM-dd";
constexpr const char* kLogMessageDateFormat = "y-MM-dd\tHH:mm:ss\tEEEE";
constexpr const char* kSimpleLogMessageDateFormat = "y-MM-dd\tHH:mm:ss\t";
constexpr const char* kCriticalErrorTitle = "Critical Error";
constexpr std::int64_t kLogOrigin = 7;

using Console = std::function<void(std::string_view)>;
using WallTime = std::chrono::system_clock::time_point;

void writeToStandardError(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  const char* next = text.data();
  std::size_t remaining = text.size();
  while (remaining > 0) {
    const ssize_t written = ::write(STDERR_FILENO, next, remaining);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    next += written;
    remaining -= static_cast<std::size_t>(written);
  }
}

// Opens, appends in one write and closes again, so a log file moved or
// removed by the operator is simply started anew by the next line.
bool appendToLogFile(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
  if (fd < 0) return false;
  bool complete = true;
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      complete = false;
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return ::close(fd) == 0 && complete;
}

std::optional<platform::DateFormatter> makeDateFormatter(const char* pattern, const std::string& localeId,
                                                         const std::string& timeZoneId) {
  auto formatter = platform::DateFormatter::create(pattern, localeId, timeZoneId);
  if (!formatter.ok() && (!localeId.empty() || !timeZoneId.empty())) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "CVNLogController: " + formatter.error().describe() + "; using the current locale");
    formatter = platform::DateFormatter::create(pattern);
  }
  if (!formatter.ok()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, "CVNLogController: " + formatter.error().describe());
    return std::nullopt;
  }
  return std::move(formatter).value();
}

std::string formatDate(const std::optional<platform::DateFormatter>& formatter, WallTime date) {
  return formatter ? formatter->stringFromDate(date) : std::string();
}

// The texts of one formatter for the last second it formatted. The log's
// patterns stop at whole seconds, so a burst of lines formats once.
class SecondTextCache {
 public:
  explicit SecondTextCache(const std::optional<platform::DateFormatter>& formatter) : formatter_(formatter) {}

  const std::string& text(WallTime date) {
    const auto second = std::chrono::floor<std::chrono::seconds>(date);
    if (!second_ || *second_ != second) {
      text_ = formatDate(formatter_, date);
      second_ = second;
    }
    return text_;
  }

 private:
  const std::optional<platform::DateFormatter>& formatter_;
  std::optional<std::chrono::sys_seconds> second_;
  std::string text_;
};

const platform::Value& entry(const platform::Dictionary& dictionary, std::string_view key) {
  static const platform::Value none;
  const auto found = dictionary.find(key);
  return found == dictionary.end() ? none : found->second;
}

platform::Dictionary makeInfoDict(std::string_view message, std::uint32_t level, bool show) {
  return platform::Dictionary{
      {"message", platform::Value(message)},  {"origin", platform::Value(kLogOrigin)},
      {"identifier", platform::Value("")},    {"level", platform::Value(level)},
      {"show", platform::Value(show)},        {"notifyRemotes", platform::Value(true)},
      {"source_unique_id", platform::Value("")},
  };
}

// Marks the threads that are inside a call into a log's delegate (and so hold
// its delegate lock). A log call made from there must neither wait for that
// lock again nor show the message to the delegate that is logging it.
struct DelegateCallFrame {
  const void* log;
  DelegateCallFrame* outer;
};
thread_local DelegateCallFrame* innermostDelegateCall = nullptr;

bool isInsideDelegateCall(const void* log) {
  for (const DelegateCallFrame* frame = innermostDelegateCall; frame; frame = frame->outer) {
    if (frame->log == log) return true;
  }
  return false;
}

class DelegateCallScope {
 public:
  explicit DelegateCallScope(const void* log) : frame_{log, innermostDelegateCall} { innermostDelegateCall = &frame_; }
  ~DelegateCallScope() { innermostDelegateCall = frame_.outer; }
  DelegateCallScope(const DelegateCallScope&) = delete;
  DelegateCallScope& operator=(const DelegateCallScope&) = delete;

 private:
  DelegateCallFrame frame_;
};

// Work handed to other threads that flush() waits for: queue marks and clean-ups.
class PendingWork {
 public:
  void begin() {
    std::lock_guard guard(mutex_);
    ++count_;
  }
  void end() {
    {
      std::lock_guard guard(mutex_);
      --count_;
    }
    finished_.notify_all();
  }
  bool waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return finished_.wait_until(lock, deadline, [this] { return count_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable finished_;
  std::size_t count_ = 0;  // guarded by mutex_
};

struct MessageRecord {
  std::string message;
  std::uint32_t level;
  bool show;
};

std::atomic<CVNLogController*> sharedOverride{nullptr};

}  // namespace

struct CVNLogController::Impl {
  explicit Impl(Environment environment)
      : defaults(environment.defaults ? *environment.defaults : platform::UserDefaults::standard()),
        bundle(environment.bundle ? std::move(environment.bundle) : platform::Bundle::main()),
        console(environment.console ? std::move(environment.console) : Console(writeToStandardError)),
        notificationCenter(environment.notificationCenter
                               ? std::move(environment.notificationCenter)
                               : std::make_shared<DesktopNotificationCenter>(
                                     DesktopNotificationCenter::Options{bundle->name(), std::chrono::milliseconds(1000)})),
        pendingLineLimit(environment.pendingLineLimit),
        logFileDateFormatter(makeDateFormatter(kLogFileDateFormat, environment.localeId, environment.timeZoneId)),
        logMessageDateFormatter(makeDateFormatter(kLogMessageDateFormat, environment.localeId, environment.timeZoneId)),
        simpleLogMessageDateFormatter(
            makeDateFormatter(kSimpleLogMessageDateFormat, environment.localeId, environment.timeZoneId)),
        notifications(std::make_shared<CriticalNotificationGate>(notificationCenter, console)) {}

  ~Impl() {
    folderObservation.reset();
    levelObservation.reset();
    if (isDiagnosticHandler) platform::setDiagnosticHandler({});
    // The queues go next (declared last): they finish the lines already queued.
  }

  using Settings = TechnicalLogDestination;

  std::shared_ptr<const Settings> settings() const {
    std::lock_guard guard(pendingMutex);
    return currentSettings;
  }

  void changeSettings(const std::function<void(Settings&)>& change) {
    std::lock_guard guard(pendingMutex);
    auto changed = std::make_shared<Settings>(*currentSettings);
    change(*changed);
    currentSettings = std::move(changed);
  }

  void takeFolderFromDefaults() {
    std::optional<std::filesystem::path> newFolder;
    if (auto text = defaults.stringForKey(kTechnicalLogFolderPathKey); text && !text->empty()) newFolder = *text;
    setFolder(newFolder);
    console("New technical log path " + (newFolder ? newFolder->string() : std::string("(null)")));
  }

  void setFolder(std::optional<std::filesystem::path> newFolder) {
    // An empty path would mean the working folder; it counts as no folder.
    if (newFolder && newFolder->empty()) newFolder.reset();
    changeSettings([&](Settings& settings) { settings.folder = std::move(newFolder); });
    logIfLogFailedToBeWritten.store(true);
  }

  void takeLevelFromDefaults() {
    const auto level = static_cast<std::int32_t>(defaults.integerForKey(kTechnicalLogLevelKey));
    technicalLogLevel.store(level);
    console("New Technical Log level " + std::to_string(level));
  }

  // The dispatch behind logWithInfoDict and logMessage; `infoDict` is built
  // only when a delegate asks for it.
  void dispatch(CVNLogController& log, std::string_view message, std::uint32_t level, bool show,
                const platform::Dictionary* infoDict) {
    const bool isProblem = level < kTechnicalLogProblemLevelLimit;
    if (isInsideDelegateCall(this)) {
      // A delegate logging from inside our call into it: this thread holds the
      // delegate lock already, and showing the message again could recurse.
      log.writeStringToTechnicalLog(message, isProblem, level, show, /*logInConsole=*/true);
    } else {
      std::unique_lock lock(delegateMutex);
      if (delegate) {
        if (show) showWithDelegate(message, level, show, infoDict);
        lock.unlock();
        log.writeStringToTechnicalLog(message, isProblem, level, show);
      } else {
        lock.unlock();
        keepMessage(message, level, show);
        console(message);
        if (writesWithoutDelegate.load()) log.writeStringToTechnicalLog(message, isProblem, level, show);
      }
    }
    if (show && level == 0) log.displayNotificationWithTitle(kCriticalErrorTitle, std::string(message));
  }

  // Hands a shown message to the delegate; delegateMutex is held.
  void showWithDelegate(std::string_view message, std::uint32_t level, bool show, const platform::Dictionary* infoDict) {
    DelegateCallScope scope(this);
    if (delegate->implementsDisplayLogWithInfoDict()) {
      if (infoDict) {
        delegate->displayLogWithInfoDict(*infoDict);
      } else {
        delegate->displayLogWithInfoDict(makeInfoDict(message, level, show));
      }
    } else if (delegate->implementsDisplayLogMessage()) {
      delegate->displayLogMessage(std::string(message), static_cast<std::int32_t>(level));
    }
  }

  // A kept message for a new delegate (already written to the file).
  void display(std::string_view message, std::uint32_t level, bool show) {
    std::unique_lock lock(delegateMutex, std::defer_lock);
    if (!isInsideDelegateCall(this)) lock.lock();
    if (delegate) showWithDelegate(message, level, show, nullptr);
  }

  void keepMessage(std::string_view message, std::uint32_t level, bool show) {
    std::lock_guard guard(messageArrayMutex);
    if (!messageArray) return;
    if (messageArray->size() >= kTechnicalLogKeptMessageCount) messageArray->pop_front();
    messageArray->push_back({std::string(message), level, show});
  }

  // Called by loggers: the line waits in the buffer; the first line of a
  // burst schedules the drain on technicalLogQueue.
  void queueTechnicalLogLine(WallTime date, std::string_view message, bool isProblem, bool show) {
    bool scheduleDrain = false;
    {
      std::lock_guard guard(pendingMutex);
      if (pending.size() >= pendingLineLimit) {
        ++droppedLines;
        return;
      }
      pending.append(currentSettings, date, message, isProblem, show);
      scheduleDrain = !std::exchange(drainScheduled, true);
    }
    if (scheduleDrain && !technicalLogQueue->async([this] { drainPendingLines(); })) {
      std::lock_guard guard(pendingMutex);
      drainScheduled = false;
    }
  }

  // Runs on technicalLogQueue: writes every waiting line, in order.
  void drainPendingLines() {
    std::size_t dropped = 0;
    {
      std::lock_guard guard(pendingMutex);
      std::swap(pending, writing);
      drainScheduled = false;
      dropped = std::exchange(droppedLines, 0);
    }
    if (dropped) {
      console("CVNLogController: " + std::to_string(dropped) + " technical log lines dropped: too many waiting");
    }
    writing.forEach([this](const TechnicalLogLineBuffer::Line& line) {
      writeTechnicalLogLine(line.destination, line.date, line.message, line.isProblem, line.show);
    });
    writing.clear();
  }

  // Runs on technicalLogQueue.
  void writeTechnicalLogLine(const Settings& current, WallTime date, std::string_view message, bool isProblem,
                             bool show) {
    if (!current.folder) return;
    const std::string& stamp = technicalStamps.text(date);
    const std::filesystem::path path =
        *current.folder / technicalLogFileName(current.logPrefix, technicalDays.text(date));

    TechnicalLogRepeatFolder::Plan plan;
    {
      std::lock_guard guard(foldingMutex);
      plan = folding.plan(path, message, stamp);
    }
    // The run that ended belongs to the previous file; a failure there is not
    // a failure of the current folder.
    if (plan.previousFilePath && fitsLogFilePathLimit(*plan.previousFilePath)) {
      appendToLogFile(*plan.previousFilePath, plan.previousFileText);
    }
    if (!plan.writesLine) return;

    std::string text = std::move(plan.leadingText);
    if (plan.startsNewFile) {
      if (auto initial = initialLogMessage(); initial && !initial->empty()) {
        text += technicalLogInitialLine(stamp, *initial);
      }
      startCleanup(*current.folder, current.logPrefix);
    }
    text += technicalLogLine(isProblem, stamp, message);
    if (!fitsLogFilePathLimit(path)) return;
    if (!appendToLogFile(path, text)) reportWriteFailure(*current.folder, show);
  }

  std::optional<std::string> initialLogMessage() {
    std::lock_guard guard(delegateMutex);
    if (!delegate) return std::nullopt;
    DelegateCallScope scope(this);
    return delegate->initialLogMessage();
  }

  void reportWriteFailure(const std::filesystem::path& failedFolder, bool show) {
    if (!logIfLogFailedToBeWritten.exchange(false)) return;
    const std::string message = "Error: Failed to write technical logs to '" + failedFolder.string() + "'";
    console(message);
    const platform::Dictionary failure{
        {"message", platform::Value(message)},   {"origin", platform::Value(kLogOrigin)},
        {"identifier", platform::Value("")},     {"level", platform::Value(0)},
        {"show", platform::Value(show)},         {"notifyRemotes", platform::Value(false)},
        {"sourceUniqueID", platform::Value("")},
    };
    std::lock_guard guard(delegateMutex);
    if (delegate && delegate->implementsDisplayLogWithInfoDict()) {
      DelegateCallScope scope(this);
      delegate->displayLogWithInfoDict(failure);
    }
  }

  void startCleanup(std::filesystem::path cleanupFolder, std::string prefix) {
    cleanups->begin();
    const bool queued = platform::DispatchQueue::global(platform::DispatchQueue::Priority::Background)
                            .async([work = cleanups, cleanupFolder = std::move(cleanupFolder), prefix = std::move(prefix)] {
                              removeOldTechnicalLogFiles(cleanupFolder, prefix, platform::Clock::current().wallNow());
                              work->end();
                            });
    if (!queued) cleanups->end();
  }

  // Runs on simpleLogWriterQueue.
  void writeSimpleLogLine(const Settings& current, WallTime date, const std::string& message,
                          const std::string& fileName) {
    if (!current.folder) return;
    const std::filesystem::path path =
        *current.folder / simpleLogFileName(formatDate(logFileDateFormatter, date), fileName);
    if (!fitsLogFilePathLimit(path)) return;
    appendToLogFile(path, simpleLogLine(formatDate(simpleLogMessageDateFormatter, date), message));
  }

  platform::UserDefaults& defaults;
  const std::shared_ptr<const platform::Bundle> bundle;
  const Console console;
  const std::shared_ptr<UserNotificationCenter> notificationCenter;

  // The delegate lock: held while a delegate is called, so
  // setLogDelegate(nullptr) returns only when no call into the old one runs.
  std::mutex delegateMutex;
  CVNLogControllerDelegate* delegate = nullptr;  // guarded by delegateMutex; not owned

  std::mutex messageArrayMutex;
  // Guarded by messageArrayMutex; gone for good once replayed to a delegate.
  std::optional<std::deque<MessageRecord>> messageArray{std::in_place};

  // Guards where lines go and the lines waiting for technicalLogQueue.
  mutable std::mutex pendingMutex;
  std::shared_ptr<const Settings> currentSettings = std::make_shared<Settings>();  // guarded by pendingMutex
  TechnicalLogLineBuffer pending;  // guarded by pendingMutex
  bool drainScheduled = false;     // guarded by pendingMutex
  const std::size_t pendingLineLimit;
  std::size_t droppedLines = 0;    // guarded by pendingMutex
  TechnicalLogLineBuffer writing;  // used on technicalLogQueue only
  std::atomic<bool> logIfLogFailedToBeWritten{true};
  std::atomic<std::int32_t> technicalLogLevel{kDefaultTechnicalLogLevel};
  std::atomic<bool> allowLogSimpleMessage{false};
  std::atomic<bool> writesWithoutDelegate{false};

  // Changed on technicalLogQueue only; the mutex lets the getters read it.
  mutable std::mutex foldingMutex;
  TechnicalLogRepeatFolder folding;  // guarded by foldingMutex

  // Used on the queues (each formatter serialises itself).
  const std::optional<platform::DateFormatter> logFileDateFormatter;
  const std::optional<platform::DateFormatter> logMessageDateFormatter;
  const std::optional<platform::DateFormatter> simpleLogMessageDateFormatter;
  SecondTextCache technicalStamps{logMessageDateFormatter};  // used on technicalLogQueue only
  SecondTextCache technicalDays{logFileDateFormatter};       // used on technicalLogQueue only

  const std::shared_ptr<CriticalNotificationGate> notifications;
  const std::shared_ptr<PendingWork> cleanups = std::make_shared<PendingWork>();
  bool isDiagnosticHandler = false;  // set once, on the creating thread

  platform::ObservationToken folderObservation;
  platform::ObservationToken levelObservation;

  // Last: destroyed first, finishing their queued lines while all of the above exists.
  std::unique_ptr<platform::SerialQueue> simpleLogWriterQueue =
      std::make_unique<platform::SerialQueue>(kSimpleLogWriterQueueLabel);
  std::unique_ptr<platform::SerialQueue> technicalLogQueue =
      std::make_unique<platform::SerialQueue>(kTechnicalLogQueueLabel);
};

void CVNLogController::registerDefaults(platform::UserDefaults& defaults) {
  // A host that registered its own level first keeps it.
  if (defaults.objectForKey(kTechnicalLogLevelKey).isNone()) {
    defaults.registerDefaults({{kTechnicalLogLevelKey, platform::Value(kDefaultTechnicalLogLevel)}});
  }
}

CVNLogController::CVNLogController(Environment environment) : impl_(std::make_unique<Impl>(std::move(environment))) {
  Impl& impl = *impl_;
  registerDefaults(impl.defaults);
  impl.technicalLogLevel.store(static_cast<std::int32_t>(impl.defaults.integerForKey(kTechnicalLogLevelKey)));
  impl.changeSettings([&](Impl::Settings& settings) {
    if (auto text = impl.defaults.stringForKey(kTechnicalLogFolderPathKey); text && !text->empty()) {
      settings.folder = *text;
    }
    settings.logPrefix = applicationBundleName() + " ";
  });

  Impl* observer = impl_.get();
  impl.folderObservation = impl.defaults.observeKey(
      kTechnicalLogFolderPathKey, [observer](const platform::Value&, const platform::Value&) {
        observer->takeFolderFromDefaults();
      });
  impl.levelObservation = impl.defaults.observeKey(
      kTechnicalLogLevelKey, [observer](const platform::Value&, const platform::Value&) {
        observer->takeLevelFromDefaults();
      });
  checkForNotificationAuthorization();
}

CVNLogController::CVNLogController() : CVNLogController(Environment{}) {}

CVNLogController::~CVNLogController() = default;

CVNLogController& CVNLogController::sharedLogController() {
  if (CVNLogController* installed = sharedOverride.load(std::memory_order_acquire)) return *installed;
  // Never destroyed: components may log from their own destructors at exit.
  // It does not take over the platform diagnostics by itself: programs call
  // installAsDiagnosticHandler() at start-up, and tests keep their own capture.
  static CVNLogController* const shared = new CVNLogController();
  return *shared;
}

void CVNLogController::setSharedLogControllerForTesting(CVNLogController* controller) {
  sharedOverride.store(controller, std::memory_order_release);
}

void CVNLogController::installAsDiagnosticHandler() {
  impl_->isDiagnosticHandler = true;
  platform::setDiagnosticHandler([this](platform::DiagnosticLevel level, const std::string& message) {
    logMessage(message, level == platform::DiagnosticLevel::Info ? 2 : 1, false);
  });
}

void CVNLogController::logMessageWithLevel(std::uint32_t level, bool show, const char* messageFormat, ...) {
  va_list arguments;
  va_start(arguments, messageFormat);
  logMessageWithLevelV(level, show, messageFormat, arguments);
  va_end(arguments);
}

void CVNLogController::logMessageWithLevelV(std::uint32_t level, bool show, const char* messageFormat,
                                            va_list arguments) {
  if (!messageFormat) return;
  char buffer[512];
  va_list first;
  va_copy(first, arguments);
  const int length = std::vsnprintf(buffer, sizeof buffer, messageFormat, first);
  va_end(first);
  if (length < 0) return;
  if (static_cast<std::size_t>(length) < sizeof buffer) {
    logMessage(std::string_view(buffer, static_cast<std::size_t>(length)), static_cast<std::int32_t>(level), show);
    return;
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, messageFormat, arguments);
  logMessage(std::string_view(text), static_cast<std::int32_t>(level), show);
}

void CVNLogController::logMessageWithLevel(std::uint32_t level, bool show, const std::string& message) {
  logMessage(std::string_view(message), static_cast<std::int32_t>(level), show);
}

void CVNLogController::logMessage(std::string_view message, std::int32_t level, bool show) {
  impl_->dispatch(*this, message, static_cast<std::uint32_t>(level), show, nullptr);
}

void CVNLogController::logMessage(const char* message, std::int32_t level, bool show) {
  if (!message) return;
  logMessage(std::string_view(message), level, show);
}

void CVNLogController::logMessage(std::string_view message, const std::optional<std::string>& documentName,
                                  std::int32_t level, bool show, bool) {
  logMessage(std::string_view(messageWithDocumentName(message, documentName)), level, show);
}

void CVNLogController::logWithInfoDict(const platform::Dictionary& infoDict) {
  const std::string* message = entry(infoDict, "message").string();
  if (!message) return;
  const auto level = static_cast<std::uint32_t>(entry(infoDict, "level").integerOr(0));
  impl_->dispatch(*this, *message, level, entry(infoDict, "show").booleanOr(false), &infoDict);
}

void CVNLogController::setLogDelegate(CVNLogControllerDelegate* delegate) {
  Impl& impl = *impl_;
  {
    // Inside a call into the delegate this thread holds the lock already.
    std::unique_lock lock(impl.delegateMutex, std::defer_lock);
    if (!isInsideDelegateCall(&impl)) lock.lock();
    impl.delegate = delegate;
  }
  if (!delegate) return;
  std::optional<std::deque<MessageRecord>> kept;
  {
    std::lock_guard guard(impl.messageArrayMutex);
    kept = std::exchange(impl.messageArray, std::nullopt);
  }
  if (!kept) return;
  if (impl.writesWithoutDelegate.load()) {
    // Already in the file: the delegate only shows them.
    for (const MessageRecord& record : *kept) {
      if (record.show) impl.display(record.message, record.level, record.show);
    }
    return;
  }
  for (const MessageRecord& record : *kept) {
    logMessage(std::string_view(record.message), static_cast<std::int32_t>(record.level), record.show);
  }
}

void CVNLogController::writeStringToTechnicalLog(std::string_view string, bool isProblem, std::uint32_t logLevel,
                                                 bool show, bool logInConsole) {
  const WallTime date = platform::Clock::current().wallNow();
  if (logInConsole) impl_->console(string);
  // Levels compare as unsigned numbers: a level of -1 keeps everything.
  if (logLevel > static_cast<std::uint32_t>(impl_->technicalLogLevel.load(std::memory_order_relaxed))) return;
  impl_->queueTechnicalLogLine(date, string, isProblem, show);
}

void CVNLogController::logSimpleMessage(std::string_view message, std::string_view fileName) {
  if (!impl_->allowLogSimpleMessage.load(std::memory_order_relaxed)) return;
  const WallTime date = platform::Clock::current().wallNow();
  impl_->simpleLogWriterQueue->async([impl = impl_.get(), settings = impl_->settings(), date,
                                      message = std::string(message), fileName = std::string(fileName)] {
    impl->writeSimpleLogLine(*settings, date, message, fileName);
  });
}

void CVNLogController::cleanupOldTechnicalLogFiles() {
  const auto current = impl_->settings();
  if (!current->folder) return;
  removeOldTechnicalLogFiles(*current->folder, current->logPrefix, platform::Clock::current().wallNow());
}

void CVNLogController::checkForNotificationAuthorization() { impl_->notifications->checkAuthorization(); }

void CVNLogController::displayNotificationWithTitle(const std::string& title, const std::string& message) {
  impl_->notifications->display({GenerateUniqueID::generateUniqueID(), title, message});
}

std::string CVNLogController::applicationBundleName() const { return impl_->bundle->name(); }

std::string CVNLogController::logPrefix() const { return impl_->settings()->logPrefix; }

void CVNLogController::setLogPrefix(std::string logPrefix) {
  impl_->changeSettings([&](Impl::Settings& settings) { settings.logPrefix = std::move(logPrefix); });
}

std::optional<std::filesystem::path> CVNLogController::technicalLogFolderPath() const {
  return impl_->settings()->folder;
}

void CVNLogController::setTechnicalLogFolderPath(std::optional<std::filesystem::path> folder) {
  impl_->setFolder(std::move(folder));
}

std::int32_t CVNLogController::technicalLogLevel() const { return impl_->technicalLogLevel.load(); }

void CVNLogController::setTechnicalLogLevel(std::int32_t level) { impl_->technicalLogLevel.store(level); }

bool CVNLogController::allowLogSimpleMessage() const { return impl_->allowLogSimpleMessage.load(); }

void CVNLogController::setAllowLogSimpleMessage(bool allow) { impl_->allowLogSimpleMessage.store(allow); }

bool CVNLogController::writesWithoutDelegate() const { return impl_->writesWithoutDelegate.load(); }

void CVNLogController::setWritesWithoutDelegate(bool writes) { impl_->writesWithoutDelegate.store(writes); }

std::optional<std::filesystem::path> CVNLogController::lastTechnicalLogFilePath() const {
  std::lock_guard guard(impl_->foldingMutex);
  return impl_->folding.lastFilePath();
}

std::optional<std::string> CVNLogController::lastTechnicalLogMessage() const {
  std::lock_guard guard(impl_->foldingMutex);
  return impl_->folding.lastMessage();
}

bool CVNLogController::canDisplayNotifications() const { return impl_->notifications->allowed(); }

bool CVNLogController::flush(std::chrono::milliseconds timeout) {
  Impl& impl = *impl_;
  // A mark queued on its own queue would only run after this wait gave up.
  if (impl.technicalLogQueue->isCurrent() || impl.simpleLogWriterQueue->isCurrent()) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto marks = std::make_shared<PendingWork>();
  for (platform::SerialQueue* queue : {impl.technicalLogQueue.get(), impl.simpleLogWriterQueue.get()}) {
    marks->begin();
    if (!queue->async([marks] { marks->end(); })) return false;
  }
  // Clean-ups are started by the technical log queue, so they are counted once its mark has run.
  return marks->waitUntilIdle(deadline) && impl.cleanups->waitUntilIdle(deadline);
}

}  // namespace foundation
