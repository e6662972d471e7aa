#pragma once
// The help-desk client: finds, creates and verifies the customer's help-desk
// user, lists the customer's open tickets, reads ticket-field options, uploads
// attachments, creates and updates tickets. Replies are bounded and parsed
// defensively; results reach the delegate on the main queue. Main thread only.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"
#include "platform/network/URLSession.h"
#include "support/SupportConfiguration.h"

namespace support {

class ZendeskControllerDelegate_Protocol {
 public:
  virtual ~ZendeskControllerDelegate_Protocol() = default;
  virtual bool respondsTo(std::string_view operation) const = 0;
  virtual void ticketFieldsInfoRetrievedWithFieldUniqueID(const std::string&) {}
  virtual void ticketListingRetrieved() {}
  virtual void showUpdateTicketPanel(bool) {}
  virtual void setUserID(const std::string&) {}
  virtual void userInfoRetrieved() {}
  virtual void userInfoRetrievedFailed() {}
  virtual void newUserCreated() {}
  virtual void userHasBeenVerified() {}
  virtual void filesUploadedWithToken(const std::optional<std::string>&) {}
  virtual void zendeskTicketSentSuccessFullyWithTicketUniqueID(std::int64_t) {}
  virtual void creationTicketFailedErrorDescription(const std::string&) {}
  virtual void zendeskTicketUpdatedSuccessFullyWithTicketUniqueID(const std::string&) {}
  virtual void updateTicketFailedErrorDescription(const std::string&) {}
  // A request the window waits for (the large-file check, an attachment
  // upload) got no usable answer.
  virtual void zendeskRequestFailedErrorDescription(const std::string&) {}
  virtual platform::Dictionary applicationInfo() = 0;
};

// One of the customer's open tickets; absent fields were missing in the reply.
struct ZendeskTicketEntry {
  bool selected = false;
  std::optional<std::string> subject;
  std::optional<std::int64_t> ticketID;
  std::optional<std::string> updatedAt;
  std::string zendeskApplicationTag;
};

struct ZendeskNewTicket {
  std::optional<std::string> uploadToken;
  std::string email;
  std::string title;
  std::optional<std::string> description;
  std::optional<std::string> company;
  std::optional<std::string> endUserCompany;
  std::string requesterType;
};

class ZendeskController {
 public:
  // delegate: not owned; the support window outlives its client.
  ZendeskController(ZendeskControllerDelegate_Protocol* delegate, ZendeskConfiguration configuration);

  int zendeskUserState() const { return zendeskUserState_; }
  const std::string& userID() const { return userID_; }
  const std::string& userName() const { return userName_; }
  const std::string& organizationID() const { return organizationID_; }
  std::vector<ZendeskTicketEntry>& relatedTickets() { return relatedTickets_; }
  const std::map<std::string, platform::Array>& ticketFieldsInfoDict() const { return ticketFieldsInfoDict_; }
  const std::string& zendeskFieldTagForDeviceModelName() const { return deviceModelTag_; }
  void setZendeskFieldTagForDeviceModelName(const std::string& modelName);
  bool isSupportFolderTooLarge = false;

  void getTicketFieldsInfoWithID(const std::string& fieldID);
  void getTicketsWithCustomerEmail(const std::optional<std::string>& email);
  void getTicketAllowLargeFileUpload(const std::optional<std::string>& ticketID);
  void getUserInfoWithEmail(const std::optional<std::string>& email);
  void createUserWithEmail(const std::optional<std::string>& email, const std::optional<std::string>& loginName);
  void verifyUserWithEmail(const std::optional<std::string>& email);
  void uploadFilesAtPath(const std::filesystem::path& path);
  bool createZendeskTicket(const ZendeskNewTicket& ticket);
  void updateZendeskTicketWithUploadToken(const std::optional<std::string>& uploadToken, const std::string& ticketID,
                                          const std::optional<std::string>& comment, const std::string& email,
                                          bool isInternalNote);

 private:
  using Handler = std::function<void(long status, const std::string& body)>;
  // `address` is a path below the base address, or an absolute URL already
  // checked to lie on the base address's origin. Status 0: no reply.
  void send(std::string method, const std::string& address, std::string body, const std::string& email,
            Handler handler, std::optional<std::filesystem::path> uploadFile = std::nullopt,
            std::string contentType = "application/json");
  void updateUserInfoFromJSONData(const std::string& body);
  void tell(std::string_view operation, const std::function<void()>& call);
  void tellRequestFailed(long status);
  const platform::Array* optionsOf(const char* fieldID) const;

  // The listing (ZendeskTicketListing.cpp).
  void addTicketsWithURL(const std::string& address, const std::string& email, std::uint64_t listing, int page);
  void getTicketsWithCurrentOrganization(std::uint64_t listing);
  void getTicketsWithCc(std::uint64_t listing);
  void addRelatedTicketsFromJSONData(const std::string& body);
  void finishListing(std::uint64_t listing);
  bool isOnBaseOrigin(const std::string& address) const;

  ZendeskControllerDelegate_Protocol* delegate_;
  ZendeskConfiguration configuration_;
  std::unique_ptr<platform::URLSession> session_;
  std::vector<ZendeskTicketEntry> relatedTickets_;
  int zendeskUserState_ = 2;
  std::string userName_;
  std::string userID_;
  std::string organizationID_ = "null";
  std::string deviceModelTag_ = "unknown_device";
  std::map<std::string, platform::Array> ticketFieldsInfoDict_;
  std::uint64_t listing_ = 0;  // the listing under way; replies of older ones are dropped
  std::shared_ptr<int> lifetime_ = std::make_shared<int>();
};

}  // namespace support
