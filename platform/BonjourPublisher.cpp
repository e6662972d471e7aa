#include "platform/BonjourPublisher.h"

#include <arpa/inet.h>
#include <dns_sd.h>
#include <poll.h>

#include "platform/Diagnostics.h"
#include "platform/Thread.h"

namespace platform {
namespace {

// How often the answer thread looks at its stop request while the daemon is quiet.
constexpr int kPollMilliseconds = 250;

void DNSSD_API registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char*, const char*,
                          const char*, void*) {
  if (error != kDNSServiceErr_NoError) {
    reportDiagnostic(DiagnosticLevel::Error, "Bonjour: registration failed (" + std::to_string(error) + ")");
  }
}

}  // namespace

struct BonjourPublisher::Announcement {
  ~Announcement() {
    thread.reset();  // requests a stop and joins
    if (service) DNSServiceRefDeallocate(service);
    TXTRecordDeallocate(&txt);
  }
  DNSServiceRef service = nullptr;
  TXTRecordRef txt{};
  std::unique_ptr<Thread> thread;
};

BonjourPublisher::BonjourPublisher(std::string domain, std::string type, std::string name, std::uint16_t port,
                                   TXTRecord txt)
    : domain_(std::move(domain)), type_(std::move(type)), name_(std::move(name)), port_(port), txt_(std::move(txt)) {}

BonjourPublisher::~BonjourPublisher() { stop(); }

Status BonjourPublisher::publish() {
  stop();
  auto announcement = std::make_unique<Announcement>();
  TXTRecordCreate(&announcement->txt, 0, nullptr);
  for (const auto& [key, value] : txt_) {
    if (value.size() > 255 ||
        TXTRecordSetValue(&announcement->txt, key.c_str(), static_cast<std::uint8_t>(value.size()), value.data()) !=
            kDNSServiceErr_NoError) {
      return Error("BonjourErrorDomain", 2, "the TXT record entry '" + key + "' cannot be stored");
    }
  }
  const DNSServiceErrorType error = DNSServiceRegister(
      &announcement->service, 0, kDNSServiceInterfaceIndexAny, name_.empty() ? nullptr : name_.c_str(), type_.c_str(),
      domain_.empty() ? nullptr : domain_.c_str(), nullptr, htons(port_), TXTRecordGetLength(&announcement->txt),
      TXTRecordGetBytesPtr(&announcement->txt), &registered, nullptr);
  if (error != kDNSServiceErr_NoError) {
    announcement->service = nullptr;
    return Error("BonjourErrorDomain", 1, "cannot announce the service (DNS-SD error " + std::to_string(error) + ")");
  }
  DNSServiceRef service = announcement->service;
  announcement->thread = std::make_unique<Thread>("com.dirarovazovo.bonjour.publisher", [service](std::stop_token stop) {
    const int fd = DNSServiceRefSockFD(service);
    while (!stop.stop_requested() && fd >= 0) {
      pollfd polled{fd, POLLIN, 0};
      if (::poll(&polled, 1, kPollMilliseconds) > 0 && DNSServiceProcessResult(service) != kDNSServiceErr_NoError) {
        reportDiagnostic(DiagnosticLevel::Error, "Bonjour: lost the link to the mDNS daemon");
        return;
      }
    }
  });
  announcement_ = std::move(announcement);
  return Status::success();
}

void BonjourPublisher::stop() { announcement_.reset(); }

bool BonjourPublisher::isPublished() const { return announcement_ != nullptr; }

}  // namespace platform
