#pragma once
// DRTL_Reachability: whether the internet can be reached, and a notification
// on every change. On Linux "reachable" means a default route (IPv4 or IPv6)
// through an interface that is up, read from rtnetlink. The flags keep the
// desktop bits (2 reachable, 4 connection required, 8 on traffic, 16
// intervention required, 32 on demand); only "reachable" is ever set here.
//
// Owned through a shared_ptr. The notifier (a netlink watching thread, owned
// and joined by this object) is started and stopped on the main queue; every
// notification is posted on the main queue, and only while the object lives.

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class Thread;
}

namespace telemetry::core {

inline constexpr const char* kDRNetworkReachabilityChangedNotification = "kDRNetworkReachabilityChangedNotification";

enum DRTLNetworkStatus : int { DRTLNotReachable = 0, DRTLReachableViaWiFi = 1 };

enum DRTLReachabilityFlags : std::uint32_t {
  DRTLReachabilityFlagReachable = 2,
  DRTLReachabilityFlagConnectionRequired = 4,
  DRTLReachabilityFlagConnectionOnTraffic = 8,
  DRTLReachabilityFlagInterventionRequired = 16,
  DRTLReachabilityFlagConnectionOnDemand = 32,
};

class DRTL_Reachability : public std::enable_shared_from_this<DRTL_Reachability> {
 public:
  static std::shared_ptr<DRTL_Reachability> reachabilityForInternetConnection();
  ~DRTL_Reachability();
  DRTL_Reachability(const DRTL_Reachability&) = delete;
  DRTL_Reachability& operator=(const DRTL_Reachability&) = delete;

  // Asynchronously on the main queue: starts watching and posts the
  // notification once.
  void startNotifier();
  // Asynchronously on the main queue: stops watching.
  void stopNotifier();

  int currentReachabilityStatus() const;
  bool connectionRequired() const;
  // The flags now; none when the routing table cannot be read.
  std::optional<std::uint32_t> currentFlags() const;
  static int networkStatusForFlags(std::uint32_t flags);

 private:
  DRTL_Reachability();
  void watch(int stopFd, int netlinkFd);
  void postChange();

  std::unique_ptr<platform::Thread> monitor_;  // touched on the main queue and in the destructor
};

}  // namespace telemetry::core
