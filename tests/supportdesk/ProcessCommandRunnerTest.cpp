#include "support/ProcessCommandRunner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using support::Command;
using support::CommandResult;

class ProcessCommandRunnerTest : public ::testing::Test {
 protected:
  CommandResult runToEnd(Command command) {
    std::optional<CommandResult> result;
    runner_.run(std::move(command), [&](CommandResult r) { result = std::move(r); });
    EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return result.has_value(); }, "the command's completion"));
    return result.value_or(CommandResult{});
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  support::ProcessCommandRunner runner_;
};

TEST_F(ProcessCommandRunnerTest, RunsArgvInTheWorkingFolderWithoutAShell) {
  std::filesystem::create_directory(folder_ / "$(touch pwned)");
  Command command;
  command.argv = {"sh", "-c", "pwd; printf '%s' \"$1\"; exit 3", "sh", "$(touch pwned) `touch pwned`"};
  command.workingFolder = folder_ / "$(touch pwned)";
  CommandResult result = runToEnd(command);
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.output, (folder_ / "$(touch pwned)").string() + "\n$(touch pwned) `touch pwned`");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "pwned"));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "$(touch pwned)" / "pwned"));
}

TEST_F(ProcessCommandRunnerTest, BoundsTheOutputAndReadsToTheEnd) {
  Command command;
  command.argv = {"head", "-c", "300000", "/dev/zero"};
  command.maxOutputBytes = 1000;
  CommandResult result = runToEnd(command);
  EXPECT_TRUE(result.succeeded());
  EXPECT_EQ(result.output.size(), 1000u);
  EXPECT_TRUE(result.outputTruncated);
}

TEST_F(ProcessCommandRunnerTest, WritesOutputToANewOwnerOnlyFileAndNeverOverwrites) {
  Command command;
  command.argv = {"echo", "journal"};
  command.outputFile = folder_ / "out.log";
  EXPECT_TRUE(runToEnd(command).succeeded());
  EXPECT_EQ(platform::readFile(folder_ / "out.log").value(), "journal\n");
  struct stat info {};
  ASSERT_EQ(::stat((folder_ / "out.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  CommandResult again = runToEnd(command);
  EXPECT_FALSE(again.succeeded());
  EXPECT_FALSE(again.launchError.empty());
  EXPECT_EQ(platform::readFile(folder_ / "out.log").value(), "journal\n");
}

TEST_F(ProcessCommandRunnerTest, AMissingProgramFailsClearly) {
  Command command;
  command.argv = {"no-such-program-for-the-support-desk"};
  CommandResult result = runToEnd(command);
  EXPECT_FALSE(result.succeeded());
  EXPECT_NE(result.launchError.find("no-such-program-for-the-support-desk"), std::string::npos);
  command.argv.clear();
  EXPECT_FALSE(runToEnd(command).launchError.empty());
}

TEST_F(ProcessCommandRunnerTest, ACommandPastItsTimeLimitIsKilledWithWhatItStarted) {
  std::optional<CommandResult> result;
  Command command;
  // The grandchild keeps the pipe open: only killing the group ends the read.
  command.argv = {"sh", "-c", "sleep 300 & sleep 300"};
  command.timeLimit = std::chrono::seconds(10);
  runner_.run(command, [&](CommandResult r) { result = std::move(r); });
  EXPECT_TRUE(testing_support::advanceClockUntil(clock_, std::chrono::seconds(5), [&] { return result.has_value(); }, 20));
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->timedOut);
  EXPECT_FALSE(result->succeeded());
}

}  // namespace
