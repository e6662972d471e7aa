// A production switcher putting the playout input on air starts the front
// playlist on its node: the fake switcher driver, the application delegate
// with its own ATEM controller and data source, real playlist window
// controllers, and the stand-in node on 127.0.0.1. What the node plays is
// asked of the node itself, over a link of the test's own.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/playlist/DataSourcePlaylistNodeControl.h"
#include "app/playlist/PlaylistWindowController.h"
#include "app/playlist/PlaylistWindowObservers.h"
#include "app/shell/ApplicationDelegate.h"
#include "app/shell/RegisteredDefaults.h"
#include "control/switchers/ATEMSwitcherDriver.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/link/DataSource.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/playlist/RecordingPlaylistView.h"
#include "tests/app/shell/HeadlessApplication.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/control/switchers/FakeSwitcherDriverLink.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/IsolatedOperatorTest.h"
#include "tests/support/NodeLineClient.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

using platform::Value;
using testing_support::fakeSwitcher;

constexpr const char* kNodeUniqueID = "switcher-loopback-node";
// The switcher's inputs in list order; the clip player is the second.
constexpr std::int64_t kCameraInput = 1;
constexpr std::int64_t kClipPlayerInput = 2;
constexpr const char* kClipPlayerListIndex = "1";
// Long enough that the node, on its own clock, never reaches the end.
constexpr double kClipSeconds = 3600.0;
// Polling ticks after which a trigger that was acted on has the node playing.
constexpr int kQuietTicks = 50;

// A playlist window as the application makes it, with a recording view in
// place of the Qt one.
class HeadlessPlaylistWindow final : public DocumentWindowController {
 public:
  HeadlessPlaylistWindow(const std::shared_ptr<nodes::VideoPlaylistDocument>& document, PlaylistNodeControl& nodes)
      : controller_(document, nodes), observers_(controller_) {
    controller_.setView(&view_);
    controller_.windowDidLoad();
  }
  ~HeadlessPlaylistWindow() override { controller_.setView(nullptr); }

  void showWindow() override {}
  void updatePlaybackStatusAfterAwakeFromNib() override { controller_.updatePlaybackStatusAfterAwakeFromNib(); }
  void cueButtonPushed() override { controller_.cueButtonPushed(); }
  void playButtonPushed() override { controller_.playButtonPushed(); }
  void pauseButtonPushed() override { controller_.pauseButtonPushed(); }
  void stopButtonPushed() override { controller_.stopButtonPushed(); }
  void skipToPreviousButtonPushed() override { controller_.skipToPreviousButtonPushed(); }
  void skipToNextButtonPushed() override { controller_.skipToNextButtonPushed(); }
  void externalMixerTriggeredPlaybackStart() override { controller_.externalMixerTriggeredPlaybackStart(); }
  void externalMixerTriggeredPlaybackStop() override { controller_.externalMixerTriggeredPlaybackStop(); }

 private:
  app_testing::RecordingPlaylistView view_;  // outlives the controller's tie to it
  PlaylistWindowController controller_;
  PlaylistWindowObservers observers_;
};

