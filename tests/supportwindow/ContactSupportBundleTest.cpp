// The support bundle and its upload: what goes into the folder, the zip, the
// size limits, the progress line and the upload's failures.
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "support/window/SupportWindowTexts.h"
#include "tests/supportwindow/SupportWindowFixture.h"

namespace {

using support::window::LargeUploadContent;

class ContactSupportBundleTest : public testing_support::SupportWindowFixture {
 protected:
  // Answers the collector's commands in order: the journal, the profile and
  // the zip. `zip` writes the zip (for real, or as a file of a chosen size).
  void answerCommands(const std::function<void(const support::Command&)>& zip) {
    for (std::size_t answered = 0; answered < runner->calls.size(); ++answered) {
      const support::Command& command = runner->calls[answered].command;
      if (command.argv.front() == "zip") zip(command);
      if (command.outputFile) std::ofstream(*command.outputFile) << "journal\n";
      runner->answer(answered, 0);
    }
  }

  static void zipForReal(const support::Command& command) {
    std::string line = "cd '" + command.workingFolder->string() + "' && zip -q -r -X";
    for (std::size_t i = 3; i < command.argv.size(); ++i) line += " '" + command.argv[i] + "'";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
  }

  // A new ticket whose bundle zip is `zipSize` bytes and whose folder holds
  // `folderSize` bytes in all.
  void newTicketWithBundle(std::uintmax_t zipSize, std::uintmax_t folderSize = 1'000'000) {
    lookUpVerified(0);
    fillNewTicketForm();
    window->submitNewTicket();
    answerCommands([&](const support::Command& command) {
      const std::filesystem::path folder = *command.workingFolder / command.argv[4].substr(2);
      std::uintmax_t others = 0;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) others += entry.file_size();
      ASSERT_LT(others, folderSize);
      std::filesystem::resize_file((std::ofstream(folder / "extra.bin"), folder / "extra.bin"), folderSize - others);
      const std::filesystem::path zip = *command.workingFolder / command.argv[3];
      std::filesystem::resize_file((std::ofstream(zip), zip), zipSize);
    });
  }

