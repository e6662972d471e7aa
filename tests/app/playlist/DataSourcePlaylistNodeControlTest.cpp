// The playlist window unlocking a stand-in node on 127.0.0.1 through the data
// source: the node's own answer ("ERROR", "OK") decides, whenever it comes.

#include <chrono>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/playlist/DataSourcePlaylistNodeControl.h"
#include "app/playlist/PlaylistWindowController.h"
#include "app/playlist/PlaylistWindowObservers.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/link/DataSource.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/app/playlist/RecordingPlaylistView.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/IsolatedOperatorTest.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kNodeUniqueID = "stand-in-uid";

class DataSourcePlaylistNodeControlTest : public testing_support::IsolatedOperatorTest {
 protected:
  void SetUp() override {
    const auto program = testing_support::standInNodeProgram();
    if (!program) GTEST_SKIP() << "the stand-in node program is not built (target node-standin)";
    std::filesystem::create_directories(folder_ / "media");
    std::string error;
    auto node = testing_support::startStandInNode(*program, folder_ / "media", "Stand-in", kNodeUniqueID, 0,
                                                  {"--password", "secret"}, {}, &error);
    ASSERT_TRUE(node) << error;
    node_ = std::move(*node);
  }

  // Moves the clock in polling ticks, running the main loop briefly at each.
  bool advanceUntil(const std::function<bool()>& done, int maxSteps = 250) {
    return testing_support::advanceClockUntil(clock_, nodes::NodeConnection::kPollingTick, done, maxSteps);
  }

  testing_support::StandInNode node_;
};

TEST_F(DataSourcePlaylistNodeControlTest, UnlockOutcomeComesFromTheNodesAnswer) {
  auto dataSource = nodes::DataSource::create();
  nodes::StaticNodeInfo info;
  info.setIpAdress("127.0.0.1");
  info.setPortNumber(std::to_string(node_.port));
  dataSource->createStaticNodeInPreferenceWithStaticNodeInfo(info);
  dataSource->startTimerConnection();
  clock_.advance(nodes::DataSource::kReconnectInterval);
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return dataSource->nodeConnectionWithNodeUniqueID(kNodeUniqueID) != nullptr; }, "the node to connect"));
  ASSERT_TRUE(advanceUntil([&] {
    return dataSource->nodeControlStatus(kNodeUniqueID).value_or(platform::Dictionary{}).contains("status");
  }));

  app::DataSourcePlaylistNodeControl control{std::weak_ptr<nodes::DataSource>(dataSource)};
  auto document = app_testing::makeDocument(2, false);
  document->setNodeAUniqueID(kNodeUniqueID);
  app::PlaylistWindowController window(document, control, defaults_);
  app::PlaylistWindowObservers observers(window);
  app_testing::RecordingPlaylistView view;
  window.setView(&view);
  window.windowDidLoad();
  ASSERT_FALSE(view.last.transportEnabled);

  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);  // "Cancel"
  const auto sent = clock_.now();
  window.nodePasswordsOKButtonPushed({"wrong", false, std::nullopt, false});
  ASSERT_TRUE(advanceUntil([&] { return !alerts_->alerts().empty(); }));
  EXPECT_EQ(alerts_->alerts().front().title, "Nodes A Unlock Error !");
  EXPECT_LT(clock_.now() - sent, app::kNodeAnswerTimeLimit) << "decided by the answer, not the time limit";

  window.nodePasswordsOKButtonPushed({"secret", false, std::nullopt, false});
  ASSERT_TRUE(advanceUntil([&] { return view.last.transportEnabled; }));
  EXPECT_TRUE(dataSource->isNodeUnlocked(kNodeUniqueID));
  EXPECT_EQ(alerts_->alerts().size(), 1u);
}

}  // namespace
