#include "support/window/SupportWindowTexts.h"

#include <gtest/gtest.h>

#include "platform/DateFormatter.h"

namespace {

using namespace support::window;

TEST(SupportWindowTextsTest, EmailCheckTable) {
  struct Case {
    const char* field;
    const char* address;
    bool invalid;
    bool labelRed;
  };
  const Case cases[] = {
      {"ann@example.com", "ann@example.com", false, false},
      {"ann@examplecom", "ann@examplecom", true, true},     // no dot after "@"
      {"ann@.example.com", "ann@.example.com", true, true},  // the part after "@" begins with a dot
      {" an n@exam\tple.com\n", "ann@example.com", false, false},
      {"", "", false, false},  // empty passes here; Continue refuses it
      {"ann", "ann", true, false},
      {"a@b@c.d", "a@b@c.d", true, false},
  };
  for (const Case& c : cases) {
    const EmailCheck check = checkEmailAddress(c.field);
    EXPECT_EQ(check.address, c.address) << c.field;
    EXPECT_EQ(check.invalid, c.invalid) << c.field;
    EXPECT_EQ(check.labelRed, c.labelRed) << c.field;
  }
}

TEST(SupportWindowTextsTest, ContinueButtonRolesAndPlaces) {
  struct Case {
    ContinueRole role;
    const char* title;
    int width;
  };
  const Case cases[] = {{ContinueRole::Next, "Continue", 97},
                        {ContinueRole::SubmitNewTicket, "Submit New Ticket", 158},
                        {ContinueRole::UpdateTicket, "Update Ticket", 127},
                        {ContinueRole::CollectLogs, "Collect Logs\u2026", 125},
                        {ContinueRole::Done, "Done", 97}};
  for (const Case& c : cases) {
    EXPECT_STREQ(continueButtonRole(c.role).title, c.title);
    EXPECT_EQ(continueButtonRole(c.role).width, c.width) << c.title;
    const ButtonPlaces places = buttonPlaces(600, c.role);
    EXPECT_EQ(places.continueX, 600 - 13 - c.width) << c.title;
    EXPECT_EQ(places.backX, places.continueX - 97) << c.title;
  }
}

TEST(SupportWindowTextsTest, BundleFolderNames) {
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("UTC"));
  using namespace std::chrono;
  const system_clock::time_point occurred = sys_days{2026y / 3 / 4} + 5h + 6min + 7s;
  const system_clock::time_point now = sys_days{2026y / 12 / 11} + 13h + 14min + 15s;
  EXPECT_EQ(bundleFolderName(std::string("4711"), occurred, "Studio 3's Mac|Pro (2)", "Zarq", now),
            "4711_260304-0506_Studio3sMacPro2_Zarq_261211-131415");
  EXPECT_EQ(bundleFolderName(std::nullopt, occurred, "playout-1.local", "Z a'r|q", now),
            "260304-0506_playout1local_Zarq_261211-131415");
}

TEST(SupportWindowTextsTest, OsVersionNumbers) {
  EXPECT_EQ(osVersion("10.11.6"), 1011);
  EXPECT_EQ(osVersion("10.14"), 1014);
  EXPECT_EQ(osVersion("12"), 0);
  EXPECT_EQ(osVersion(""), 0);
}

TEST(SupportWindowTextsTest, UploadProgressTexts) {
  EXPECT_EQ(progressText(0.25, 0.5), "0.250 MB of 0.500 MB");
  EXPECT_EQ(progressText(12.4, 250.2), "12 MB of 250 MB");
  EXPECT_EQ(progressText(0.4, 1.0), "0 MB of 1 MB");
  EXPECT_EQ(speedText(1000), "(1000 KB/s)");
  EXPECT_EQ(speedText(1000.5), "(1.00 MB/s)");
  EXPECT_EQ(speedText(2345.678), "(2.35 MB/s)");
  EXPECT_EQ(speedText(512.4), "(512 KB/s)");
  EXPECT_EQ(remainingText(2 * 86400 + 5), "-  About 2 day(s) remaining");
  EXPECT_EQ(remainingText(86400), "-  About 1 day(s) remaining");
  EXPECT_EQ(remainingText(3 * 3600 + 59), "-  About 3 h remaining");
  EXPECT_EQ(remainingText(3599), "-  59 min remaining");
  EXPECT_EQ(remainingText(60), "-  1 min remaining");
  EXPECT_EQ(remainingText(59.9), "-  59 s remaining");
  EXPECT_EQ(durationText(3600 + 2 * 60 + 5), "01:02:05");
  EXPECT_EQ(durationText(0.4), "00:00:00");
}

TEST(SupportWindowTextsTest, TicketTextCarriesTheLinkOrTheError) {
  const TicketDescription linked = ticketDescription("It stops.", std::string("https://s/logs/b.zip"), std::nullopt);
  EXPECT_EQ(linked.text, "It stops.<br><br>---------<br>Attachments:<br> <a href='https://s/logs/b.zip'>b.zip</a>");
  EXPECT_FALSE(linked.uploadFailed);
  const TicketDescription failed = ticketDescription("It stops.", std::nullopt, std::string("cancelled"));
  EXPECT_EQ(failed.text,
            "It stops.<br><br>---------<br>Attachments:<br>The upload of the file(s) threw an error : cancelled");
  EXPECT_TRUE(failed.uploadFailed);
  EXPECT_EQ(ticketDescription("It stops.", std::nullopt, std::nullopt).text, "It stops.");
}

}  // namespace
