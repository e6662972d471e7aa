// WebSocket sessions of the device HTTP controller against a python device on
// loopback: events reach the delegate, the message log leaves out playback
// timing changes, and closing ends the sessions.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
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
  void webSocketSessionDidOpen(std::uint64_t session) override { add(session, "open"); }
  void webSocketSessionDidClose(std::uint64_t session, std::int64_t code) override {
    add(session, "close " + std::to_string(code));
  }
  void webSocketSessionDidReceiveStringMessage(std::uint64_t session, const std::string& text) override {
    add(session, text);
  }
  void webSocketSessionDidCompleteWithError(std::uint64_t session, const std::optional<platform::Error>&) override {
    add(session, "complete");
  }
  std::optional<std::string> serverName() override { return "Desk"; }
  std::optional<std::string> hostNameAndPortNumberUsingSeparator(const std::string& separator) override {
    return "127.0.0.1" + separator + "1";
  }
  std::vector<std::string> lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }
  std::vector<std::string> linesOf(std::uint64_t session) const {
    std::lock_guard guard(mutex_);
    const auto found = linesBySession_.find(session);
    return found == linesBySession_.end() ? std::vector<std::string>() : found->second;
  }

 private:
  void add(std::uint64_t session, std::string line) {
    std::lock_guard guard(mutex_);
    linesBySession_[session].push_back(line);
    lines_.push_back(std::move(line));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::map<std::uint64_t, std::vector<std::string>> linesBySession_;
};

// The python device, started for one test; `port` is the one it listens on.
struct EventDevice {
  std::unique_ptr<testing_support::ChildProcess> process;
  std::string port;
  std::string url() const { return "ws://127.0.0.1:" + port + "/feed"; }
};

EventDevice startEventDevice() {
  std::string error;
  EventDevice device{testing_support::ChildProcess::start({"/usr/bin/python3", VZ_DEVICE_EVENT_SERVER}, {}, &error),
                     {}};
  EXPECT_TRUE(device.process) << error;
  if (!device.process) return device;
  EXPECT_TRUE(device.process->waitForOutput("\n", false, testing_support::kRealTimeLimit))
      << device.process->standardError();
  const std::string& output = device.process->standardOutput();
  device.port = output.substr(5, output.find('\n') - 5);
  return device;
}

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

  const EventDevice device = startEventDevice();
  ASSERT_FALSE(device.port.empty());
  const std::string& port = device.port;

  RecordingSessionDelegate delegate;
  CVNAuthenticatedURLSessionController controller;
  controller.setDelegate(&delegate);
  EXPECT_FALSE(controller.openWebSocketAtURL("http://127.0.0.1:" + port + "/feed", {"v1"}).has_value());
  ASSERT_TRUE(controller.openWebSocketAtURL("ws://127.0.0.1:" + port + "/feed", {"v1"}).has_value());
  // Texts go on as sent, JSON or not; the empty message reaches nobody and the loop goes on.
  const std::string tally = R"({"event": "tally", "on": true})";
  ASSERT_TRUE(testing_support::waitForCondition([&] { return delegate.lines().size() >= 4; }, "the events"))
      << device.process->standardError();
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

TEST(DeviceWebSocketSessionsTest, MessagesWaitWhileProcessingIsOffAndArriveInOrderAfter) {
  const EventDevice device = startEventDevice();
  ASSERT_FALSE(device.port.empty());
  RecordingSessionDelegate delegate;
  CVNAuthenticatedURLSessionController controller;
  controller.setDelegate(&delegate);
  const auto countOf = [&](std::uint64_t session, std::size_t count) {
    return testing_support::waitForCondition([&] { return delegate.linesOf(session).size() >= count; },
                                             "the messages");
  };
  const std::string timing = R"({"path": "playback", "event": "playback_timing_changed"})";
  const std::string tally = R"({"event": "tally", "on": true})";
  const std::vector<std::string> greeting = {"open", timing, "not json", tally};

  // Opened without processing: connected, but its greeting and the news of the
  // next client stay unread while that client gets its own greeting.
  const auto held = controller.openWebSocketAtURL(device.url(), {"v1"}, false);
  ASSERT_TRUE(held);
  ASSERT_TRUE(countOf(*held, 1));
  const auto second = controller.openWebSocketAtURL(device.url(), {"v1"});
  ASSERT_TRUE(second);
  ASSERT_TRUE(countOf(*second, 4));
  EXPECT_EQ(delegate.linesOf(*held), std::vector<std::string>{"open"});

  controller.startProcessingMessages();
  ASSERT_TRUE(countOf(*held, 6));
  std::vector<std::string> expected = greeting;
  expected.insert(expected.end(), {"joined 2", "seen 2"});
  EXPECT_EQ(delegate.linesOf(*held), expected);
  EXPECT_EQ(delegate.linesOf(*second), greeting);

  // Suspended sessions keep their connections; the news of a third client
  // waits until they resume.
  controller.suspendProcessingMessages();
  const auto third = controller.openWebSocketAtURL(device.url(), {"v1"});
  ASSERT_TRUE(third);
  ASSERT_TRUE(countOf(*third, 4));
  EXPECT_EQ(delegate.linesOf(*held).size(), 6u);
  EXPECT_EQ(delegate.linesOf(*second), greeting);
  EXPECT_EQ(controller.openSessionCount(), 3u);

  controller.resumeProcessingMessages();
  ASSERT_TRUE(countOf(*held, 8));
  ASSERT_TRUE(countOf(*second, 6));
  expected.insert(expected.end(), {"joined 3", "seen 3"});
  EXPECT_EQ(delegate.linesOf(*held), expected);
  EXPECT_EQ(delegate.linesOf(*third), greeting);

  controller.closeWebSocketSessions();
  ASSERT_TRUE(testing_support::waitForCondition([&] { return controller.openSessionCount() == 0; }, "the close"));
  controller.setDelegate(nullptr);
}

}  // namespace
}  // namespace control
