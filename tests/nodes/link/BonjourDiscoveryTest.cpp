// Service discovery against a real mDNS daemon: the suite starts its own
// message bus and its own avahi-daemon, allowed on the loopback interface only
// (tests/support/DiscoveryDaemons.h). Skips, saying why, where the machine
// cannot host them.

#include <arpa/inet.h>
#include <dns_sd.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/link/DNSSDServiceBrowser.h"
#include "nodes/link/DataSource.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DiscoveryDaemons.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ChildProcess;

using testing_support::DiscoveryDaemons;
using testing_support::kDaemonStartLimit;

class RecordingBrowserDelegate : public ServiceBrowserDelegate {
 public:
  void serviceBrowserDidFindService(const DiscoveredService& service, bool) override { found.push_back(service); }
  void serviceBrowserDidNotSearch(const platform::Error& error) override { searchErrors.push_back(error); }
  void serviceDidResolveAddress(const ResolvedService& service) override { resolved.push_back(service); }
  void serviceDidNotResolve(const DiscoveredService& service, const platform::Error& error) override {
    notResolved.emplace_back(service, error);
  }

  const DiscoveredService* foundNamed(const std::string& name) const {
    for (const auto& service : found)
      if (service.name == name) return &service;
    return nullptr;
  }

  std::vector<DiscoveredService> found;
  std::vector<platform::Error> searchErrors;
  std::vector<ResolvedService> resolved;
  std::vector<std::pair<DiscoveredService, platform::Error>> notResolved;
};

// A service announced from this process through the daemon.
class RegisteredService {
 public:
  RegisteredService(const std::string& name, std::uint16_t port) {
    error_ = DNSServiceRegister(&ref_, 0, kDNSServiceInterfaceIndexAny, name.c_str(), kNodeServiceType, nullptr,
                                nullptr, htons(port), 0, nullptr, &RegisteredService::registered, this);
    if (error_ != kDNSServiceErr_NoError) ref_ = nullptr;
  }
  ~RegisteredService() {
    if (ref_) DNSServiceRefDeallocate(ref_);
  }

  // Handles the daemon's answer (bounded): true once the name is announced.
  bool waitUntilRegistered() {
    const auto giveUp = std::chrono::steady_clock::now() + kDaemonStartLimit;
    while (ref_ && !registered_ && error_ == kDNSServiceErr_NoError && std::chrono::steady_clock::now() < giveUp) {
      pollfd polled{DNSServiceRefSockFD(ref_), POLLIN, 0};
      if (::poll(&polled, 1, 250) > 0 && DNSServiceProcessResult(ref_) != kDNSServiceErr_NoError) break;
    }
    return registered_;
  }
  DNSServiceErrorType error() const { return error_; }

 private:
  static void DNSSD_API registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char*,
                                   const char*, const char*, void* context) {
    auto* self = static_cast<RegisteredService*>(context);
    self->error_ = error;
    self->registered_ = error == kDNSServiceErr_NoError;
  }

  DNSServiceRef ref_ = nullptr;
  DNSServiceErrorType error_ = kDNSServiceErr_NoError;
  bool registered_ = false;
};

class BonjourDiscoveryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { daemons_ = DiscoveryDaemons::start(&skipReason_); }
  static void TearDownTestSuite() { daemons_.reset(); }

  void SetUp() override {
    if (!daemons_) GTEST_SKIP() << skipReason_;
    platform::RunLoop::main().attachCurrentThread();
  }

  static std::string uniqueName(const std::string& what) { return what + " " + std::to_string(::getpid()); }

  static inline std::unique_ptr<DiscoveryDaemons> daemons_;
  static inline std::string skipReason_;

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
};

