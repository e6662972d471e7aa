#include "support/ZendeskTexts.h"

#include <gtest/gtest.h>

namespace {

using namespace support::ZendeskTexts;

platform::Array options(std::initializer_list<std::pair<const char*, const char*>> entries) {
  platform::Array array;
  for (auto [name, value] : entries) array.push_back(platform::Dictionary{{"name", name}, {"value", value}});
  return array;
}

TEST(ZendeskTextsTest, PostTextReplacesQuotesTabsLineFeedsAndStrayBackslashes) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, ""},
      {"say \"hi\"\tnow\nbye", "say 'hi' now<br>bye"},
      {"a\\pb", "a|pb"},
      {"a\\nb\\tc", "a\\nb\\tc"},
      {"end\\", "end\\"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(encodeStringForPost(text), expected);
}

TEST(ZendeskTextsTest, FieldTagsComeOnlyFromTheOfferedOptions) {
  platform::Array applications = options({{"Vantelio Video", "vantelio_video"}, {"Other", "other"}});
  EXPECT_EQ(applicationTag("Vantelio Video 4", &applications), "vantelio_video");
  EXPECT_EQ(applicationTag("Unknown", &applications), "unknown_application");
  EXPECT_EQ(applicationTag("Vantelio Video", nullptr), "unknown_application");

  platform::Array devices = options({{"Mac Pro", "mac_pro"}});
  EXPECT_EQ(deviceModelTag("Mac Pro", &devices), "mac_pro");
  EXPECT_EQ(deviceModelTag("Playout Box", &devices), "unknown_device");

  platform::Array systems = options({{"10.15", "osx_10.15"}});
  EXPECT_EQ(osTag("10.15.7", &systems), "osx_10.15");
  EXPECT_EQ(osTag("11", &systems), "unknown_os");
  EXPECT_EQ(osTag("12.1", &systems), "unknown_os");  // not offered by the field
}

TEST(ZendeskTextsTest, FailureMessagesWordForWord) {
  EXPECT_EQ(creationFailure(422, "https://support.example"),
            "We could not create your support ticket.\n\nHTTP Error Code: 422 unprocessable entity\n\n"
            "Please try again or manually create a ticket on our support desk.\nhttps://support.example.");
  EXPECT_EQ(updateFailure(404, "https://support.example"),
            "We could not update your support ticket.\n\nError Code: 404 not found\n\n"
            "Please try again or manually create a ticket on our support desk.\nhttps://support.example.");
  EXPECT_EQ(creationFailure(500, "w"),
            "We could not create your support ticket.\n\nError Code:500 internal server error\n\n"
            "Please try again later or choose \"Collect Logs\" and send us the logs by email.");
  EXPECT_EQ(creationFailure(0, "w"),
            "We could not create your support ticket.\n\nError Code:0 no error\n\n"
            "Please try again later or choose \"Collect Logs\" and send us the logs by email.");
}

}  // namespace
