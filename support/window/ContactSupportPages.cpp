// The wizard's pages, its buttons and the form checks.
#include <algorithm>

#include "platform/Diagnostics.h"
#include "support/window/ContactSupportWindowController.h"
#include "support/window/SupportWindowTexts.h"

namespace support::window {
namespace {

constexpr std::chrono::seconds kOccurredLookBack{2'678'400};  // 31 days
constexpr std::chrono::seconds kUpdatePickerAhead{3'600};
constexpr std::chrono::milliseconds kPageDelay{1500};
const char* const kFieldIDs[] = {"246855", "254783", "263331"};
const char* const kRequesterTypes[] = {"Select...", "end-user", "reseller", "third-party"};
const char* const kMandatory = "Fields marked with an asterisk (*) are mandatory.";

std::chrono::system_clock::time_point wallNow() { return platform::Clock::current().wallNow(); }

}  // namespace

ContactSupportWindowController::ContactSupportWindowController(platform::Dictionary applicationInfo,
                                                               ContactSupportWindowController_Delegate* delegate,
                                                               ContactSupportServices services)
    : applicationInfo_(std::move(applicationInfo)), delegate_(delegate), services_(std::move(services)) {
  profiler_ = std::make_unique<Profiler>(this, services_.commandRunner, services_.sources);
  helpDesk_ = services_.makeHelpDesk(*this);
  cloudUpload_ = services_.makeCloudUpload(*this);
  // The interface's set-up: pages in place, contact page current.
  const auto now = wallNow();
  state_.occurred.minimumDate = now - kOccurredLookBack;
  state_.updateOccurred.minimumDate = now - kOccurredLookBack;
  state_.updateOccurred.pickerDate = now;
  state_.updateOccurred.maximumDate = now + kUpdatePickerAhead;
  state_.involvedFilesVisible = delegate_->showInvolvedDocumentsView();
  state_.helpCenterLink = services_.pages.helpCenterAddress;
  state_.page = Page::Contact;
}

ContactSupportWindowController::~ContactSupportWindowController() {
  for (platform::TaskHandle& step : pendingSteps_) step.cancel();
}

void ContactSupportWindowController::setView(ContactSupportView* view) {
  view_ = view;
  redraw();
}

void ContactSupportWindowController::redraw() {
  if (view_) view_->update(state_);
}

void ContactSupportWindowController::delayed(std::chrono::milliseconds delay, std::function<void()> step) {
  std::erase_if(pendingSteps_, [](const platform::TaskHandle& handle) { return !handle.isPending(); });
  pendingSteps_.push_back(platform::DispatchQueue::main().after(delay, std::move(step)));
}

void ContactSupportWindowController::windowDidLoad() {
  contactTypeChose(state_.contactType);
  helpDesk_->getTicketFieldsInfoWithID(kFieldIDs[0]);
}

void ContactSupportWindowController::showWindow() {
  hideAllViewInContentView();
  if (view_) view_->showWindow();
  showContactView();
  systemProfileRetrieved_ = false;
  logsCollected_ = false;
  checkConnectionToZendesk();
  beginSheet(Sheet::CollectingLogsWarning);
  showContactView();
}

void ContactSupportWindowController::collectingLogsContinueClick() {
  systemProfileRetrieved_ = false;
  logsCollected_ = false;
  state_.continueEnabled = true;
  checkConnectionToZendesk();
  endSheet();
}

void ContactSupportWindowController::collectingLogsCancelClick() {
  endSheet();
  done();
}

void ContactSupportWindowController::refreshConnection() { checkConnectionToZendesk(); }

void ContactSupportWindowController::done() {
  if (view_) view_->closeWindow();
}

void ContactSupportWindowController::hideAllViewInContentView() {
  state_.page = Page::None;
  redraw();
}

void ContactSupportWindowController::showPage(Page page) {
  state_.page = page;
  redraw();
}

void ContactSupportWindowController::setContinueRole(ContinueRole role) {
  state_.continueRole = role;
  if (role == ContinueRole::SubmitNewTicket) zendeskCurrentAction_ = 1;
  if (role == ContinueRole::Done) {
    state_.backEnabled = false;
    state_.continueEnabled = true;
    zendeskCurrentAction_ = 2;
  }
  redraw();
}

void ContactSupportWindowController::continuePushed() {
  switch (state_.continueRole) {
    case ContinueRole::Next: nextButtonPushed(); break;
    case ContinueRole::SubmitNewTicket: submitNewTicket(); break;
    case ContinueRole::UpdateTicket: updateTicketFromRelatedTickets(); break;
    case ContinueRole::CollectLogs: collectAndSave(); break;
    case ContinueRole::Done: done(); break;
  }
}

void ContactSupportWindowController::ticketFieldsInfoRetrievedWithFieldUniqueID(const std::string&) {
  for (const char* fieldID : kFieldIDs) {
    if (!helpDesk_->hasTicketFieldsInfo(fieldID)) {
      helpDesk_->getTicketFieldsInfoWithID(fieldID);
      return;
    }
  }
  profiler_->getDeviceModelName();
}

void ContactSupportWindowController::deviceModelNameRetrieved() {
  helpDesk_->setZendeskFieldTagForDeviceModelName(profiler_->deviceModelName.value_or("unknown_device"));
}

void ContactSupportWindowController::checkConnectionToZendesk() {
  state_.refreshButtonVisible = false;
  setInformationString("Trying to connect to zendesk\u2026", Colour::Normal, false);
  helpDesk_->checkConnection([this](SupportHelpDesk::Reachability reachability) {
    switch (reachability) {
      case SupportHelpDesk::Reachability::Reachable:
        connectedToZendesk_ = true;
        setInformationString("", Colour::Normal, true);
        updateContactViewAccordingToConnection();
        break;
      case SupportHelpDesk::Reachability::NotHttp: break;
      case SupportHelpDesk::Reachability::Unreachable:
        connectedToZendesk_ = false;
        zendeskConnectionDidFail();
        break;
    }
  });
}

void ContactSupportWindowController::updateContactViewAccordingToConnection() {
  if (!connectedToZendesk_) {
    state_.emailViewVisible = false;
    state_.ticketRowsEnabled = false;
    state_.contactType = 2;
  } else {
    state_.ticketRowsEnabled = true;
    state_.emailViewVisible = state_.contactType != 2;
  }
  redraw();
}

void ContactSupportWindowController::zendeskConnectionDidFail() { gotoContactViewAndChooseCollectLogs(); }

void ContactSupportWindowController::gotoContactViewAndChooseCollectLogs() {
  if (isUploadSheetVisible()) cancelUpload();
  hideAllViewInContentView();
  state_.page = Page::Contact;
  state_.backEnabled = false;
  state_.continueEnabled = true;
  state_.emailViewVisible = false;
  state_.ticketRowsEnabled = false;
  state_.contactType = 2;
  state_.refreshButtonVisible = true;
  setInformationString("We could not connect to the Corvane Support Desk.", Colour::Red, true);
}

void ContactSupportWindowController::userInfoRetrievedFailed() {
  if (view_)
    view_->showAlert("Connection failed !",
                     "This version of \"Contact Support\" can not connect to the Corvane Support Desk. Thus, you can "
                     "only use \"Collect Logs\" and create a ticket from a web browser:\n" +
                         services_.pages.webAddress +
                         "\n\nMake sure to update your Corvane application to the latest version if you want to be "
                         "able to Submit or Update a ticket online.");
  gotoContactViewAndChooseCollectLogs();
}

void ContactSupportWindowController::showContactView() {
  needToCreateNewUser_ = false;
  state_.navigationTitle = "Welcome";
  state_.emailStatus = {};
  if (state_.contactType != 2) checkEmailAddress();
  profiler_->occuredDate = {};
  state_.continueRole = ContinueRole::Next;
  state_.continueEnabled = state_.contactType >= 0;
  state_.backEnabled = false;
  showPage(Page::Contact);
}

void ContactSupportWindowController::contactTypeChose(int row) {
  if (row < 0 || row > 2 || (row < 2 && !state_.ticketRowsEnabled)) return;
  state_.contactType = row;
  if (row < 2) {
    state_.emailViewVisible = true;
    checkEmailAddress();
  } else {
    state_.missingInfoVisible = false;
    state_.labelColours[FormLabel::Email] = Colour::Normal;
    state_.emailViewVisible = false;
    state_.emailStatus.visible = false;
    state_.continueEnabled = true;
  }
  redraw();
}

void ContactSupportWindowController::nextButtonPushed() {
  if (state_.page == Page::None) return;
  state_.backEnabled = true;
  switch (state_.page) {
    case Page::Contact:
      if (state_.contactType == 2) {
        zendeskCurrentAction_ = 2;
        hideAllViewInContentView();
        showCollectLogsView();
        return;
      }
      if (checkEmailAddress()) {
        shake();
        return;
      }
      if (!profiler_->email().empty() && !state_.email.empty()) {
        state_.emailStatus.text.clear();
        if (needToCreateNewUser_) {
          hideAllViewInContentView();
          showSubmitView();
          return;
        }
        state_.backEnabled = false;
        setInformationString("Validating email address\u2026", Colour::Normal, false);
        helpDesk_->getUserInfoWithEmail(profiler_->email());
        state_.continueEnabled = false;
        redraw();
        return;
      }
      state_.labelColours[FormLabel::Email] = Colour::Red;
      state_.emailStatus = {"Invalid email address.", Colour::Red, true, false};
      redraw();
      shake();
      return;
    case Page::Tickets: showUpdateView(); return;
    case Page::Confirmation:
      hideAllViewInContentView();
      setContinueRole(ContinueRole::Done);
      return;
    default: redraw(); return;
  }
}

void ContactSupportWindowController::userInfoRetrieved() {
  setInformationString("", Colour::Normal, true);
  switch (helpDesk_->zendeskUserState()) {
    case 2:
      state_.emailStatus.visible = true;
      state_.emailStatus.verifiedImage = false;
      state_.emailStatus.colour = Colour::Red;
      if (state_.contactType == 1) {
        state_.emailStatus.text = "Email does not exist in our support desk.\nPlease verify it and try again.";
      } else if (state_.contactType == 0) {
        state_.emailStatus.text =
            "Email does not exist in our support desk.\nClick on continue to create a new account with\nemail "
            "address " + state_.email;
        needToCreateNewUser_ = true;
      } else {
        shake();
        return;
      }
      state_.continueEnabled = true;
      state_.backEnabled = false;
      redraw();
      shake();
      return;
    case 1:
      helpDesk_->verifyUserWithEmail(profiler_->email());
      state_.continueEnabled = true;
      redraw();
      return;
    default:
      state_.emailStatus = {"Email address is valid", Colour::Valid, true, true};
      if (state_.contactType == 1) {
        state_.noTicketsVisible = false;
        state_.ticketListVisible = true;
        redraw();
        delayed(kPageDelay, [this] { showListingTicketsAfterDelay(); });
      } else if (state_.contactType == 0) {
        redraw();
        delayed(kPageDelay, [this] { showSubmitViewAfterDelay(); });
      } else {
        redraw();
      }
  }
}

void ContactSupportWindowController::userHasBeenVerified() {
  if (state_.contactType != 1) return;
  showListingTicketsAfterDelay();
}

void ContactSupportWindowController::showListingTicketsAfterDelay() {
  state_.ticketIndicatorRunning = true;
  state_.continueEnabled = true;
  helpDesk_->getTicketsWithCustomerEmail(profiler_->email());
  hideAllViewInContentView();
  showTicketsView();
  state_.emailStatus.colour = Colour::Red;
  redraw();
}

void ContactSupportWindowController::showSubmitViewAfterDelay() {
  state_.backEnabled = true;
  state_.continueEnabled = true;
  hideAllViewInContentView();
  showSubmitView();
  state_.emailStatus.text.clear();
  state_.emailStatus.visible = false;
  redraw();
}

void ContactSupportWindowController::setUserID(const std::string& userID) { userID_ = userID; }

void ContactSupportWindowController::emailChanged(const std::string& text) {
  state_.email = text;
  needToCreateNewUser_ = false;
  if (!text.empty()) state_.labelColours[FormLabel::Email] = Colour::Normal;
  checkEmailAddress();
  redraw();
}

void ContactSupportWindowController::emailEditingEnded() { textEditingEnded(); }

bool ContactSupportWindowController::checkEmailAddress() {
  const EmailCheck check = window::checkEmailAddress(state_.email);
  state_.email = check.address;
  if (check.labelRed) state_.labelColours[FormLabel::Email] = Colour::Red;
  if (check.invalid) {
    state_.emailStatus = {"Invalid email address.", Colour::Red, true, false};
  } else {
    state_.emailStatus.visible = false;
    state_.emailStatus.text.clear();
    profiler_->setEmail(check.address);
  }
  redraw();
  return check.invalid;
}

void ContactSupportWindowController::showSubmitView() {
  state_.filesExplanationButtonVisible = true;
  if (!helpDesk_->userName().empty() && state_.name.empty()) {
    state_.name = helpDesk_->userName();
    profiler_->setYourName(state_.name);
  }
  state_.navigationTitle = "Description";
  resetLabelColours();
  state_.occurred.item = 0;
  state_.occurred.pickerVisible = false;
  updateProfilerViewInterface();
  setContinueRole(ContinueRole::SubmitNewTicket);
  showPage(Page::Description);
}

void ContactSupportWindowController::showCollectLogsView() {
  state_.filesExplanationButtonVisible = false;
  state_.occurred.item = 0;
  state_.occurred.pickerVisible = false;
  state_.labelColours[FormLabel::Occurred] = Colour::Normal;
  state_.navigationTitle = "Description";
  updateProfilerViewInterface();
  setContinueRole(ContinueRole::CollectLogs);
  showPage(Page::Description);
}

void ContactSupportWindowController::updateProfilerViewInterface() {
  const bool newTicket = state_.contactType == 0;
  state_.userInformationVisible = newTicket;
  state_.attachLogsVisible = newTicket;
  state_.involvedFilesVisible = delegate_->showInvolvedDocumentsView();
  state_.occurred.pickerDate = wallNow();
  state_.helpCenterLink = services_.pages.helpCenterAddress;
}

void ContactSupportWindowController::showTicketsView() {
  canUploadFilesToAmazon_ = false;
  state_.navigationTitle = "Select the Ticket you want to update";
  reloadTickets();
  state_.continueRole = ContinueRole::Next;
  state_.continueEnabled = false;
  showPage(Page::Tickets);
}

void ContactSupportWindowController::reloadTickets() {
  state_.tickets.clear();
  for (const ZendeskTicketEntry& entry : helpDesk_->relatedTickets()) {
    const std::string id = entry.ticketID ? std::to_string(*entry.ticketID) : std::string();
    state_.tickets.push_back({entry.subject.value_or(""), "#" + id + " - " + entry.zendeskApplicationTag, entry.selected});
  }
}

void ContactSupportWindowController::ticketListingRetrieved() {
  state_.ticketIndicatorRunning = false;
  state_.backEnabled = true;
  reloadTickets();
  if (state_.tickets.empty()) {
    state_.ticketListVisible = false;
    state_.noTicketsVisible = true;
    state_.noTicketsText = "No Tickets found for this email address:\n" + state_.email +
                           ".\n\nNote that this will work only if you have \na valid account on our support desk (" +
                           services_.pages.hostName() +
                           ") \nand that your email address has been verified \n(you should have received a "
                           "verification email).";
  } else {
    state_.ticketListVisible = true;
    state_.noTicketsVisible = false;
  }
  redraw();
}

std::optional<std::size_t> ContactSupportWindowController::selectedTicket() const {
  const auto& tickets = helpDesk_->relatedTickets();
  for (std::size_t row = 0; row < tickets.size(); ++row)
    if (tickets[row].selected) return row;
  return std::nullopt;
}

void ContactSupportWindowController::ticketSelected(std::optional<std::size_t> row) {
  auto& tickets = helpDesk_->relatedTickets();
  if (row && *row < tickets.size()) {
    for (ZendeskTicketEntry& entry : tickets) entry.selected = false;
    tickets[*row].selected = true;
  }
  state_.continueEnabled = selectedTicket().has_value();
  reloadTickets();
  redraw();
}

void ContactSupportWindowController::viewTicketOnline() {
  const auto row = selectedTicket();
  if (!row || !helpDesk_->relatedTickets()[*row].ticketID) return;
  const std::string address =
      services_.pages.ticketAddress(std::to_string(*helpDesk_->relatedTickets()[*row].ticketID));
  const bool opened = view_ && view_->openURL(address);
  platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                             opened ? "Contact Corvane Support: ZendeskTickets: Opened successfully."
                                    : "Contact Corvane Support: ZendeskTickets: Error: Failed to open URL.");
}

void ContactSupportWindowController::showUpdateView() {
  state_.ticketIndicatorRunning = true;
  const auto row = selectedTicket();
  if (!row) {
    redraw();
    return;
  }
  const ZendeskTicketEntry& entry = helpDesk_->relatedTickets()[*row];
  const std::string id = entry.ticketID ? std::to_string(*entry.ticketID) : std::string();
  state_.ticketTitle = "#" + id + " - " + entry.subject.value_or("");
  redraw();
  helpDesk_->getTicketAllowLargeFileUpload(id);
}

void ContactSupportWindowController::showUpdateTicketPanel(bool allowLargeFiles) {
  hideAllViewInContentView();
  profiler_->filesInvolved.clear();
  state_.involvedFiles.clear();
  state_.tooManyFilesNoteVisible = false;
  canUploadFilesToAmazon_ = allowLargeFiles;
  if (state_.contactType == 1) {
    state_.userInformationVisible = false;
    state_.involvedFilesVisible = delegate_->showInvolvedDocumentsView() || allowLargeFiles;
  }
  state_.updateOccurred.item = 0;
  state_.updateOccurred.pickerVisible = false;
  state_.navigationTitle = "Description";
  state_.labelColours[FormLabel::UpdateOccurred] = Colour::Normal;
  state_.labelColours[FormLabel::Reply] = Colour::Normal;
  setContinueRole(ContinueRole::UpdateTicket);
  state_.ticketIndicatorRunning = false;
  showPage(Page::Update);
}

void ContactSupportWindowController::showThankYouView() {
  state_.navigationTitle = "Confirmation";
  setContinueRole(ContinueRole::Done);
  showPage(Page::Confirmation);
}

void ContactSupportWindowController::showConfirmation(std::string title, LinkedText text) {
  state_.confirmationTitle = std::move(title);
  state_.confirmation = std::move(text);
  showThankYouView();
}

void ContactSupportWindowController::previousButtonPushed() {
  const Page current = state_.page;
  if (current == Page::Contact || current == Page::None) return;
  hideAllViewInContentView();
  switch (current) {
    case Page::Tickets:
    case Page::Description:
      checkConnectionToZendesk();
      showContactView();
      break;
    case Page::Confirmation:
      if (state_.contactType == 0) showSubmitView();
      else if (state_.contactType == 1) showUpdateView();
      else showCollectLogsView();
      break;
    case Page::Update:
      showTicketsView();
      state_.continueEnabled = selectedTicket().has_value();
      break;
    default: break;
  }
  state_.confirmationTitle = "Thank you!";
  redraw();
}

void ContactSupportWindowController::resetLabelColours() {
  for (FormLabel label : {FormLabel::Name, FormLabel::Company, FormLabel::Title, FormLabel::Description,
                          FormLabel::RequesterType, FormLabel::Occurred, FormLabel::EndUserCompany})
    state_.labelColours[label] = Colour::Normal;
}

bool ContactSupportWindowController::checkProfilerMissingInfos() {
  resetLabelColours();
  profiler_->setProblemDescription(state_.problemDescription);
  bool missing = false;
  const auto mark = [&](FormLabel label) {
    state_.labelColours[label] = Colour::Red;
    missing = true;
  };
  if (profiler_->occuredDate == Profiler::Date{} || state_.occurred.item == 0) mark(FormLabel::Occurred);
  if (state_.contactType == 0) {
    if (state_.endUserCompanyVisible && (profiler_->endUserCompany().empty() || state_.endUserCompany.empty()))
      mark(FormLabel::EndUserCompany);
    if (profiler_->requesterType().empty() || profiler_->requesterType() == kRequesterTypes[0] ||
        state_.requesterTypeItem == 0)
      mark(FormLabel::RequesterType);
    if (profiler_->yourName().empty() || state_.name.empty()) mark(FormLabel::Name);
    if (profiler_->yourCompany().empty() || state_.company.empty()) mark(FormLabel::Company);
    if (profiler_->title().empty() || state_.title.empty()) mark(FormLabel::Title);
    if (profiler_->problemDescription().empty() || state_.problemDescription.empty()) mark(FormLabel::Description);
  }
  state_.missingInfoVisible = missing;
  state_.missingInfoText = missing ? kMandatory : "";
  redraw();
  return missing;
}

bool ContactSupportWindowController::checkUpdateTickerMissingInfo() {
  state_.labelColours[FormLabel::UpdateOccurred] = Colour::Normal;
  state_.labelColours[FormLabel::Reply] = Colour::Normal;
  bool missing = false;
  if (profiler_->occuredDate == Profiler::Date{} || state_.updateOccurred.item == 0) {
    state_.labelColours[FormLabel::UpdateOccurred] = Colour::Red;
    missing = true;
  }
  if (state_.reply.empty()) {
    state_.labelColours[FormLabel::Reply] = Colour::Red;
    missing = true;
  }
  state_.missingInfoVisible = missing;
  state_.missingInfoText = missing ? kMandatory : "";
  redraw();
  return missing;
}

void ContactSupportWindowController::textEditingEnded() {
  if (triedToSend_) checkProfilerMissingInfos();
}

namespace {
Colour colourFor(const std::string& text, Colour current) { return text.empty() ? current : Colour::Normal; }
}  // namespace

void ContactSupportWindowController::nameChanged(const std::string& text) {
  state_.name = text;
  profiler_->setYourName(text);
  state_.labelColours[FormLabel::Name] = colourFor(text, state_.labelColours[FormLabel::Name]);
  redraw();
}

void ContactSupportWindowController::companyChanged(const std::string& text) {
  state_.company = text;
  profiler_->setYourCompany(text);
  state_.labelColours[FormLabel::Company] = colourFor(text, state_.labelColours[FormLabel::Company]);
  redraw();
}

void ContactSupportWindowController::endUserCompanyChanged(const std::string& text) {
  state_.endUserCompany = text;
  profiler_->setEndUserCompany(text);
  state_.labelColours[FormLabel::EndUserCompany] = colourFor(text, state_.labelColours[FormLabel::EndUserCompany]);
  redraw();
}

void ContactSupportWindowController::titleChanged(const std::string& text) {
  state_.title = text;
  profiler_->setTitle(text);
  state_.labelColours[FormLabel::Title] = colourFor(text, state_.labelColours[FormLabel::Title]);
  redraw();
}

void ContactSupportWindowController::problemDescriptionChanged(const std::string& text) {
  state_.problemDescription = text;
  state_.labelColours[FormLabel::Description] = text.empty() ? Colour::Red : Colour::Normal;
  redraw();
}

void ContactSupportWindowController::replyChanged(const std::string& text) {
  state_.reply = text;
  state_.labelColours[FormLabel::Reply] = text.empty() ? Colour::Red : Colour::Normal;
  redraw();
}

void ContactSupportWindowController::requesterTypeChose(int item) {
  if (item < 0 || item > 3) return;
  state_.requesterTypeItem = item;
  profiler_->setRequesterType(kRequesterTypes[item]);
  state_.endUserCompanyVisible = item >= 2;
  state_.labelColours[FormLabel::RequesterType] = item == 0 ? Colour::Red : Colour::Normal;
  redraw();
}

void ContactSupportWindowController::occurredChose(int item) {
  state_.occurred.item = item;
  if (item <= 1) {
    state_.occurred.pickerVisible = false;
    profiler_->occuredDate = {};
    if (item == 1) {
      profiler_->occuredDate = wallNow();
      state_.occurred.pickerDate = profiler_->occuredDate;
    }
  } else {
    state_.occurred.pickerVisible = true;
    profiler_->occuredDate = state_.occurred.pickerDate;
  }
  if (item > 0) state_.labelColours[FormLabel::Occurred] = Colour::Normal;
  redraw();
}

void ContactSupportWindowController::occurredDateChose(std::chrono::system_clock::time_point date) {
  state_.occurred.pickerDate = date;
  profiler_->occuredDate = date;
  redraw();
}

void ContactSupportWindowController::updateOccurredChose(int item) {
  state_.updateOccurred.item = item;
  if (item <= 1) {
    state_.updateOccurred.pickerVisible = false;
    profiler_->occuredDate = {};
    if (item == 1) {
      profiler_->occuredDate = wallNow();
      state_.updateOccurred.pickerDate = profiler_->occuredDate;
    }
  } else {
    state_.updateOccurred.pickerDate = wallNow();
    state_.updateOccurred.pickerVisible = true;
    profiler_->occuredDate = state_.updateOccurred.pickerDate;
  }
  if (item > 0) state_.labelColours[FormLabel::UpdateOccurred] = Colour::Normal;
  redraw();
}

void ContactSupportWindowController::updateOccurredDateChose(std::chrono::system_clock::time_point date) {
  state_.updateOccurred.pickerDate = date;
  profiler_->occuredDate = date;
  redraw();
}

void ContactSupportWindowController::alreadySearchedChanged(bool on) {
  state_.alreadySearched = on;
  profiler_->alreadySearchedInDB = on;
  redraw();
}

void ContactSupportWindowController::agreeChanged(bool on) {
  state_.agree = on;
  profiler_->agree = on;
  state_.sendEnabled = on && systemProfileRetrieved_;
  redraw();
}

void ContactSupportWindowController::attachLogsChanged(bool on) {
  state_.attachLogs = on;
  redraw();
}

void ContactSupportWindowController::updateAttachLogsChanged(bool on) {
  state_.updateAttachLogs = on;
  redraw();
}

void ContactSupportWindowController::showFilesAttachedExplanationWindow() { beginSheet(Sheet::FilesAttachedExplanation); }
void ContactSupportWindowController::closeFilesAttachedExplanationWindow() { endSheet(); }

void ContactSupportWindowController::addFile() {
  if (!view_) return;
  const bool documentTypesOnly = !(canUploadFilesToAmazon_ && zendeskCurrentAction_ == 0);
  view_->chooseFiles(documentTypesOnly, [this](std::vector<std::filesystem::path> chosen) {
    for (std::filesystem::path& path : chosen)
      if (std::find(profiler_->filesInvolved.begin(), profiler_->filesInvolved.end(), path) ==
          profiler_->filesInvolved.end())
        profiler_->filesInvolved.push_back(std::move(path));
    state_.involvedFiles = profiler_->filesInvolved;
    if (state_.involvedFiles.size() > kMaximumInvolvedFiles) {
      state_.tooManyFilesNoteVisible = true;
      state_.continueEnabled = false;
    }
    redraw();
  });
}

void ContactSupportWindowController::removeFiles(const std::vector<std::size_t>& rows) {
  std::vector<std::filesystem::path> kept;
  for (std::size_t row = 0; row < profiler_->filesInvolved.size(); ++row)
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) kept.push_back(profiler_->filesInvolved[row]);
  profiler_->filesInvolved = std::move(kept);
  state_.involvedFiles = profiler_->filesInvolved;
  if (state_.involvedFiles.size() <= kMaximumInvolvedFiles) {
    state_.tooManyFilesNoteVisible = false;
    state_.continueEnabled = true;
  }
  redraw();
}

void ContactSupportWindowController::fileSelectionChanged(bool anySelected) {
  state_.removeFileEnabled = anySelected;
  redraw();
}

void ContactSupportWindowController::setInformationString(const std::string& text, Colour colour, bool hideIndicator) {
  std::string shown = text;
  if (shown.empty() && xmlSystemProfileRunningRetrieving_) {
    shown = "Retrieving System Profile\u2026";
    colour = Colour::Normal;
    hideIndicator = false;
  }
  state_.information = {shown, colour, !hideIndicator, !shown.empty(), hideIndicator ? 133 : 152};
  redraw();
}

void ContactSupportWindowController::shake() {
  if (view_) view_->shake();
}

void ContactSupportWindowController::beginSheet(Sheet sheet) {
  state_.sheet = sheet;
  redraw();
}

void ContactSupportWindowController::endSheet() {
  state_.sheet = Sheet::None;
  redraw();
}

}  // namespace support::window
