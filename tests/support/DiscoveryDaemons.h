#pragma once
// DiscoveryDaemons: a private message bus and an avahi-daemon allowed on the
// loopback interface only, for tests that announce or browse services. It
// points the DNS-SD library of this process (and of programs started with
// environment()) at that bus, and fails a test whose daemon took any other
// interface. Started once per test process (the DNS-SD library keeps the first
// bus address it reads); start() says why when the machine cannot host them.
//
// Header-only test helper; owned by one test suite.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"

namespace testing_support {

namespace discovery_detail {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
inline const fs::path kAvahiRuntimeFolder = "/run/avahi-daemon";
inline const fs::path kLockFile = "/tmp/vz-service-discovery-test.lock";

inline std::optional<fs::path> findProgram(const std::string& name) {
  for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    const fs::path candidate = fs::path(folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

inline void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace discovery_detail

inline constexpr auto kDaemonStartLimit = std::chrono::seconds(15);

// The private message bus and mDNS daemon. Started once per test process (the
// DNS-SD library keeps the first bus address it reads for the process's life,
// so the bus socket path is the same for every start in one process).
class DiscoveryDaemons {
  using ChildProcess = testing_support::ChildProcess;

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
    if (ownsPidFile_) std::filesystem::remove(discovery_detail::kAvahiRuntimeFolder / "pid", ignored);
    if (createdRuntimeFolder_) std::filesystem::remove(discovery_detail::kAvahiRuntimeFolder, ignored);  // only when empty
    std::filesystem::remove_all(folder_, ignored);
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
      *skipReason = "avahi-daemon needs root here: it insists on " + discovery_detail::kAvahiRuntimeFolder.string() + " for its pid file";
      return false;
    }
    const auto avahiProgram = discovery_detail::findProgram("avahi-daemon");
    const auto busProgram = discovery_detail::findProgram("dbus-daemon");
    if (!avahiProgram || !busProgram) {
      *skipReason = "avahi-daemon or dbus-daemon is not installed";
      return false;
    }
    if (!takeMachineLock(skipReason) || !checkNoOtherAvahi(skipReason)) return false;

    folder_ = std::filesystem::path("/tmp") / ("vz-discovery-" + std::to_string(::getpid()));
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    std::filesystem::create_directories(folder_);
    const std::filesystem::path socket = folder_ / "bus.socket";
    discovery_detail::writeFile(folder_ / "bus.conf",
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
    discovery_detail::writeFile(folder_ / "avahi-daemon.conf",
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

    if (!std::filesystem::exists(discovery_detail::kAvahiRuntimeFolder)) {
      std::filesystem::create_directories(discovery_detail::kAvahiRuntimeFolder, ignored);
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
    lockFd_ = ::open(discovery_detail::kLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
      *skipReason = "cannot open " + discovery_detail::kLockFile.string();
      return false;
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(90);  // under the test time limit: skip, never time out
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
      if (std::chrono::steady_clock::now() > giveUp) {
        *skipReason = "another discovery test run held " + discovery_detail::kLockFile.string() + " for 90 s";
        return false;
      }
      ::poll(nullptr, 0, 100);  // another process's run, not this process's work
    }
    return true;
  }

  static bool checkNoOtherAvahi(std::string* skipReason) {
    std::ifstream pidFile(discovery_detail::kAvahiRuntimeFolder / "pid");
    pid_t pid = 0;
    if (pidFile >> pid && pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) {
      *skipReason = "an avahi-daemon already runs on this machine (pid " + std::to_string(pid) +
                    "); the discovery test needs its own";
      return false;
    }
    std::error_code ignored;
    std::filesystem::remove(discovery_detail::kAvahiRuntimeFolder / "pid", ignored);  // stale
    return true;
  }

  std::filesystem::path folder_;
  std::string busAddress_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> avahi_;
  int lockFd_ = -1;
  bool createdRuntimeFolder_ = false;
  bool ownsPidFile_ = false;
};


}  // namespace testing_support