  std::string listZip(const std::filesystem::path& zip) {
    const std::filesystem::path listing = home / "listing.txt";
    std::system(("unzip -l '" + zip.string() + "' > '" + listing.string() + "'").c_str());
    std::ifstream in(listing);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(ContactSupportBundleTest, CollectLogsZipsTheBundleFilesIntoTheChosenFolder) {
  open();
  window->contactTypeChose(2);
  window->nextButtonPushed();
  window->occurredChose(1);
  view.folderToChoose = home / "chosen";
  std::filesystem::create_directories(*view.folderToChoose);
  window->continuePushed();
  EXPECT_EQ(state().sheet, Sheet::Activity);
  EXPECT_EQ(state().activityText, "Collecting Logs...");
  answerCommands(zipForReal);
  ASSERT_TRUE(window->zippedSupportFolderPath());
  const std::filesystem::path zip = *window->zippedSupportFolderPath();
  EXPECT_EQ(zip.parent_path(), home / "chosen");
  EXPECT_NE(zip.filename().string().find("_StudioMac_Zarq_"), std::string::npos);
  ASSERT_TRUE(std::filesystem::exists(zip));
  EXPECT_FALSE(std::filesystem::exists(support::window::withoutZipExtension(zip.string())));
  const std::string listing = listZip(zip);
  for (const char* name : {"Application Info.plist", "Customer Infos.plist", "System Profiler.spx", "SystemLogs_"})
    EXPECT_NE(listing.find(name), std::string::npos) << name << "\n" << listing;
  EXPECT_EQ(state().confirmationTitle, "You're almost done!");
  EXPECT_EQ(state().confirmation.text.rfind(
                "All the files required for support have been collected and compressed in one file.\nYou can find "
                "the file here:\n",
                0),
            0u);
  EXPECT_NE(state().confirmation.text.find(support::window::withoutZipExtension(zip.string()) + "\n\nNow you will"),
            std::string::npos);
  EXPECT_EQ(helpDesk->tooLargeTold, false);
}

TEST_F(ContactSupportBundleTest, AZipThatFailsEndsOnTheErrorPageWithTheButtonsEnabled) {
  open();
  window->contactTypeChose(2);
  window->nextButtonPushed();
  window->occurredChose(1);
  view.folderToChoose = home / "chosen";
  std::filesystem::create_directories(*view.folderToChoose);
  window->continuePushed();
  answerCommands([](const support::Command&) {});  // zip exits without writing
  EXPECT_EQ(state().confirmationTitle, "Error!");
  EXPECT_NE(state().confirmation.text.find("could not be compressed"), std::string::npos);
  EXPECT_TRUE(state().continueEnabled);
  EXPECT_TRUE(state().backEnabled);
  EXPECT_TRUE(std::filesystem::is_empty(home / "chosen"));
}

TEST_F(ContactSupportBundleTest, CancellingTheFolderPanelGivesTheButtonsBack) {
  open();
  window->contactTypeChose(2);
  window->nextButtonPushed();
  window->occurredChose(1);
  view.answerFolderLater = true;
  window->continuePushed();
  EXPECT_FALSE(state().continueEnabled);  // the profile is being gathered
  view.pendingFolder(std::nullopt);
  EXPECT_TRUE(state().continueEnabled);
  EXPECT_TRUE(state().backEnabled);
  runner->answer(0, 0);  // the profile arrives; nothing is made
  EXPECT_FALSE(window->zippedSupportFolderPath());
  EXPECT_EQ(runner->calls.size(), 1u);
}

TEST_F(ContactSupportBundleTest, BundleSizesChooseSheetAndRoad) {
  struct Case {
    std::uintmax_t zipSize;
    std::uintmax_t folderSize;
    bool toCloud;
    Sheet sheet;
  };
  const Case cases[] = {
      {6'999'999, 70'000'000, false, Sheet::Upload},
      {7'000'000, 70'000'000, true, Sheet::LargeUpload},
      {6'999'999, 70'000'001, false, Sheet::LargeUpload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.zipSize) + " " + std::to_string(c.folderSize));
    TearDown();
    SetUp();
    newTicketWithBundle(c.zipSize, c.folderSize);
    EXPECT_EQ(state().sheet, c.sheet);
    EXPECT_EQ(helpDesk->tooLargeTold, c.folderSize >= 70'000'001);
    if (c.toCloud) {
      ASSERT_EQ(cloud->calls.size(), 1u);
      EXPECT_EQ(cloud->calls[0].substr(cloud->calls[0].size() - 6), " logs/");
      EXPECT_EQ(state().upload.message, "Uploading Logs...");
      continue;
    }
    EXPECT_EQ(helpDesk->calls.back().substr(0, 7), "attach ");
    window->filesUploadedWithToken(std::string("tok"));
    ASSERT_EQ(helpDesk->created.size(), 1u);
    EXPECT_EQ(helpDesk->created[0].uploadToken, "tok");
    EXPECT_FALSE(helpDesk->created[0].company.has_value());  // an end user's ticket
  }
}

TEST_F(ContactSupportBundleTest, ProgressLineIsRewrittenAboutEveryTwoSeconds) {
  newTicketWithBundle(7'000'000);
  EXPECT_EQ(state().upload.progressText, "Estimating time...");
  window->uploadDataReceived(1'000'000, 1'000'000, 7'000'000);
  clock.advance(std::chrono::milliseconds(1500));
  window->uploadDataReceived(1'000'000, 2'000'000, 7'000'000);
  EXPECT_EQ(state().upload.progressText, "Estimating time...");
  EXPECT_DOUBLE_EQ(state().upload.progressValue, 2.0);
  clock.advance(std::chrono::milliseconds(1000));
  window->uploadDataReceived(1'000'000, 3'000'000, 7'000'000);
  // 3000 KB over 2.5 s: 1200 KB/s; 4000 KB left: 3.3 s.
  EXPECT_EQ(state().upload.progressText, "3 MB of 7 MB-  3 s remaining (1.20 MB/s)");
}

TEST_F(ContactSupportBundleTest, WithoutAPositiveSpeedTheTimeIsNotEstimated) {
  newTicketWithBundle(7'000'000);
  window->uploadDataReceived(0, 0, 7'000'000);
  clock.advance(std::chrono::seconds(3));
  window->uploadDataReceived(0, 0, 7'000'000);
  EXPECT_EQ(state().upload.progressText, "Estimating time...");
}

TEST_F(ContactSupportBundleTest, TheBundleLinkReachesTheTicketText) {
  newTicketWithBundle(7'000'000);
  const std::filesystem::path uploaded = cloud->files.at(0);
  window->amazonFileUploadedSuccessfully("https://store.test/bucket/logs/b.zip", uploaded, "bucket");
  EXPECT_FALSE(std::filesystem::exists(uploaded));
  ASSERT_EQ(helpDesk->created.size(), 1u);
  EXPECT_EQ(helpDesk->created[0].description,
            "The clip stops after 3 s.<br><br>---------<br>Attachments:<br> <a "
            "href='https://store.test/bucket/logs/b.zip'>b.zip</a>");
  EXPECT_EQ(helpDesk->created[0].company, "Studio 3");  // not cleared after a cloud upload
}

TEST_F(ContactSupportBundleTest, ACancelledBundleUploadStillSendsTheTicketWithTheReason) {
  newTicketWithBundle(7'000'000);
  window->amazonSegmentFileUploadError("cancelled");
  EXPECT_EQ(state().upload.content, LargeUploadContent::Error);
  EXPECT_EQ(state().upload.errorText, "Error: Could not upload logs");
  EXPECT_EQ(state().upload.errorButtonTitle, "Done");
  window->resumeMultiPartUpload();
  ASSERT_EQ(helpDesk->created.size(), 1u);
  EXPECT_NE(helpDesk->created[0].description->find("threw an error : cancelled"), std::string::npos);
  window->zendeskTicketSentSuccessFullyWithTicketUniqueID(9);
  EXPECT_EQ(state().confirmationTitle, "You're almost done!");
}

TEST_F(ContactSupportBundleTest, ASegmentErrorOffersResume) {
  newTicketWithBundle(7'000'000);
  window->uploadDataReceived(3'000'000, 3'000'000, 7'000'000);
  window->amazonSegmentFileUploadError("Connection lost");
  EXPECT_EQ(state().upload.errorButtonTitle, "Resume");
  EXPECT_EQ(state().upload.errorStatus, "3 MB of 7 MB -  Connection lost");
  EXPECT_DOUBLE_EQ(state().upload.errorIndicatorValue, 3'000'000);
  window->resumeMultiPartUpload();
  EXPECT_EQ(cloud->calls.back(), "resume");
  EXPECT_EQ(state().upload.content, LargeUploadContent::Progress);
  window->amazonFileUploadError("The upload failed.");
  ASSERT_EQ(helpDesk->created.size(), 1u);
  EXPECT_NE(helpDesk->created[0].description->find("threw an error : The upload failed."), std::string::npos);
}

}  // namespace
