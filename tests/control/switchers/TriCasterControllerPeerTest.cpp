// The TriCaster controller against a python stand-in switcher on 127.0.0.1:
// the input list, the state feed and its triggers, label refresh, losing
// and regaining the switcher, the shortcut bodies and a hostile feed.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "control/switchers/TriCasterController.h"
#include "platform/Clock.h"
#include "platform/Keychain.h"
#include "platform/RunLoop.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {
namespace {

using testing_support::runMainLoopUntil;

constexpr const char* kSwitcherDictionary =
    "<switcher_update><inputs>"
    "<physical_input physical_input_number=\"Input1\" iso_label=\"Camera\"/>"
    "<physical_input physical_input_number=\"Input2\" iso_label=\"Guest\"/>"
    "<simulated_input simulated_input_number=\"ddr1\" iso_label=\"Clips\"/>"
    "</inputs></switcher_update>";
// Black comes last here and first in the list; v1 is a mix effect.
constexpr const char* kTallyDictionary =
    "<tally><column name=\"input1\" index=\"1\"/><column name=\"input2\" index=\"2\"/>"
    "<column name=\"ddr1\" index=\"3\"/><column name=\"v1\" index=\"4\"/><column name=\"black\" index=\"0\"/></tally>";

class RecordingTriCasterDelegate : public TriCasterController_Delegate {
 public:
  void triCasterDidConnect(TriCasterController&) override { ++connects; }
  void triCasterDidDisconnect(TriCasterController&) override { ++disconnects; }
  void triCasterLabelOfInputAtIndex(std::int64_t, const std::string&, TriCasterController&) override {}
  void triCasterConfigurationDidChangeForDevice(TriCasterController&) override {}
  void triCasterSelectedInput(std::int32_t input, std::int32_t output, TriCasterController&) override {
    selections.emplace_back(input, output);
  }
  void triCasterTriggeredPlaybackStartForDevice(TriCasterController& device) override {
    ++starts;
    EXPECT_TRUE(device.isPlayingAClip());
  }
  void triCasterTriggeredPlaybackStopForDevice(TriCasterController&) override { ++stops; }

  int connects = 0;
  int disconnects = 0;
  int starts = 0;
  int stops = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> selections;
};

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

std::string stateMessage(const std::string& states) {
  return "<shortcut_states>" + states + "</shortcut_states>" + std::string(1, '\0');
}

std::string state(const char* name, const std::string& value) {
  return "<shortcut_state name=\"" + std::string(name) + "\" value=\"" + value + "\"/>";
}

class TriCasterControllerPeerTest : public ::testing::Test {
 protected:
  TriCasterControllerPeerTest() {
    platform::RunLoop::main().attachCurrentThread();
    writeFile("switcher.xml", kSwitcherDictionary);
    writeFile("tally.xml", kTallyDictionary);
    std::string error;
    peer_ = testing_support::ChildProcess::start({"/usr/bin/python3", VZ_TRICASTER_PEER, folder_.path().string()},
                                                 {}, &error);
    EXPECT_TRUE(peer_) << error;
    if (!peer_ || !peer_->waitForOutput("ports ", false, testing_support::kRealTimeLimit)) return;
    EXPECT_TRUE(testing_support::waitForCondition([&] { return peer_->standardOutput().find('\n') != std::string::npos; }));
    std::istringstream ports(peer_->standardOutput().substr(6));
    ports >> httpPort_ >> feedPort_;
    controller_ = std::make_unique<TriCasterController>(&keychain_);
    controller_->setDelegate(&delegate_);
    controller_->setInputTypesToIgnore(0);
    controller_->setSwitcherIPAddress("127.0.0.1");
    controller_->setSwitcherHTTPPort(httpPort_);
    controller_->setSwitcherPortNumber(feedPort_);
    controller_->setIdentifierOfClipPlayingInput("DDR1");
  }
  ~TriCasterControllerPeerTest() override {
    controller_.reset();
    for (int i = 0; i < 5; ++i) platform::RunLoop::main().drainReadyTasks();
  }

