#include "telemetry/services/analytics/DRTLAnalyticsAuthenticationProvider.h"

#include <chrono>

#include "platform/Clock.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Ingestion/DRTLTicketCache.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"

namespace telemetry::analytics {
namespace {

constexpr std::chrono::seconds kRenewBeforeExpiry{600};

std::optional<std::string> hashOf(const std::optional<std::string>& key) {
  if (!key) return std::nullopt;
  return core::DRTLUtility::sha256(*key);
}

std::int64_t wholeSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::floor<std::chrono::seconds>(time.time_since_epoch()).count();
}

}  // namespace

DRTLAnalyticsAuthenticationProvider::DRTLAnalyticsAuthenticationProvider(
    std::uint64_t type, std::optional<std::string> ticketKey,
    std::weak_ptr<DRTLAnalyticsAuthenticationProviderDelegate> delegate)
    : type_(type), ticketKey_(std::move(ticketKey)), ticketKeyHash_(hashOf(ticketKey_)), delegate_(std::move(delegate)) {}

std::optional<platform::Date> DRTLAnalyticsAuthenticationProvider::expiryDate() const {
  std::lock_guard lock(mutex_);
  return expiryDate_;
}

void DRTLAnalyticsAuthenticationProvider::acquireTokenAsync() {
  auto delegate = delegate_.lock();
  if (!delegate) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag,
             std::string("No completionhandler to acquire token has been set."));
    return;
  }
  Pending request;
  {
    std::lock_guard lock(mutex_);
    if (pending_) return;
    pending_ = request = std::make_shared<const int>(0);
  }
  delegate->acquireToken(*this, [weak = weak_from_this(), request](const std::optional<std::string>& token,
                                                                   const std::optional<platform::Date>& expiry) {
    if (auto self = weak.lock()) self->handleTokenUpdate(token, expiry, request);
  });
}

void DRTLAnalyticsAuthenticationProvider::handleTokenUpdate(const std::optional<std::string>& token,
                                                            const std::optional<platform::Date>& expiryDate,
                                                            const Pending& request) {
  std::lock_guard lock(mutex_);
  if (request != pending_) return;
  pending_.reset();
  DRTL_LOG(core::DRTLLogLevelDebug, kDRTLAnalyticsLogTag,
           std::string("Got result back from DRAcquireTokenCompletionBlock."));
  if (!token) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("Token must not be null"));
    return;
  }
  if (!expiryDate) {
    DRTL_LOG(core::DRTLLogLevelError, kDRTLAnalyticsLogTag, std::string("Date must not be null"));
    return;
  }
  const char* prefix = type_ == 0 ? "p" : type_ == 1 ? "d" : "";
  if (ticketKeyHash_) core::DRTLTicketCache::sharedInstance().setTicket(std::string(prefix) + ":" + *token, *ticketKeyHash_);
  expiryDate_ = expiryDate;
}

void DRTLAnalyticsAuthenticationProvider::checkTokenExpiry() {
  std::lock_guard lock(mutex_);
  if (!expiryDate_) return;
  const auto now = platform::Clock::current().wallNow();
  if (wholeSeconds(now + kRenewBeforeExpiry) >=
      std::chrono::floor<std::chrono::seconds>(expiryDate_->time_since_epoch()).count()) {
    acquireTokenAsync();
  }
}

}  // namespace telemetry::analytics
