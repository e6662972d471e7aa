#include "node-standin/BonjourAdvertiser.h"

#include <arpa/inet.h>
#include <dns_sd.h>
#include <poll.h>

#include "platform/Thread.h"

namespace standin {
namespace {

// How often the answer thread looks at its stop request while the daemon is quiet.
constexpr int kPollMilliseconds = 250;

}  // namespace

struct BonjourAdvertiser::Impl {
  explicit Impl(LogFunction log) : log(std::move(log)) {}

  static void DNSSD_API registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char* name,
                                   const char* type, const char*, void* context) {
    auto* impl = static_cast<Impl*>(context);
    if (error != kDNSServiceErr_NoError) {
      impl->log("Bonjour: registration failed (" + std::to_string(error) + ")");
    } else {
      impl->log(std::string("Bonjour: announced as '") + (name ? name : "") + "' " + (type ? type : ""));
    }
  }

  void run(const std::stop_token& stop) {
    const int fd = DNSServiceRefSockFD(service);
    while (!stop.stop_requested() && fd >= 0) {
      pollfd polled{fd, POLLIN, 0};
      const int ready = ::poll(&polled, 1, kPollMilliseconds);
      if (ready > 0 && DNSServiceProcessResult(service) != kDNSServiceErr_NoError) {
        log("Bonjour: lost the link to the mDNS daemon");
        break;
      }
    }
  }

  LogFunction log;
  DNSServiceRef service = nullptr;
  std::unique_ptr<platform::Thread> thread;
};

BonjourAdvertiser::BonjourAdvertiser(LogFunction log)
    : impl_(std::make_unique<Impl>(log ? std::move(log) : [](const std::string&) {})) {}

BonjourAdvertiser::~BonjourAdvertiser() { stop(); }

platform::Status BonjourAdvertiser::start(const std::string& name, std::uint16_t port) {
  stop();
  const DNSServiceErrorType error =
      DNSServiceRegister(&impl_->service, 0, kDNSServiceInterfaceIndexAny, name.c_str(), kNodeServiceType, nullptr,
                         nullptr, htons(port), 0, nullptr, &Impl::registered, impl_.get());
  if (error != kDNSServiceErr_NoError) {
    impl_->service = nullptr;
    return platform::Error(kBonjourErrorDomain, BonjourErrorCode::RegistrationFailed,
                           "cannot announce the node (DNS-SD error " + std::to_string(error) + ")");
  }
  Impl* impl = impl_.get();
  impl_->thread = std::make_unique<platform::Thread>("com.dirarovazovo.standin.bonjour",
                                                     [impl](std::stop_token stop) { impl->run(stop); });
  return platform::Status::success();
}

void BonjourAdvertiser::stop() {
  impl_->thread.reset();  // requests a stop and joins
  if (impl_->service) {
    DNSServiceRefDeallocate(impl_->service);
    impl_->service = nullptr;
  }
}

}  // namespace standin
