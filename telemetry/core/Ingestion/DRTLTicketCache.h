#pragma once
// DRTLTicketCache: the process-wide authentication tickets (key -> ticket)
// that go with each Shared Schema request. Written on the thread of the
// application's token update, read on the channel group queue: every
// operation holds the cache's lock.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace telemetry::core {

class DRTLTicketCache {
 public:
  static DRTLTicketCache& sharedInstance();

  std::optional<std::string> ticketFor(const std::string& key) const;
  // No ticket removes the key.
  void setTicket(const std::optional<std::string>& ticket, const std::string& key);
  void clearCache();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> tickets_;  // guarded by mutex_
};

}  // namespace telemetry::core
