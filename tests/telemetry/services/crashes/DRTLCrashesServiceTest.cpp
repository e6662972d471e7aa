// The crash service in this process on a manual clock: crash files left by an
// earlier run are processed a second after start, sent or dropped as the user
// confirms, and a crash file goes only once its log is stored. Attachments
// above the size cap are dropped. In the background processing waits for the
// application to become active again.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "CrashReportFixtures.h"
#include "TelemetryTestSupport.h"
#include "platform/ApplicationActivity.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/DRTLCrashes.h"
#include "telemetry/services/crashes/exceptions/DRTLCrashesUncaughtCXXExceptionHandlerManager.h"
#include "telemetry/services/crashes/DRTLCrashesUtil.h"
#include "telemetry/services/crashes/DRTLWrapperCrashesHelper.h"
#include "tests/support/RunLoopWait.h"

namespace telemetry::crashes {
namespace {

namespace fs = std::filesystem;

// Counts the logs the channel group prepares and stores, by type.
class LogCounter : public core::DRTLChannelDelegate {
 public:
  void channelDidPrepareLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                            const std::string&, std::uint64_t) override {
    std::lock_guard lock(mutex_);
    ++prepared_[log->type.value_or("")];
    if (auto attachment = std::dynamic_pointer_cast<DRTLErrorAttachmentLog>(log); attachment && attachment->data) {
      attachmentSizes_.push_back(attachment->data->size());
    }
  }
  void channelDidStoreLog(core::DRTLChannelProtocol*, const std::shared_ptr<core::DRTLAbstractLog>& log,
                          const std::string&) override {
    std::lock_guard lock(mutex_);
    ++stored_[log->type.value_or("")];
  }
  int prepared(const std::string& type) {
    std::lock_guard lock(mutex_);
    return prepared_[type];
  }
  int stored(const std::string& type) {
    std::lock_guard lock(mutex_);
    return stored_[type];
  }
  std::vector<std::size_t> attachmentSizes() {
    std::lock_guard lock(mutex_);
    return attachmentSizes_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int> prepared_, stored_;
  std::vector<std::size_t> attachmentSizes_;
};

// Stands in for the system's memory pressure source; fire() posts to the main queue as it does.
class FakeMemoryPressure : public DRTLCrashesMemoryPressureSource {
 public:
  void resume(Handler handler) override { current() = std::move(handler); }
  void cancel() override { current() = nullptr; }
  ~FakeMemoryPressure() override { cancel(); }
  // Never destroyed: the service's singleton may outlive the test's statics.
  static Handler& current() {
    static auto* handler = new Handler;
    return *handler;
  }
  static void fire() {
    if (current()) platform::DispatchQueue::main().async(current());
  }
};

class DRTLCrashesServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DRTLCrashesMemoryPressureSource::setFactory([] { return std::make_unique<FakeMemoryPressure>(); });
    defaults()->removeObjectForKey(kDRTLUserConfirmationKey);
    crashesDir_ = *core::DRTLUtility::fullURLForPathComponent(DRTLCrashesUtil::crashesDir());
    fs::remove_all(crashesDir_);
    fs::create_directories(crashesDir_);
    group_ = core::DRTLChannelGroupDefault::create(std::shared_ptr<core::DRTLDirAradedIngestion>());
    group_->addDelegate(counter_);
  }
  void TearDown() override {
    DRTLCrashesMemoryPressureSource::setFactory(nullptr);
    if (crashes_) group_->removeDelegate(crashes_);
    group_->removeDelegate(counter_);
  }

  static std::shared_ptr<core::DRTLDirAradedUserDefaults> defaults() { return core::DRTLDirAradedUserDefaults::shared(); }

