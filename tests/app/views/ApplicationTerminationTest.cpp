// The application as a supervisor runs it: a termination signal ends it even
// while a start-up alert waits for the operator.

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "tests/nodes/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::views {
namespace {

using testing_support::ChildProcess;

constexpr std::chrono::seconds kStartLimit{60};
constexpr std::chrono::seconds kQuitLimit{30};

TEST(ApplicationTerminationTest, TerminationSignalDuringAStartUpAlertQuits) {
  testing_support::TemporaryDirectory home;
  // A file where the documents folder should be: the clip catalogue cannot
  // be made, and start-up shows that as an alert.
  const std::filesystem::path documents = home / "Documents";
  std::ofstream(documents) << "not a folder";
  const ChildProcess::Environment environment{
      {"QT_QPA_PLATFORM", "offscreen"},
      {"HOME", home.path().string()},
      {"XDG_CONFIG_HOME", (home / "config").string()},
      {"XDG_DATA_HOME", (home / "data").string()},
      {"XDG_CACHE_HOME", (home / "cache").string()},
      {"XDG_DOCUMENTS_DIR", documents.string()},
  };
  std::string error;
  auto application = ChildProcess::start({VZ_APPLICATION_PATH}, environment, &error);
  ASSERT_TRUE(application) << error;
  ASSERT_TRUE(application->waitForOutput("the clip catalogue is disabled", true, kStartLimit))
      << application->standardError();

  EXPECT_TRUE(application->signalAndWaitForExit(SIGTERM, kQuitLimit)) << application->standardError();
}

}  // namespace
}  // namespace app::views
