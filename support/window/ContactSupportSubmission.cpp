// Submitting: a new ticket, an update of an open ticket, and their confirmations.
#include "support/window/ContactSupportWindowController.h"
#include "support/window/SupportWindowTexts.h"

namespace support::window {
namespace {
constexpr const char* kEndUser = "end-user";
}  // namespace

void ContactSupportWindowController::submitNewTicket() {
  if (checkProfilerMissingInfos()) {
    shake();
    return;
  }
  if (profiler_->requesterType() == kEndUser) profiler_->setEndUserCompany(profiler_->yourCompany());
  if (needToCreateNewUser_) {
    helpDesk_->createUserWithEmail(profiler_->email(), profiler_->yourName());
    return;
  }
  const bool attachLogs = state_.page == Page::Update ? state_.updateAttachLogs : state_.attachLogs;
  if (!attachLogs) submitTheTicketToZendesk();
  else if (systemProfileRetrieved_) setLogsCollectionLocationPath();
  else retrieveXMLProfile();
}

void ContactSupportWindowController::newUserCreated() {
  needToCreateNewUser_ = false;
  newUserCreated_ = true;
  submitNewTicket();
}

void ContactSupportWindowController::retrieveXMLProfile() {
  state_.updateAttachLogsEnabled = false;
  if (!systemProfileRetrieved_) {
    state_.continueEnabled = false;
    xmlSystemProfileRunningRetrieving_ = true;
    setInformationString("Retrieving System Profile. This may take a while...", Colour::Normal, false);
    profiler_->gatherXmlSystemProfileThread();
  }
  redraw();
}

void ContactSupportWindowController::systemProfileRetrieved() {
  state_.updateAttachLogsEnabled = true;
  systemProfileRetrieved_ = true;
  xmlSystemProfileRunningRetrieving_ = false;
  if (zendeskCurrentAction_ != 2) {
    setLogsCollectionLocationPath();
  } else if (logsCollected_ && zippedSupportFolderPath_) {
    endSheet();
    zipFolderAtPath(*zippedSupportFolderPath_, false);
  }
  setInformationString("", Colour::Normal, true);
}

void ContactSupportWindowController::createTicket(const std::optional<std::string>& uploadToken,
                                                  const std::string& description, bool clearCompany) {
  const bool endUser = profiler_->requesterType() == kEndUser;
  ZendeskNewTicket ticket;
  ticket.uploadToken = uploadToken;
  ticket.email = profiler_->email();
  ticket.title = profiler_->title();
  ticket.description = description;
  if (!(clearCompany && endUser)) ticket.company = profiler_->yourCompany();
  ticket.endUserCompany = profiler_->endUserCompany();
  ticket.requesterType = profiler_->requesterType();
  if (clearCompany && endUser) profiler_->setYourCompany("");
  helpDesk_->createZendeskTicket(ticket);
  profiler_->setYourCompany(state_.company);
}

void ContactSupportWindowController::submitTheTicketToZendesk() {
  amazonUploadFilesSize_ = 0;
  logsFileDownloadLinkPath_.reset();
  previousUploadInfoRetrievedDate_.reset();
  state_.continueEnabled = false;
  state_.backEnabled = false;
  state_.upload.progressValue = 0;
  redraw();
  if (state_.attachLogs && zippedSupportFolderPath_) {
    showUploadingFilesWindow();
    uploadLogs();
    return;
  }
  createTicket(std::nullopt, profiler_->problemDescription(), true);
}

void ContactSupportWindowController::updateTicketFromRelatedTickets() {
  if (checkUpdateTickerMissingInfo()) {
    shake();
    return;
  }
  state_.continueEnabled = false;
  state_.backEnabled = false;
  amazonUploadFilesSize_ = 0;
  state_.upload.progressValue = 0;
  logsFileDownloadLinkPath_.reset();
  previousUploadInfoRetrievedDate_.reset();
  pendingUploadError_.reset();
  redraw();
  if (canUploadFilesToAmazon_ && !profiler_->filesInvolved.empty() && prepareLargeFiles()) return;
  startUpload();
}

void ContactSupportWindowController::startUpload() {
  folderNameWithUserInfo_ = getFolderNameBasedOnUserInfo();
  zendeskCurrentAction_ = 4;
  if (state_.updateAttachLogs) {
    zendeskCurrentAction_ = 0;
    if (systemProfileRetrieved_) setLogsCollectionLocationPath();
    else retrieveXMLProfile();
    return;
  }
  if (canUploadFilesToAmazon_ && !profiler_->filesInvolved.empty()) {
    if (amazonUploadFilesSize_ > static_cast<double>(kInvolvedFilesLimitBytes)) {
      state_.upload.content = LargeUploadContent::SizeWarning;
      isUsingZendeskUpload_ = false;
      showUploadingFilesWindow();
      return;
    }
    zendeskCurrentAction_ = 0;
    filesIndex_ = 0;
    amazonUploadMegaBytesAlreadyWritten_ = 0;
    amazonUploadFilesAlreadyUploadedSize_ = 0;
    sendTicketToZendesk(std::nullopt);
    return;
  }
  const auto row = selectedTicket();
  if (!row) return;
  const auto& entry = helpDesk_->relatedTickets()[*row];
  helpDesk_->updateZendeskTicket(std::nullopt, entry.ticketID ? std::to_string(*entry.ticketID) : std::string(),
                                 state_.reply, profiler_->email(), false);
}

std::string ContactSupportWindowController::getTicketDescription(const std::string& description,
                                                                 const std::optional<std::string>& errorText) {
  const TicketDescription text = ticketDescription(description, logsFileDownloadLinkPath_, errorText);
  amazonUploadStatus_ = text.uploadFailed ? 1 : 0;
  return text.text;
}

void ContactSupportWindowController::sendTicketToZendesk(const std::optional<std::string>& errorText) {
  if (zendeskCurrentAction_ == 1) {
    createTicket(std::nullopt, getTicketDescription(profiler_->problemDescription(), errorText), false);
  } else if (zendeskCurrentAction_ == 0) {
    const auto row = selectedTicket();
    if (!row) return;
    const auto& entry = helpDesk_->relatedTickets()[*row];
    helpDesk_->updateZendeskTicket(std::nullopt, entry.ticketID ? std::to_string(*entry.ticketID) : std::string(),
                                   getTicketDescription(state_.reply, errorText), profiler_->email(), false);
    profiler_->setYourCompany(state_.company);
  }
}

void ContactSupportWindowController::filesUploadedWithToken(const std::optional<std::string>& token) {
  if (zendeskCurrentAction_ == 0) {
    const auto row = selectedTicket();
    if (!row) return;
    const auto& entry = helpDesk_->relatedTickets()[*row];
    helpDesk_->updateZendeskTicket(token, entry.ticketID ? std::to_string(*entry.ticketID) : std::string(),
                                   state_.reply, profiler_->email(), false);
  } else if (zendeskCurrentAction_ == 1) {
    createTicket(token, profiler_->problemDescription(), true);
  }
}

void ContactSupportWindowController::zendeskTicketUpdatedSuccessFullyWithTicketUniqueID(const std::string& ticketID) {
  currentUpdateTicketId_ = ticketID;
  if (canUploadFilesToAmazon_ && !profiler_->filesInvolved.empty() && !largeFilesIncluded_.empty() &&
      filesIndex_ < static_cast<std::int64_t>(largeFilesIncluded_.size())) {
    state_.upload.progressText = "Estimating time...";
    state_.upload.message = "Uploading Files...";
    isUsingZendeskUpload_ = false;
    showUploadingFilesWindow();
    uploadFileToAmazon();
    return;
  }
  showUpdateConfirmationMessage();
}

void ContactSupportWindowController::sendPrivateNoteToZendesk(const std::string& ticketID) {
  if (!canUploadFilesToAmazon_ || profiler_->filesInvolved.empty()) return;
  std::string note = "The user has uploaded following files:";
  for (const auto& [path, address] : largeFilesAlreadyUploaded_)
    note += "<a href='" + address + "'>" + path.filename().string() + "</a>";
  if (pendingUploadError_) note += "<br>The upload of the file(s) threw an error : " + *pendingUploadError_;
  helpDesk_->updateZendeskTicket(std::nullopt, ticketID, note, services_.pages.agentAddress, true);
}

void ContactSupportWindowController::zendeskTicketSentSuccessFullyWithTicketUniqueID(std::int64_t ticketID) {
  hideUploadingFilePopup();
  state_.continueEnabled = true;
  state_.backEnabled = true;
  const std::string id = std::to_string(ticketID);
  const std::string ticketAddress = services_.pages.ticketAddress(id);
  if (amazonUploadStatus_ == 1) {
    const std::string bundle = withoutZipExtension(zippedSupportFolderPath_.value_or("").string());
    showConfirmation("You're almost done!",
                     {"Your support ticket has been updated but some files could not be uploaded.\nWe have collected "
                      "and compressed all of them in one file that you can find here:\n" +
                          bundle +
                          "\n\nTo complete the process, upload this file to an FTP server or a file sharing service "
                          "and send us the link through the support desk:\n" +
                          ticketAddress,
                      {bundle, ticketAddress}});
    return;
  }
  if (newUserCreated_) {
    const std::string& password = services_.pages.passwordHelpAddress;
    showConfirmation("Thank you!",
                     {"We have now created a new Account and a new Ticket in our support desk\nusing the email address "
                      "that you provided " +
                          profiler_->email() + ".\n\nClick on the link below to set a password for your new account.\n" +
                          password +
                          "\n\nOnce set, you will be able to review the status of your request and\nadd additional "
                          "comments to your ticket " +
                          id + "\n\nHere is the url to your ticket if needed (login required):\n" + ticketAddress +
                          "\n\nWe have also sent you an email with the confirmation ticket.\nYou can simply reply to "
                          "that email to update your ticket.\n\nWe will get back to you shortly!",
                      {ticketAddress, password}});
    newUserCreated_ = false;
    return;
  }
  showConfirmation("Thank you!",
                   {"A new support ticket (#" + id +
                        ") has now been created.\nYou can review the status of your ticket and add additional "
                        "comments\n by following this link:\n" +
                        ticketAddress + "\n\nA confirmation email has been sent to this address: " +
                        profiler_->email() + ".\n\nWe will get back to you shortly!",
                    {ticketAddress}});
}

void ContactSupportWindowController::showUpdateConfirmationMessage() {
  if (zendeskCurrentAction_ != 2) {
    hideUploadingFilePopup();
    state_.continueEnabled = true;
    state_.backEnabled = true;
  }
  const auto row = selectedTicket();
  if (!row) {
    redraw();
    return;
  }
  const std::string ticketAddress = services_.pages.ticketAddress(currentUpdateTicketId_);
  if (amazonUploadStatus_ == 1) {
    LinkedText text{"Your support ticket has been updated but some files could not be uploaded.\n", {}};
    if (zippedSupportFolderPath_) {
      const std::string bundle = withoutZipExtension(zippedSupportFolderPath_->string());
      text.text += "We have collected and compressed all of them in one file that you can find here:\n" + bundle + "\n";
      text.links.push_back(bundle);
    }
    text.text += "\nTo complete the process, upload this file to an FTP server or a file sharing service and send us "
                 "the link through the support desk:\n" +
                 ticketAddress;
    text.links.push_back(ticketAddress);
    showConfirmation("You're almost done!", std::move(text));
    return;
  }
  const std::string subject = helpDesk_->relatedTickets()[*row].subject.value_or("");
  showConfirmation("Thank you!",
                   {"Your ticket (#" + currentUpdateTicketId_ + " - " + subject +
                        ") has been updated.\n\nTo review the status of the ticket and add additional comments, follow "
                        "the link below:\n" +
                        ticketAddress + "\n\nAn email has been sent to this address: " + profiler_->email() +
                        ".\n\nWe will get back to you shortly!",
                    {ticketAddress}});
}

void ContactSupportWindowController::showError(const std::string& text) {
  if (isUploadSheetVisible()) cancelUpload();
  showConfirmation("Error!", {text, {services_.pages.webAddress}});
  state_.continueEnabled = true;
  state_.backEnabled = true;
  redraw();
}

void ContactSupportWindowController::creationTicketFailedErrorDescription(const std::string& text) { showError(text); }
void ContactSupportWindowController::updateTicketFailedErrorDescription(const std::string& text) { showError(text); }

void ContactSupportWindowController::zendeskRequestFailedErrorDescription(const std::string& text) {
  state_.ticketIndicatorRunning = false;
  showError(text);
}

}  // namespace support::window