  // A crash file as an earlier run leaves it.
  void leaveCrashFile(const std::string& name) {
    const auto bytes = crash_test::withHeader(crash_test::encodeText(crash_test::readTestFile("fixtures/full.txt")));
    std::ofstream(crashesDir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                               static_cast<std::streamsize>(bytes.size()));
  }
  std::size_t crashFilesOnDisk() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(crashesDir_), fs::directory_iterator()));
  }

  void start(DRTLCrashes::ConfirmationHandler handler = nullptr) {
    DRTLCrashes::resetSharedInstance();
    crashes_ = DRTLCrashes::sharedInstance();
    DRTLCrashes::setUserConfirmationHandler(std::move(handler));
    crashes_->startWithChannelGroup(group_, std::string("secret"), std::nullopt, true);
  }
  // Runs the clock past the processing delay and until `done`.
  bool runUntil(const std::function<bool()>& done) {
    return testing_support::advanceClockUntil(clock_, std::chrono::milliseconds(500), done, 40);
  }
  bool drained() {
    return runUntil([&] {
      bool idle = false;
      group_->logsDispatchQueue()->sync([&] { idle = true; }, std::chrono::seconds(5));
      return idle && crashes_->crashFiles().empty();
    });
  }

  platform::ManualClock clock_{std::chrono::system_clock::now()};
  platform::ScopedClockOverride override_{clock_};
  fs::path crashesDir_;
  std::shared_ptr<core::DRTLChannelGroupDefault> group_;
  std::shared_ptr<LogCounter> counter_ = std::make_shared<LogCounter>();
  std::shared_ptr<DRTLCrashes> crashes_;
};

TEST_F(DRTLCrashesServiceTest, CrashFilesAreSentASecondAfterStartAndDeletedOnceStored) {
  leaveCrashFile("100");
  leaveCrashFile("100-1");
  leaveCrashFile("notes.plist");  // not a crash file
  start();
  EXPECT_EQ(counter_->prepared("appleError"), 0);  // not before the second has passed
  ASSERT_TRUE(drained());
  EXPECT_EQ(counter_->stored("appleError"), 2);
  EXPECT_EQ(crashFilesOnDisk(), 1u);
  EXPECT_TRUE(fs::exists(crashesDir_ / "notes.plist"));
}

TEST_F(DRTLCrashesServiceTest, TheUsersAnswerDecidesWhetherCrashesAreSent) {
  struct Case {
    const char* name;
    bool alwaysBefore;   // "CrashesUserConfirmation" already set
    unsigned answer;     // given after the handler asked
    int sent;
    bool alwaysAfter;
  };
  const Case cases[] = {
      {"dont send", false, DRTLUserConfirmationDontSend, 0, false},
      {"send", false, DRTLUserConfirmationSend, 1, false},
      {"always", false, DRTLUserConfirmationAlways, 1, true},
      {"always given earlier: not asked", true, DRTLUserConfirmationDontSend, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.alwaysBefore) defaults()->setObject(platform::Value(true), kDRTLUserConfirmationKey);
    leaveCrashFile("200");
    std::atomic<int> asked{0};
    std::atomic<bool> askedOnMain{false};
    start([&](const std::vector<std::shared_ptr<DRTLErrorReport>>& reports) {
      askedOnMain = platform::isMainThread();
      asked += static_cast<int>(reports.size());
      return true;  // the host asks the user and answers later
    });
    runUntil([&] { return asked > 0 || (c.alwaysBefore && crashes_->crashFiles().empty()); });
    if (!c.alwaysBefore) {
      ASSERT_EQ(asked, 1);
      EXPECT_TRUE(askedOnMain);
      EXPECT_EQ(crashes_->unprocessedCrashReports().size(), 1u);
      crashes_->handleUserConfirmation(c.answer);
    } else {
      EXPECT_EQ(asked, 0);
    }
    drained();
    EXPECT_EQ(counter_->stored("appleError"), c.sent);
    EXPECT_EQ(crashFilesOnDisk(), 0u);
    EXPECT_EQ(defaults()->objectForKey(kDRTLUserConfirmationKey).booleanOr(false), c.alwaysAfter);
    TearDown();
    counter_ = std::make_shared<LogCounter>();
  }
}

