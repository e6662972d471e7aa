#include <gtest/gtest.h>

#include <fstream>

#include "ContextFixture.h"
#include "TelemetryTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::core {
namespace {

using std::chrono::seconds;

class DRTLDeviceTrackerTest : public testing_support::ContextFixture {
 protected:
  DRTLDeviceTrackerTest() {
    std::filesystem::create_directories(folder_ / "dmi");
    write("dmi/product_name", "Studio Box 3\n");
    write("dmi/sys_vendor", "Maker Inc.\n");
    write("os-release", "PRETTY_NAME=\"Debian GNU/Linux 12\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
    write("osrelease", "6.1.0-18-amd64\n");
  }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary | std::ios::trunc) << text;
  }

  DRTLDeviceInfoProvider provider() const {
    return DRTLDeviceInfoProvider(DRTLDeviceInfoPaths{folder_ / "dmi", folder_ / "os-release",
                                                      folder_ / "missing", folder_ / "osrelease"});
  }

  ::testing_support::TemporaryDirectory folder_;
};

TEST_F(DRTLDeviceTrackerTest, ValuesComeFromTheSystemFiles) {
  DRTLDeviceTracker tracker(provider());
  auto device = tracker.device();
  EXPECT_EQ(device->model, "Studio Box 3");
  EXPECT_EQ(device->oemName, "Maker Inc.");
  EXPECT_EQ(device->osName, "Debian GNU/Linux");
  EXPECT_EQ(device->osVersion, "12.0.0");
  EXPECT_EQ(device->osBuild, "6.1.0-18-amd64");
  EXPECT_EQ(device->screenSize, "0x0");
  EXPECT_EQ(device->sdkName, "diraraded.linux");
  EXPECT_TRUE(device->isValid());
}

TEST_F(DRTLDeviceTrackerTest, MissingOrGarbledFilesGiveTheFallbacks) {
  std::filesystem::remove_all(folder_ / "dmi");
  write("os-release", "garbage without equals\n\x01\x02\n");
  write("osrelease", "5.10.0-custom\n");
  DRTLDeviceTracker tracker(provider());
  auto device = tracker.device();
  EXPECT_EQ(device->model, "Unknown");
  EXPECT_EQ(device->oemName, std::nullopt);
  EXPECT_EQ(device->osName, "Linux");
  EXPECT_EQ(device->osVersion, "5.10.0");
  std::filesystem::remove(folder_ / "osrelease");
  DRTLDeviceTracker::refreshDeviceNextTime();
  EXPECT_EQ(tracker.device()->osBuild, "Unknown");
  EXPECT_EQ(tracker.device()->osVersion, std::nullopt);
}

TEST_F(DRTLDeviceTrackerTest, VersionAndLocaleTexts) {
  const std::pair<std::string, std::optional<std::string>> versions[] = {
      {"12", "12.0.0"}, {"22.04", "22.4.0"}, {"6.1.0-18-amd64", "6.1.0"}, {"rolling", std::nullopt}, {"", std::nullopt}};
  for (const auto& [text, version] : versions) EXPECT_EQ(DRTLDeviceInfoProvider::versionText(text), version) << text;
  const std::pair<std::string, std::string> locales[] = {{"C", "en_US"},        {"POSIX", "en_US"},
                                                         {"en_US_POSIX", "en_US"}, {"de_DE", "de_DE"},
                                                         {"zh_Hans_CN", "zh-Hans_CN"}, {"fr", "fr"},
                                                         {"", "en_US"}};
  for (const auto& [identifier, text] : locales) EXPECT_EQ(DRTLDeviceInfoProvider::localeText(identifier), text) << identifier;
}

TEST_F(DRTLDeviceTrackerTest, SixLaunchesKeepFiveEntries) {
  std::vector<platform::Date> launches;
  for (int launch = 0; launch < 6; ++launch) {
    DRTLDeviceTracker::resetSharedInstance();
    launches.push_back(now());
    DRTLDeviceTracker tracker(provider());
    EXPECT_EQ(tracker.deviceHistory().size(), std::min(launch + 1, 5));
    advance(seconds(100));
  }
  DRTLDeviceTracker tracker(provider());
  auto history = tracker.deviceHistory();
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history.front()->timestamp, launches[2]);
}

TEST_F(DRTLDeviceTrackerTest, DeviceForTimestampPicksTheRecordCurrentThen) {
  DRTLDeviceTracker tracker(provider());
  const platform::Date first = now();
  advance(seconds(100));
  tracker.setCountryCode("FR");
  auto second = tracker.device();
  const platform::Date secondAt = now();
  ASSERT_EQ(tracker.deviceHistory().size(), 2u);
  auto oldest = tracker.deviceHistory()[0]->device;

  EXPECT_EQ(tracker.deviceForTimestamp(first - seconds(10)), oldest);  // before every entry
  EXPECT_EQ(tracker.deviceForTimestamp(first), oldest);                // equal to the first
  EXPECT_EQ(tracker.deviceForTimestamp(first + seconds(50)), oldest);  // between
  EXPECT_EQ(tracker.deviceForTimestamp(secondAt), second);             // equal to the newest
  EXPECT_EQ(tracker.deviceForTimestamp(secondAt + seconds(50)), second);
  EXPECT_EQ(tracker.deviceForTimestamp(std::nullopt), second);
  EXPECT_EQ(second->carrierCountry, "FR");
}

TEST_F(DRTLDeviceTrackerTest, WrapperSdkReplacesTheNewestEntryAndClearKeepsOne) {
  DRTLDeviceTracker tracker(provider());
  advance(seconds(5));
  tracker.setWrapperSdk(std::make_shared<DRTLWrapperSdk>("1.0", "wrapper", std::nullopt, std::nullopt, std::nullopt,
                                                         std::nullopt));
  ASSERT_EQ(tracker.deviceHistory().size(), 1u);
  EXPECT_EQ(tracker.deviceHistory()[0]->device->wrapperSdkName, "wrapper");
  advance(seconds(5));
  tracker.setCountryCode("DE");
  tracker.device();
  EXPECT_EQ(tracker.deviceHistory().size(), 2u);
  tracker.clearDevices();
  ASSERT_EQ(tracker.deviceHistory().size(), 1u);
  EXPECT_EQ(tracker.deviceHistory()[0]->device->carrierCountry, "DE");
  DRTLDeviceTracker reopened(provider());
  EXPECT_EQ(reopened.deviceHistory().size(), 2u);  // the saved entry plus this launch's
}

}  // namespace
}  // namespace telemetry::core
