#pragma once
// The Contact Support window's collaborators, scripted: the help desk and the
// cloud upload record what they are asked as text lines and answer only when
// the test says so; the view records what it is told to draw.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/window/ContactSupportView.h"
#include "support/window/ContactSupportWindowController.h"
#include "support/window/SupportCollaborators.h"

namespace testing_support {

class ScriptedHelpDesk : public support::window::SupportHelpDesk {
 public:
  void checkConnection(ReachabilityAnswer answer) override {
    calls.push_back("checkConnection");
    if (reachable) answer(*reachable);
    else pendingProbe = std::move(answer);
  }
  int zendeskUserState() const override { return userState; }
  std::string userName() const override { return name; }
  bool hasTicketFieldsInfo(const std::string& fieldID) const override {
    for (const std::string& id : fieldsKnown)
      if (id == fieldID) return true;
    return false;
  }
  std::vector<support::ZendeskTicketEntry>& relatedTickets() override { return tickets; }
  void getTicketFieldsInfoWithID(const std::string& id) override { calls.push_back("fields " + id); }
  void setZendeskFieldTagForDeviceModelName(const std::string& name) override { calls.push_back("model " + name); }
  void getUserInfoWithEmail(const std::string& email) override { calls.push_back("lookup " + email); }
  void verifyUserWithEmail(const std::string& email) override { calls.push_back("verify " + email); }
  void getTicketsWithCustomerEmail(const std::string& email) override { calls.push_back("tickets " + email); }
  void getTicketAllowLargeFileUpload(const std::string& id) override { calls.push_back("allowLarge " + id); }
  void createUserWithEmail(const std::string& email, const std::string& name) override {
    calls.push_back("createUser " + email + " " + name);
  }
  void uploadFilesAtPath(const std::filesystem::path& path) override {
    calls.push_back("attach " + path.filename().string());
  }
  void createZendeskTicket(const support::ZendeskNewTicket& ticket) override {
    created.push_back(ticket);
    calls.push_back("create " + ticket.title);
  }
  void updateZendeskTicket(const std::optional<std::string>& token, const std::string& id, const std::string& comment,
                           const std::string& email, bool internal) override {
    comments.push_back(comment);
    calls.push_back(std::string(internal ? "note " : "update ") + id + " " + email + " token=" + token.value_or("-"));
  }
  void setIsSupportFolderTooLarge(bool tooLarge) override { tooLargeTold = tooLarge; }

  std::optional<Reachability> reachable = Reachability::Reachable;
  ReachabilityAnswer pendingProbe;
  int userState = 0;
  std::string name;
  std::vector<std::string> fieldsKnown;
  std::vector<support::ZendeskTicketEntry> tickets;
  std::vector<std::string> calls;
  std::vector<support::ZendeskNewTicket> created;
  std::vector<std::string> comments;
  std::optional<bool> tooLargeTold;
};

class ScriptedCloudUpload : public support::window::SupportCloudUpload {
 public:
  void uploadFileToAmazon(const std::filesystem::path& file, const std::string& remotePath) override {
    files.push_back(file);
    calls.push_back("upload " + file.filename().string() + " " + remotePath);
  }
  void abortAmazonUpload() override { calls.push_back("abort"); }
  void resumeMultiPartUpload() override { calls.push_back("resume"); }
  std::vector<std::filesystem::path> files;
  std::vector<std::string> calls;
};

class RecordingSupportView : public support::window::ContactSupportView {
 public:
  void update(const support::window::ContactSupportViewState&) override { ++updates; }
  void showWindow() override { shown = true; }
  void closeWindow() override { closed = true; }
  void shake() override { ++shakes; }
  void chooseFiles(bool documentTypesOnly, FilesChosen chosen) override {
    documentTypesOnlyAsked = documentTypesOnly;
    chosen(filesToChoose);
  }
  void chooseFolder(FolderChosen chosen) override {
    if (answerFolderLater) pendingFolder = std::move(chosen);
    else chosen(folderToChoose);
  }
  void showAlert(const std::string& message, const std::string& informative) override {
    alerts.push_back(message + "|" + informative);
  }
  bool openURL(const std::string& address) override {
    opened.push_back(address);
    return true;
  }
  int updates = 0;
  bool shown = false;
  bool closed = false;
  int shakes = 0;
  std::optional<bool> documentTypesOnlyAsked;
  std::vector<std::filesystem::path> filesToChoose;
  std::optional<std::filesystem::path> folderToChoose;
  bool answerFolderLater = false;
  FolderChosen pendingFolder;
  std::vector<std::string> alerts;
  std::vector<std::string> opened;
};

class FakeApplication : public support::window::ContactSupportWindowController_Delegate {
 public:
  bool showInvolvedDocumentsView() const override { return involvedDocuments; }
  platform::Dictionary applicationInformationForSupport() const override { return info; }
  std::vector<std::filesystem::path> supportFilePathsWithDate(std::chrono::system_clock::time_point) const override {
    return supportFiles;
  }
  bool involvedDocuments = true;
  platform::Dictionary info{{"bundleName", "Vantelio Vovi"}, {"bundleVersion", "7.1"}, {"fourChar", "Zarq"},
                            {"macOSVersionString", "12"}, {"contactSupportVersion", "3"}};
  std::vector<std::filesystem::path> supportFiles;
};

}  // namespace testing_support
