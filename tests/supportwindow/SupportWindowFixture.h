#pragma once
// A Contact Support window over scripted collaborators, a recording view, a
// manual clock and a temporary home for the bundle.
#include <memory>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/supportdesk/FakeCommandRunner.h"
#include "tests/supportwindow/ScriptedSupportCollaborators.h"

namespace testing_support {

class SupportWindowFixture : public ::testing::Test {
 protected:
  using Page = support::window::Page;
  using Sheet = support::window::Sheet;

  void SetUp() override {
    runner = std::make_shared<FakeCommandRunner>();
    std::filesystem::create_directories(home / "Desktop");
    std::filesystem::create_directories(home / "journal");
    support::window::ContactSupportServices services;
    services.makeHelpDesk = [this](support::ZendeskControllerDelegate_Protocol&) {
      auto desk = std::make_unique<ScriptedHelpDesk>();
      helpDesk = desk.get();
      return desk;
    };
    services.makeCloudUpload = [this](support::AmazonUploaderControllerDelegateProtocol&) {
      auto upload = std::make_unique<ScriptedCloudUpload>();
      cloud = upload.get();
      return upload;
    };
    services.commandRunner = runner;
    services.sources.systemJournalFolder = home / "journal";
    services.sources.technicalLogFolder = home / "logs";
    services.pages = {"https://help.example.test/", "https://help.example.test/hc/",
                      "https://help.example.test/password", "agent@example.test"};
    services.computerName = "Studio Mac";
    services.desktopFolder = home / "Desktop";
    window = std::make_unique<support::window::ContactSupportWindowController>(application.info, &application,
                                                                                std::move(services));
    window->setView(&view);
  }

  void TearDown() override { window->setView(nullptr); }

  const support::window::ContactSupportViewState& state() const { return window->state(); }

  void open() {
    window->windowDidLoad();
    window->showWindow();
    window->collectingLogsContinueClick();
  }

  // Runs the main queue past the window's 1.5 s page delay.
  void passPageDelay(Page expected) {
    ASSERT_TRUE(advanceClockUntil(clock, std::chrono::milliseconds(250),
                                  [&] { return state().page == expected; }, 20));
  }

  // Row 0 or 1 with a verified address, up to the description or ticket page.
  void lookUpVerified(int row) {
    open();
    window->contactTypeChose(row);
    window->emailChanged("ann@example.com");
    window->nextButtonPushed();
    helpDesk->userState = 0;
    window->userInfoRetrieved();
    passPageDelay(row == 0 ? Page::Description : Page::Tickets);
  }

  void fillNewTicketForm() {
    window->nameChanged("Ann");
    window->companyChanged("Studio 3");
    window->requesterTypeChose(1);
    window->titleChanged("Clip stops");
    window->problemDescriptionChanged("The clip stops after 3 s.");
    window->occurredChose(1);
  }

  // The update page of ticket 42 ("Audio drops"), with large files allowed or not.
  void toUpdatePage(bool allowLargeFiles) {
    lookUpVerified(1);
    helpDesk->tickets = {{false, "Audio drops", 42, "2026-12-01T10:00:00Z", "vantelio"},
                         {false, "Crash", 43, "2026-11-30T10:00:00Z", "vantelio"}};
    window->ticketListingRetrieved();
    window->ticketSelected(0);
    window->nextButtonPushed();
    window->showUpdateTicketPanel(allowLargeFiles);
    window->replyChanged("Still drops.");
    window->updateOccurredChose(1);
  }

  platform::ManualClock clock;
  platform::ScopedClockOverride clockOverride{clock};
  TemporaryDirectory home;
  std::shared_ptr<FakeCommandRunner> runner = std::make_shared<FakeCommandRunner>();
  FakeApplication application;
  RecordingSupportView view;
  ScriptedHelpDesk* helpDesk = nullptr;
  ScriptedCloudUpload* cloud = nullptr;
  std::unique_ptr<support::window::ContactSupportWindowController> window;
};

}  // namespace testing_support
