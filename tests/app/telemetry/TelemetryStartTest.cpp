// Telemetry at launch: the secret comes from the configuration (the defaults,
// else the environment), never from the program. Configured, the end of
// launching starts the crash and analytics services against the configured
// log URL; not configured, nothing is sent and no telemetry folder is made.
// Each test runs with HOME in a temporary folder of its own process.

#include "app/shell/TelemetryStart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "CapturedLogs.h"
#include "app/shell/ApplicationDelegate.h"
#include "control/gpi/CVNTrelvaneController.h"
#include "foundation/CVNLogController.h"
#include "platform/ApplicationExceptionForwarding.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "tests/app/shell/HeadlessApplication.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/SilentNotificationCenter.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

namespace fs = std::filesystem;

// Restores an environment variable when the test ends.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnvironment() { previous_ ? setenv(name_, previous_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

class TelemetryStartTest : public ::testing::Test {
 protected:
  TelemetryStartTest() {
    platform::RunLoop::main().attachCurrentThread();
    foundation::CVNLogController::Environment environment;
    environment.defaults = &defaults_;
    environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
    environment.console = [this](std::string_view line) {
      std::lock_guard guard(consoleMutex_);
      console_.emplace_back(line);
    };
    log_ = std::make_unique<foundation::CVNLogController>(std::move(environment));
    foundation::CVNLogController::setSharedLogControllerForTesting(log_.get());
  }
  ~TelemetryStartTest() override { foundation::CVNLogController::setSharedLogControllerForTesting(nullptr); }

  // The end of launching, as the program runs it.
  void finishLaunching() {
    ApplicationDelegate::Environment environment;
    environment.defaults = &defaults_;
    environment.notificationCenter = &notifications_;
    environment.documentsFolder = folder_.path() / "Documents";
    environment.trelvaneController = &trelvane_;
    ApplicationDelegate delegate(application_, std::move(environment));
    delegate.applicationDidFinishLaunching();
  }

  std::size_t consoleLinesWith(std::string_view text) {
    EXPECT_TRUE(log_->flush(std::chrono::seconds(5)));
    std::lock_guard guard(consoleMutex_);
    return std::count_if(console_.begin(), console_.end(),
                         [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  // Any folder of the telemetry client or of the crash reporter below HOME.
  static bool telemetryFoldersExist() {
    const fs::path home = std::getenv("HOME");
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
      const std::string name = entry.path().filename().string();
      if (name == "TelemetryCore" || name == "CrashReporterData") return true;
    }
    return false;
  }

  platform::ManualClock clock_{std::chrono::system_clock::now()};
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride standardDefaults_{defaults_};
  platform::NotificationCenter notifications_;
  control::CVNTrelvaneController trelvane_{std::make_unique<app_testing::NoBoxes>(), &notifications_};
  std::mutex consoleMutex_;
  std::vector<std::string> console_;  // guarded by consoleMutex_
  std::unique_ptr<foundation::CVNLogController> log_;
  app_testing::HeadlessApplication application_;
};

TEST_F(TelemetryStartTest, WithoutASecretNothingStartsNothingIsSentAndNoFolderIsMade) {
  ScopedEnvironment noSecret(kDirAradedIdentifierEnvironmentVariable, nullptr);
  testing_support::HttpCaptureServer server;
  defaults_.setObject(platform::Value(server.baseUrl()), kDirAradedLogUrlKey);
  finishLaunching();
  clock_.advance(std::chrono::seconds(5));
  platform::RunLoop::main().drainReadyTasks();

  EXPECT_EQ(consoleLinesWith(kTelemetryNotConfiguredMessage), 1u);
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_FALSE(telemetryFoldersExist());
  EXPECT_FALSE(platform::applicationExceptionForwarder());
}

TEST_F(TelemetryStartTest, TheSecretComesFromTheDefaultsElseTheEnvironment) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<std::string> persistent;
    const char* environment;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"argument", {"-DirAradedIdentifier", "from-argument"}, std::string("from-file"), "from-env",
       std::string("from-argument")},
      {"persistent domain", {}, std::string("from-file"), "from-env", std::string("from-file")},
      {"empty default: the environment", {}, std::string(""), "from-env", std::string("from-env")},
      {"environment only", {}, std::nullopt, "from-env", std::string("from-env")},
      {"empty environment", {}, std::nullopt, "", std::nullopt},
      {"none", {}, std::nullopt, nullptr, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TemporaryDirectory folder;
    platform::UserDefaults defaults(folder.path() / "defaults.plist", c.arguments);
    if (c.persistent) defaults.setObject(platform::Value(*c.persistent), kDirAradedIdentifierKey);
    ScopedEnvironment environment(kDirAradedIdentifierEnvironmentVariable, c.environment);
    EXPECT_EQ(dirAradedIdentifier(defaults), c.expected);
    platform::ScopedStandardUserDefaultsOverride standard(defaults);
    EXPECT_EQ(application_.applicationDirAradedIdentifier(), c.expected);
  }
}

TEST_F(TelemetryStartTest, WithASecretTheCrashAndAnalyticsServicesStartAgainstTheConfiguredUrl) {
  ScopedEnvironment noEnvironmentSecret(kDirAradedIdentifierEnvironmentVariable, nullptr);
  testing_support::HttpCaptureServer server;
  defaults_.setObject(platform::Value("secret-of-this-site"), kDirAradedIdentifierKey);
  defaults_.setObject(platform::Value(server.baseUrl()), kDirAradedLogUrlKey);
  finishLaunching();

  auto group = telemetry::core::DRTLDirAraded::sharedInstance()->channelGroup();
  ASSERT_TRUE(group);
  ASSERT_TRUE(group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10)));
  clock_.advance(std::chrono::seconds(3));
  nlohmann::json started;
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] {
        for (const auto& log : telemetry::core::testing_support::capturedLogs(server)) {
          if (log.value("type", "") == "startService") started = log;
        }
        return !started.is_null();
      },
      "the start-service log"));
  EXPECT_EQ(started.at("services"), nlohmann::json::array({"Crashes", "Analytics"}));
  ASSERT_GE(server.requestCount(), 1u);
  EXPECT_EQ(server.requests().front().header("App-Secret"), "secret-of-this-site");
  EXPECT_EQ(consoleLinesWith(kTelemetryNotConfiguredMessage), 0u);
  // The end of launching asks for crashes on exceptions, so the crash service forwards them.
  EXPECT_TRUE(platform::applicationExceptionForwarder());
}

}  // namespace
}  // namespace app
