#pragma once
// The help-desk client: finds the customer's help-desk user and creates
// tickets on the customer's behalf. Replies are bounded and parsed
// defensively; results reach the delegate on the main queue. Main thread only.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"
#include "platform/network/URLSession.h"

namespace support {

class ZendeskControllerDelegate_Protocol {
 public:
  virtual ~ZendeskControllerDelegate_Protocol() = default;
  virtual bool respondsTo(std::string_view operation) const = 0;
  virtual void setUserID(const std::string&) {}
  virtual void userInfoRetrieved() {}
  virtual void userInfoRetrievedFailed() {}
  virtual void zendeskTicketSentSuccessFullyWithTicketUniqueID(std::int64_t) {}
  virtual void creationTicketFailedErrorDescription(const std::string&) {}
  virtual platform::Dictionary applicationInfo() = 0;
};

// Nothing here is compiled in; an empty token leaves the help desk unreachable.
struct ZendeskConfiguration {
  std::string baseAddress;        // "https://<host>/api/v2/"
  std::string agentAddress;
  std::string supportWebAddress;  // quoted in failure messages
  std::string token;
};

class ZendeskController {
 public:
  // delegate: not owned; the support window outlives its client.
  ZendeskController(ZendeskControllerDelegate_Protocol* delegate, ZendeskConfiguration configuration);

  int zendeskUserState() const { return zendeskUserState_; }
  const std::string& userID() const { return userID_; }
  const std::string& userName() const { return userName_; }
  const std::string& organizationID() const { return organizationID_; }

  void getUserInfoWithEmail(const std::optional<std::string>& email);

 private:
  void send(std::string method, std::string path, std::string body, const std::string& email,
            std::function<void(long status, const std::string& body)> handler);
  void updateUserInfoFromJSONData(const std::string& body);

  ZendeskControllerDelegate_Protocol* delegate_;
  ZendeskConfiguration configuration_;
  std::unique_ptr<platform::URLSession> session_;
  int zendeskUserState_ = 2;
  std::string userID_;
  std::string userName_;
  std::string organizationID_ = "null";
  std::shared_ptr<int> lifetime_ = std::make_shared<int>();
};

}  // namespace support