  void writeFile(const std::string& name, const std::string& text) {
    const auto temporary = folder_ / (name + ".new");
    std::ofstream(temporary) << text;
    std::filesystem::rename(temporary, folder_ / name);
  }
  std::size_t outputCount(const std::string& text) const {
    const std::string output = peer_->standardOutput();
    std::size_t count = 0;
    for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++count;
    return count;
  }
  // Hands the feed peer its next command and waits until it carried it out.
  void feed(const std::string& command) {
    const int number = ++commands_;
    writeFile("command-" + std::to_string(number), command);
    ASSERT_TRUE(peer_->waitForOutput("done " + std::to_string(number) + "\n", false, testing_support::kRealTimeLimit));
  }
  void send(const std::vector<std::string>& segments) {
    std::string command = "send";
    for (const std::string& segment : segments) command += " " + hex(segment);
    feed(command);
  }
  void connectAndWait(int connections = 1) {
    controller_->connect();
    ASSERT_TRUE(runMainLoopUntil([&] { return controller_->isConnected().get(); }, "connected"));
    ASSERT_TRUE(testing_support::waitForCondition(
        [&] { return outputCount("register b") == static_cast<std::size_t>(connections); }, "register line"))
        << peer_->standardOutput() << peer_->standardError();
  }
  // The retry is already scheduled (the loss has reached the main thread).
  bool reconnectAfter(platform::Clock::Duration delay) {
    clock_.advance(delay);
    return runMainLoopUntil([&] { return controller_->isConnected().get(); }, "reconnected");
  }
  std::string label(std::uint64_t index) const {
    const auto input = controller_->inputWithIndex(index);
    return input ? input->isoLabel : "<none>";
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::Keychain keychain_{folder_ / "keychain.plist"};
  std::unique_ptr<testing_support::ChildProcess> peer_;
  int httpPort_ = 0;
  int feedPort_ = 0;
  int commands_ = 0;
  RecordingTriCasterDelegate delegate_;
  std::unique_ptr<TriCasterController> controller_;
};

TEST_F(TriCasterControllerPeerTest, ConnectingReadsTheInputListAndRegistersForStates) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  EXPECT_EQ(delegate_.connects, 1);
  const auto inputs = controller_->inputs();
  ASSERT_EQ(inputs.size(), 5u);
  const std::pair<const char*, const char*> expected[] = {
      {"black", "black"}, {"Input1", "Camera"}, {"Input2", "Guest"}, {"ddr1", "Clips"}, {"v1", "v1"}};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_EQ(inputs[i].index, i);
    EXPECT_EQ(inputs[i].switcherInputName, expected[i].first) << i;
    EXPECT_EQ(inputs[i].isoLabel, expected[i].second) << i;
  }
  EXPECT_EQ(outputCount("register b'<register name=\"NTK_states\" />\\r'"), 1u);
  // No login is configured: nothing is ever offered, least of all a fixed one.
  EXPECT_EQ(outputCount("authorization -"), outputCount("authorization "));
}

TEST_F(TriCasterControllerPeerTest, TheKeychainLoginGoesOutAsTheDigestTheSwitcherAsksForAndOnlyOnce) {
  ASSERT_TRUE(controller_);
  writeFile("login", "admin:secret");
  const auto store = [&](const char* password) {
    return CVNAuthenticatedURLSessionController::addOrUpdateKeychainPassword(keychain_, password, "admin",
                                                                             "127.0.0.1", "TriCaster");
  };
  ASSERT_TRUE(store("wrong").ok());
  controller_->connect();
  ASSERT_TRUE(testing_support::waitForCondition([&] { return outputCount("authorization ") >= 2; }, "the refusal"));
  // Waits for the refused attempt to end.
  controller_->disconnect();
  EXPECT_FALSE(controller_->isConnected().get());

  ASSERT_TRUE(store("secret").ok());
  connectAndWait();
  EXPECT_EQ(controller_->inputs().size(), 5u);
  // Each request drew the challenge and answered it once, refused or not;
  // never in the clear, and never with a login that was not configured.
  EXPECT_EQ(outputCount("authorization -"), outputCount("authorization Digest username=\"admin\""));
  EXPECT_EQ(outputCount("authorization Basic"), 0u);
  EXPECT_EQ(outputCount("tovar"), 0u);
}

