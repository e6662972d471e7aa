// The ticket listing: the customer's own requests (page by page), then the
// organisation's, then those the customer is copied on; one list, newest
// first, each ticket once, and always ended by ticketListingRetrieved.
#include <algorithm>
#include <ctime>
#include <set>

#include <nlohmann/json.hpp>

#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "support/PercentEncoding.h"
#include "support/ZendeskController.h"

namespace support {

namespace {
// A hostile peer could name pages forever.
constexpr int kMaximumPages = 100;

// "yyyy-MM-dd'T'HH:mm:ss'Z'" as seconds since 1970; none when it does not match.
std::optional<std::int64_t> stampSeconds(const std::optional<std::string>& stamp) {
  if (!stamp || stamp->size() != 20) return std::nullopt;
  std::tm fields{};
  char tail = 0;
  if (std::sscanf(stamp->c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
                  &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &tail) != 7 ||
      tail != 'Z') {
    return std::nullopt;
  }
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  return static_cast<std::int64_t>(timegm(&fields));
}

// "scheme://host[:port]" of an address, lower-cased scheme and host.
std::string originOf(const std::string& address) {
  const auto schemeEnd = address.find("://");
  if (schemeEnd == std::string::npos) return {};
  const auto authorityEnd = address.find_first_of("/?#", schemeEnd + 3);
  std::string origin = address.substr(0, authorityEnd);
  if (origin.find('@') != std::string::npos) return {};  // no logins inside addresses
  std::transform(origin.begin(), origin.end(), origin.begin(), [](unsigned char c) { return std::tolower(c); });
  return origin;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}
}  // namespace

bool ZendeskController::isOnBaseOrigin(const std::string& address) const {
  const std::string base = originOf(configuration_.baseAddress);
  return base.rfind("https://", 0) == 0 && originOf(address) == base;
}

void ZendeskController::getTicketsWithCustomerEmail(const std::optional<std::string>& email) {
  const std::uint64_t listing = ++listing_;
  if (!email) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               "Contact Support: ZendeskController: Error no email entered");
    if (delegate_->respondsTo("ticketListingRetrieved")) delegate_->ticketListingRetrieved();
    return;
  }
  relatedTickets_.clear();
  addTicketsWithURL("requests.json", *email, listing, 1);
}

void ZendeskController::addTicketsWithURL(const std::string& address, const std::string& email,
                                          std::uint64_t listing, int page) {
  send("GET", address, {}, email, [this, email, listing, page](long status, const std::string& body) {
    if (listing != listing_) return;
    std::optional<std::string> nextPage;
    if (status >= 200 && status < 400) {
      nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
      if (reply.is_object()) nextPage = stringMember(reply, "next_page");
      addRelatedTicketsFromJSONData(body);
    }
    // The customer's credential goes only to the help desk itself.
    if (nextPage && !isOnBaseOrigin(*nextPage)) {
      platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                                 "Contact Support: ZendeskController: next page outside the help desk ignored");
      nextPage.reset();
    }
    if (nextPage && page < kMaximumPages) {
      addTicketsWithURL(*nextPage, email, listing, page + 1);
      return;
    }
    platform::DispatchQueue::main().async([this, listing, alive = std::weak_ptr<int>(lifetime_)] {
      if (!alive.expired()) getTicketsWithCurrentOrganization(listing);
    });
  });
}

void ZendeskController::getTicketsWithCurrentOrganization(std::uint64_t listing) {
  if (listing != listing_) return;
  if (organizationID_ == "null") {
    finishListing(listing);
    return;
  }
  send("GET", "organizations/" + percentEncoded(organizationID_, PercentEncodingPart::QueryValue) + "/tickets.json",
       {}, configuration_.agentAddress, [this, listing](long status, const std::string& body) {
         if (listing != listing_) return;
         if (status >= 200 && status < 400) addRelatedTicketsFromJSONData(body);
         // A stage without data goes on, so the listing always ends.
         getTicketsWithCc(listing);
       });
}

void ZendeskController::getTicketsWithCc(std::uint64_t listing) {
  if (userID_.empty()) {
    finishListing(listing);
    return;
  }
  send("GET", "users/" + percentEncoded(userID_, PercentEncodingPart::QueryValue) + "/tickets/ccd.json", {},
       configuration_.agentAddress, [this, listing](long status, const std::string& body) {
         if (listing != listing_) return;
         if (status >= 200 && status < 400) addRelatedTicketsFromJSONData(body);
         finishListing(listing);
       });
}

void ZendeskController::finishListing(std::uint64_t listing) {
  if (listing != listing_) return;
  std::set<std::int64_t> seen;
  std::erase_if(relatedTickets_, [&](const ZendeskTicketEntry& entry) {
    return entry.ticketID && !seen.insert(*entry.ticketID).second;
  });
  if (delegate_->respondsTo("ticketListingRetrieved")) delegate_->ticketListingRetrieved();
}

void ZendeskController::addRelatedTicketsFromJSONData(const std::string& body) {
  nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
  if (!reply.is_object() || !reply.contains("requests") || !reply["requests"].is_array()) return;
  for (const nlohmann::json& request : reply["requests"]) {
    if (!request.is_object()) continue;
    std::optional<std::string> status = stringMember(request, "status");
    if (!status || *status == "solved" || *status == "closed") continue;
    ZendeskTicketEntry entry;
    entry.subject = stringMember(request, "subject");
    entry.updatedAt = stringMember(request, "updated_at");
    if (auto id = request.find("id"); id != request.end() && id->is_number_integer()) entry.ticketID = id->get<std::int64_t>();
    if (auto fields = request.find("custom_fields"); fields != request.end() && fields->is_array()) {
      for (const nlohmann::json& field : *fields) {
        if (!field.is_object() || !field.contains("id") || !field["id"].is_number_integer() ||
            field["id"].get<std::int64_t>() != 246855) {
          continue;
        }
        entry.zendeskApplicationTag = stringMember(field, "value").value_or("");
      }
    }
    relatedTickets_.push_back(std::move(entry));
  }
  // Newest first; a stamp that cannot be read sorts last.
  std::stable_sort(relatedTickets_.begin(), relatedTickets_.end(),
                   [](const ZendeskTicketEntry& a, const ZendeskTicketEntry& b) {
                     return stampSeconds(a.updatedAt).value_or(INT64_MIN) > stampSeconds(b.updatedAt).value_or(INT64_MIN);
                   });
}

}  // namespace support
