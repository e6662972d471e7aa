#pragma once
// Everything the Contact Support window shows, as plain values. The window
// controller changes it and asks its view to draw it again; the view holds no
// state of its own beyond what the customer is typing.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace support::window {

enum class Page { None, Contact, Description, Tickets, Update, Confirmation };
enum class Sheet { None, CollectingLogsWarning, FilesAttachedExplanation, Upload, LargeUpload, Activity };
enum class LargeUploadContent { Progress, Error, SizeWarning };
enum class Colour { Normal, Red, Valid };

// The continue button's roles: title, width and what pressing it does.
enum class ContinueRole { Next, SubmitNewTicket, UpdateTicket, CollectLogs, Done };

// The form labels that turn red when their field is missing.
enum class FormLabel { Name, Company, Title, Description, RequesterType, Occurred, EndUserCompany, UpdateOccurred, Reply, Email };

struct StatusLine {
  std::string text;
  Colour colour = Colour::Normal;
  bool visible = false;  // alpha 1 when true, 0 when false
  bool verifiedImage = false;
};

struct InformationLine {
  std::string text;
  Colour colour = Colour::Normal;
  bool indicator = false;
  bool visible = false;
  int x = 133;  // 152 when the indicator shows
};

// The occurred pop-up with its date picker; item 0 is "Select…".
struct OccurredControl {
  int item = 0;
  bool pickerVisible = false;
  std::chrono::system_clock::time_point pickerDate{};
  std::chrono::system_clock::time_point minimumDate{};
  std::chrono::system_clock::time_point maximumDate{};  // the update page's only
};

struct UploadSheet {
  std::string message;       // "Uploading Logs...", "Uploading Files..."
  std::string progressText;  // "Estimating time...", then the progress line
  double progressMaximum = 0;
  double progressValue = 0;
  LargeUploadContent content = LargeUploadContent::Progress;
  std::string errorStatus;
  std::string errorText;
  std::string errorButtonTitle = "Resume";
  bool errorButtonEnabled = true;
  double errorIndicatorMaximum = 0;
  double errorIndicatorValue = 0;
};

struct TicketRow {
  std::string subject;
  std::string subtitle;  // "#<id> - <application tag>"
  bool selected = false;
};

// A text with the parts of it that are links (each link's target is its text).
struct LinkedText {
  std::string text;
  std::vector<std::string> links;
};

struct ContactSupportViewState {
  Page page = Page::None;
  std::string navigationTitle;
  Sheet sheet = Sheet::None;

  // Contact page.
  int contactType = 0;  // selected row of the contact-type matrix: 0 new, 1 update, 2 collect logs
  bool ticketRowsEnabled = true;  // rows 0 and 1
  bool emailViewVisible = true;
  std::string email;
  StatusLine emailStatus;
  bool refreshButtonVisible = false;
  InformationLine information;

  // Buttons.
  ContinueRole continueRole = ContinueRole::Next;
  bool continueEnabled = false;
  bool backEnabled = false;

  std::map<FormLabel, Colour> labelColours;
  bool missingInfoVisible = false;
  std::string missingInfoText;

  // Description page.
  std::string name, company, endUserCompany, title, problemDescription;
  int requesterTypeItem = 0;  // 0 "Select...", 1 end-user, 2 reseller, 3 third-party
  bool endUserCompanyVisible = false;
  OccurredControl occurred;
  bool alreadySearched = false;
  bool agree = false;
  bool sendEnabled = false;
  bool attachLogs = true;
  bool userInformationVisible = true;
  bool attachLogsVisible = true;
  bool filesExplanationButtonVisible = false;
  std::string helpCenterLink;  // the knowledge-base label's "Help Center" link target

  // Involved files (on the description or the update page).
  bool involvedFilesVisible = false;
  std::vector<std::filesystem::path> involvedFiles;
  bool tooManyFilesNoteVisible = false;
  bool removeFileEnabled = false;

  // Ticket list page.
  std::vector<TicketRow> tickets;
  bool ticketListVisible = true;
  bool ticketIndicatorRunning = false;
  bool noTicketsVisible = false;
  std::string noTicketsText;

  // Update page.
  std::string ticketTitle;
  std::string reply;
  OccurredControl updateOccurred;
  bool updateAttachLogs = true;
  bool updateAttachLogsEnabled = true;

  // Confirmation page.
  std::string confirmationTitle = "Thank you!";
  LinkedText confirmation;

  std::string activityText;
  UploadSheet upload;
};

}  // namespace support::window