TEST_F(DRTLCrashesServiceTest, InTheBackgroundCrashesWaitForTheApplicationToBecomeActive) {
  core::testing_support::LogCapture capture;
  core::DRTLLogger::setCurrentLogLevel(core::DRTLLogLevelVerbose);
  std::atomic<bool> hidden{true};
  struct HiddenProvider {
    explicit HiddenProvider(std::atomic<bool>& hidden) {
      core::DRTLUtility::setApplicationHiddenProvider([&hidden] { return hidden.load(); });
    }
    ~HiddenProvider() { core::DRTLUtility::setApplicationHiddenProvider(nullptr); }
  } provider(hidden);
  leaveCrashFile("300");
  start();
  const std::string waiting = "Crashes will not be processed because the application is in the background.";
  ASSERT_TRUE(runUntil([&] { return capture.contains(core::DRTLLogLevelWarning, waiting); }));
  EXPECT_EQ(counter_->prepared("appleError"), 0);
  EXPECT_EQ(crashes_->crashFiles().size(), 1u);

  // Back in the foreground the waiting crash file is processed.
  hidden = false;
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillBecomeActiveNotification);
  ASSERT_TRUE(drained());
  EXPECT_EQ(counter_->stored("appleError"), 1);
  EXPECT_EQ(capture.count(core::DRTLLogLevelWarning, waiting), 1);
  EXPECT_EQ(crashFilesOnDisk(), 0u);
}

TEST_F(DRTLCrashesServiceTest, AMemoryWarningIsReportedAfterExactlyOneRestart) {
  start();  // run 1
  EXPECT_FALSE(DRTLCrashes::hasReceivedMemoryWarningInLastSession());
  FakeMemoryPressure::fire();
  ASSERT_TRUE(runUntil([] { return defaults()->objectForKey(kDRTLAppDidReceiveMemoryWarningKey).booleanOr(false); }));

  start();  // run 2: no warning
  EXPECT_TRUE(DRTLCrashes::hasReceivedMemoryWarningInLastSession());
  start();  // run 3
  EXPECT_FALSE(DRTLCrashes::hasReceivedMemoryWarningInLastSession());

  // Disabled, the service hears no warning and forgets the one it had.
  FakeMemoryPressure::fire();
  crashes_->setEnabled(false);
  EXPECT_FALSE(FakeMemoryPressure::current());
  EXPECT_FALSE(defaults()->objectForKey(kDRTLAppDidReceiveMemoryWarningKey).booleanOr(false));
  crashes_->setEnabled(true);
}

TEST_F(DRTLCrashesServiceTest, AWrapperLayerMayKeepTheUncaughtExceptionHandlerForItself) {
  struct SetupDelegate : DRTLCrashHandlerSetupDelegate {
    std::optional<bool> shouldEnableUncaughtExceptionHandler() override { return false; }
    void willSetUpCrashHandlers() override { calls += "will "; }
    void didSetUpCrashHandlers() override { calls += "did"; }
    std::string calls;
  };
  auto delegate = std::make_shared<SetupDelegate>();
  DRTLWrapperCrashesHelper::setCrashHandlerSetupDelegate(delegate);
  EXPECT_EQ(DRTLWrapperCrashesHelper::getCrashHandlerSetupDelegate(), delegate);
  const std::size_t handlers = DRTLCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler();
  start();
  EXPECT_EQ(delegate->calls, "will did");
  EXPECT_EQ(DRTLCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler(), handlers);

  DRTLWrapperCrashesHelper::setAutomaticProcessing(false);
  EXPECT_FALSE(DRTLWrapperCrashesHelper::automaticProcessing());
  delegate.reset();  // held weakly
  EXPECT_FALSE(DRTLWrapperCrashesHelper::crashHandlerSetupDelegate());
}

TEST_F(DRTLCrashesServiceTest, AttachmentsAboveTheCapAreDropped) {
  start();
  const auto attachment = [](std::size_t size) {
    return DRTLErrorAttachmentLog::attachmentWithBinary(std::vector<std::uint8_t>(size, 7), "a.bin",
                                                        "application/octet-stream");
  };
  crashes_->sendErrorAttachments({attachment(kDRTLMaxAttachmentSize), attachment(kDRTLMaxAttachmentSize + 1),
                                  attachment(0), attachment(10)},
                                 "incident-1");
  EXPECT_EQ(counter_->attachmentSizes(), (std::vector<std::size_t>{kDRTLMaxAttachmentSize, 10}));
}

}  // namespace
}  // namespace telemetry::crashes
