#include "app/playlist/PlaylistNodeSelection.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/link/NodePasswordKeychain.h"
#include "platform/Files.h"
#include "platform/Clock.h"
#include "platform/Keychain.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using app::NodeMenuSource;
using app::NodeUnlockOutcome;

class PlaylistNodeSelectionTest : public ::testing::Test {
 protected:
  PlaylistNodeSelectionTest() {
    document_->setNeedDefaultValues(false);
    nodes_.connections = {"A", "B", "C"};
  }
  std::vector<NodeMenuSource> nodeList() const {
    return {{"A", "Alpha", "10.0.0.1", 7000, true}, {"B", "", "10.0.0.2", 7001, true},
            {"C", "Gamma", "10.0.0.3", 7002, false}};
  }
  std::vector<std::string> titles(const std::vector<app::NodeMenuItem>& menu) const {
    std::vector<std::string> result;
    for (const auto& item : menu) result.push_back(item.separator ? "-" : item.title);
    return result;
  }
  void reply(const std::string& text) {
    nodes_.answer(text);
    platform::RunLoop::main().drainReadyTasks();
  }
  std::optional<std::string> stored(const std::string& node) {
    return nodes::KeychainPasswordForService(nodes::nodePasswordServiceName(node), keychain_);
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory directory_;
  platform::Keychain keychain_{directory_ / "keychain"};
  platform::UserDefaults defaults_{std::filesystem::path()};
  app_testing::FakePlaylistNodeControl nodes_;
  std::shared_ptr<nodes::VideoPlaylistDocument> document_ = std::make_shared<nodes::VideoPlaylistDocument>();
  app::PlaylistNodeSelection selection_{document_, nodes_, keychain_, defaults_};
};

TEST_F(PlaylistNodeSelectionTest, NoNodeKnownLeavesOnlyNoneAndNothingSelectedInA) {
  const auto& menus = selection_.populate({});
  EXPECT_EQ(titles(menus.a), std::vector<std::string>{"<none>"});
  EXPECT_EQ(titles(menus.b), std::vector<std::string>{"<none>"});
  EXPECT_FALSE(menus.selectedA.has_value());
  EXPECT_EQ(menus.selectedB, 0u);
  EXPECT_FALSE(document_->nodeAUniqueID().has_value());
}

TEST_F(PlaylistNodeSelectionTest, MenusListNodesWithAddressForUnnamedAndKeepDocumentChoices) {
  document_->setNodeAUniqueID("C");
  nodes_.unlocked = {"A"};
  nodes_.inSlaveMode = {"C"};
  const auto& menus = selection_.populate(nodeList());
  EXPECT_EQ(titles(menus.a), (std::vector<std::string>{"<none>", "-", "Alpha", "10.0.0.2:7001", "Gamma"}));
  EXPECT_EQ(menus.selectedA, 4u);
  EXPECT_EQ(document_->nodeAName(), "Gamma");
  EXPECT_EQ(menus.selectedB, 0u);
  // Node link down: disabled; images follow lock and redundant mode (A only).
  EXPECT_FALSE(menus.a[4].enabled);
  EXPECT_TRUE(menus.a[2].enabled);
  EXPECT_FALSE(menus.a[0].enabled);
  EXPECT_TRUE(menus.b[0].enabled);
  EXPECT_EQ(menus.a[2].image, "blank");
  EXPECT_EQ(menus.a[3].image, "NSLockLockedTemplate");
  EXPECT_EQ(menus.a[4].image, "SlaveTemplate");
  EXPECT_EQ(menus.b[4].image, "NSLockLockedTemplate");
}

TEST_F(PlaylistNodeSelectionTest, NewDocumentFallsOnLastNodeAndChoosesIt) {
  document_->setNeedDefaultValues(true);
  const auto& menus = selection_.populate(nodeList());
  EXPECT_EQ(menus.selectedA, 4u);
  EXPECT_EQ(document_->nodeAUniqueID(), "C");
}

// A node still connecting has no ID yet; a new document must not keep an
// empty ID that no later node list can match.
TEST_F(PlaylistNodeSelectionTest, NodeWithoutItsUniqueIDYetIsNotListed) {
  document_->setNeedDefaultValues(true);
  const auto& early = selection_.populate({{"", "Sample", "127.0.0.1", 7000, false}});
  EXPECT_EQ(early.a.size(), 1u);
  EXPECT_EQ(document_->nodeAUniqueID(), std::nullopt);
  const auto& later = selection_.populate({{"S", "Sample", "127.0.0.1", 7000, true}});
  EXPECT_EQ(later.selectedA, 2u);
  EXPECT_EQ(document_->nodeAUniqueID(), "S");
}

TEST_F(PlaylistNodeSelectionTest, ABRollChoicesDisableEachOtherAndRefuseTheSameNode) {
  document_->setNodeAUniqueID("A");
  selection_.populate(nodeList());
  ASSERT_TRUE(selection_.chooseNodeB(3).ok());
  EXPECT_TRUE(document_->abRoll());
  EXPECT_EQ(document_->nodeBUniqueID(), "B");
  EXPECT_EQ(document_->nodeBName(), "10.0.0.2:7001");
  EXPECT_FALSE(selection_.menus().a[3].enabled);
  EXPECT_FALSE(selection_.menus().b[2].enabled);

  EXPECT_FALSE(selection_.chooseNodeB(2).ok());
  EXPECT_FALSE(selection_.chooseNodeA(3).ok());
  EXPECT_EQ(document_->nodeAUniqueID(), "A");
  EXPECT_EQ(document_->nodeBUniqueID(), "B");

  ASSERT_TRUE(selection_.chooseNodeB(0).ok());
  EXPECT_FALSE(document_->abRoll());
  EXPECT_FALSE(document_->nodeBUniqueID().has_value());
  EXPECT_TRUE(selection_.menus().a[3].enabled);
}

TEST_F(PlaylistNodeSelectionTest, StoredPasswordUnlocksAndMissingOneSendsNothing) {
  document_->setNodeAUniqueID("A");
  nodes_.unlocked.clear();
  selection_.populate(nodeList());
  EXPECT_FALSE(selection_.unlockWithStoredPasswords(nullptr));
  EXPECT_TRUE(nodes_.takeCommands().empty());

  ASSERT_EQ(nodes::StoreKeychainPasswordForService("pw", nodes::nodePasswordServiceName("A"), keychain_), 0);
  std::optional<NodeUnlockOutcome> outcome;
  ASSERT_TRUE(selection_.unlockWithStoredPasswords([&](NodeUnlockOutcome o) { outcome = o; }));
  EXPECT_EQ(nodes_.takeCommands(), std::vector<std::string>{"unlock A pw"});
  EXPECT_FALSE(outcome.has_value());  // judged on the node's answer, not before
  reply("OK");
  EXPECT_EQ(outcome, NodeUnlockOutcome::Unlocked);
}

TEST_F(PlaylistNodeSelectionTest, TwoNodeUnlockRemembersOnlyAcceptedPasswordsEachUnderItsNode) {
  document_->setNodeAUniqueID("A");
  nodes_.unlocked.clear();
  selection_.populate(nodeList());
  ASSERT_TRUE(selection_.chooseNodeB(3).ok());
  std::optional<NodeUnlockOutcome> outcome;
  ASSERT_TRUE(selection_.unlock({"pa", true, "pb", true}, [&](NodeUnlockOutcome o) { outcome = o; }));
  EXPECT_EQ(nodes_.takeCommands(), (std::vector<std::string>{"unlock A pa", "unlock B pb"}));
  reply("OK");
  EXPECT_FALSE(outcome.has_value());
  reply("ERROR");
  EXPECT_EQ(outcome, NodeUnlockOutcome::NodeBFailed);
  EXPECT_EQ(stored("A"), "pa");
  EXPECT_FALSE(stored("B").has_value());
}

TEST_F(PlaylistNodeSelectionTest, SilentNodeCountsAsFailedAtTheTimeLimit) {
  document_->setNodeAUniqueID("A");
  nodes_.unlocked.clear();
  selection_.populate(nodeList());
  std::optional<NodeUnlockOutcome> outcome;
  ASSERT_TRUE(selection_.unlock({"pa", true, std::nullopt, false}, [&](NodeUnlockOutcome o) { outcome = o; }));
  clock_.advance(app::kNodeAnswerTimeLimit);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_EQ(outcome, NodeUnlockOutcome::NodeAFailed);
  EXPECT_FALSE(stored("A").has_value());
}

// A damaged password file once refused every save and the error was
// dropped, so the operator was asked at every unlock with no reason.
TEST_F(PlaylistNodeSelectionTest, DamagedPasswordFileIsReplacedAndTheOperatorToldOnce) {
  auto alerts = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter presenter(alerts);
  ASSERT_TRUE(platform::writeFileAtomically(keychain_.storePath(), "damaged\x01", true));
  document_->setNodeAUniqueID("A");
  nodes_.unlocked.clear();
  selection_.populate(nodeList());
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_TRUE(selection_.unlock({"pa", true, std::nullopt, false}, nullptr));
    reply("OK");
  }
  EXPECT_EQ(stored("A"), "pa");
  ASSERT_EQ(alerts->alerts().size(), 1u);
  EXPECT_EQ(alerts->alerts()[0].title, app::kKeychainErrorTitle);
  EXPECT_NE(alerts->alerts()[0].message.find(".corrupt-"), std::string::npos) << alerts->alerts()[0].message;
}

TEST_F(PlaylistNodeSelectionTest, PasswordThatCannotBeSavedIsToldToTheOperator) {
  auto alerts = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter presenter(alerts);
  std::filesystem::create_directories(keychain_.storePath());  // a folder where the file should be
  document_->setNodeAUniqueID("A");
  nodes_.unlocked.clear();
  selection_.populate(nodeList());
  ASSERT_TRUE(selection_.unlock({"pa", true, std::nullopt, false}, nullptr));
  reply("OK");
  ASSERT_EQ(alerts->alerts().size(), 1u);
  EXPECT_NE(alerts->alerts()[0].message.find("could not be saved"), std::string::npos) << alerts->alerts()[0].message;
}

}  // namespace
