#include <gtest/gtest.h>

#include "platform/Files.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

TEST(DRTLUtilityFileTest, DirectoryLiesUnderApplicationSupportAndExists) {
  EXPECT_TRUE(DRTLUtility::fileExistsForPathComponent("."));
  const auto directory = DRTLUtility::dirAradedDirectoryURL();
  EXPECT_EQ(directory.filename(), "TelemetryCore");
  EXPECT_TRUE(directory.string().starts_with(platform::userApplicationSupportFolder().string()));
}

TEST(DRTLUtilityFileTest, CreateLeavesExistingFilesUnlessForced) {
  const std::string name = "files/one.bin";
  ASSERT_TRUE(DRTLUtility::createFileAtPathComponent(name, std::string("first"), true, true));
  EXPECT_EQ(DRTLUtility::createFileAtPathComponent(name, std::string("second"), false, false),
            DRTLUtility::fullURLForPathComponent(name));
  EXPECT_EQ(DRTLUtility::loadDataForPathComponent(name), "first");
  ASSERT_TRUE(DRTLUtility::createFileAtPathComponent(name, std::nullopt, false, true));
  EXPECT_EQ(DRTLUtility::loadDataForPathComponent(name), "");
  EXPECT_EQ(DRTLUtility::contentsOfDirectory("files")->size(), 1u);
  EXPECT_TRUE(DRTLUtility::deleteItemForPathComponent("files"));
  EXPECT_FALSE(DRTLUtility::fileExistsForPathComponent(name));
  EXPECT_EQ(DRTLUtility::contentsOfDirectory("files"), std::nullopt);
  EXPECT_EQ(DRTLUtility::createFileAtPathComponent(std::nullopt, std::nullopt, false, false), std::nullopt);
}

}  // namespace
}  // namespace telemetry::core
