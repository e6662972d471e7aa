#include <gtest/gtest.h>

#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

// Puts the process-wide logger back after each test.
class DRTLLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DRTLLogger::setLogHandler(DRTLLogger::defaultLogHandler());
    DRTLLogger::setCurrentLogLevel(DRTLLogLevelAssert);
    DRTLLogger::setIsUserDefinedLogLevel(false);
    DRTLLogger::setSystemLogWriterForTesting([this](const std::string& line) { written_.push_back(line); });
  }
  void TearDown() override { DRTLLogger::setSystemLogWriterForTesting(nullptr); }

  void logAtEveryLevel() {
    for (int level : {2, 3, 4, 5, 6, 7}) {
      DRTLLogger::logMessage([level] { return "message " + std::to_string(level); }, level, "DirAraded", "file.cpp",
                             "function", 42);
    }
  }

  std::vector<std::string> written_;
};

TEST_F(DRTLLoggerTest, DefaultSinkGetsOnlyAssertBeforeALevelIsChosen) {
  logAtEveryLevel();
  ASSERT_EQ(written_.size(), 1u);
  EXPECT_EQ(written_[0], "[DirAraded] ASSERT: function/42 message 7");
  EXPECT_FALSE(DRTLLogger::isUserDefinedLogLevel());
}

TEST_F(DRTLLoggerTest, DefaultSinkFollowsTheChosenLevelAndIsSilentAtNone) {
  DRTLLogger::setCurrentLogLevel(DRTLLogLevelWarning);
  EXPECT_TRUE(DRTLLogger::isUserDefinedLogLevel());
  logAtEveryLevel();
  EXPECT_EQ(written_, (std::vector<std::string>{"[DirAraded] WARNING: function/42 message 5",
                                                "[DirAraded] ERROR: function/42 message 6",
                                                "[DirAraded] ASSERT: function/42 message 7"}));
  written_.clear();
  DRTLLogger::setCurrentLogLevel(DRTLLogLevelNone);
  logAtEveryLevel();
  DRTLLogger::logMessage([] { return "none"; }, DRTLLogLevelNone, "DirAraded", "f", "g", 1);
  EXPECT_TRUE(written_.empty());
}

TEST_F(DRTLLoggerTest, MessageBelowTheLevelIsNeverBuilt) {
  bool built = false;
  DRTLLogger::logMessage([&] { built = true; return std::string("x"); }, DRTLLogLevelVerbose, "DirAraded", "f", "g", 1);
  EXPECT_FALSE(built);
}

TEST_F(DRTLLoggerTest, HostHandlerGetsEveryLineWhateverTheLevel) {
  testing_support::LogCapture capture;
  DRTLLogger::setCurrentLogLevel(DRTLLogLevelNone);
  logAtEveryLevel();
  EXPECT_EQ(capture.lines().size(), 6u);
  EXPECT_TRUE(written_.empty());
}

TEST_F(DRTLLoggerTest, EmptyHandlerSilencesEverything) {
  DRTLLogger::setLogHandler(nullptr);
  logAtEveryLevel();
  EXPECT_TRUE(written_.empty());
  DRTLLogger::setLogHandler(DRTLLogger::defaultLogHandler());
}

}  // namespace
}  // namespace telemetry::core
