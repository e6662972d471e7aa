// The technical log: its file names and lines, repeat folding, the 30-day
// clean-up, and the controller's dispatch, buffering, filtering, delegate and
// threading behaviour with its own folder, defaults, clock and notifications.

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/CVNLogController.h"
#include "foundation/DesktopNotificationCenter.h"
#include "foundation/TechnicalLogCleanup.h"
#include "foundation/TechnicalLogFormat.h"
#include "foundation/TechnicalLogRepeatFolder.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace foundation {
namespace {

using std::chrono::hours;
using std::chrono::system_clock;

// ---------------------------------------------------------------- text

TEST(TechnicalLogFormatTest, BuildsFileNamesAndLines) {
  const std::string stamp = "2024-03-01\t13:05:09\tFriday";
  struct Case {
    std::string actual;
    std::string expected;
  } cases[] = {
      {technicalLogFileName("Zira ", "2024-03-01"), "Zira 2024-03-01.log"},
      {technicalLogLine(false, stamp, "Node connected"), "\t2024-03-01\t13:05:09\tFriday\t\tNode connected\r\n"},
      {technicalLogLine(true, stamp, "Node lost"), "!\t2024-03-01\t13:05:09\tFriday\t\tNode lost\r\n"},
      {technicalLogRepeatLine(stamp, 1), "\t2024-03-01\t13:05:09\tFriday\t\t--- last message repeated 1 time ---\r\n"},
      {technicalLogRepeatLine(stamp, 3), "\t2024-03-01\t13:05:09\tFriday\t\t--- last message repeated 3 times ---\r\n"},
      {technicalLogInitialLine(stamp, "Zira 1.0 started"), "\t2024-03-01\t13:05:09\tFriday\t\tZira 1.0 started\r\n"},
      {simpleLogFileName("2024-03-01", "node_a_C-WS"), "2024-03-01_node_a_C-WS.log"},
      {simpleLogLine("2024-03-01\t13:05:09\t", "{\"event\":1}"), "2024-03-01\t13:05:09\t\t{\"event\":1}\n"},
      {messageWithDocumentName("Saved", std::nullopt), "Saved"},
      {messageWithDocumentName("Saved", std::string("Morning")), "Saved (Document: Morning)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);

  EXPECT_TRUE(fitsLogFilePathLimit(std::string(kMaxLogFilePathBytes, 'a')));
  EXPECT_FALSE(fitsLogFilePathLimit(std::string(kMaxLogFilePathBytes + 1, 'a')));
}

// ---------------------------------------------------------------- folding

// Feeds (path, message) pairs and records what would be written where.
class TechnicalLogRepeatFolderTest : public ::testing::Test {
 protected:
  std::string feed(const std::string& path, const std::string& message, const std::string& stamp = "T") {
    auto plan = folder_.plan(path, message, stamp);
    std::string written;
    if (plan.previousFilePath) written += "[" + plan.previousFilePath->string() + "]" + plan.previousFileText;
    if (plan.writesLine) written += plan.leadingText + (plan.startsNewFile ? "*" : "") + message;
    return written;
  }
  TechnicalLogRepeatFolder folder_;
};

TEST_F(TechnicalLogRepeatFolderTest, FoldsRunsAfterTheFirstTwoLinesOfAFile) {
  EXPECT_EQ(feed("d1", "start"), "*start");
  EXPECT_EQ(feed("d1", "poll"), "poll");
  EXPECT_EQ(feed("d1", "tick"), "tick");
  EXPECT_EQ(feed("d1", "tick"), "");
  EXPECT_EQ(feed("d1", "tick"), "");
  EXPECT_EQ(feed("d1", "tick"), "");
  EXPECT_EQ(feed("d1", "done", "T2"), "\tT2\t\t--- last message repeated 3 times ---\r\ndone");
  EXPECT_EQ(feed("d1", "done"), "");
  EXPECT_EQ(feed("d1", "next", "T3"), "\tT3\t\t--- last message repeated 1 time ---\r\nnext");
}

TEST_F(TechnicalLogRepeatFolderTest, FirstLineOfAFileIsNeverARepeat) {
  EXPECT_EQ(feed("d1", "same"), "*same");
  EXPECT_EQ(feed("d1", "same"), "same");
  EXPECT_EQ(feed("d1", "same"), "");
  EXPECT_EQ(folder_.repeatCount(), 1u);
}

TEST_F(TechnicalLogRepeatFolderTest, RunOpenAtAFileChangeIsClosedInThePreviousFile) {
  feed("d1", "a");
  feed("d1", "b");
  feed("d1", "b");
  feed("d1", "b");
  EXPECT_EQ(feed("d2", "b", "T0"), "[d1]\tT0\t\t--- last message repeated 2 times ---\r\n*b");
  EXPECT_EQ(feed("d2", "b"), "b");
  EXPECT_EQ(folder_.lastFilePath(), std::filesystem::path("d2"));
}

// ---------------------------------------------------------------- clean-up

void createFile(const std::filesystem::path& path) { std::ofstream(path) << "line\r\n"; }

// Dates a file back; its creation date then counts from this time, because a
// copied or restored log keeps its modification time.
void setModificationTime(const std::filesystem::path& path, system_clock::time_point time) {
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
  const timespec stamp{static_cast<time_t>(sinceEpoch / 1'000'000'000), static_cast<long>(sinceEpoch % 1'000'000'000)};
  const timespec times[2] = {stamp, stamp};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(TechnicalLogCleanupTest, RemovesOnlyTechnicalLogsOlderThanThirtyDays) {
  testing_support::TemporaryDirectory folder;
  const auto now = system_clock::now();
  struct Entry {
    std::string name;
    system_clock::duration age;
    bool isFolder;
    bool stays;
  } entries[] = {
      {"Zira 2024-01-01.log", hours(24 * 31), false, false},
      {"Zira 2024-01-02.log", kTechnicalLogMaximumAge + std::chrono::seconds(1), false, false},
      {"Zira 2024-01-03.log", kTechnicalLogMaximumAge, false, true},  // not strictly older
      {"Zira 2024-02-28.log", hours(24 * 29), false, true},
      {"Zira today.log", hours(0), false, true},
      {"2024-01-01_node_C-WS.log", hours(24 * 40), false, true},  // simple log
      {"Other 2024-01-01.log", hours(24 * 40), false, true},
      {"Zira archive", hours(24 * 40), true, true},  // never a tree
  };
  for (const Entry& entry : entries) {
    const auto path = folder / entry.name;
    if (entry.isFolder) {
      std::filesystem::create_directory(path);
      createFile(path / "inside.log");
    } else {
      createFile(path);
    }
    setModificationTime(path, now - entry.age);
  }

  EXPECT_EQ(removeOldTechnicalLogFiles(folder.path(), "Zira ", now), 2u);
  for (const Entry& entry : entries) EXPECT_EQ(std::filesystem::exists(folder / entry.name), entry.stays) << entry.name;
  EXPECT_EQ(removeOldTechnicalLogFiles(folder / "missing", "Zira ", now), 0u);
}

// ---------------------------------------------------------------- controller

constexpr std::chrono::seconds kWaitLimit{60};  // a bound against hangs, not a timing: sanitized runs on a loaded machine are slow

// 2024-03-01 is a Friday.
system_clock::time_point utc(int day, int hour, int minute, int second) {
  using namespace std::chrono;
  return sys_days{year{2024} / March / day} + hours(hour) + minutes(minute) + seconds(second);
}

// Answers the settings question at once with `status`, or keeps the question
// until answerSettings() when `status` is empty.
class FakeNotificationCenter : public UserNotificationCenter {
 public:
  explicit FakeNotificationCenter(std::optional<UserNotificationAuthorizationStatus> status,
                                  bool grantsRequest = false)
      : status_(status), grantsRequest_(grantsRequest) {}

  void getNotificationSettings(std::function<void(UserNotificationAuthorizationStatus)> completion) override {
    if (status_) return completion(*status_);
    std::lock_guard guard(mutex_);
    pendingSettings_ = std::move(completion);
  }
  void requestAuthorization(unsigned options, std::function<void(bool granted)> completion) override {
    {
      std::lock_guard guard(mutex_);
      requestedOptions_ = options;
    }
    completion(grantsRequest_);
  }
  void addNotificationRequest(UserNotificationRequest request) override {
    std::lock_guard guard(mutex_);
    posted_.push_back(std::move(request));
  }

  void answerSettings(UserNotificationAuthorizationStatus status) {
    std::function<void(UserNotificationAuthorizationStatus)> completion;
    {
      std::lock_guard guard(mutex_);
      completion = std::move(pendingSettings_);
    }
    ASSERT_TRUE(completion);
    completion(status);
  }
  std::vector<UserNotificationRequest> posted() {
    std::lock_guard guard(mutex_);
    return posted_;
  }
  std::optional<unsigned> requestedOptions() {
    std::lock_guard guard(mutex_);
    return requestedOptions_;
  }

 private:
  const std::optional<UserNotificationAuthorizationStatus> status_;
  const bool grantsRequest_;
  std::mutex mutex_;
  std::function<void(UserNotificationAuthorizationStatus)> pendingSettings_;
  std::optional<unsigned> requestedOptions_;
  std::vector<UserNotificationRequest> posted_;
};

// Records what it is shown; hooks let a test act from inside the calls.
class RecordingDelegate : public CVNLogControllerDelegate {
 public:
  bool implementsDisplayLogWithInfoDict() const override { return wantsInfoDict; }
  void displayLogWithInfoDict(const platform::Dictionary& infoDict) override {
    {
      std::lock_guard guard(mutex_);
      infoDicts_.push_back(infoDict);
      shown_.push_back(infoDict.at("message").stringOr(""));
    }
    if (onDisplay) onDisplay();
  }
  bool implementsDisplayLogMessage() const override { return true; }
  void displayLogMessage(const std::string& message, std::int32_t) override {
    {
      std::lock_guard guard(mutex_);
      shown_.push_back(message);
    }
    if (onDisplay) onDisplay();
  }
  std::optional<std::string> initialLogMessage() override {
    if (onInitialMessage) onInitialMessage();
    return initialMessage;
  }

  std::vector<std::string> shown() {
    std::lock_guard guard(mutex_);
    return shown_;
  }
  std::vector<platform::Dictionary> infoDicts() {
    std::lock_guard guard(mutex_);
    return infoDicts_;
  }

  bool wantsInfoDict = true;
  std::optional<std::string> initialMessage = std::string("Zira 1.0 started");
  std::function<void()> onDisplay;
  std::function<void()> onInitialMessage;

 private:
  std::mutex mutex_;
  std::vector<std::string> shown_;
  std::vector<platform::Dictionary> infoDicts_;
};

// A log with its own folder, in-memory defaults, bundle "Zira", UTC dates in
// the POSIX locale, a manual clock and a fake notification centre.
class LogControllerTest : public ::testing::Test {
 protected:
  LogControllerTest() : defaults_(""), clock_(utc(1, 12, 0, 0)), clockOverride_(clock_) {
    std::ofstream(bundleFolder_ / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleName</key><string>Zira</string></dict></plist>\n";
    defaults_.setObject(platform::Value(folder_.path().string()), kTechnicalLogFolderPathKey);
  }

  std::unique_ptr<CVNLogController> makeLog(std::size_t pendingLineLimit = kTechnicalLogPendingLineLimit) {
    CVNLogController::Environment environment;
    environment.pendingLineLimit = pendingLineLimit;
    environment.defaults = &defaults_;
    environment.bundle = std::make_shared<platform::Bundle>(bundleFolder_.path());
    environment.notificationCenter = center_;
    environment.console = [this](std::string_view line) {
      std::lock_guard guard(consoleMutex_);
      console_.emplace_back(line);
    };
    environment.localeId = "en_US_POSIX";
    environment.timeZoneId = "UTC";
    return std::make_unique<CVNLogController>(std::move(environment));
  }

  std::string readLog(const std::string& day) { return readFile(folder_ / ("Zira " + day + ".log")); }
  static std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::vector<std::string> console() {
    std::lock_guard guard(consoleMutex_);
    return console_;
  }

  testing_support::TemporaryDirectory folder_;
  testing_support::TemporaryDirectory bundleFolder_;
  platform::UserDefaults defaults_;
  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_;
  std::shared_ptr<FakeNotificationCenter> center_ =
      std::make_shared<FakeNotificationCenter>(UserNotificationAuthorizationStatus::Authorized);
  std::mutex consoleMutex_;
  std::vector<std::string> console_;
};

const std::string kFriday = "2024-03-01\t12:00:00\tFriday";

TEST_F(LogControllerTest, WritesTheDailyFileWithCrLfLinesProblemMarkerAndLevelFilter) {
  auto log = makeLog();
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  log->logMessage("Node connected", 2, false);
  log->logMessage("Node lost", 1, true);
  log->logMessage("Engine stopped", 0, false);
  log->logMessage("Frame detail", 3, true);  // shown, but above the default level 2
  log->logMessageWithLevel(2, false, "Clip %s at %d fps", "A", 25);
  log->logMessage("Saved", std::string("Morning"), 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));

  EXPECT_EQ(readLog("2024-03-01"), "\t" + kFriday + "\t\tZira 1.0 started\r\n" +
                                       "\t" + kFriday + "\t\tNode connected\r\n" +
                                       "!\t" + kFriday + "\t\tNode lost\r\n" +
                                       "!\t" + kFriday + "\t\tEngine stopped\r\n" +
                                       "\t" + kFriday + "\t\tClip A at 25 fps\r\n" +
                                       "\t" + kFriday + "\t\tSaved (Document: Morning)\r\n");
  EXPECT_EQ(delegate.shown(), (std::vector<std::string>{"Node lost", "Frame detail"}));
  EXPECT_EQ(log->lastTechnicalLogFilePath(), folder_ / "Zira 2024-03-01.log");
  EXPECT_TRUE(console().empty());  // the delegate shows; the console is for messages nobody shows

  const platform::Dictionary expected{
      {"message", platform::Value("Node lost")}, {"origin", platform::Value(7)},
      {"identifier", platform::Value("")},      {"level", platform::Value(1)},
      {"show", platform::Value(true)},          {"notifyRemotes", platform::Value(true)},
      {"source_unique_id", platform::Value("")},
  };
  ASSERT_FALSE(delegate.infoDicts().empty());
  EXPECT_EQ(delegate.infoDicts().front(), expected);
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, FoldsRepeatsAndClosesARunOpenAtMidnightInThePreviousDaysFile) {
  auto log = makeLog();
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  clock_.setWallTime(utc(1, 23, 59, 58));
  for (const char* message : {"start", "poll", "poll", "poll", "poll"}) log->logMessage(message, 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(log->lastTechnicalLogMessage(), "poll");

  clock_.setWallTime(utc(2, 0, 0, 1));
  log->logMessage("poll", 3, false);  // above the level: neither written nor counted
  log->logMessage("poll", 2, false);
  log->logMessage("poll", 2, false);
  log->logMessage("poll", 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));

  const std::string before = "2024-03-01\t23:59:58\tFriday";
  const std::string after = "2024-03-02\t00:00:01\tSaturday";
  EXPECT_EQ(readLog("2024-03-01"), "\t" + before + "\t\tZira 1.0 started\r\n" +
                                       "\t" + before + "\t\tstart\r\n" +
                                       "\t" + before + "\t\tpoll\r\n" +
                                       "\t" + after + "\t\t--- last message repeated 3 times ---\r\n");
  EXPECT_EQ(readLog("2024-03-02"), "\t" + after + "\t\tZira 1.0 started\r\n" +
                                       "\t" + after + "\t\tpoll\r\n" +
                                       "\t" + after + "\t\tpoll\r\n");
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, KeepsTheLastTwentyMessagesForTheFirstDelegateOnly) {
  auto log = makeLog();
  for (int i = 1; i <= 25; ++i) log->logMessage("message " + std::to_string(i), 2, true);
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(console().size(), 25u);
  EXPECT_TRUE(std::filesystem::is_empty(folder_.path()));  // nothing reaches the file without a delegate

  clock_.setWallTime(utc(1, 12, 30, 0));
  RecordingDelegate first;
  log->setLogDelegate(&first);
  std::vector<std::string> expected;
  for (int i = 6; i <= 25; ++i) expected.push_back("message " + std::to_string(i));
  EXPECT_EQ(first.shown(), expected);
  ASSERT_TRUE(log->flush(kWaitLimit));
  const std::string replayed = readLog("2024-03-01");
  EXPECT_NE(replayed.find("\t2024-03-01\t12:30:00\tFriday\t\tmessage 6\r\n"), std::string::npos);
  EXPECT_EQ(replayed.find("message 5\r\n"), std::string::npos);

  log->setLogDelegate(nullptr);
  log->logMessage("unseen", 2, true);
  RecordingDelegate second;
  log->setLogDelegate(&second);
  EXPECT_TRUE(second.shown().empty());
  EXPECT_EQ(console().back(), "unseen");
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, WritesFromTheFirstMessageWithoutADelegateWhenAsked) {
  auto log = makeLog();
  log->setWritesWithoutDelegate(true);
  log->logMessage("started", 2, true);
  log->logMessage("too detailed", 3, true);
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(readLog("2024-03-01"), "\t" + kFriday + "\t\tstarted\r\n");

  // A delegate set later shows the kept message; the file keeps one copy.
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  EXPECT_EQ(delegate.shown(), (std::vector<std::string>{"started", "too detailed"}));
  log->logMessage("shown", 2, true);
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(readLog("2024-03-01"), "\t" + kFriday + "\t\tstarted\r\n\t" + kFriday + "\t\tshown\r\n");
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, FollowsLevelAndFolderChangesInTheDefaults) {
  auto log = makeLog();
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  EXPECT_EQ(log->technicalLogLevel(), 2);

  defaults_.setObject(platform::Value(0), kTechnicalLogLevelKey);
  log->logMessage("warning", 1, false);
  log->logMessage("critical", 0, false);
  defaults_.setObject(platform::Value(3), kTechnicalLogLevelKey);
  log->logMessage("detail", 3, false);

  testing_support::TemporaryDirectory otherFolder;
  defaults_.setObject(platform::Value(otherFolder.path().string()), kTechnicalLogFolderPathKey);
  log->logMessage("moved", 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));

  EXPECT_EQ(readLog("2024-03-01"), "\t" + kFriday + "\t\tZira 1.0 started\r\n" +
                                       "!\t" + kFriday + "\t\tcritical\r\n" +
                                       "\t" + kFriday + "\t\tdetail\r\n");
  EXPECT_EQ(readFile(otherFolder / "Zira 2024-03-01.log"),
            "\t" + kFriday + "\t\tZira 1.0 started\r\n\t" + kFriday + "\t\tmoved\r\n");
  EXPECT_EQ(console(), (std::vector<std::string>{"New Technical Log level 0", "New Technical Log level 3",
                                                 "New technical log path " + otherFolder.path().string()}));
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, ReportsAnUnwritableFolderOncePerFolderSetting) {
  const auto notAFolder = folder_ / "plain file";
  createFile(notAFolder);
  defaults_.setObject(platform::Value(notAFolder.string()), kTechnicalLogFolderPathKey);
  auto log = makeLog();
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  log->logMessage("first", 2, true);
  log->logMessage("second", 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));

  const std::string report = "Error: Failed to write technical logs to '" + notAFolder.string() + "'";
  EXPECT_EQ(console(), std::vector<std::string>{report});
  const platform::Dictionary failure{
      {"message", platform::Value(report)},   {"origin", platform::Value(7)},
      {"identifier", platform::Value("")},    {"level", platform::Value(0)},
      {"show", platform::Value(true)},        {"notifyRemotes", platform::Value(false)},
      {"sourceUniqueID", platform::Value("")},
  };
  ASSERT_EQ(delegate.infoDicts().size(), 2u);
  EXPECT_EQ(delegate.infoDicts().back(), failure);

  log->setTechnicalLogFolderPath(notAFolder / "below");
  clock_.setWallTime(utc(2, 12, 0, 0));  // a new file: lines go on failing, reported once more
  log->logMessage("third", 2, false);
  log->logMessage("fourth", 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(console().size(), 2u);
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, ADelegateThatLogsFromItsOwnCallsDoesNotDeadlockTheLog) {
  auto log = makeLog();
  RecordingDelegate delegate;
  delegate.onInitialMessage = [&] { log->logMessage("from the initial message", 2, true); };
  bool nestedOnce = false;
  delegate.onDisplay = [&] {
    if (std::exchange(nestedOnce, true)) return;
    log->logMessage("from the display", 2, true);
    log->logMessageWithLevel(0, true, "%s", "critical from the display");
  };
  log->setLogDelegate(&delegate);
  log->logMessage("outer", 2, true);
  ASSERT_TRUE(log->flush(kWaitLimit));
  ASSERT_TRUE(log->flush(kWaitLimit));  // the writer itself queued the initial message's line

  EXPECT_EQ(delegate.shown(), std::vector<std::string>{"outer"});
  EXPECT_EQ(console(), (std::vector<std::string>{"from the display", "critical from the display",
                                                 "from the initial message"}));
  const std::string text = readLog("2024-03-01");
  for (const char* line : {"\touter\r\n", "\tfrom the display\r\n", "!\t", "\tfrom the initial message\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  ASSERT_EQ(center_->posted().size(), 1u);  // the nested critical message still raises its notification
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, NeverTouchesTheFileSystemOnTheCallersThread) {
  auto log = makeLog();
  RecordingDelegate delegate;
  std::promise<std::thread::id> writerThread;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  delegate.onInitialMessage = [&] {
    writerThread.set_value(std::this_thread::get_id());
    ASSERT_EQ(released.wait_for(kWaitLimit), std::future_status::ready);
  };
  log->setLogDelegate(&delegate);
  log->logMessage("line", 2, false);  // returns while the writer is held before its first write

  auto writer = writerThread.get_future();
  ASSERT_EQ(writer.wait_for(kWaitLimit), std::future_status::ready);
  EXPECT_NE(writer.get(), std::this_thread::get_id());
  EXPECT_TRUE(std::filesystem::is_empty(folder_.path()));
  release.set_value();
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "Zira 2024-03-01.log"));
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, DropsLinesBeyondTheWaitingLimitAndSaysHowMany) {
  // A small limit, so that the flush after the flood has little to write even on a loaded machine.
  constexpr std::size_t kLimit = 8;
  auto log = makeLog(kLimit);
  RecordingDelegate delegate;
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  delegate.onInitialMessage = [&] {
    entered.set_value();
    ASSERT_EQ(released.wait_for(kWaitLimit), std::future_status::ready);
  };
  log->setLogDelegate(&delegate);
  log->logMessage("first", 2, false);  // the writer takes it and is held
  ASSERT_EQ(entered.get_future().wait_for(kWaitLimit), std::future_status::ready);
  // Straight to the writer: the held writer also holds the delegate, which logMessage would wait for.
  for (std::size_t i = 0; i < kLimit + 3; ++i) {
    log->writeStringToTechnicalLog("flood", false, 2, false);
  }
  release.set_value();
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(console(), std::vector<std::string>{"CVNLogController: 3 technical log lines dropped: too many waiting"});
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, WritesSimpleLogsOnlyWhenAllowed) {
  auto log = makeLog();
  log->logSimpleMessage("{\"ignored\":1}", "node_C-WS");
  log->setAllowLogSimpleMessage(true);
  log->logSimpleMessage("{\"event\":1}", "node_C-WS");
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(readFile(folder_ / "2024-03-01_node_C-WS.log"), "2024-03-01\t12:00:00\t\t{\"event\":1}\n");
}

TEST_F(LogControllerTest, CleansUpOldTechnicalLogsWhenAFileIsStarted) {
  // File dates are real, so this test's calendar runs at the real time.
  clock_.setWallTime(system_clock::now());
  const auto old = clock_.wallNow() - hours(24 * 31);
  for (const char* name : {"Zira 2020-01-01.log", "2020-01-01_node_C-WS.log"}) {
    createFile(folder_ / name);
    setModificationTime(folder_ / name, old);
  }
  auto log = makeLog();
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  log->logMessage("line", 2, false);
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Zira 2020-01-01.log"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "2020-01-01_node_C-WS.log"));
  EXPECT_TRUE(std::filesystem::exists(*log->lastTechnicalLogFilePath()));
  log->setLogDelegate(nullptr);
}

TEST_F(LogControllerTest, StandsInForTheSharedLogAndTakesPlatformDiagnostics) {
  auto log = makeLog();
  CVNLogController::setSharedLogControllerForTesting(log.get());
  EXPECT_EQ(&CVNLogController::sharedLogController(), log.get());
  RecordingDelegate delegate;
  log->setLogDelegate(&delegate);
  log->installAsDiagnosticHandler();
  platform::reportDiagnostic(platform::DiagnosticLevel::Error, "DispatchQueue 'x': task threw");
  platform::reportDiagnostic(platform::DiagnosticLevel::Info, "defaults loaded");
  ASSERT_TRUE(log->flush(kWaitLimit));
  EXPECT_EQ(readLog("2024-03-01"), "\t" + kFriday + "\t\tZira 1.0 started\r\n" +
                                       "!\t" + kFriday + "\t\tDispatchQueue 'x': task threw\r\n" +
                                       "\t" + kFriday + "\t\tdefaults loaded\r\n");
  log->setLogDelegate(nullptr);
  CVNLogController::setSharedLogControllerForTesting(nullptr);
  log.reset();  // hands diagnostics back to standard error
  platform::reportDiagnostic(platform::DiagnosticLevel::Info, "after the log");
}

// ---------------------------------------------------------------- notifications

TEST_F(LogControllerTest, RaisesNotificationsForShownCriticalMessagesOnly) {
  auto log = makeLog();
  EXPECT_TRUE(log->canDisplayNotifications());
  log->logMessage("disk full", 0, true);
  log->logMessage("disk full again", 0, false);
  log->logMessage("problem", 1, true);
  const auto posted = center_->posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].title, "Critical Error");
  EXPECT_EQ(posted[0].body, "disk full");
  EXPECT_EQ(posted[0].identifier.size(), 36u);
}

TEST_F(LogControllerTest, StartsWithoutWaitingForTheNotificationAnswer) {
  center_ = std::make_shared<FakeNotificationCenter>(std::nullopt);
  auto log = makeLog();  // the centre has not answered: construction must not wait for it
  EXPECT_FALSE(log->canDisplayNotifications());
  log->logMessage("early critical", 0, true);
  EXPECT_TRUE(center_->posted().empty());
  center_->answerSettings(UserNotificationAuthorizationStatus::Authorized);
  ASSERT_EQ(center_->posted().size(), 1u);  // held until the answer allowed it
  EXPECT_EQ(center_->posted()[0].body, "early critical");
}

TEST_F(LogControllerTest, FollowsTheNotificationAuthorizationAnswer) {
  struct Case {
    std::optional<UserNotificationAuthorizationStatus> status;
    bool grantsRequest;
    bool allowed;
  } cases[] = {
      {UserNotificationAuthorizationStatus::Provisional, false, true},
      {UserNotificationAuthorizationStatus::NotDetermined, true, true},
      {UserNotificationAuthorizationStatus::NotDetermined, false, false},
      {UserNotificationAuthorizationStatus::Denied, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(*c.status));
    center_ = std::make_shared<FakeNotificationCenter>(c.status, c.grantsRequest);
    console_.clear();
    auto log = makeLog();
    EXPECT_EQ(log->canDisplayNotifications(), c.allowed);
    log->logMessage("critical", 0, true);
    log->logMessage("critical", 0, true);
    EXPECT_EQ(center_->posted().size(), c.allowed ? 2u : 0u);
    if (*c.status == UserNotificationAuthorizationStatus::NotDetermined) {
      EXPECT_EQ(center_->requestedOptions(), 7u);
    }
    // Refusal is said once on the console, beside the two unshown messages.
    EXPECT_EQ(console().size(), c.allowed ? 2u : 3u);
  }
}

// The desktop centre without a reachable bus: denied promptly, never hanging.
TEST(DesktopNotificationCenterTest, AnswersDeniedWithoutAReachableSessionBus) {
  testing_support::TemporaryDirectory folder;
  const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  for (const std::string& address : {std::string(), "unix:path=" + (folder / "no-bus").string()}) {
    SCOPED_TRACE(address);
    if (address.empty()) {
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    } else {
      ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    DesktopNotificationCenter center({"Zira", std::chrono::milliseconds(500)});
    std::promise<UserNotificationAuthorizationStatus> settings;
    std::promise<bool> granted;
    center.getNotificationSettings([&](UserNotificationAuthorizationStatus status) { settings.set_value(status); });
    center.requestAuthorization(7, [&](bool answer) { granted.set_value(answer); });
    center.addNotificationRequest({"id", "Critical Error", "nobody listens"});
    auto settingsAnswer = settings.get_future();
    auto grantAnswer = granted.get_future();
    ASSERT_EQ(settingsAnswer.wait_for(kWaitLimit), std::future_status::ready);
    ASSERT_EQ(grantAnswer.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_EQ(settingsAnswer.get(), UserNotificationAuthorizationStatus::Denied);
    EXPECT_FALSE(grantAnswer.get());
  }
  if (previous) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", previous->c_str(), 1);
  } else {
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
}

}  // namespace
}  // namespace foundation
