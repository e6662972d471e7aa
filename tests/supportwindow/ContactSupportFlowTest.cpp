// The wizard's page sequences, checks and submissions over scripted collaborators.
#include <fstream>

#include <gtest/gtest.h>

#include "tests/supportwindow/SupportWindowFixture.h"

namespace {

using support::window::Colour;
using support::window::ContinueRole;
using support::window::FormLabel;
using support::window::LargeUploadContent;
using Reachability = support::window::SupportHelpDesk::Reachability;

class ContactSupportFlowTest : public testing_support::SupportWindowFixture {};

TEST_F(ContactSupportFlowTest, OpeningAsksForTheFieldsThenTheModel) {
  open();
  EXPECT_TRUE(view.shown);
  EXPECT_EQ(state().page, Page::Contact);
  EXPECT_EQ(state().navigationTitle, "Welcome");
  EXPECT_EQ(state().sheet, Sheet::None);
  EXPECT_EQ(helpDesk->calls.front(), "fields 246855");
  helpDesk->fieldsKnown = {"246855"};
  window->ticketFieldsInfoRetrievedWithFieldUniqueID("246855");
  EXPECT_EQ(helpDesk->calls.back(), "fields 254783");
  helpDesk->fieldsKnown = {"246855", "254783", "263331"};
  window->ticketFieldsInfoRetrievedWithFieldUniqueID("263331");
  // The Profiler asks the machine for its model; its answer reaches the help desk.
  window->deviceModelNameRetrieved();
  EXPECT_EQ(helpDesk->calls.back(), "model unknown_device");
}

TEST_F(ContactSupportFlowTest, VerifiedUsersReachTheirPagesAfterTheDelay) {
  lookUpVerified(0);
  EXPECT_EQ(helpDesk->calls.back(), "lookup ann@example.com");
  EXPECT_EQ(state().continueRole, ContinueRole::SubmitNewTicket);
  EXPECT_EQ(window->zendeskCurrentAction(), 1);
  EXPECT_TRUE(state().userInformationVisible);
  EXPECT_TRUE(state().backEnabled);

  window->previousButtonPushed();
  EXPECT_EQ(state().page, Page::Contact);
  window->contactTypeChose(1);
  window->nextButtonPushed();
  window->userInfoRetrieved();
  EXPECT_EQ(state().emailStatus.text, "Email address is valid");
  EXPECT_EQ(state().emailStatus.colour, Colour::Valid);
  passPageDelay(Page::Tickets);
  EXPECT_EQ(helpDesk->calls.back(), "tickets ann@example.com");
  EXPECT_EQ(state().navigationTitle, "Select the Ticket you want to update");
  EXPECT_FALSE(state().continueEnabled);
  window->ticketListingRetrieved();
  EXPECT_TRUE(state().noTicketsVisible);
  EXPECT_NE(state().noTicketsText.find("ann@example.com.\n\nNote that this will work only if you have \na valid account "
                                       "on our support desk (help.example.test) \n"),
            std::string::npos);
}

TEST_F(ContactSupportFlowTest, UnverifiedAndUnknownUsers) {
  open();
  window->contactTypeChose(1);
  window->emailChanged("ann@example.com");
  window->nextButtonPushed();
  helpDesk->userState = 1;
  window->userInfoRetrieved();
  EXPECT_EQ(helpDesk->calls.back(), "verify ann@example.com");
  window->userHasBeenVerified();
  EXPECT_EQ(state().page, Page::Tickets);

  window->previousButtonPushed();
  window->nextButtonPushed();
  helpDesk->userState = 2;
  window->userInfoRetrieved();
  EXPECT_EQ(state().page, Page::Contact);
  EXPECT_EQ(state().emailStatus.text, "Email does not exist in our support desk.\nPlease verify it and try again.");
  EXPECT_EQ(view.shakes, 1);

  // Row 0: the unknown address gets an account; Continue goes to the form.
  window->contactTypeChose(0);
  window->nextButtonPushed();
  window->userInfoRetrieved();
  EXPECT_EQ(state().emailStatus.text,
            "Email does not exist in our support desk.\nClick on continue to create a new account with\nemail address "
            "ann@example.com");
  EXPECT_TRUE(state().continueEnabled);
  window->nextButtonPushed();
  EXPECT_EQ(state().page, Page::Description);
}

TEST_F(ContactSupportFlowTest, AnUnreachableDeskLeavesOnlyCollectLogs) {
  helpDesk->reachable.reset();
  open();
  helpDesk->pendingProbe(Reachability::Unreachable);
  EXPECT_EQ(state().contactType, 2);
  EXPECT_FALSE(state().ticketRowsEnabled);
  EXPECT_TRUE(state().refreshButtonVisible);
  EXPECT_EQ(state().information.text, "We could not connect to the Corvane Support Desk.");
  EXPECT_EQ(state().information.colour, Colour::Red);
  window->contactTypeChose(0);  // disabled row
  EXPECT_EQ(state().contactType, 2);
  window->nextButtonPushed();
  EXPECT_EQ(state().page, Page::Description);
  EXPECT_EQ(state().continueRole, ContinueRole::CollectLogs);

  // A failed user lookup says why and leads to the same place.
  window->userInfoRetrievedFailed();
  ASSERT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(view.alerts[0].substr(0, view.alerts[0].find('|')), "Connection failed !");
  EXPECT_NE(view.alerts[0].find("browser:\nhttps://help.example.test/\n\nMake sure"), std::string::npos);
  EXPECT_EQ(state().page, Page::Contact);
}

TEST_F(ContactSupportFlowTest, ContinueRefusesAnInvalidOrEmptyAddress) {
  open();
  window->contactTypeChose(0);
  window->emailChanged("ann@examplecom");
  EXPECT_EQ(state().labelColours.at(FormLabel::Email), Colour::Red);
  window->nextButtonPushed();
  EXPECT_EQ(view.shakes, 1);
  window->emailChanged("ann@example.com");  // typing on: the label is no longer red
  EXPECT_EQ(state().labelColours.at(FormLabel::Email), Colour::Normal);
  window->emailChanged("");
  window->nextButtonPushed();
  EXPECT_EQ(view.shakes, 2);
  EXPECT_EQ(state().emailStatus.text, "Invalid email address.");
  EXPECT_EQ(state().page, Page::Contact);
  EXPECT_EQ(helpDesk->calls.back(), "checkConnection");
}

TEST_F(ContactSupportFlowTest, FormChecksMarkWhatIsMissing) {
  lookUpVerified(0);
  window->submitNewTicket();
  EXPECT_EQ(view.shakes, 1);
  EXPECT_EQ(state().missingInfoText, "Fields marked with an asterisk (*) are mandatory.");
  for (FormLabel label : {FormLabel::Name, FormLabel::Company, FormLabel::Title, FormLabel::Description,
                          FormLabel::RequesterType, FormLabel::Occurred})
    EXPECT_EQ(state().labelColours.at(label), Colour::Red) << static_cast<int>(label);
  window->requesterTypeChose(2);  // reseller: the end-user company becomes mandatory
  EXPECT_TRUE(state().endUserCompanyVisible);
  fillNewTicketForm();
  window->requesterTypeChose(2);
  window->submitNewTicket();
  EXPECT_EQ(state().labelColours.at(FormLabel::EndUserCompany), Colour::Red);
  EXPECT_EQ(state().labelColours.at(FormLabel::Name), Colour::Normal);
  window->endUserCompanyChanged("Channel 9");
  window->attachLogsChanged(false);
  window->submitNewTicket();
  EXPECT_FALSE(state().missingInfoVisible);
  EXPECT_EQ(helpDesk->calls.back(), "create Clip stops");
}

TEST_F(ContactSupportFlowTest, AnEleventhFileDisablesContinue) {
  lookUpVerified(0);
  for (int i = 0; i < 11; ++i) view.filesToChoose.push_back(home / ("show" + std::to_string(i) + ".zvpl"));
  view.filesToChoose.push_back(home / "show0.zvpl");  // already listed: skipped
  window->addFile();
  EXPECT_EQ(view.documentTypesOnlyAsked, true);
  EXPECT_EQ(state().involvedFiles.size(), 11u);
  EXPECT_TRUE(state().tooManyFilesNoteVisible);
  EXPECT_FALSE(state().continueEnabled);
  window->removeFiles({3});
  EXPECT_EQ(state().involvedFiles.size(), 10u);
  EXPECT_FALSE(state().tooManyFilesNoteVisible);
  EXPECT_TRUE(state().continueEnabled);
}

TEST_F(ContactSupportFlowTest, BackFromTheUpdatePageReselectsTheTicket) {
  toUpdatePage(false);
  EXPECT_EQ(helpDesk->calls.back(), "allowLarge 42");
  EXPECT_EQ(state().page, Page::Update);
  EXPECT_EQ(state().ticketTitle, "#42 - Audio drops");
  EXPECT_EQ(state().continueRole, ContinueRole::UpdateTicket);
  window->previousButtonPushed();
  EXPECT_EQ(state().page, Page::Tickets);
  ASSERT_EQ(state().tickets.size(), 2u);
  EXPECT_TRUE(state().tickets[0].selected);
  EXPECT_EQ(state().tickets[0].subtitle, "#42 - vantelio");
  EXPECT_TRUE(state().continueEnabled);
}

TEST_F(ContactSupportFlowTest, EndUserTicketWithoutLogsGoesWithoutCompany) {
  lookUpVerified(0);
  fillNewTicketForm();
  window->attachLogsChanged(false);
  window->submitNewTicket();
  ASSERT_EQ(helpDesk->created.size(), 1u);
  const support::ZendeskNewTicket& ticket = helpDesk->created[0];
  EXPECT_FALSE(ticket.company.has_value());
  EXPECT_EQ(ticket.endUserCompany, "Studio 3");
  EXPECT_EQ(ticket.requesterType, "end-user");
  EXPECT_EQ(ticket.description, "The clip stops after 3 s.");
  EXPECT_FALSE(ticket.uploadToken.has_value());
  EXPECT_EQ(window->profiler().yourCompany(), "Studio 3");
  window->zendeskTicketSentSuccessFullyWithTicketUniqueID(512);
  EXPECT_EQ(state().page, Page::Confirmation);
  EXPECT_EQ(state().navigationTitle, "Confirmation");
  EXPECT_EQ(state().confirmationTitle, "Thank you!");
  EXPECT_EQ(state().confirmation.text,
            "A new support ticket (#512) has now been created.\nYou can review the status of your ticket and add "
            "additional comments\n by following this link:\nhttps://help.example.test/tickets/512\n\nA confirmation "
            "email has been sent to this address: ann@example.com.\n\nWe will get back to you shortly!");
  EXPECT_EQ(state().continueRole, ContinueRole::Done);
  window->continuePushed();
  EXPECT_TRUE(view.closed);
}

TEST_F(ContactSupportFlowTest, ANewCustomerGetsAnAccountThenTheTicket) {
  open();
  window->emailChanged("new@example.com");
  window->nextButtonPushed();
  helpDesk->userState = 2;
  window->userInfoRetrieved();
  window->nextButtonPushed();
  fillNewTicketForm();
  window->attachLogsChanged(false);
  window->submitNewTicket();
  EXPECT_EQ(helpDesk->calls.back(), "createUser new@example.com Ann");
  EXPECT_TRUE(helpDesk->created.empty());
  window->newUserCreated();
  EXPECT_EQ(helpDesk->calls.back(), "create Clip stops");
  window->zendeskTicketSentSuccessFullyWithTicketUniqueID(77);
  EXPECT_EQ(state().confirmation.text.substr(0, 112),
            "We have now created a new Account and a new Ticket in our support desk\nusing the email address that you "
            "provided");
  EXPECT_EQ(state().confirmation.links,
            (std::vector<std::string>{"https://help.example.test/tickets/77", "https://help.example.test/password"}));
}

TEST_F(ContactSupportFlowTest, AFailedCreationKeepsTheTypedRequest) {
  lookUpVerified(0);
  fillNewTicketForm();
  window->attachLogsChanged(false);
  window->submitNewTicket();
  window->creationTicketFailedErrorDescription("We could not create your support ticket.\n\nError Code:0 ...");
  EXPECT_EQ(state().confirmationTitle, "Error!");
  EXPECT_EQ(state().confirmation.links, std::vector<std::string>{"https://help.example.test/"});
  EXPECT_TRUE(state().continueEnabled);
  EXPECT_TRUE(state().backEnabled);
  window->previousButtonPushed();
  EXPECT_EQ(state().page, Page::Description);
  EXPECT_EQ(state().confirmationTitle, "Thank you!");
  EXPECT_EQ(state().title, "Clip stops");
  EXPECT_EQ(state().problemDescription, "The clip stops after 3 s.");
  window->occurredChose(1);  // the page asks for the time again
  window->submitNewTicket();
  ASSERT_EQ(helpDesk->created.size(), 2u);
  EXPECT_EQ(helpDesk->created[1].description, "The clip stops after 3 s.");
}

TEST_F(ContactSupportFlowTest, UpdateWithoutUploadThenConfirmation) {
  toUpdatePage(false);
  window->updateAttachLogsChanged(false);
  window->continuePushed();
  EXPECT_EQ(helpDesk->calls.back(), "update 42 ann@example.com token=-");
  EXPECT_EQ(helpDesk->comments.back(), "Still drops.");
  window->zendeskTicketUpdatedSuccessFullyWithTicketUniqueID("42");
  EXPECT_EQ(state().confirmation.text,
            "Your ticket (#42 - Audio drops) has been updated.\n\nTo review the status of the ticket and add "
            "additional comments, follow the link below:\nhttps://help.example.test/tickets/42\n\nAn email has been "
            "sent to this address: ann@example.com.\n\nWe will get back to you shortly!");
}

TEST_F(ContactSupportFlowTest, UpdateWithLargeFilesPostsCommentFilesNoteThenConfirms) {
  toUpdatePage(true);
  window->updateAttachLogsChanged(false);
  std::ofstream(home / "a.mov") << "aaaa";
  std::ofstream(home / "b.mov") << "bb";
  view.filesToChoose = {home / "a.mov", home / "b.mov"};
  window->addFile();
  window->continuePushed();
  EXPECT_EQ(helpDesk->calls.back(), "update 42 ann@example.com token=-");
  window->zendeskTicketUpdatedSuccessFullyWithTicketUniqueID("42");
  EXPECT_EQ(state().sheet, Sheet::LargeUpload);
  EXPECT_EQ(state().upload.message, "Uploading Files...");
  const std::string folder = "files/" + window->folderNameWithUserInfo() + "/";
  ASSERT_EQ(cloud->calls.size(), 1u);
  EXPECT_EQ(cloud->calls[0], "upload a.mov " + folder);
  window->amazonFileUploadedSuccessfully("https://store/a.mov", home / "a.mov", "bucket");
  EXPECT_EQ(cloud->calls.back(), "upload b.mov " + folder);
  window->amazonFileUploadedSuccessfully("https://store/b.mov", home / "b.mov", "bucket");
  EXPECT_EQ(helpDesk->calls.back(), "note 42 agent@example.test token=-");
  EXPECT_EQ(helpDesk->comments.back(),
            "The user has uploaded following files:<a href='https://store/a.mov'>a.mov</a><a "
            "href='https://store/b.mov'>b.mov</a>");
  EXPECT_EQ(state().sheet, Sheet::None);
  EXPECT_EQ(state().confirmationTitle, "Thank you!");
}

TEST_F(ContactSupportFlowTest, NextPastAMissingFileCarriesTheErrorToTheTicket) {
  toUpdatePage(true);
  window->updateAttachLogsChanged(false);
  std::ofstream(home / "a.mov") << "aaaa";
  std::ofstream(home / "b.mov") << "bb";
  view.filesToChoose = {home / "a.mov", home / "b.mov"};
  window->addFile();
  window->continuePushed();
  std::filesystem::remove(home / "a.mov");  // gone before its turn
  window->zendeskTicketUpdatedSuccessFullyWithTicketUniqueID("42");
  EXPECT_EQ(state().upload.content, LargeUploadContent::Error);
  EXPECT_EQ(state().upload.errorStatus.substr(state().upload.errorStatus.find("-  ")), "-  File not found : a.mov");
  EXPECT_EQ(state().upload.errorText, "Error: Could not upload files");
  EXPECT_EQ(state().upload.errorButtonTitle, "Next");
  window->resumeMultiPartUpload();
  EXPECT_EQ(cloud->calls.back().substr(0, 13), "upload b.mov ");
  window->amazonFileUploadedSuccessfully("https://store/b.mov", home / "b.mov", "bucket");
  EXPECT_NE(helpDesk->comments.back().find("File not found : a.mov"), std::string::npos);
  EXPECT_EQ(state().confirmationTitle, "You're almost done!");
}

TEST_F(ContactSupportFlowTest, FilesPastOneHundredGibibytesStopAtTheWarning) {
  toUpdatePage(true);
  window->updateAttachLogsChanged(false);
  std::filesystem::resize_file((std::ofstream(home / "huge.mov"), home / "huge.mov"), 107'374'182'401);
  view.filesToChoose = {home / "huge.mov"};
  window->addFile();
  const std::size_t callsBefore = helpDesk->calls.size();
  window->continuePushed();
  EXPECT_EQ(state().upload.content, LargeUploadContent::SizeWarning);
  EXPECT_EQ(state().sheet, Sheet::LargeUpload);
  EXPECT_EQ(helpDesk->calls.size(), callsBefore);
  window->cancelUploadPushed();
  EXPECT_EQ(state().sheet, Sheet::None);
  EXPECT_TRUE(state().continueEnabled);
}

TEST_F(ContactSupportFlowTest, AFailedRequestEndsOnTheErrorPage) {
  toUpdatePage(false);
  window->previousButtonPushed();
  window->nextButtonPushed();
  EXPECT_TRUE(state().ticketIndicatorRunning);
  window->zendeskRequestFailedErrorDescription("We could not update your support ticket.\n\nError Code:0 ");
  EXPECT_FALSE(state().ticketIndicatorRunning);
  EXPECT_EQ(state().confirmationTitle, "Error!");
  EXPECT_TRUE(state().continueEnabled);
  EXPECT_TRUE(state().backEnabled);
}

}  // namespace