TEST_F(BonjourDiscoveryTest, BrowserFindsAndResolvesAServiceOnLoopback) {
  const std::string name = uniqueName("Discovery Check");
  RegisteredService service(name, 40123);
  ASSERT_EQ(service.error(), kDNSServiceErr_NoError);
  ASSERT_TRUE(service.waitUntilRegistered());

  RecordingBrowserDelegate delegate;
  DNSSDServiceBrowser browser;
  browser.setDelegate(&delegate);
  browser.searchForServicesOfType(kNodeServiceType, "");
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return delegate.foundNamed(name) != nullptr; },
                                                "the registered service to be found"));
  const DiscoveredService found = *delegate.foundNamed(name);
  EXPECT_EQ(found.type, kNodeServiceType);
  EXPECT_EQ(found.domain, "local.");

  browser.resolveService(found, DataSource::kServiceResolveTimeLimit);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return !delegate.resolved.empty(); }, "the resolution"));
  const ResolvedService& resolved = delegate.resolved.front();
  EXPECT_EQ(resolved.service, found);
  EXPECT_EQ(resolved.port, 40123);
  ASSERT_FALSE(resolved.addresses.empty());
  for (const ServiceAddress& address : resolved.addresses) EXPECT_EQ(address.ipv4DottedText(), "127.0.0.1");
  EXPECT_TRUE(delegate.searchErrors.empty());
}

TEST_F(BonjourDiscoveryTest, ResolutionOfAMissingServiceEndsAtItsTimeLimit) {
  RecordingBrowserDelegate delegate;
  DNSSDServiceBrowser browser;
  browser.setDelegate(&delegate);
  const DiscoveredService missing{uniqueName("Nobody Here"), kNodeServiceType, "local.", 0};
  browser.resolveService(missing, DataSource::kServiceResolveTimeLimit);

  clock_.advance(DataSource::kServiceResolveTimeLimit);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return !delegate.notResolved.empty(); },
                                                "the resolution to time out"));
  EXPECT_EQ(delegate.notResolved.front().first, missing);
  EXPECT_TRUE(delegate.notResolved.front().second.is(kServiceBrowserErrorDomain, ServiceBrowserErrorCode::ResolveTimedOut));
  EXPECT_TRUE(delegate.resolved.empty());
}

TEST_F(BonjourDiscoveryTest, DataSourceFindsResolvesAndConnectsAnAnnouncedNode) {
  const auto program = testing_support::standInNodeProgram();
  if (!program) GTEST_SKIP() << "the stand-in node program is not built (target node-standin)";
  testing_support::TemporaryDirectory folder;
  fs::create_directories(folder / "media");
  platform::UserDefaults defaults(folder / "defaults.plist");
  platform::ScopedStandardUserDefaultsOverride defaultsOverride(defaults);

  const std::string name = uniqueName("Announced Node");
  std::string error;
  const std::string uniqueID = "announced-node-" + std::to_string(::getpid());
  auto node = testing_support::startStandInNode(*program, folder / "media", name, uniqueID, 0, {"--bonjour"},
                                                daemons_->environment(), &error);
  ASSERT_TRUE(node) << error;
  ASSERT_TRUE(node->process->waitForOutput("announced", true, kDaemonStartLimit)) << node->process->standardError();

  auto dataSource = DataSource::create(makeDNSSDServiceBrowser());
  dataSource->startBrowsingForNodes();
  NodeConnectionPtr connection;
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] {
        const std::int64_t index = dataSource->indexOfNodeWithNodeUniqueID(uniqueID);
        if (index < 0) return false;
        connection = dataSource->nodes()[static_cast<std::size_t>(index)];
        return connection->isConnected() && connection->name() == name;
      },
      "the announced node to be connected"));
  EXPECT_TRUE(connection->discoveredByNetServices());
  EXPECT_EQ(connection->address(), "127.0.0.1");
  EXPECT_EQ(connection->portNumber(), std::to_string(node->port));
  ASSERT_TRUE(connection->netService());
  EXPECT_EQ(connection->netService()->name, name);
  // Services of earlier tests may still be announced; this one is found once.
  EXPECT_EQ(std::count_if(dataSource->nodes().begin(), dataSource->nodes().end(),
                          [&](const NodeConnectionPtr& n) { return n->netService() && n->netService()->name == name; }),
            1);
}

}  // namespace
}  // namespace nodes
