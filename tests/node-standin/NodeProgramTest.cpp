// The node-standin program as a process: the shut-down signals reach the
// main run loop, and an output that cannot be made stops the node before it
// listens.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>

#include "tests/nodes/NodeStandinProcess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace standin {
namespace {

using namespace std::chrono_literals;

class NodeProgramTest : public ::testing::Test {
 protected:
  std::unique_ptr<testing_support::ChildProcess> start(std::vector<std::string> extra) {
    const auto binary = testing_support::NodeStandinProcess::findBinary();
    if (!binary) return nullptr;
    std::vector<std::string> argv{binary->string(), "--listen", "127.0.0.1:0", "--media", media_.path().string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::string error;
    auto process = testing_support::ChildProcess::start(argv, {}, &error);
    EXPECT_NE(process, nullptr) << error;
    return process;
  }

  // The exit code; -1 when it did not exit on its own.
  static int exitCode(testing_support::ChildProcess& process) {
    const std::optional<int> status = process.exitStatus();
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  }

  testing_support::TemporaryDirectory media_;
};

TEST_F(NodeProgramTest, StopsCleanlyOnEachShutdownSignal) {
  for (const auto& [signal, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"}}) {
    auto node = start({});
    if (!node) GTEST_SKIP() << "node-standin not built";
    ASSERT_TRUE(node->waitForOutput("listening on 127.0.0.1:", false, 10s)) << node->standardError();
    ASSERT_TRUE(node->signalAndWaitForExit(signal, 10s)) << name << "\n" << node->standardError();
    EXPECT_EQ(exitCode(*node), 0) << name;
    EXPECT_NE(node->standardError().find(std::string("stopping on ") + name), std::string::npos)
        << node->standardError();
  }
}

TEST_F(NodeProgramTest, OutputThatCannotBeMadeStopsTheNodeBeforeItListens) {
  auto node = start({"--output", (media_.path() / "missing-folder" / "out.mkv").string()});
  if (!node) GTEST_SKIP() << "node-standin not built";
  // Both pipes close when it ends; a node that listens would keep them open.
  EXPECT_FALSE(node->waitForOutput("listening on", false, 20s));
  ASSERT_TRUE(node->signalAndWaitForExit(0, 10s));
  EXPECT_EQ(exitCode(*node), 1);
  EXPECT_FALSE(node->standardError().empty());
}

}  // namespace
}  // namespace standin
