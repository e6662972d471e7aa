#include <gtest/gtest.h>

#include <fstream>

#include "TelemetryTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

std::shared_ptr<DRTLDevice> requiredOnlyDevice() {
  auto device = std::make_shared<DRTLDevice>();
  device->sdkName = "diraraded.linux";
  device->sdkVersion = "4.0.0";
  device->osName = "Debian GNU/Linux";
  device->osVersion = "12.0.0";
  device->locale = "en_US";
  device->timeZoneOffset = -210;
  device->appVersion = "1.2";
  device->appBuild = "42";
  return device;
}

std::shared_ptr<DRTLAbstractLog> sampleLog() {
  auto log = std::make_shared<DRTLAbstractLog>();
  log->type = "event";
  log->timestamp = platform::Date(std::chrono::milliseconds(1614834367089));
  log->sid = "session/1";
  log->userId = "user";
  log->device = requiredOnlyDevice();
  log->device->wrapperSdkName = "wrapper";
  log->device->osApiLevel = 1LL << 40;
  return log;
}

TEST(DRTLRecordsTest, DeviceWithOnlyRequiredFieldsSerialisesEightKeysInOrder) {
  EXPECT_EQ(requiredOnlyDevice()->serializeToDictionary().dump(),
            R"({"sdkName":"diraraded.linux","sdkVersion":"4.0.0","osName":"Debian GNU/Linux","osVersion":"12.0.0",)"
            R"("locale":"en_US","timeZoneOffset":-210,"appVersion":"1.2","appBuild":"42"})");
}

TEST(DRTLRecordsTest, LogJsonKeepsSlashesAndKeyOrder) {
  auto log = sampleLog();
  log->device = nullptr;
  log->distributionGroupId = "group";
  EXPECT_EQ(log->serializeLogWithPrettyPrinting(false),
            R"({"type":"event","timestamp":"2021-03-04T05:06:07.089Z","sid":"session/1",)"
            R"("distributionGroupId":"group","userId":"user"})");
}

TEST(DRTLRecordsTest, ValidityNamesTheFirstMissingField) {
  testing_support::LogCapture capture;
  DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
  auto device = requiredOnlyDevice();
  device->locale.reset();
  device->appBuild.reset();
  EXPECT_FALSE(device->isValid());
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, "DRTLDevice: \"locale\" is not valid."));
  EXPECT_FALSE(capture.contains(DRTLLogLevelVerbose, "appBuild"));

  auto log = sampleLog();
  EXPECT_TRUE(log->isValid());
  log->device = device;
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, "DRTLAbstractLog: \"device\" is not valid."));
  log->type.reset();
  EXPECT_FALSE(log->isValid());
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, "DRTLAbstractLog: \"type\" is not valid."));
}

TEST(DRTLRecordsTest, EqualityIgnoresTokensButNotTagOrWrapperFields) {
  auto first = sampleLog(), second = sampleLog();
  second->addTransmissionTargetToken("a-b");
  EXPECT_TRUE(first->isEqual(second.get()));
  second->tag = std::make_shared<int>(1);
  EXPECT_FALSE(first->isEqual(second.get()));
  auto device = requiredOnlyDevice(), other = requiredOnlyDevice();
  other->ziraUpdatePackageHash = "hash";
  EXPECT_FALSE(device->isEqual(other.get()));
}

TEST(DRTLRecordsTest, TokensHandedOutNeverChange) {
  DRTLAbstractLog log;
  log.addTransmissionTargetToken("one");
  auto before = log.transmissionTargetTokens();
  log.addTransmissionTargetToken("two");
  EXPECT_EQ(before->size(), 1u);
  EXPECT_EQ(log.transmissionTargetTokens()->size(), 2u);
}

TEST(DRTLArchiveTest, LogWithDeviceRoundTripsWithMilliseconds) {
  auto log = sampleLog();
  std::optional<std::string> bytes = DRTLUtility::archiveKeyedData(log.get());
  ASSERT_TRUE(bytes.has_value());
  auto decoded = std::dynamic_pointer_cast<DRTLAbstractLog>(DRTLUtility::unarchiveKeyedData(bytes));
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->isEqual(log.get()));
  EXPECT_EQ(decoded->timestamp, log->timestamp);
  EXPECT_EQ(decoded->device->osApiLevel, 1LL << 40);
}

TEST(DRTLArchiveTest, WholeSecondDatesAreReadToo) {
  const std::string bytes = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>$archiver</key><string>VZKeyedArchive</string><key>$top</key><dict>
<key>$class</key><string>DRTLAbstractLog</string><key>timestamp</key><date>2021-03-04T05:06:07Z</date>
<key>type</key><string>event</string></dict><key>$version</key><integer>1</integer></dict></plist>)";
  auto decoded = std::dynamic_pointer_cast<DRTLAbstractLog>(DRTLUtility::unarchiveKeyedData(bytes));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->timestamp, platform::Date(std::chrono::seconds(1614834367)));
}

TEST(DRTLArchiveTest, OldClassNameReadsAsTheCurrentClass) {
  DRTLUtility::addMigrationClasses({{"DRDevice", "DRTLDevice"}});
  std::string bytes = *DRTLUtility::archiveKeyedData(requiredOnlyDevice().get());
  const std::string current = "<string>DRTLDevice</string>";
  bytes.replace(bytes.find(current), current.size(), "<string>DRDevice</string>");
  auto decoded = std::dynamic_pointer_cast<DRTLDevice>(DRTLUtility::unarchiveKeyedData(bytes));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->className(), "DRTLDevice");
  EXPECT_TRUE(decoded->isEqual(requiredOnlyDevice().get()));
}

TEST(DRTLArchiveTest, UnknownClassOrTruncatedBytesGiveNothingAndAnError) {
  testing_support::LogCapture capture;
  std::string bytes = *DRTLUtility::archiveKeyedData(requiredOnlyDevice().get());
  std::string unknown = bytes;
  unknown.replace(unknown.find("DRTLDevice"), 10, "DRTLMissing");
  EXPECT_EQ(DRTLUtility::unarchiveKeyedData(unknown), nullptr);
  EXPECT_EQ(DRTLUtility::unarchiveKeyedData(bytes.substr(0, bytes.size() / 2)), nullptr);
  EXPECT_EQ(capture.count(DRTLLogLevelError, "Unarchiving NSData failed with error: "), 2);
  EXPECT_EQ(DRTLUtility::unarchiveKeyedData(std::nullopt), nullptr);
  EXPECT_EQ(DRTLUtility::archiveKeyedData(nullptr), std::nullopt);
}

TEST(DRTLArchiveTest, PythonPlistlibReadsTheBytes) {
  ::testing_support::TemporaryDirectory folder;
  const auto file = folder / "log.plist";
  std::ofstream(file, std::ios::binary) << *DRTLUtility::archiveKeyedData(sampleLog().get());
  const std::string script =
      "import plistlib,sys; a=plistlib.load(open(sys.argv[1],'rb')); t=a['$top']; "
      "print(a['$archiver'], a['$version'], t['$class'], t['device']['$class'], repr(t['timestamp']), "
      "t['device']['osApiLevel'])";
  EXPECT_EQ(testing_support::runCommand("python3 -c " + testing_support::quoted(script) + " " +
                                        testing_support::quoted(file.string())),
            "VZKeyedArchive 1 DRTLAbstractLog DRTLDevice 1614834367.089 1099511627776\n");
}

}  // namespace
}  // namespace telemetry::core
