#include "telemetry/core/DRTL_Reachability.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Thread.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool interfaceIsUp(int index) {
  char name[IF_NAMESIZE] = {};
  if (!if_indextoname(static_cast<unsigned>(index), name)) return false;
  ScopedFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, name, sizeof request.ifr_name);
  if (::ioctl(probe.get(), SIOCGIFFLAGS, &request) < 0) return false;
  return (request.ifr_flags & IFF_UP) != 0;
}

// True when the dump holds a default route of the main table through an
// interface that is up (or through several next hops).
std::optional<bool> hasDefaultRoute() {
  ScopedFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (fd.get() < 0) return std::nullopt;
  struct {
    nlmsghdr header;
    rtmsg message;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.message.rtm_family = AF_UNSPEC;
  if (::send(fd.get(), &request, request.header.nlmsg_len, 0) < 0) return std::nullopt;

  std::vector<char> buffer(32 * 1024);
  bool found = false;
  // A routing table answers in a bounded number of parts; a peer that never
  // ends its dump is cut off.
  for (int parts = 0; parts < 4096; ++parts) {
    pollfd ready{fd.get(), POLLIN, 0};
    if (::poll(&ready, 1, 2000) <= 0) return std::nullopt;
    const ssize_t length = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
    if (length <= 0) return std::nullopt;
    int remaining = static_cast<int>(length);
    // The kernel's walking macros compare its unsigned lengths with this int.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, remaining);
         header = NLMSG_NEXT(header, remaining)) {
#pragma GCC diagnostic pop
      if (header->nlmsg_type == NLMSG_DONE) return found;
      if (header->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      if (header->nlmsg_type != RTM_NEWROUTE) continue;
      const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(header));
      if (route->rtm_dst_len != 0 || route->rtm_table != RT_TABLE_MAIN || route->rtm_type != RTN_UNICAST) continue;
      int attributesLength = static_cast<int>(RTM_PAYLOAD(header));
      std::optional<int> outputInterface;
      bool multipath = false;
      for (auto* attribute = RTM_RTA(route); RTA_OK(attribute, attributesLength);
           attribute = RTA_NEXT(attribute, attributesLength)) {
        if (attribute->rta_type == RTA_OIF && RTA_PAYLOAD(attribute) >= sizeof(int)) {
          int index = 0;
          std::memcpy(&index, RTA_DATA(attribute), sizeof index);
          outputInterface = index;
        } else if (attribute->rta_type == RTA_MULTIPATH) {
          multipath = true;
        }
      }
      if (multipath || (outputInterface && interfaceIsUp(*outputInterface))) found = true;
    }
  }
  return std::nullopt;
}

}  // namespace

DRTL_Reachability::DRTL_Reachability() = default;

DRTL_Reachability::~DRTL_Reachability() { monitor_.reset(); }

std::shared_ptr<DRTL_Reachability> DRTL_Reachability::reachabilityForInternetConnection() {
  return std::shared_ptr<DRTL_Reachability>(new DRTL_Reachability());
}

std::optional<std::uint32_t> DRTL_Reachability::currentFlags() const {
  std::optional<bool> reachable = hasDefaultRoute();
  if (!reachable) return std::nullopt;
  return *reachable ? DRTLReachabilityFlagReachable : 0u;
}

int DRTL_Reachability::networkStatusForFlags(std::uint32_t flags) {
  if (!(flags & DRTLReachabilityFlagReachable)) return DRTLNotReachable;
  const bool automatic = flags & (DRTLReachabilityFlagConnectionOnTraffic | DRTLReachabilityFlagConnectionOnDemand);
  const bool intervention = flags & DRTLReachabilityFlagInterventionRequired;
  if (!automatic || intervention) {
    return (flags & DRTLReachabilityFlagConnectionRequired) ? DRTLNotReachable : DRTLReachableViaWiFi;
  }
  return DRTLReachableViaWiFi;
}

int DRTL_Reachability::currentReachabilityStatus() const {
  std::optional<std::uint32_t> flags = currentFlags();
  return flags ? networkStatusForFlags(*flags) : DRTLNotReachable;
}

bool DRTL_Reachability::connectionRequired() const {
  std::optional<std::uint32_t> flags = currentFlags();
  return flags && (*flags & DRTLReachabilityFlagConnectionRequired);
}

void DRTL_Reachability::postChange() {
  platform::DispatchQueue::main().async([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      platform::NotificationCenter::defaultCenter().post(kDRNetworkReachabilityChangedNotification, self.get());
    }
  });
}

void DRTL_Reachability::startNotifier() {
  platform::DispatchQueue::main().async([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || self->monitor_) return;
    int netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (netlink < 0 || stop < 0 || ::bind(netlink, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
      DRTLLogError(std::string("Reachability: cannot watch the routing table: ") + std::strerror(errno));
      if (netlink >= 0) ::close(netlink);
      if (stop >= 0) ::close(stop);
      return;
    }
    DRTL_Reachability* raw = self.get();  // outlives the thread: the destructor joins it
    self->monitor_ = std::make_unique<platform::Thread>(
        "TelemetryCore.Reachability", [raw, stop, netlink](std::stop_token token) {
          std::stop_callback wake(token, [stop] {
            std::uint64_t one = 1;
            (void)!::write(stop, &one, sizeof one);
          });
          raw->watch(stop, netlink);
          ::close(netlink);
          ::close(stop);
        });
    self->postChange();
  });
}

void DRTL_Reachability::stopNotifier() {
  platform::DispatchQueue::main().async([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->monitor_.reset();
  });
}

void DRTL_Reachability::watch(int stopFd, int netlinkFd) {
  std::optional<std::uint32_t> last = currentFlags();
  std::array<char, 16 * 1024> buffer{};
  while (true) {
    std::array<pollfd, 2> fds{{{stopFd, POLLIN, 0}, {netlinkFd, POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    if (!(fds[1].revents & POLLIN)) continue;
    // Drain the burst, then look at the table once.
    while (::recv(netlinkFd, buffer.data(), buffer.size(), 0) > 0) {
    }
    std::optional<std::uint32_t> now = currentFlags();
    if (now != last) {
      last = now;
      postChange();
    }
  }
}

}  // namespace telemetry::core