TEST_F(TriCasterControllerPeerTest, StateMessagesMoveProgramAndPreviewAndTriggerTheClipPlayer) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  // Each step also puts another input on preview, so the test knows when the
  // step's program change has been handled on the main thread.
  struct Step {
    const char* what;
    std::vector<std::string> segments;
    std::uint64_t program;
    std::uint64_t preview;
    int starts;
    int stops;
  };
  const std::string named = "main_a_row_named_input";
  const Step steps[] = {
      {"a named input", {stateMessage(state(named.c_str(), "INPUT1") + state("main_b_row", "1"))}, 1, 2, 0, 0},
      {"the row wins over the name and the clip player starts",
       {stateMessage(state("main_a_row", "2") + state(named.c_str(), "input1") + state("main_b_row", "-1"))},
       3, 0, 1, 0},
      {"the same program again, split over three segments",
       [] {
         const std::string message = stateMessage(state("main_a_row_named_input", "DDR1") + state("main_b_row", "1"));
         return std::vector<std::string>{message.substr(0, 10), message.substr(10, 30), message.substr(40)};
       }(),
       3, 2, 1, 0},
      {"leaving the clip player stops it; junk and a second message share the segment",
       {"<shortcut_states><unclosed>" + std::string(1, '\0') +
        stateMessage(state(named.c_str(), "input2") + state("main_b_row", "-1")) +
        stateMessage(state("main_b_row_named_input", "ddr1"))},
       2, 3, 1, 1},
      {"another input sends no second stop",
       {stateMessage(state(named.c_str(), "input1") + state("main_b_row", "1"))}, 1, 2, 1, 1},
      {"an unknown input changes nothing",
       {stateMessage(state(named.c_str(), "input9") + state("main_b_row", "-1"))}, 1, 0, 1, 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    send(step.segments);
    ASSERT_TRUE(runMainLoopUntil([&] { return controller_->previewInputIndex() == step.preview; }, "preview"));
    EXPECT_EQ(controller_->programInputIndex(), step.program);
    EXPECT_EQ(delegate_.starts, step.starts);
    EXPECT_EQ(delegate_.stops, step.stops);
  }
  EXPECT_TRUE(controller_->inputWithIndex(3)->isOnProgramTally);
}

TEST_F(TriCasterControllerPeerTest, LabelsAreRefreshedEveryThreeSeconds) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  std::string renamed = kSwitcherDictionary;
  renamed.replace(renamed.find("Camera"), 6, "Presenter");
  writeFile("switcher.xml", renamed);
  clock_.advance(TriCasterController::kLabelRefreshInterval - std::chrono::milliseconds(100));
  platform::RunLoop::main().runFor(std::chrono::milliseconds(0), std::chrono::milliseconds(200));
  EXPECT_EQ(label(1), "Camera");
  clock_.advance(std::chrono::milliseconds(100));
  EXPECT_TRUE(runMainLoopUntil([&] { return label(1) == "Presenter"; }, "the new label"));
  EXPECT_EQ(label(3), "Clips");
}

TEST_F(TriCasterControllerPeerTest, LosingTheHTTPInterfaceDisconnectsAndReconnectsAfterFiveSeconds) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  // Connecting while connected goes through disconnect; later losses must
  // still be retried.
  connectAndWait(2);
  writeFile("http-down", "");
  clock_.advance(TriCasterController::kLabelRefreshInterval);
  ASSERT_TRUE(runMainLoopUntil([&] { return !controller_->isConnected().get(); }, "the disconnect"));
  EXPECT_EQ(delegate_.disconnects, 1);
  // A tally without columns still connects and keeps the list it had.
  writeFile("tally.xml", "<tally/>");
  std::filesystem::remove(folder_ / "http-down");
  clock_.advance(TriCasterController::kReconnectDelay - std::chrono::milliseconds(100));
  platform::RunLoop::main().runFor(std::chrono::milliseconds(0), std::chrono::milliseconds(200));
  EXPECT_FALSE(controller_->isConnected().get());
  EXPECT_TRUE(reconnectAfter(std::chrono::milliseconds(100)));
  EXPECT_EQ(controller_->inputs().size(), 5u);
  EXPECT_TRUE(testing_support::waitForCondition([&] { return outputCount("register b") == 3; }));

  // The operator's disconnect ends the retries until the next connect.
  controller_->disconnect();
  EXPECT_FALSE(controller_->isConnected().get());
  clock_.advance(TriCasterController::kReconnectDelay * 3);
  platform::RunLoop::main().runFor(std::chrono::milliseconds(0), std::chrono::milliseconds(300));
  EXPECT_FALSE(controller_->isConnected().get());
  EXPECT_EQ(outputCount("feed connected"), 3u);
  connectAndWait(4);
}