class SwitcherPlaybackLoopbackTest : public testing_support::IsolatedOperatorTest {
 protected:
  void SetUp() override {
    platform::RunLoop::main().attachCurrentThread();
    const auto program = testing_support::standInNodeProgram();
    if (!program) GTEST_SKIP() << "the stand-in node program is not built (target node-standin)";
    std::filesystem::create_directories(folder_ / "media");
    std::string error;
    // Playlists here name media the node lacks: its clock plays them, an engine would pass them at once.
    auto node = testing_support::startStandInNode(*program, folder_ / "media", "Switcher Node", kNodeUniqueID, 0,
                                                  {"--no-engine"}, {}, &error);
    ASSERT_TRUE(node) << error;
    node_ = std::move(*node);
    nodeStatus_ = std::make_unique<testing_support::NodeLineClient>(static_cast<std::uint16_t>(node_.port));
    ASSERT_TRUE(nodeStatus_->connected());

    ApplicationDelegate::initialize(defaults_);

    fakeSwitcher().reset();
    fakeSwitcher().addInput(kCameraInput, "Camera 1", atem::kPortTypeExternal);
    fakeSwitcher().addInput(kClipPlayerInput, "Clip Player", atem::kPortTypeExternal);
    defaults_.setObject(Value(std::string(VZ_FAKE_SWITCHER_DRIVER)), control::kATEMSwitcherSDKPathKey);
    defaults_.setObject(Value("127.0.0.1"), kExternalMixerIPAddressKey);
    defaults_.setObject(Value(kClipPlayerListIndex), kExternalMixerVideoSourceIdentifierKey);
    // The node as the operator saved it, and the node new playlists play on.
    defaults_.setObject(Value(platform::Array{Value(platform::Dictionary{
                            {nodes::kSavedNodeIPAdressKey, Value("127.0.0.1")},
                            {nodes::kSavedNodePortNumberKey, Value(std::to_string(node_.port))}})}),
                        nodes::kDiscoveredNodesKey);
    defaults_.setObject(Value(kNodeUniqueID), nodes::kDefaultNodeAUniqueIDKey);
  }

  void TearDown() override {
    delegate_.reset();
    // Unregistrations may still be on their way from the driver's thread.
    fakeSwitcher().waitForEvents();
    for (int i = 0; i < 5; ++i) platform::RunLoop::main().drainReadyTasks();
  }

  // Start-up as the application runs it, up to the node answering its polls.
  ApplicationDelegate& launch() {
    ApplicationDelegate::Environment environment;
    environment.defaults = &defaults_;
    environment.notificationCenter = &platform::NotificationCenter::defaultCenter();
    environment.documentsFolder = folder_ / "Documents";
    environment.dataSourceFactory = [](const std::filesystem::path&, ApplicationDelegate&) {
      return nodes::DataSource::create();
    };
    environment.trelvaneController = &trelvane_;
    delegate_ = std::make_unique<ApplicationDelegate>(application_, std::move(environment));
    delegate_->awakeFromNib();
    nodeControl_ = std::make_unique<DataSourcePlaylistNodeControl>(
        [delegate = delegate_.get()] { return delegate->dataSource(); });
    delegate_->setPlaylistWindowFactory([this](const std::shared_ptr<nodes::VideoPlaylistDocument>& document) {
      return std::make_shared<HeadlessPlaylistWindow>(document, *nodeControl_);
    });
    delegate_->applicationDidFinishLaunching();
    clock_.advance(nodes::DataSource::kReconnectInterval);
    EXPECT_TRUE(advanceUntil([&] {
      return delegate_->dataSource()->nodeControlStatus(kNodeUniqueID).value_or(platform::Dictionary{}).contains(
          nodes::kNodeStatusStatusKey);
    })) << "the saved node answers";
    return *delegate_;
  }

  // A new playlist on the default node with two clips, in front.
  std::shared_ptr<nodes::VideoPlaylistDocument> newPlaylist(const std::string& name) {
    delegate_->newDocument();
    auto document = delegate_->currentPlaylistDocument();
    for (int row = 0; row < 2; ++row) {
      auto item = std::make_shared<nodes::PlaylistItem>();
      item->update([&](nodes::PlaylistItemFields& fields) {
        fields.playbackUniqueID = name + "-row" + std::to_string(row);
        fields.displayName = name + " " + std::to_string(row);
        fields.mediaItemDurationInSeconds = kClipSeconds;
        fields.outPointInSeconds = kClipSeconds;
        fields.framesPerSecond = 25.0;
        fields.online = true;
        fields.nodeUniqueID = kNodeUniqueID;
      });
      document->insertClip(std::move(item), static_cast<std::size_t>(row));
    }
    return document;
  }

  void connectSwitcher() {
    ASSERT_TRUE(testing_support::runMainLoopUntil(
        [&] { return delegate_->atemDeviceController().isConnected().get(); }, "the switcher to connect"));
  }

