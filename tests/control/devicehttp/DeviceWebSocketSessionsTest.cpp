// WebSocket sessions of the device HTTP controller against a python device on
// loopback: events reach the delegate, the message log leaves out playback
// timing changes, and closing ends the sessions.

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {
namespace {

class RecordingSessionDelegate : public CVNAuthenticatedURLSessionController_Delegate {
 public:
  void webSocketSessionDidOpen(std::uint64_t) override { add("open"); }
  void webSocketSessionDidClose(std::uint64_t, std::int64_t code) override { add("close " + std::to_string(code)); }
  void webSocketSessionDidReceiveStringMessage(std::uint64_t, const std::string& text) override { add(text); }
  void webSocketSessionDidCompleteWithError(std::uint64_t, const std::optional<platform::Error>&) override {
    add("complete");
  }
  std::optional<std::string> serverName() override { return "Desk"; }
  std::optional<std::string> hostNameAndPortNumberUsingSeparator(const std::string& separator) override {
    return "127.0.0.1" + separator + "1";
  }
  std::vector<std::string> lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }

 private:
  void add(std::string line) {
    std::lock_guard guard(mutex_);
    lines_.push_back(std::move(line));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::string messageLog(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("_Desk_<unknown instance>_127.0.0.1-1_C-WS.log")) {
      std::ostringstream text;
      text << std::ifstream(entry.path()).rdbuf();
      return text.str();
    }
  }
  return {};
}

TEST(DeviceWebSocketSessionsTest, MessageLogNamesAndFilter) {
  EXPECT_EQ(DeviceWebSocketSessions::logFileName(nullptr), "<unknown server>_<unknown instance>_<unknown ip and port>_C-WS");
  const std::pair<const char*, bool> cases[] = {
      {R"({"path":"playback","event":"playback_timing_changed"})", false},
      {R"({"path":"playback","event":"playback_started"})", true},
      {R"({"event":"playback_timing_changed"})", true},
      {"not json", true},
      {"", false},
  };
  for (const auto& [text, logged] : cases) EXPECT_EQ(DeviceWebSocketSessions::shouldLogMessage(text), logged) << text;
}

TEST(DeviceWebSocketSessionsTest, EventsReachTheDelegateAndTheMessageLog) {
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder / "defaults.plist");
  testing_support::CapturedTechnicalLog log(defaults);
  foundation::CVNLogController& shared = foundation::CVNLogController::sharedLogController();
  std::filesystem::create_directories(folder / "logs");
  shared.setTechnicalLogFolderPath(folder / "logs");
  shared.setAllowLogSimpleMessage(true);

  std::string error;
  auto device = testing_support::ChildProcess::start(
      {"/usr/bin/python3", VZ_DEVICE_EVENT_SERVER}, {}, &error);
  ASSERT_TRUE(device) << error;
  ASSERT_TRUE(device->waitForOutput("\n", false, testing_support::kRealTimeLimit)) << device->standardError();
  const std::string port = device->standardOutput().substr(5, device->standardOutput().find('\n') - 5);

  RecordingSessionDelegate delegate;
  CVNAuthenticatedURLSessionController controller;
  controller.setDelegate(&delegate);
  EXPECT_FALSE(controller.openWebSocketAtURL("http://127.0.0.1:" + port + "/feed", {"v1"}).has_value());
  ASSERT_TRUE(controller.openWebSocketAtURL("ws://127.0.0.1:" + port + "/feed", {"v1"}).has_value());
  // Texts go on as sent, JSON or not; the empty message reaches nobody and the loop goes on.
  const std::string tally = R"({"event": "tally", "on": true})";
  ASSERT_TRUE(testing_support::waitForCondition([&] { return delegate.lines().size() >= 4; }, "the events"))
      << device->standardError();
  EXPECT_EQ(delegate.lines(),
            (std::vector<std::string>{"open", R"({"path": "playback", "event": "playback_timing_changed"})",
                                      "not json", tally}));
  EXPECT_EQ(controller.openSessionCount(), 1u);

  controller.closeWebSocketSessions();
  ASSERT_TRUE(testing_support::waitForCondition([&] { return controller.openSessionCount() == 0; }, "the close"));
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return messageLog(folder / "logs").find("WS Connection did CLOSE") != std::string::npos; }, "the log"));
  const std::string text = messageLog(folder / "logs");
  EXPECT_NE(text.find("WS Connection did OPEN (feed:v1)"), std::string::npos) << text;
  EXPECT_NE(text.find("--> feed:v1\n" + tally), std::string::npos) << text;
  EXPECT_NE(text.find("--> feed:v1\nnot json"), std::string::npos) << text;
  EXPECT_EQ(text.find("playback_timing_changed"), std::string::npos) << text;
  controller.setDelegate(nullptr);
}

}  // namespace
}  // namespace control
