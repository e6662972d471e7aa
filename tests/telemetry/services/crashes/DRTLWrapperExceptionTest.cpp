// Wrapper exceptions on disk: matched with the first crash report of their
// process, found again by incident identifier, and dropped when nothing matches.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/DRTLCrashesUtil.h"
#include "telemetry/services/crashes/exceptions/DRTLWrapperExceptionManager.h"

namespace telemetry::crashes {
namespace {

namespace fs = std::filesystem;
using Manager = DRTLWrapperExceptionManager;

std::shared_ptr<DRTLErrorReport> reportOf(const std::string& incident, std::uint64_t processId) {
  return std::make_shared<DRTLErrorReport>(incident, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                           platform::Date{}, platform::Date{}, nullptr, processId);
}

DRTLWrapperException wrapperOf(std::uint64_t processId, const std::string& type) {
  DRTLWrapperException exception;
  exception.processId = processId;
  exception.exceptionData = platform::Data{1, 2, 3};
  exception.modelException = std::make_shared<DRTLException>();
  exception.modelException->type = type;
  return exception;
}

class DRTLWrapperExceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = *core::DRTLUtility::fullURLForPathComponent(DRTLCrashesUtil::wrapperExceptionsDir());
    fs::create_directories(folder_);
    for (const auto& entry : fs::directory_iterator(folder_)) fs::remove(entry.path());
  }
  fs::path folder_;
};

TEST_F(DRTLWrapperExceptionTest, TheFirstReportOfTheProcessGetsTheExceptionAndKeepsIt) {
  Manager::saveWrapperException(wrapperOf(42, "System.NullReferenceException"));
  Manager::correlateLastSavedWrapperExceptionToReport(
      {reportOf("A-1", 7), reportOf("B-2", 42), reportOf("C-3", 42)});
  EXPECT_FALSE(fs::exists(folder_ / kDRTLLastWrapperExceptionFileName));
  ASSERT_TRUE(fs::exists(folder_ / "B-2"));
  EXPECT_FALSE(fs::exists(folder_ / "C-3"));

  // The same run answers from the cache, also once the file is gone.
  Manager::deleteWrapperExceptionWithUUIDString("B-2");
  const auto cached = Manager::loadWrapperExceptionWithUUIDString("B-2");
  ASSERT_TRUE(cached && cached->modelException);
  EXPECT_EQ(cached->modelException->type, "System.NullReferenceException");
  EXPECT_EQ(cached->exceptionData, (platform::Data{1, 2, 3}));
  EXPECT_FALSE(Manager::loadWrapperExceptionWithUUIDString("C-3"));
}

TEST_F(DRTLWrapperExceptionTest, AnExceptionOfNoPendingProcessIsDroppedAndABrokenFileReportedOnce) {
  Manager::saveWrapperException(wrapperOf(99, "Error"));
  Manager::correlateLastSavedWrapperExceptionToReport({reportOf("D-4", 7)});
  EXPECT_TRUE(fs::is_empty(folder_));

  // A later run reads a matched exception from its file.
  Manager::saveWrapperException(wrapperOf(5, "Error"), "E-5");
  EXPECT_EQ(Manager::loadWrapperExceptionWithUUIDString("E-5")->processId, 5u);

  std::ofstream(folder_ / "F-6") << "not an archive";
  core::testing_support::LogCapture log;
  core::DRTLLogger::setCurrentLogLevel(2);
  EXPECT_FALSE(Manager::loadWrapperExceptionWithUUIDString("F-6"));
  EXPECT_FALSE(Manager::loadWrapperExceptionWithUUIDString("F-6"));
  EXPECT_EQ(log.count(6, "Could not read exception data stored on disk with file name F-6"), 1);
  EXPECT_FALSE(fs::exists(folder_ / "F-6"));
  EXPECT_FALSE(Manager::loadWrapperExceptionWithBaseFilename(""));
}

}  // namespace
}  // namespace telemetry::crashes