  void setProgramTally(std::int64_t input, bool onProgram) {
    fakeSwitcher().setProgramTally(input, onProgram);
    fakeSwitcher().waitForEvents();
    for (int i = 0; i < 5; ++i) platform::RunLoop::main().drainReadyTasks();
  }

  // The node's own status, asked over the test's link.
  platform::Value nodeStatus() { return nodeStatus_->query("pbstatus").value_or(Value()); }

  // Polls run until the application sees `status`; then the node itself must say so.
  bool nodeReaches(const char* status, int maxTicks = 250) {
    const bool seen = advanceUntil(
        [&] {
          const auto reported = delegate_->dataSource()->nodeControlStatus(kNodeUniqueID);
          return reported && Value(*reported)[nodes::kNodeStatusStatusKey] == Value(status);
        },
        maxTicks);
    return seen && nodeStatus()[nodes::kNodeStatusStatusKey] == Value(status);
  }

  // Moves the clock in polling ticks, running the main loop at each.
  bool advanceUntil(const std::function<bool()>& done, int maxSteps = 250) {
    return testing_support::advanceClockUntil(clock_, nodes::NodeConnection::kPollingTick, done, maxSteps);
  }

  testing_support::CapturedTechnicalLog log_{defaults_};
  testing_support::StandInNode node_;
  std::unique_ptr<testing_support::NodeLineClient> nodeStatus_;
  app_testing::HeadlessApplication application_;
  control::CVNTrelvaneController trelvane_{std::make_unique<app_testing::NoBoxes>()};
  std::unique_ptr<DataSourcePlaylistNodeControl> nodeControl_;  // outlives the delegate's windows
  std::unique_ptr<ApplicationDelegate> delegate_;
};

TEST_F(SwitcherPlaybackLoopbackTest, ProgramTallyOnTheClipPlayerStartsTheFrontPlaylistAndTallyOffStopsIt) {
  defaults_.setObject(Value(true), kUseExternalMixerToTriggerPlaybackKey);
  defaults_.setObject(Value(kExternalMixerBrandATEM), kExternalMixerBrandKey);
  launch();
  newPlaylist("back");
  const auto front = newPlaylist("front");
  connectSwitcher();

  // Another input on air is no trigger.
  setProgramTally(kCameraInput, true);
  EXPECT_FALSE(nodeReaches("PLAYING", kQuietTicks));

  setProgramTally(kClipPlayerInput, true);
  EXPECT_EQ(log_.linesWith("ATEM Control - START Playback"), 1u);
  ASSERT_TRUE(nodeReaches("PLAYING"));
  const Value playing = nodeStatus();
  EXPECT_EQ(playing[nodes::kNodeStatusPlaylistUniqueIDKey].stringOr(""), front->uniqueID()) << "the front playlist, not the one behind";
  EXPECT_EQ(playing[nodes::kNodeStatusClipPlaybackUniqueIDKey].stringOr(""), "front-row0");

  setProgramTally(kClipPlayerInput, false);
  EXPECT_EQ(log_.linesWith("ATEM Control - STOP Playback"), 1u);
  EXPECT_TRUE(nodeReaches("STOPPED"));
}

TEST_F(SwitcherPlaybackLoopbackTest, WithTriggeringOffTheTallyIsOnlyLogged) {
  launch();
  newPlaylist("only");
  // A new brand connects its switcher whether or not triggering is on.
  defaults_.setObject(Value(kExternalMixerBrandATEM), kExternalMixerBrandKey);
  connectSwitcher();

  setProgramTally(kClipPlayerInput, true);
  EXPECT_EQ(log_.linesWith("ATEM Control - START Playback"), 1u);
  EXPECT_FALSE(nodeReaches("PLAYING", kQuietTicks));

  // Turning triggering on keeps the connection; the next tally plays.
  defaults_.setObject(Value(true), kUseExternalMixerToTriggerPlaybackKey);
  setProgramTally(kClipPlayerInput, true);
  EXPECT_TRUE(nodeReaches("PLAYING"));
}

}  // namespace
}  // namespace app
