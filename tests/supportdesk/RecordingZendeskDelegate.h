#pragma once
// Records the help-desk client's delegate calls as text lines, and the help
// desk configuration for a loopback peer.
#include <string>
#include <vector>

#include "support/ZendeskController.h"

class RecordingZendeskDelegate : public support::ZendeskControllerDelegate_Protocol {
 public:
  bool respondsTo(std::string_view) const override { return true; }
  void ticketFieldsInfoRetrievedWithFieldUniqueID(const std::string& id) override { calls.push_back("fields " + id); }
  void ticketListingRetrieved() override { calls.push_back("ticketListingRetrieved"); }
  void showUpdateTicketPanel(bool show) override { calls.push_back(show ? "panel YES" : "panel NO"); }
  void setUserID(const std::string& id) override { calls.push_back("setUserID " + id); }
  void userInfoRetrieved() override { calls.push_back("userInfoRetrieved"); }
  void userInfoRetrievedFailed() override { calls.push_back("userInfoRetrievedFailed"); }
  void newUserCreated() override { calls.push_back("newUserCreated"); }
  void userHasBeenVerified() override { calls.push_back("userHasBeenVerified"); }
  void filesUploadedWithToken(const std::optional<std::string>& token) override {
    calls.push_back("token " + token.value_or("(none)"));
  }
  void zendeskTicketSentSuccessFullyWithTicketUniqueID(std::int64_t id) override {
    calls.push_back("sent " + std::to_string(id));
  }
  void creationTicketFailedErrorDescription(const std::string& text) override { calls.push_back(text); }
  void zendeskTicketUpdatedSuccessFullyWithTicketUniqueID(const std::string& id) override {
    calls.push_back("updated " + id);
  }
  void updateTicketFailedErrorDescription(const std::string& text) override { calls.push_back(text); }
  void zendeskRequestFailedErrorDescription(const std::string& text) override { calls.push_back("failed " + text); }
  platform::Dictionary applicationInfo() override {
    return {{"bundleName", "Vantelio Video 4"}, {"bundleVersion", "4.2.1"}, {"macOSVersionString", "10.15.7"}};
  }
  std::vector<std::string> calls;
};

inline support::ZendeskConfiguration configurationFor(const std::string& origin,
                                                      std::optional<std::filesystem::path> authority = std::nullopt) {
  return {origin + "/api/v2/", "agent@desk.example", "https://desk.example", "T0ken", std::move(authority)};
}
