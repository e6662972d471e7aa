#pragma once
// The Contact Support wizard's decisions: which page shows, what the buttons
// do, the form and e-mail checks, the support bundle, the uploads and the
// ticket submission. It keeps what the window shows in a ContactSupportViewState
// and asks its view to draw it; the view forwards the customer's actions here.
// The help desk, the cloud upload and the collector answer through the
// delegate operations below. Main thread only.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/Value.h"
#include "support/AmazonUploaderProtocol.h"
#include "support/CommandRunner.h"
#include "support/Profiler.h"
#include "support/ProfilerDelegate_Protocol.h"
#include "support/SupportSources.h"
#include "support/ZendeskController.h"
#include "support/window/ContactSupportView.h"
#include "support/window/ContactSupportViewState.h"
#include "support/window/SupportCollaborators.h"

namespace support::window {

// What the window asks the application object.
class ContactSupportWindowController_Delegate {
 public:
  virtual ~ContactSupportWindowController_Delegate() = default;
  virtual bool showInvolvedDocumentsView() const = 0;
  virtual platform::Dictionary applicationInformationForSupport() const = 0;
  virtual std::vector<std::filesystem::path> supportFilePathsWithDate(std::chrono::system_clock::time_point date) const = 0;
};

struct ContactSupportServices {
  std::function<std::unique_ptr<SupportHelpDesk>(ZendeskControllerDelegate_Protocol&)> makeHelpDesk;
  std::function<std::unique_ptr<SupportCloudUpload>(AmazonUploaderControllerDelegateProtocol&)> makeCloudUpload;
  std::shared_ptr<CommandRunner> commandRunner;  // the collector's commands
  SupportSources sources;
  SupportDeskPages pages;
  std::string computerName;         // the host's name
  std::filesystem::path desktopFolder;  // where a ticket's bundle is made
};

class ContactSupportWindowController final : public ZendeskControllerDelegate_Protocol,
                                             public ProfilerDelegate_Protocol,
                                             public AmazonUploaderControllerDelegateProtocol {
 public:
  // delegate: not owned; the application object outlives its window.
  ContactSupportWindowController(platform::Dictionary applicationInfo, ContactSupportWindowController_Delegate* delegate,
                                 ContactSupportServices services);
  ~ContactSupportWindowController() override;
  ContactSupportWindowController(const ContactSupportWindowController&) = delete;
  ContactSupportWindowController& operator=(const ContactSupportWindowController&) = delete;

  // view: not owned; set before showWindow, cleared before it goes away.
  void setView(ContactSupportView* view);
  const ContactSupportViewState& state() const { return state_; }
  Profiler& profiler() { return *profiler_; }
  int zendeskCurrentAction() const { return zendeskCurrentAction_; }
  const std::string& folderNameWithUserInfo() const { return folderNameWithUserInfo_; }
  const std::optional<std::filesystem::path>& zippedSupportFolderPath() const { return zippedSupportFolderPath_; }

  // Opening (the window is made once; this shows it again).
  void windowDidLoad();
  void showWindow();
  void collectingLogsContinueClick();
  void collectingLogsCancelClick();
  void refreshConnection();

  // Buttons.
  void continuePushed();  // the continue button, whatever its role
  void nextButtonPushed();
  void previousButtonPushed();
  void done();
  void contactTypeChose(int row);
  void submitNewTicket();
  void updateTicketFromRelatedTickets();
  void collectAndSave();
  void showFilesAttachedExplanationWindow();
  void closeFilesAttachedExplanationWindow();
  void viewTicketOnline();
  void addFile();
  void removeFiles(const std::vector<std::size_t>& rows);
  void cancelAmazonUpload();
  void resumeMultiPartUpload();
  void cancelUploadPushed();

  // Fields.
  void emailChanged(const std::string& text);
  void emailEditingEnded();
  void nameChanged(const std::string& text);
  void companyChanged(const std::string& text);
  void endUserCompanyChanged(const std::string& text);
  void titleChanged(const std::string& text);
  void problemDescriptionChanged(const std::string& text);
  void replyChanged(const std::string& text);
  void textEditingEnded();
  void requesterTypeChose(int item);
  void occurredChose(int item);
  void occurredDateChose(std::chrono::system_clock::time_point date);
  void updateOccurredChose(int item);
  void updateOccurredDateChose(std::chrono::system_clock::time_point date);
  void alreadySearchedChanged(bool on);
  void agreeChanged(bool on);
  void attachLogsChanged(bool on);
  void updateAttachLogsChanged(bool on);
  void ticketSelected(std::optional<std::size_t> row);
  void fileSelectionChanged(bool anySelected);

  // Help-desk answers.
  bool respondsTo(std::string_view) const override { return true; }
  void ticketFieldsInfoRetrievedWithFieldUniqueID(const std::string& fieldID) override;
  void ticketListingRetrieved() override;
  void showUpdateTicketPanel(bool allowLargeFiles) override;
  void setUserID(const std::string& userID) override;
  void userInfoRetrieved() override;
  void userInfoRetrievedFailed() override;
  void newUserCreated() override;
  void userHasBeenVerified() override;
  void filesUploadedWithToken(const std::optional<std::string>& token) override;
  void zendeskTicketSentSuccessFullyWithTicketUniqueID(std::int64_t ticketID) override;
  void creationTicketFailedErrorDescription(const std::string& text) override;
  void zendeskTicketUpdatedSuccessFullyWithTicketUniqueID(const std::string& ticketID) override;
  void updateTicketFailedErrorDescription(const std::string& text) override;
  void zendeskRequestFailedErrorDescription(const std::string& text) override;
  platform::Dictionary applicationInfo() override { return applicationInfo_; }
  void zendeskConnectionDidFail();

  // Collector answers.
  void systemProfileRetrieved() override;
  void supportFolderZipped() override;
  void deviceModelNameRetrieved() override;
  void logsCollected() override;
  void retrieveLogsFailed() override;
  void largeFolderZipped() override;

  // Cloud upload answers.
  void amazonFileUploadedSuccessfully(const std::string& downloadAddress, const std::filesystem::path& file,
                                      const std::string& bucketName) override;
  void amazonFileUploadError(const std::string& text) override;
  void amazonSegmentFileUploadError(const std::string& text) override;
  void uploadDataReceived(std::int64_t bytes, std::int64_t written, std::int64_t expected) override;
  void cancelMultipartUploadSuccessfully() override;
  void cancelUpload() override;

 private:
  // Pages (ContactSupportPages.cpp).
  void redraw();
  void hideAllViewInContentView();
  void showPage(Page page);
  void setContinueRole(ContinueRole role);
  void showContactView();
  void showSubmitView();
  void showCollectLogsView();
  void showTicketsView();
  void showUpdateView();
  void showThankYouView();
  void updateProfilerViewInterface();
  void checkConnectionToZendesk();
  void updateContactViewAccordingToConnection();
  void gotoContactViewAndChooseCollectLogs();
  bool checkEmailAddress();
  bool checkProfilerMissingInfos();
  bool checkUpdateTickerMissingInfo();
  void resetLabelColours();
  void setInformationString(const std::string& text, Colour colour, bool hideIndicator);
  void shake();
  void beginSheet(Sheet sheet);
  void endSheet();
  void showConfirmation(std::string title, LinkedText text);
  void showListingTicketsAfterDelay();
  void showSubmitViewAfterDelay();
  std::optional<std::size_t> selectedTicket() const;
  void reloadTickets();
  void delayed(std::chrono::milliseconds delay, std::function<void()> step);

  // Bundle (ContactSupportBundle.cpp).
  void setLogsCollectionLocationPath();
  std::string getFolderNameBasedOnUserInfo();
  void createSupportFolderAtPath(const std::filesystem::path& location);
  void zipFolderAtPath(const std::filesystem::path& zipPath, bool largeFileUploadFolder);
  void saveApplicationInfosToFileAtPath(const std::filesystem::path& folder);
  void saveCustomerInfosToFileAtPath(const std::filesystem::path& folder);
  void saveXmlSystemProfilerFileAtPath(const std::filesystem::path& folder);
  void bundleFailed(const std::string& reason);
  void removeFileAtPath(const std::filesystem::path& path);

  // Submission (ContactSupportSubmission.cpp).
  void retrieveXMLProfile();
  void submitTheTicketToZendesk();
  void createTicket(const std::optional<std::string>& uploadToken, const std::string& description, bool clearCompany);
  void startUpload();
  void sendTicketToZendesk(const std::optional<std::string>& errorText);
  std::string getTicketDescription(const std::string& description, const std::optional<std::string>& errorText);
  void sendPrivateNoteToZendesk(const std::string& ticketID);
  void showUpdateConfirmationMessage();
  void showError(const std::string& text);

  // Upload (ContactSupportUpload.cpp).
  void uploadLogs();
  bool prepareLargeFiles();
  bool isUploadingLargeFilesZipped();
  void uploadFileToAmazon();
  void logAmazonUploadInformation();
  void showUploadingFilesWindow();
  void hideUploadingFilePopup();
  bool isUploadSheetVisible() const;
  void filesUploadedSuccessuflly();
  double secondsNow() const;

  ContactSupportViewState state_;
  ContactSupportView* view_ = nullptr;
  platform::Dictionary applicationInfo_;
  ContactSupportWindowController_Delegate* delegate_;
  ContactSupportServices services_;
  std::unique_ptr<Profiler> profiler_;
  std::unique_ptr<SupportHelpDesk> helpDesk_;
  std::unique_ptr<SupportCloudUpload> cloudUpload_;

  bool triedToSend_ = false;
  bool connectedToZendesk_ = false;
  bool systemProfileRetrieved_ = false;
  bool xmlSystemProfileRunningRetrieving_ = false;
  bool logsCollected_ = false;
  std::optional<std::filesystem::path> zippedSupportFolderPath_;
  int zendeskCurrentAction_ = 2;
  int amazonUploadStatus_ = 0;
  int amazonUploadContent_ = 0;
  bool isSupportFolderTooLarge_ = false;
  bool needToCreateNewUser_ = false;
  bool newUserCreated_ = false;
  std::optional<std::string> userID_;
  std::filesystem::path logsCollectionLocationPath_;
  std::string folderNameWithUserInfo_;
  std::string currentUpdateTicketId_;

  // Uploads.
  std::optional<double> previousUploadInfoRetrievedDate_;
  double timeIntervalInSeconds_ = 0;
  std::int64_t totalKiloBytesWritten_ = 0;
  bool isUsingZendeskUpload_ = false;
  double amazonUploadMaxSpeed_ = 0;
  double amazonUploadMinSpeed_ = 0;
  double amazonUploadFilesSize_ = 0;
  double amazonUploadLogsSize_ = 0;
  double amazonUploadMegaBytesAlreadyWritten_ = 0;
  double amazonUploadFilesAlreadyUploadedSize_ = 0;
  double amazonUploadFileStartAbsoluteTime_ = 0;
  bool canUploadFilesToAmazon_ = false;
  std::filesystem::path logsFilePath_;
  std::optional<std::string> logsFileDownloadLinkPath_;
  std::filesystem::path currentFileZipped_;
  std::int64_t filesIndex_ = 0;
  std::int64_t filesToZipIndex_ = 0;
  std::string currentBucketName_;
  std::vector<std::filesystem::path> largeFilesIncluded_;
  std::vector<std::filesystem::path> largeFilesToZip_;
  std::vector<std::pair<std::filesystem::path, std::string>> largeFilesAlreadyUploaded_;  // in upload order
  std::optional<std::string> pendingUploadError_;  // a skipped file's error, carried into the ticket

  std::vector<platform::TaskHandle> pendingSteps_;  // the 1.5 s delays; cancelled on destruction
};

}  // namespace support::window
