#include "nodes/link/DNSSDServiceBrowser.h"

#include <arpa/inet.h>
#include <dns_sd.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

#include "platform/DispatchQueue.h"
#include "platform/Thread.h"

namespace nodes {
namespace {

using platform::Clock;

constexpr const char* kThreadLabel = "com.dirarovazovo.serviceBrowser";
// Longest single wait on the daemon's sockets: bounds how long a stop request
// or a clock change can go unnoticed.
constexpr std::chrono::milliseconds kPollSlice{250};

platform::Error browserError(ServiceBrowserErrorCode code, std::string description) {
  return platform::Error(kServiceBrowserErrorDomain, code, std::move(description));
}

std::string dnssdErrorText(DNSServiceErrorType error) { return "DNS-SD error " + std::to_string(error); }

// Where the answers of one search or resolution go. Touched on the main
// thread only; stop() deactivates it so answers already posted are dropped.
struct Delivery {
  ServiceBrowserDelegate* delegate = nullptr;  // not owned; see ServiceBrowser::setDelegate
  bool active = true;
};

// A pipe that wakes the browser thread out of poll().
class WakePipe {
 public:
  WakePipe() {
    if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~WakePipe() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  int readEnd() const { return fds_[0]; }
  void wake() const {
    if (fds_[1] < 0) return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(fds_[1], &byte, 1);  // a full pipe already wakes
  }
  void drain() const {
    char buffer[64];
    while (fds_[0] >= 0 && ::read(fds_[0], buffer, sizeof buffer) > 0) {
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace

std::string ServiceAddress::ipv4DottedText() const {
  if (family != Family::IPv4) return "0.0.0.0";
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

std::unique_ptr<ServiceBrowser> makeDNSSDServiceBrowser() { return std::make_unique<DNSSDServiceBrowser>(); }

struct DNSSDServiceBrowser::Impl {
  // One resolution: first the service record (host, port), then the host's
  // address records. Lives on the browser thread.
  struct Resolution {
    Resolution() = default;
    ~Resolution() {
      if (ref) DNSServiceRefDeallocate(ref);
    }
    Resolution(const Resolution&) = delete;
    Resolution& operator=(const Resolution&) = delete;

    Impl* impl = nullptr;
    std::shared_ptr<Delivery> delivery;
    DiscoveredService service;
    Clock::TimePoint deadline;
    DNSServiceRef ref = nullptr;  // the resolve, then the address query
    ResolvedService result;
    bool finished = false;  // answered; removed after the current callback
  };

  ~Impl() {
    clockObserver.reset();  // before the thread, so no wake-up reaches a dead pipe
    thread.reset();         // requests a stop (which wakes the poll) and joins
  }

  // --- main thread -------------------------------------------------------

  void post(std::function<void()> command) {
    {
      std::lock_guard lock(commandsMutex);
      commands.push_back(std::move(command));
    }
    ensureThread();
    wakePipe.wake();
  }

  void ensureThread() {
    if (thread) return;
    clockObserver = std::make_unique<platform::ClockObserver>(
        [this](platform::ClockObserver::Event event, Clock& previous, Clock& current) {
          if (event == platform::ClockObserver::Event::Replaced) {
            // Keep each pending time limit's remaining time on the new clock.
            const Clock::Duration shift = current.now() - previous.now();
            std::lock_guard lock(commandsMutex);
            commands.push_back([this, shift] {
              for (auto& resolution : resolutions) resolution->deadline += shift;
            });
          }
          wakePipe.wake();
        });
    thread = std::make_unique<platform::Thread>(kThreadLabel, [this](std::stop_token stop) { run(stop); });
  }

  template <typename Call>
  static void deliver(const std::shared_ptr<Delivery>& delivery, Call call) {
    platform::DispatchQueue::main().async([delivery, call = std::move(call)] {
      if (delivery->active && delivery->delegate) call(*delivery->delegate);
    });
  }

  // --- browser thread ----------------------------------------------------

  void run(const std::stop_token& stop) {
    std::stop_callback wakeOnStop(stop, [this] { wakePipe.wake(); });
    while (!stop.stop_requested()) {
      runCommands();
      expireResolutions();
      waitAndProcess();
    }
    endBrowse();
    resolutions.clear();  // deallocates their references
  }

  void runCommands() {
    std::deque<std::function<void()>> pending;
    {
      std::lock_guard lock(commandsMutex);
      pending.swap(commands);
    }
    for (auto& command : pending) command();
  }

  void waitAndProcess() {
    std::vector<pollfd> polled{{wakePipe.readEnd(), POLLIN, 0}};
    std::vector<DNSServiceRef> refs{nullptr};
    if (browseRef) {
      polled.push_back({DNSServiceRefSockFD(browseRef), POLLIN, 0});
      refs.push_back(browseRef);
    }
    for (auto& resolution : resolutions) {
      if (!resolution->ref) continue;
      polled.push_back({DNSServiceRefSockFD(resolution->ref), POLLIN, 0});
      refs.push_back(resolution->ref);
    }
    auto timeout = kPollSlice;
    const Clock::TimePoint now = Clock::current().now();
    for (auto& resolution : resolutions) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(resolution->deadline - now);
      timeout = std::clamp(left, std::chrono::milliseconds{0}, timeout);
    }
    const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(timeout.count()));
    if (ready <= 0) return;
    if (polled[0].revents) wakePipe.drain();
    for (std::size_t i = 1; i < polled.size(); ++i) {
      if (polled[i].revents) process(refs[i]);
    }
  }

  // Runs the callbacks of one reference, which may end the browse or a
  // resolution; references are released only after their callback returned.
  void process(DNSServiceRef ref) {
    const bool isBrowse = ref == browseRef;
    auto owner = std::find_if(resolutions.begin(), resolutions.end(), [ref](auto& r) { return r->ref == ref; });
    if (!isBrowse && owner == resolutions.end()) return;  // ended earlier in this round
    const DNSServiceErrorType error = DNSServiceProcessResult(ref);
    if (isBrowse) {
      if (error != kDNSServiceErr_NoError || browseFailed) {
        if (error != kDNSServiceErr_NoError)
          deliver(browseDelivery, [text = dnssdErrorText(error)](ServiceBrowserDelegate& delegate) {
            delegate.serviceBrowserDidNotSearch(
                browserError(ServiceBrowserErrorCode::SearchFailed, "Lost the link to the mDNS daemon (" + text + ")"));
          });
        endBrowse();
      }
      return;
    }
    Resolution& resolution = **owner;
    if (error != kDNSServiceErr_NoError && !resolution.finished) {
      fail(resolution, ServiceBrowserErrorCode::ResolveFailed, "Lost the link to the mDNS daemon (" +
                                                                   dnssdErrorText(error) + ")");
    }
    if (resolution.finished) {
      resolutions.erase(owner);
    } else if (pendingQueryHost) {
      startAddressQuery(resolution, *pendingQueryHost);
      pendingQueryHost.reset();
    }
  }

  void expireResolutions() {
    const Clock::TimePoint now = Clock::current().now();
    for (auto it = resolutions.begin(); it != resolutions.end();) {
      if ((*it)->deadline <= now) {
        fail(**it, ServiceBrowserErrorCode::ResolveTimedOut, "No address before the time limit");
        it = resolutions.erase(it);
      } else {
        ++it;
      }
    }
  }

  void fail(Resolution& resolution, ServiceBrowserErrorCode code, std::string description) {
    resolution.finished = true;
    deliver(resolution.delivery, [service = resolution.service, error = browserError(code, std::move(description))](
                                     ServiceBrowserDelegate& delegate) { delegate.serviceDidNotResolve(service, error); });
  }

  void startBrowse(const std::string& type, const std::string& domain, std::shared_ptr<Delivery> delivery) {
    endBrowse();
    browseDelivery = std::move(delivery);
    browseFailed = false;
    const DNSServiceErrorType error =
        DNSServiceBrowse(&browseRef, 0, kDNSServiceInterfaceIndexAny, type.c_str(),
                         domain.empty() ? nullptr : domain.c_str(), &Impl::browseReply, this);
    if (error != kDNSServiceErr_NoError) {
      browseRef = nullptr;
      deliver(browseDelivery, [text = dnssdErrorText(error)](ServiceBrowserDelegate& delegate) {
        delegate.serviceBrowserDidNotSearch(browserError(ServiceBrowserErrorCode::DaemonUnavailable,
                                                         "Cannot browse for services (" + text + ")"));
      });
    }
  }

  void endBrowse() {
    if (browseRef) DNSServiceRefDeallocate(browseRef);
    browseRef = nullptr;
  }

  void startResolve(const DiscoveredService& service, Clock::TimePoint deadline, std::shared_ptr<Delivery> delivery) {
    std::erase_if(resolutions, [&](auto& r) { return r->service == service; });
    auto resolution = std::make_unique<Resolution>();
    resolution->impl = this;
    resolution->delivery = std::move(delivery);
    resolution->service = service;
    resolution->result.service = service;
    resolution->deadline = deadline;
    const DNSServiceErrorType error = DNSServiceResolve(
        &resolution->ref, 0, service.interfaceIndex, service.name.c_str(), service.type.c_str(),
        service.domain.empty() ? "local." : service.domain.c_str(), &Impl::resolveReply, resolution.get());
    if (error != kDNSServiceErr_NoError) {
      resolution->ref = nullptr;
      fail(*resolution, ServiceBrowserErrorCode::DaemonUnavailable, "Cannot resolve (" + dnssdErrorText(error) + ")");
      return;
    }
    resolutions.push_back(std::move(resolution));
  }

  // The resolve reference cannot be released inside its own callback; the
  // address query starts once that callback has returned.
  void startAddressQuery(Resolution& resolution, const std::string& host) {
    DNSServiceRefDeallocate(resolution.ref);
    resolution.ref = nullptr;
    const DNSServiceErrorType error =
        DNSServiceQueryRecord(&resolution.ref, 0, resolution.service.interfaceIndex, host.c_str(), kDNSServiceType_A,
                              kDNSServiceClass_IN, &Impl::addressReply, &resolution);
    if (error != kDNSServiceErr_NoError) {
      resolution.ref = nullptr;
      fail(resolution, ServiceBrowserErrorCode::ResolveFailed, "Cannot look up " + host + " (" + dnssdErrorText(error) + ")");
      std::erase_if(resolutions, [&](auto& r) { return r.get() == &resolution; });
    }
  }

  static void DNSSD_API browseReply(DNSServiceRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                    DNSServiceErrorType error, const char* name, const char* type,
                                    const char* domain, void* context) {
    auto* impl = static_cast<Impl*>(context);
    if (error != kDNSServiceErr_NoError) {
      impl->browseFailed = true;
      deliver(impl->browseDelivery, [text = dnssdErrorText(error)](ServiceBrowserDelegate& delegate) {
        delegate.serviceBrowserDidNotSearch(
            browserError(ServiceBrowserErrorCode::SearchFailed, "The search ended (" + text + ")"));
      });
      return;
    }
    DiscoveredService service{name ? name : "", type ? type : "", domain ? domain : "", interfaceIndex};
    const bool moreComing = (flags & kDNSServiceFlagsMoreComing) != 0;
    if (flags & kDNSServiceFlagsAdd) {
      deliver(impl->browseDelivery, [service, moreComing](ServiceBrowserDelegate& delegate) {
        delegate.serviceBrowserDidFindService(service, moreComing);
      });
    } else {
      deliver(impl->browseDelivery, [service, moreComing](ServiceBrowserDelegate& delegate) {
        delegate.serviceBrowserDidRemoveService(service, moreComing);
      });
    }
  }

  static void DNSSD_API resolveReply(DNSServiceRef, DNSServiceFlags, uint32_t interfaceIndex,
                                     DNSServiceErrorType error, const char*, const char* hostTarget, uint16_t port,
                                     uint16_t, const unsigned char*, void* context) {
    auto* resolution = static_cast<Resolution*>(context);
    if (resolution->finished || resolution->impl->pendingQueryHost) return;
    if (error != kDNSServiceErr_NoError || !hostTarget) {
      resolution->impl->fail(*resolution, ServiceBrowserErrorCode::ResolveFailed,
                             "The service did not resolve (" + dnssdErrorText(error) + ")");
      return;
    }
    if (resolution->service.interfaceIndex == 0) resolution->service.interfaceIndex = interfaceIndex;
    resolution->result.hostName = hostTarget;
    resolution->result.port = ntohs(port);
    resolution->impl->pendingQueryHost = hostTarget;
  }

  static void DNSSD_API addressReply(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType error,
                                     const char*, uint16_t recordType, uint16_t, uint16_t length, const void* data,
                                     uint32_t, void* context) {
    auto* resolution = static_cast<Resolution*>(context);
    if (resolution->finished) return;
    if (error != kDNSServiceErr_NoError) {
      resolution->impl->fail(*resolution, ServiceBrowserErrorCode::ResolveFailed,
                             "The host address did not resolve (" + dnssdErrorText(error) + ")");
      return;
    }
    if ((flags & kDNSServiceFlagsAdd) && recordType == kDNSServiceType_A && length == 4 && data) {
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      const ServiceAddress address = ServiceAddress::ipv4(bytes[0], bytes[1], bytes[2], bytes[3]);
      auto& addresses = resolution->result.addresses;
      if (std::none_of(addresses.begin(), addresses.end(),
                       [&](const ServiceAddress& a) { return a.bytes == address.bytes; }))
        addresses.push_back(address);
    }
    if (!(flags & kDNSServiceFlagsMoreComing) && !resolution->result.addresses.empty()) {
      resolution->finished = true;
      deliver(resolution->delivery, [result = resolution->result](ServiceBrowserDelegate& delegate) {
        delegate.serviceDidResolveAddress(result);
      });
    }
  }

  // Main thread only.
  std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();

  WakePipe wakePipe;
  std::mutex commandsMutex;
  std::deque<std::function<void()>> commands;  // guarded by commandsMutex

  // Browser thread only.
  DNSServiceRef browseRef = nullptr;
  bool browseFailed = false;
  std::shared_ptr<Delivery> browseDelivery;
  std::list<std::unique_ptr<Resolution>> resolutions;
  std::optional<std::string> pendingQueryHost;  // set by a resolve callback, used after it

  std::unique_ptr<platform::ClockObserver> clockObserver;
  std::unique_ptr<platform::Thread> thread;  // last: joined first
};

DNSSDServiceBrowser::DNSSDServiceBrowser() : impl_(std::make_unique<Impl>()) {}

DNSSDServiceBrowser::~DNSSDServiceBrowser() { stop(); }

void DNSSDServiceBrowser::setDelegate(ServiceBrowserDelegate* delegate) { impl_->delivery->delegate = delegate; }

void DNSSDServiceBrowser::searchForServicesOfType(const std::string& type, const std::string& domain) {
  Impl* impl = impl_.get();
  impl->post([impl, type, domain, delivery = impl->delivery] { impl->startBrowse(type, domain, delivery); });
}

void DNSSDServiceBrowser::resolveService(const DiscoveredService& service, platform::Clock::Duration timeout) {
  Impl* impl = impl_.get();
  // The time limit runs from this call, not from when the thread gets to it.
  const Clock::TimePoint deadline = Clock::current().now() + timeout;
  impl->post([impl, service, deadline, delivery = impl->delivery] { impl->startResolve(service, deadline, delivery); });
}

void DNSSDServiceBrowser::stop() {
  impl_->delivery->active = false;
  auto fresh = std::make_shared<Delivery>();
  fresh->delegate = impl_->delivery->delegate;
  impl_->delivery = std::move(fresh);
  if (!impl_->thread) return;
  Impl* impl = impl_.get();
  impl->post([impl] {
    impl->endBrowse();
    impl->resolutions.clear();
  });
}

}  // namespace nodes
