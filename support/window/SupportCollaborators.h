#pragma once
// What the Contact Support window asks of the help desk and of the cloud
// upload. The application hands in adapters over the help-desk client and the
// upload controller (SupportCollaboratorAdapters.h); tests script them. Their
// answers come back through the window's delegate operations, on the main
// queue.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/ZendeskController.h"

namespace platform {
class UserDefaults;
}  // namespace platform

namespace support::window {

class SupportHelpDesk {
 public:
  enum class Reachability { Reachable, NotHttp, Unreachable };
  using ReachabilityAnswer = std::function<void(Reachability)>;

  virtual ~SupportHelpDesk() = default;
  // GET of the help desk's home page; the answer comes on the main queue.
  virtual void checkConnection(ReachabilityAnswer answer) = 0;
  virtual int zendeskUserState() const = 0;  // 0 verified, 1 not verified, 2 no such user
  virtual std::string userName() const = 0;
  virtual bool hasTicketFieldsInfo(const std::string& fieldID) const = 0;
  virtual std::vector<ZendeskTicketEntry>& relatedTickets() = 0;
  virtual void getTicketFieldsInfoWithID(const std::string& fieldID) = 0;
  virtual void setZendeskFieldTagForDeviceModelName(const std::string& modelName) = 0;
  virtual void getUserInfoWithEmail(const std::string& email) = 0;
  virtual void verifyUserWithEmail(const std::string& email) = 0;
  virtual void getTicketsWithCustomerEmail(const std::string& email) = 0;
  virtual void getTicketAllowLargeFileUpload(const std::string& ticketID) = 0;
  virtual void createUserWithEmail(const std::string& email, const std::string& loginName) = 0;
  virtual void uploadFilesAtPath(const std::filesystem::path& path) = 0;
  virtual void createZendeskTicket(const ZendeskNewTicket& ticket) = 0;
  virtual void updateZendeskTicket(const std::optional<std::string>& uploadToken, const std::string& ticketID,
                                   const std::string& comment, const std::string& email, bool isInternalNote) = 0;
  virtual void setIsSupportFolderTooLarge(bool tooLarge) = 0;
};

class SupportCloudUpload {
 public:
  virtual ~SupportCloudUpload() = default;
  virtual void uploadFileToAmazon(const std::filesystem::path& file, const std::string& remotePath) = 0;
  virtual void abortAmazonUpload() = 0;
  virtual void resumeMultiPartUpload() = 0;
};

// The help desk's web pages; none is compiled in.
struct SupportDeskPages {
  std::string webAddress;        // home page, quoted in texts, ends in "/"
  std::string helpCenterAddress;
  std::string passwordHelpAddress;
  std::string agentAddress;      // the e-mail of internal notes

  std::string ticketAddress(const std::string& ticketID) const { return webAddress + "tickets/" + ticketID; }
  std::string hostName() const;
  // The web address of the help-desk configuration; the help-centre and
  // password-help pages from the user defaults "supportDeskHelpCenterAddress"
  // and "supportDeskPasswordHelpAddress".
  static SupportDeskPages fromSettings(const platform::UserDefaults& defaults, const ZendeskConfiguration& configuration);
};

}  // namespace support::window
