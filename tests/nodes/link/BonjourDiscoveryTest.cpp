// Service discovery against a real mDNS daemon: the suite starts its own
// message bus and its own avahi-daemon, allowed on the loopback interface only,
// and points the DNS-SD library of this process (and of the stand-in node) at
// that bus. Skips, saying why, where the machine cannot host them.

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
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ChildProcess;

constexpr auto kDaemonStartLimit = 15s;
const fs::path kAvahiRuntimeFolder = "/run/avahi-daemon";
const fs::path kLockFile = "/tmp/vz-service-discovery-test.lock";

std::optional<fs::path> findProgram(const std::string& name) {
  for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    const fs::path candidate = fs::path(folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// The private message bus and mDNS daemon. Started once per test process (the
// DNS-SD library keeps the first bus address it reads for the process's life,
// so the bus socket path is the same for every start in one process).
class DiscoveryDaemons {
 public:
  static std::unique_ptr<DiscoveryDaemons> start(std::string* skipReason) {
    auto daemons = std::unique_ptr<DiscoveryDaemons>(new DiscoveryDaemons());
    if (!daemons->launch(skipReason)) return nullptr;
    return daemons;
  }

  ~DiscoveryDaemons() {
    if (avahi_) avahi_->stop();  // SIGTERM: it removes its pid file and socket itself
    avahi_.reset();
    if (bus_) bus_->stop();
    bus_.reset();
    std::error_code ignored;
    if (ownsPidFile_) fs::remove(kAvahiRuntimeFolder / "pid", ignored);
    if (createdRuntimeFolder_) fs::remove(kAvahiRuntimeFolder, ignored);  // only when empty
    fs::remove_all(folder_, ignored);
    if (lockFd_ >= 0) ::close(lockFd_);  // releases the lock
  }

  const std::string& busAddress() const { return busAddress_; }
  ChildProcess::Environment environment() const {
    return {{"DBUS_SYSTEM_BUS_ADDRESS", busAddress_}, {"AVAHI_COMPAT_NOWARN", "1"}};
  }

 private:
  DiscoveryDaemons() = default;

  bool launch(std::string* skipReason) {
    if (::geteuid() != 0) {
      *skipReason = "avahi-daemon needs root here: it insists on " + kAvahiRuntimeFolder.string() + " for its pid file";
      return false;
    }
    const auto avahiProgram = findProgram("avahi-daemon");
    const auto busProgram = findProgram("dbus-daemon");
    if (!avahiProgram || !busProgram) {
      *skipReason = "avahi-daemon or dbus-daemon is not installed";
      return false;
    }
    if (!takeMachineLock(skipReason) || !checkNoOtherAvahi(skipReason)) return false;

    folder_ = fs::path("/tmp") / ("vz-discovery-" + std::to_string(::getpid()));
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    fs::create_directories(folder_);
    const fs::path socket = folder_ / "bus.socket";
    writeFile(folder_ / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>session</type>\n"
              "  <listen>unix:path=" + socket.string() + "</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n");
    writeFile(folder_ / "avahi-daemon.conf",
              "[server]\n"
              "allow-interfaces=lo\n"
              "use-ipv4=yes\n"
              "use-ipv6=no\n"
              "enable-dbus=yes\n"
              "disallow-other-stacks=no\n"
              "[wide-area]\n"
              "enable-wide-area=no\n"
              "[publish]\n"
              "[reflector]\n"
              "[rlimits]\n");

    std::string error;
    bus_ = ChildProcess::start({busProgram->string(), "--config-file=" + (folder_ / "bus.conf").string(), "--nofork",
                                "--print-address"},
                               {}, &error);
    if (!bus_ || !bus_->waitForOutput("unix:", false, kDaemonStartLimit)) {
      *skipReason = "the private message bus did not start: " + (bus_ ? bus_->standardError() : error);
      return false;
    }
    busAddress_ = "unix:path=" + socket.string();
    // Before any DNS-SD call of this process: the library reads it once.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress_.c_str(), 1);
    ::setenv("AVAHI_COMPAT_NOWARN", "1", 1);

    if (!fs::exists(kAvahiRuntimeFolder)) {
      fs::create_directories(kAvahiRuntimeFolder, ignored);
      createdRuntimeFolder_ = true;
    }
    avahi_ = ChildProcess::start({avahiProgram->string(), "--no-drop-root", "--no-chroot", "--no-rlimits",
                                  "--no-proc-title", "-f", (folder_ / "avahi-daemon.conf").string()},
                                 {{"DBUS_SYSTEM_BUS_ADDRESS", busAddress_}}, &error);
    if (!avahi_ || !avahi_->waitForOutput("Server startup complete", true, kDaemonStartLimit)) {
      *skipReason = "avahi-daemon did not start on the loopback interface: " +
                    (avahi_ ? avahi_->standardError() : error);
      return false;
    }
    ownsPidFile_ = true;
    // It must never have taken any interface but the loopback one.
    const std::string log = avahi_->standardError();
    for (std::size_t at = 0; (at = log.find("on interface ", at)) != std::string::npos; at += 13) {
      if (log.compare(at + 13, 3, "lo.") != 0) {
        ADD_FAILURE() << "avahi-daemon used another interface than lo:\n" << log;
        return false;
      }
    }
    return true;
  }

  // One suite at a time per machine: the daemon's pid file path is fixed.
  bool takeMachineLock(std::string* skipReason) {
    lockFd_ = ::open(kLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
      *skipReason = "cannot open " + kLockFile.string();
      return false;
    }
    const auto giveUp = std::chrono::steady_clock::now() + 45s;
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
      if (std::chrono::steady_clock::now() > giveUp) {
        *skipReason = "another discovery test run held " + kLockFile.string() + " for 45 s";
        return false;
      }
      ::poll(nullptr, 0, 100);  // another process's run, not this process's work
    }
    return true;
  }

  static bool checkNoOtherAvahi(std::string* skipReason) {
    std::ifstream pidFile(kAvahiRuntimeFolder / "pid");
    pid_t pid = 0;
    if (pidFile >> pid && pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) {
      *skipReason = "an avahi-daemon already runs on this machine (pid " + std::to_string(pid) +
                    "); the discovery test needs its own";
      return false;
    }
    std::error_code ignored;
    fs::remove(kAvahiRuntimeFolder / "pid", ignored);  // stale
    return true;
  }

  fs::path folder_;
  std::string busAddress_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> avahi_;
  int lockFd_ = -1;
  bool createdRuntimeFolder_ = false;
  bool ownsPidFile_ = false;
};

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