TEST_F(TriCasterControllerPeerTest, TallyPollingMovesSelectionsAndTriggersTheClipPlayer) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  using Selection = std::pair<std::int32_t, std::int32_t>;
  struct Step {
    const char* ddr1;   // on_pgm of the clip player's column
    const char* input1; // on_prev of the first camera's column
    std::vector<Selection> selections;
    int starts;
    int stops;
  };
  const Step steps[] = {
      {"true", "1", {{3, 0}, {1, 1}}, 1, 0},
      {"Yes", "1", {}, 1, 0},
      {"0", "no", {{3, 0}, {1, 1}}, 1, 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.ddr1) + " " + step.input1);
    delegate_.selections.clear();
    writeFile("tally.xml", std::string("<tally><column name=\"ddr1\" index=\"2\" on_pgm=\"") + step.ddr1 +
                               "\"/><column name=\"INPUT1\" index=\"0\" on_prev=\"" + step.input1 + "\"/></tally>");
    EXPECT_FALSE(controller_->updateTallies());
    // A sentinel after the columns' main-thread work.
    bool handled = false;
    platform::DispatchQueue::main().async([&] { handled = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return handled; }));
    EXPECT_EQ(delegate_.selections, step.selections);
    EXPECT_EQ(delegate_.starts, step.starts);
    EXPECT_EQ(delegate_.stops, step.stops);
  }
  writeFile("http-down", "");
  EXPECT_TRUE(controller_->updateTallies());
  std::filesystem::remove(folder_ / "http-down");

  // The state poll counts columns by index (plus one for black) and takes only "true".
  delegate_.selections.clear();
  writeFile("tally.xml",
            "<tally><column name=\"x\" index=\"1\" on_pgm=\"true\"/><column name=\"y\" index=\"0\" on_prev=\"true\"/>"
            "<column name=\"z\" index=\"2\" on_prev=\"1\"/></tally>");
  EXPECT_TRUE(controller_->updateProgramAndPreviewStates());
  ASSERT_TRUE(runMainLoopUntil([&] { return controller_->programInputIndex() == 2; }, "the polled program"));
  EXPECT_EQ(controller_->previewInputIndex(), 1u);
  EXPECT_EQ(delegate_.selections, (std::vector<Selection>{{2, 0}, {1, 1}}));
  // An answer without XML ends the loop.
  std::filesystem::remove(folder_ / "tally.xml");
  const auto requests = [&] { return outputCount("authorization "); };
  ASSERT_TRUE(testing_support::waitForCondition([&] {
    const std::size_t before = requests();
    platform::RunLoop::main().runFor(std::chrono::milliseconds(0), std::chrono::milliseconds(300));
    return requests() == before;
  }, "the end of polling"));
}

TEST_F(TriCasterControllerPeerTest, ShortcutsPostTheirBodies) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  EXPECT_TRUE(controller_->selectInputAtIndex(3, 0, true));
  EXPECT_TRUE(controller_->selectInputAtIndex(1, 1, true));
  EXPECT_FALSE(controller_->selectInputAtIndex(5, 0, true));
  EXPECT_FALSE(controller_->selectInputAtIndex(1, 2, true));
  controller_->cut();
  ASSERT_TRUE(peer_->waitForOutput("post /v1/shortcut <shortcut name=\"main_take\"/>\n", false,
                                   testing_support::kRealTimeLimit));
  EXPECT_EQ(outputCount("post /v1/shortcut <shortcut name=\"main_a_row_named_input\" value=\"ddr1\" />\n"), 1u);
  EXPECT_EQ(outputCount("post /v1/shortcut <shortcut name=\"main_b_row_named_input\" value=\"Input1\" />\n"), 1u);
  EXPECT_EQ(outputCount("post "), 3u);
  // A switcher that refuses the shortcut fails the blocking form.
  writeFile("http-down", "");
  EXPECT_FALSE(controller_->selectInputAtIndex(2, 0, true));
}

TEST_F(TriCasterControllerPeerTest, AnEndlessStateMessageIsDroppedAndTheFeedReconnects) {
  ASSERT_TRUE(controller_);
  connectAndWait();
  feed("endless");
  ASSERT_TRUE(runMainLoopUntil([&] { return !controller_->isConnected().get(); }, "the dropped feed"));
  EXPECT_TRUE(reconnectAfter(TriCasterController::kReconnectDelay));
  // The peer sends on its newest connection, once it has taken it up.
  ASSERT_TRUE(testing_support::waitForCondition([&] { return outputCount("register b") == 2; }, "register line"));
  // The new connection carries states as before.
  send({stateMessage(state("main_a_row_named_input", "ddr1") + state("main_b_row", "1"))});
  EXPECT_TRUE(runMainLoopUntil([&] { return controller_->programInputIndex() == 3; }, "program"));
  EXPECT_EQ(delegate_.starts, 1);
}

}  // namespace
}  // namespace control
