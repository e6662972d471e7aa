#include "telemetry/core/Ingestion/DRTLTicketCache.h"

namespace telemetry::core {

DRTLTicketCache& DRTLTicketCache::sharedInstance() {
  static DRTLTicketCache* const instance = new DRTLTicketCache;  // lives for the process
  return *instance;
}

std::optional<std::string> DRTLTicketCache::ticketFor(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const auto found = tickets_.find(key);
  return found == tickets_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

void DRTLTicketCache::setTicket(const std::optional<std::string>& ticket, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (ticket) {
    tickets_[key] = *ticket;
  } else {
    tickets_.erase(key);
  }
}

void DRTLTicketCache::clearCache() {
  std::lock_guard lock(mutex_);
  tickets_.clear();
}

}  // namespace telemetry::core
