#pragma once
// DNSSDServiceBrowser: the ServiceBrowser of the platform. It browses and
// resolves through the DNS-SD API, which the system's mDNS daemon serves; an
// address is the IPv4 address record of the host the service names.
//
// Owned by the data source; its members run on the main thread and its
// delegate calls arrive there. Every DNS-SD call runs on one thread of its own
// ("com.dirarovazovo.serviceBrowser", started on first use), which waits on the
// daemon's sockets with poll() in slices of at most 250 ms, so stop and
// destruction are bounded. Resolution time limits run on Clock::current(). A
// missing daemon is reported through the delegate, never thrown.

#include <memory>

#include "nodes/link/ServiceBrowser.h"

namespace nodes {

class DNSSDServiceBrowser final : public ServiceBrowser {
 public:
  DNSSDServiceBrowser();
  ~DNSSDServiceBrowser() override;  // stops and joins the thread
  DNSSDServiceBrowser(const DNSSDServiceBrowser&) = delete;
  DNSSDServiceBrowser& operator=(const DNSSDServiceBrowser&) = delete;

  void setDelegate(ServiceBrowserDelegate* delegate) override;
  void searchForServicesOfType(const std::string& type, const std::string& domain) override;
  void resolveService(const DiscoveredService& service, platform::Clock::Duration timeout) override;
  void stop() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace nodes
