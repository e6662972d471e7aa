// The application object's event guard: with a forwarder set, an exception
// escaping an event goes to the forwarder, then to the application's own
// reporting, and delivery carries on; without one it travels on. The
// application's own reporting logs it and, with "NSApplicationCrashOnExceptions"
// set, ends the process.

#include "app/shell/EventExceptionGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/shell/RegisteredDefaults.h"
#include "foundation/CVNLogController.h"
#include "platform/ApplicationExceptionForwarding.h"
#include "platform/UserDefaults.h"
#include "tests/support/SilentNotificationCenter.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

std::string whatOf(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "?";
  }
}

class RecordingApplication : public CorvaneApplication {
 public:
  void terminate() override {}
  bool hasModalWindow() const override { return false; }
  void reportException(const std::exception_ptr& exception) override { reported.push_back(whatOf(exception)); }
  std::vector<std::string> reported;
};

class EventExceptionGuardTest : public ::testing::Test {
 protected:
  ~EventExceptionGuardTest() override { platform::setApplicationExceptionForwarder(nullptr); }

  RecordingApplication application_;
  std::vector<std::string> forwarded_;
};

TEST_F(EventExceptionGuardTest, AnEscapingExceptionIsForwardedThenReportedAndDeliveryCarriesOn) {
  platform::setApplicationExceptionForwarder(
      [this](const std::exception_ptr& exception) { forwarded_.push_back(whatOf(exception)); });
  EXPECT_TRUE(deliverForwardingExceptions([] { return true; }, application_));
  EXPECT_TRUE(forwarded_.empty());

  const bool handled = deliverForwardingExceptions(
      []() -> bool { throw std::runtime_error("in a click handler"); }, application_);
  EXPECT_FALSE(handled);
  EXPECT_EQ(forwarded_, std::vector<std::string>{"in a click handler"});
  EXPECT_EQ(application_.reported, std::vector<std::string>{"in a click handler"});
}

TEST_F(EventExceptionGuardTest, WithoutAForwarderTheExceptionTravelsOnUntouched) {
  EXPECT_THROW(deliverForwardingExceptions([]() -> bool { throw std::out_of_range("row 12"); }, application_),
               std::out_of_range);
  EXPECT_TRUE(application_.reported.empty());
}

// The application's own reporting, as the program's application object has it.
class PlainApplication : public CorvaneApplication {
 public:
  void terminate() override {}
  bool hasModalWindow() const override { return false; }
};

TEST(CorvaneApplicationReportTest, TheExceptionIsLoggedAndEndsTheProcessOnlyWhenTheDefaultSaysSo) {
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder.path() / "defaults.plist");
  platform::ScopedStandardUserDefaultsOverride standard(defaults);
  std::vector<std::string> console;
  foundation::CVNLogController::Environment environment;
  environment.defaults = &defaults;
  environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
  environment.console = [&console](std::string_view line) { console.emplace_back(line); };
  foundation::CVNLogController log(std::move(environment));
  foundation::CVNLogController::setSharedLogControllerForTesting(&log);

  PlainApplication application;
  application.reportException(std::make_exception_ptr(std::runtime_error("bad row")));
  ASSERT_TRUE(log.flush(std::chrono::seconds(5)));
  EXPECT_EQ(std::count_if(console.begin(), console.end(),
                          [](const std::string& line) {
                            return line.find("Exception in an event handler: std::runtime_error: bad row") !=
                                   std::string::npos;
                          }),
            1);

  defaults.setObject(platform::Value(true), kCrashOnExceptionsKey);
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(application.reportException(std::make_exception_ptr(std::runtime_error("bad row"))), "");
  foundation::CVNLogController::setSharedLogControllerForTesting(nullptr);
}

}  // namespace
}  // namespace app
