#pragma once
// DRTLAnalyticsAuthenticationProvider: gets user tokens from the host's
// delegate, caches each as a "p:" or "d:" ticket under the SHA-256 of the
// ticket key, and asks again once the token expires within ten minutes (on
// platform::Clock wall time). One request is in flight at a time; a
// delivery for an older request is ignored.
//
// Threads: deliveries come on the host's thread, expiry checks on enqueueing
// threads; both hold the provider's recursive lock (the host may deliver
// from inside the delegate call).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace telemetry::analytics {

class DRTLAnalyticsAuthenticationProvider;

using DRTLAcquireTokenCompletion =
    std::function<void(const std::optional<std::string>& token, const std::optional<platform::Date>& expiryDate)>;

class DRTLAnalyticsAuthenticationProviderDelegate {
 public:
  virtual ~DRTLAnalyticsAuthenticationProviderDelegate() = default;
  virtual void acquireToken(DRTLAnalyticsAuthenticationProvider& provider, DRTLAcquireTokenCompletion completion) = 0;
};

enum class DRTLAnalyticsAuthenticationType : std::uint64_t { Msa = 0, MsaDelegate = 1 };

class DRTLAnalyticsAuthenticationProvider : public std::enable_shared_from_this<DRTLAnalyticsAuthenticationProvider> {
 public:
  DRTLAnalyticsAuthenticationProvider(std::uint64_t type, std::optional<std::string> ticketKey,
                                      std::weak_ptr<DRTLAnalyticsAuthenticationProviderDelegate> delegate);

  std::uint64_t type() const { return type_; }
  const std::optional<std::string>& ticketKey() const { return ticketKey_; }
  const std::optional<std::string>& ticketKeyHash() const { return ticketKeyHash_; }
  std::optional<platform::Date> expiryDate() const;

  void acquireTokenAsync();
  void checkTokenExpiry();

 private:
  using Pending = std::shared_ptr<const int>;  // identifies one request
  void handleTokenUpdate(const std::optional<std::string>& token, const std::optional<platform::Date>& expiryDate,
                         const Pending& request);

  const std::uint64_t type_;
  const std::optional<std::string> ticketKey_;
  const std::optional<std::string> ticketKeyHash_;
  const std::weak_ptr<DRTLAnalyticsAuthenticationProviderDelegate> delegate_;
  mutable std::recursive_mutex mutex_;
  std::optional<platform::Date> expiryDate_;  // guarded by mutex_
  Pending pending_;                           // guarded by mutex_
};

}  // namespace telemetry::analytics
