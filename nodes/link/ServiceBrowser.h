#pragma once
// ServiceBrowser: finds the services of one type that announce themselves on
// the local network and resolves a found service to its port and addresses.
// The data source browses for playout nodes through it; tests give the data
// source a fake one. DNSSDServiceBrowser is the real one.
//
// Owned by its user (unique_ptr); every member is called on the main thread,
// and every delegate call arrives there too, never inside the member call that
// caused it. After stop() or destruction no delegate call is made any more.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Error.h"

namespace nodes {

inline constexpr const char* kNodeServiceType = "_ruzizevuzazo._tcp.";
inline constexpr const char* kServiceBrowserErrorDomain = "ServiceBrowserErrorDomain";

enum class ServiceBrowserErrorCode {
  DaemonUnavailable = 1,  // the mDNS daemon cannot be reached
  SearchFailed = 2,       // the daemon refused or ended the search
  ResolveFailed = 3,      // the daemon refused or ended a resolution
  ResolveTimedOut = 4,    // no address within the resolution's time limit
};

// A service as browsing finds it. Two values are the same service when name,
// type and domain are equal (the interface it was seen on does not count).
struct DiscoveredService {
  std::string name;    // e.g. "Studio 1"
  std::string type;    // "_ruzizevuzazo._tcp."
  std::string domain;  // e.g. "local."
  std::uint32_t interfaceIndex = 0;  // where it was seen; 0 for any

  friend bool operator==(const DiscoveredService& a, const DiscoveredService& b) {
    return a.name == b.name && a.type == b.type && a.domain == b.domain;
  }
};

// One address of a resolved service, in network byte order.
struct ServiceAddress {
  enum class Family { IPv4 = 1, IPv6 = 2 };
  Family family = Family::IPv4;
  std::array<std::uint8_t, 16> bytes{};  // IPv4 uses the first four

  static ServiceAddress ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return ServiceAddress{Family::IPv4, {a, b, c, d}};
  }
  // The address read as an IPv4 address in dotted form; anything that is not
  // an IPv4 address reads as "0.0.0.0".
  std::string ipv4DottedText() const;
};

struct ResolvedService {
  DiscoveredService service;
  std::string hostName;  // e.g. "studio-1.local."
  std::uint16_t port = 0;
  std::vector<ServiceAddress> addresses;
};

class ServiceBrowserDelegate {
 public:
  virtual ~ServiceBrowserDelegate() = default;

  virtual void serviceBrowserDidFindService(const DiscoveredService& service, bool moreComing) = 0;
  virtual void serviceBrowserDidRemoveService(const DiscoveredService& /*service*/, bool /*moreComing*/) {}
  // The search could not start, or ended by a failure.
  virtual void serviceBrowserDidNotSearch(const platform::Error& /*error*/) {}
  virtual void serviceDidResolveAddress(const ResolvedService& service) = 0;
  virtual void serviceDidNotResolve(const DiscoveredService& /*service*/, const platform::Error& /*error*/) {}
};

class ServiceBrowser {
 public:
  virtual ~ServiceBrowser() = default;

  // Not owned; the owner outlives the browser or clears it first.
  virtual void setDelegate(ServiceBrowserDelegate* delegate) = 0;
  // Starts browsing for `type` in `domain` (empty: the default domains). A
  // search already running is replaced. Failures to start arrive as
  // serviceBrowserDidNotSearch.
  virtual void searchForServicesOfType(const std::string& type, const std::string& domain) = 0;
  // Resolves a found service; the answer is serviceDidResolveAddress, or
  // serviceDidNotResolve once `timeout` has passed on Clock::current(). A
  // resolution of the same service already running is restarted.
  virtual void resolveService(const DiscoveredService& service, platform::Clock::Duration timeout) = 0;
  // Ends the search and every resolution.
  virtual void stop() = 0;
};

// The browser of the platform: DNS-SD through the system's mDNS daemon.
std::unique_ptr<ServiceBrowser> makeDNSSDServiceBrowser();

}  // namespace nodes
