#pragma once
// The window's collaborators as the application makes them: the help-desk
// client and the cloud upload controller behind the window's interfaces.
#include <memory>

#include "platform/network/URLSession.h"
#include "support/AmazonUploaderController.h"
#include "support/SupportConfiguration.h"
#include "support/ZendeskController.h"
#include "support/window/SupportCollaborators.h"

namespace support::window {

class ZendeskHelpDesk final : public SupportHelpDesk {
 public:
  // delegate: not owned (the window). homePage: the address the probe reads.
  ZendeskHelpDesk(ZendeskControllerDelegate_Protocol& delegate, ZendeskConfiguration configuration,
                  std::string homePage);
  ~ZendeskHelpDesk() override;

  void checkConnection(ReachabilityAnswer answer) override;
  int zendeskUserState() const override { return client_.zendeskUserState(); }
  std::string userName() const override { return client_.userName(); }
  bool hasTicketFieldsInfo(const std::string& fieldID) const override {
    return client_.ticketFieldsInfoDict().contains(fieldID);
  }
  std::vector<ZendeskTicketEntry>& relatedTickets() override { return client_.relatedTickets(); }
  void getTicketFieldsInfoWithID(const std::string& fieldID) override { client_.getTicketFieldsInfoWithID(fieldID); }
  void setZendeskFieldTagForDeviceModelName(const std::string& name) override {
    client_.setZendeskFieldTagForDeviceModelName(name);
  }
  void getUserInfoWithEmail(const std::string& email) override { client_.getUserInfoWithEmail(email); }
  void verifyUserWithEmail(const std::string& email) override { client_.verifyUserWithEmail(email); }
  void getTicketsWithCustomerEmail(const std::string& email) override { client_.getTicketsWithCustomerEmail(email); }
  void getTicketAllowLargeFileUpload(const std::string& id) override { client_.getTicketAllowLargeFileUpload(id); }
  void createUserWithEmail(const std::string& email, const std::string& name) override {
    client_.createUserWithEmail(email, name);
  }
  void uploadFilesAtPath(const std::filesystem::path& path) override { client_.uploadFilesAtPath(path); }
  void createZendeskTicket(const ZendeskNewTicket& ticket) override { client_.createZendeskTicket(ticket); }
  void updateZendeskTicket(const std::optional<std::string>& uploadToken, const std::string& ticketID,
                           const std::string& comment, const std::string& email, bool isInternalNote) override {
    client_.updateZendeskTicketWithUploadToken(uploadToken, ticketID, comment, email, isInternalNote);
  }
  // Every system this runs on collects the journal, so the help desk always
  // hears that the bundle may be too large to attach.
  void setIsSupportFolderTooLarge(bool) override { client_.isSupportFolderTooLarge = true; }

 private:
  ZendeskController client_;
  ZendeskConfiguration configuration_;
  std::string homePage_;
  std::unique_ptr<platform::URLSession> session_;
  std::shared_ptr<int> lifetime_ = std::make_shared<int>();
};

class AmazonCloudUpload final : public SupportCloudUpload {
 public:
  AmazonCloudUpload(AmazonUploaderControllerDelegateProtocol& delegate, CloudStorageConfiguration configuration)
      : controller_(&delegate, std::move(configuration)) {}
  void uploadFileToAmazon(const std::filesystem::path& file, const std::string& remotePath) override {
    controller_.uploadFileToAmazon(file, remotePath);
  }
  void abortAmazonUpload() override { controller_.abortAmazonUpload(); }
  void resumeMultiPartUpload() override { controller_.resumeMultiPartUpload(); }

 private:
  AmazonUploaderController controller_;
};

}  // namespace support::window
