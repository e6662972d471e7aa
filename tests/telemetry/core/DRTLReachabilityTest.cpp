#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "TelemetryTestSupport.h"
#include "platform/NotificationCenter.h"
#include "tests/support/RunLoopWait.h"
#include "telemetry/core/DRTL_Reachability.h"

namespace telemetry::core {
namespace {

TEST(DRTLReachabilityTest, StatusFromFlags) {
  const std::pair<std::uint32_t, int> cases[] = {
      {0, 0},
      {DRTLReachabilityFlagReachable, 1},
      {DRTLReachabilityFlagReachable | DRTLReachabilityFlagConnectionRequired, 0},
      {DRTLReachabilityFlagReachable | DRTLReachabilityFlagConnectionRequired | DRTLReachabilityFlagConnectionOnDemand, 1},
      {DRTLReachabilityFlagReachable | DRTLReachabilityFlagConnectionRequired | DRTLReachabilityFlagConnectionOnDemand |
           DRTLReachabilityFlagInterventionRequired,
       0},
      {DRTLReachabilityFlagReachable | DRTLReachabilityFlagConnectionOnTraffic, 1},
      {DRTLReachabilityFlagConnectionOnDemand, 0},
  };
  for (const auto& [flags, status] : cases) {
    EXPECT_EQ(DRTL_Reachability::networkStatusForFlags(flags), status) << flags;
  }
}

constexpr const char* kInsideNamespace = "DRTL_REACHABILITY_IN_NETNS";

// Runs the test below again in a fresh network namespace, where it may change
// the routing table. Needs root (as in CI); skipped elsewhere.
TEST(DRTLReachabilityTest, FollowsTheDefaultRouteInAPrivateNetworkNamespace) {
  if (std::getenv(kInsideNamespace)) GTEST_SKIP() << "the outer half runs outside the namespace";
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string output = testing_support::runCommand(
      std::string(kInsideNamespace) + "=1 unshare --net -- " + testing_support::quoted(self) +
      " --gtest_filter=DRTLReachabilityNamespaceTest.* 2>&1; echo exit=$?");
  if (output.find("unshare failed") != std::string::npos) GTEST_SKIP() << "network namespaces are not available";
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
  EXPECT_NE(output.find("exit=0"), std::string::npos) << output;
}

TEST(DRTLReachabilityNamespaceTest, DefaultRouteOnLoopbackGivesOneThenZero) {
  if (!std::getenv(kInsideNamespace)) GTEST_SKIP() << "runs only inside its own network namespace";
  ASSERT_EQ(std::system("ip link set lo up"), 0);
  std::mutex mutex;
  std::vector<int> statuses;
  auto reachability = DRTL_Reachability::reachabilityForInternetConnection();
  platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
      kDRNetworkReachabilityChangedNotification, reachability.get(), [&](const platform::Notification&) {
        std::lock_guard lock(mutex);
        statuses.push_back(reachability->currentReachabilityStatus());
      });
  auto seen = [&](std::size_t count) {
    return [&, count] {
      std::lock_guard lock(mutex);
      return statuses.size() >= count;
    };
  };
  reachability->startNotifier();
  ASSERT_TRUE(::testing_support::runMainLoopUntil(seen(1), "the first notification"));
  ASSERT_EQ(std::system("ip route add default dev lo"), 0);
  ASSERT_TRUE(::testing_support::runMainLoopUntil(seen(2), "the notification of the added route"));
  ASSERT_EQ(std::system("ip route del default dev lo"), 0);
  ASSERT_TRUE(::testing_support::runMainLoopUntil(seen(3), "the notification of the removed route"));
  reachability->stopNotifier();
  ::testing_support::runMainLoopUntil([] { return true; });
  std::lock_guard lock(mutex);
  EXPECT_EQ(statuses, (std::vector<int>{0, 1, 0}));
}

TEST(DRTLReachabilityTest, NothingReachesADestroyedObject) {
  int notifications = 0;
  platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
      kDRNetworkReachabilityChangedNotification, nullptr, [&](const platform::Notification&) { ++notifications; });
  {
    auto reachability = DRTL_Reachability::reachabilityForInternetConnection();
    reachability->startNotifier();
  }
  ::testing_support::runMainLoopUntil([] { return true; });
  EXPECT_EQ(notifications, 0);
}

}  // namespace
}  // namespace telemetry::core
