// The Qt window over the real help-desk client and cloud upload, against the
// loopback help-desk capture peer and the object-store peer: a new ticket
// whose bundle passes the attachment limit goes to the cloud, and the
// bundle's link reaches the ticket text.
#include <fstream>
#include <random>

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/views/ContactSupportWindow.h"
#include "support/window/SupportCollaboratorAdapters.h"
#include "tests/app/views/QtTestApplication.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/supportdesk/FakeCommandRunner.h"
#include "tests/supportwindow/ScriptedSupportCollaborators.h"

namespace {

using support::window::Page;

constexpr const char* kAccess = "AKIDEXAMPLE0TEST0KEY";
constexpr const char* kSecret = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";

void writeRandomFile(const std::filesystem::path& path, std::size_t size) {
  std::mt19937 random(11);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ContactSupportEndToEndTest, ALargeBundleGoesToTheCloudAndItsLinkIntoTheTicket) {
  testing_support::qtTestApplication();
  testing_support::TemporaryDirectory home;
  std::filesystem::create_directories(home / "Desktop");
  std::filesystem::create_directories(home / "involved");
  writeRandomFile(home / "involved" / "take1.mov", 7'500'000);  // random: the zip stays above 7,000,000 bytes

  // Help desk: the field options (unreadable, so no more are asked), the home
  // page twice (on opening and after the warning), the verified user, then
  // the new ticket.
  testing_support::HttpCaptureServer desk(
      R"([{"status":200,"body":"{}"},{"status":200,"body":"<html></html>"},{"status":200,"body":"<html></html>"},
          {"status":200,"body":"{\"users\":[{\"id\":42,\"name\":\"Ann\",\"verified\":true}]}"},
          {"status":201,"body":"{\"request\":{\"id\":512}}"}])");
  const nlohmann::json store = {{"access", kAccess}, {"secret", kSecret}, {"region", "eu-central-2"}, {"version", 4}};
  testing_support::HttpCaptureServer objectStore(std::string(VZ_SUPPORTDESK_DIR) + "/object_store_peer.py",
                                                 std::vector<std::string>{store.dump()});
  const support::ZendeskConfiguration deskConfiguration{desk.baseUrl() + "/api/v2/", "agent@desk.test",
                                                        desk.baseUrl() + "/", "T0ken", std::nullopt};
  const support::CloudStorageConfiguration storeConfiguration{
      objectStore.baseUrl(), "support-bucket", "eu-central-2", 4, kAccess, kSecret, std::nullopt};

  auto runner = std::make_shared<testing_support::FakeCommandRunner>();
  testing_support::FakeApplication application;
  support::window::ContactSupportServices services;
  services.pages = {desk.baseUrl() + "/", "", "", "agent@desk.test"};
  services.makeHelpDesk = [&](support::ZendeskControllerDelegate_Protocol& window) {
    return std::make_unique<support::window::ZendeskHelpDesk>(window, deskConfiguration, desk.baseUrl() + "/");
  };
  services.makeCloudUpload = [&](support::AmazonUploaderControllerDelegateProtocol& window) {
    return std::make_unique<support::window::AmazonCloudUpload>(window, storeConfiguration);
  };
  services.commandRunner = runner;
  services.sources.systemJournalFolder = home.path();
  services.computerName = "studio";
  services.desktopFolder = home / "Desktop";
  support::window::ContactSupportWindowController controller(application.info, &application, std::move(services));
  // What the peers saw and where the window is, for a failure's message.
  const auto describe = [&] {
    std::string text = "page " + std::to_string(static_cast<int>(controller.state().page)) + ", information \"" +
                       controller.state().information.text + "\", help desk:";
    for (const auto& request : desk.requests()) text += " " + request.method + " " + request.path;
    return text;
  };
  {
    support::views::ContactSupportWindow window(controller);
    ASSERT_TRUE(desk.waitForRequests(1));  // the field options, asked as the window loads
    controller.showWindow();
    controller.collectingLogsContinueClick();
    ASSERT_TRUE(desk.waitForRequests(3));
    ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return !controller.state().information.visible; },
                                                  "the probes' answers"))
        << describe();
    controller.contactTypeChose(0);
    auto* email = window.findChild<QLineEdit*>("emailField");
    email->setText("ann@example.com");
    emit email->textEdited(email->text());
    window.findChild<QPushButton*>("continueButton")->click();
    ASSERT_TRUE(testing_support::runMainLoopUntil(
        [&] { return controller.state().page == Page::Description; }, "the description page"))
        << describe();
    controller.nameChanged("Ann");
    controller.companyChanged("Studio 3");
    controller.requesterTypeChose(2);
    controller.endUserCompanyChanged("Channel 9");
    controller.titleChanged("Clip stops");
    controller.problemDescriptionChanged("The clip stops.");
    controller.occurredChose(1);
    controller.profiler().filesInvolved = {home / "involved"};
    window.findChild<QPushButton*>("continueButton")->click();

    // The collector's commands: the profile, the journal, then the real zip.
    std::size_t answered = 0;
    const auto answerNext = [&] {
      if (answered >= runner->calls.size()) return false;
      const support::Command& command = runner->calls[answered].command;
      if (command.argv.front() == "zip") {
        const std::string line = "cd '" + command.workingFolder->string() + "' && zip -q -r -X '" + command.argv[3] +
                                 "' '" + command.argv[4] + "'";
        EXPECT_EQ(std::system(line.c_str()), 0);
      }
      runner->answer(answered++, 0);
      return true;
    };
    ASSERT_TRUE(testing_support::runMainLoopUntil(
        [&] {
          answerNext();
          return controller.state().page == Page::Confirmation;
        },
        "the confirmation", std::chrono::seconds(40)))
        << describe();
    EXPECT_EQ(controller.state().confirmationTitle, "Thank you!") << controller.state().confirmation.text;
  }

  // The peers record a request just after answering it.
  ASSERT_TRUE(objectStore.waitForRequests(1));
  ASSERT_TRUE(desk.waitForRequests(5));
  const auto uploads = objectStore.requests();
  ASSERT_FALSE(uploads.empty());
  EXPECT_EQ(uploads.back().method, "PUT");
  EXPECT_EQ(uploads.back().path.rfind("/support-bucket/logs/", 0), 0u) << uploads.back().path;
  EXPECT_EQ(uploads.back().header("X-Peer-Signature"), "ok");
  const auto requests = desk.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[4].path, "/api/v2/requests.json");
  const nlohmann::json ticket = nlohmann::json::parse(requests[4].body, nullptr, false);
  const std::string text = ticket["request"]["comment"]["html_body"].get<std::string>();
  const std::string zipName = uploads.back().path.substr(uploads.back().path.rfind('/') + 1);
  EXPECT_NE(text.find("logs/" + zipName), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(home / "Desktop" / zipName));  // removed once up
}

}  // namespace
