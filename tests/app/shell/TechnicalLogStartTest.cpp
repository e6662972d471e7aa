// The application's technical log is written from the first line, with no
// display delegate, in the registered folder or the one given as an argument.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/shell/ApplicationDelegate.h"
#include "app/shell/RegisteredDefaults.h"
#include "app/shell/TechnicalLogStart.h"
#include "foundation/CVNLogController.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

std::string readAllLogs(const std::filesystem::path& folder) {
  std::string text;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() != ".log") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::ostringstream read;
    read << file.rdbuf();
    text += read.str();
  }
  return text;
}

class TechnicalLogStartTest : public ::testing::Test {
 protected:
  void writeLine(platform::UserDefaults& defaults) {
    ApplicationDelegate::initialize(defaults);
    foundation::CVNLogController::Environment environment;
    environment.defaults = &defaults;
    environment.console = [](std::string_view) {};
    foundation::CVNLogController log(std::move(environment));
    startTechnicalLog(defaults, log);
    log.logMessage("node connected", 2, false);
    ASSERT_TRUE(log.flush(std::chrono::seconds(10)));
  }

  testing_support::TemporaryDirectory home_;
};

TEST_F(TechnicalLogStartTest, WritesWithoutADelegateInTheXdgStateFolder) {
  const char* previous = std::getenv("XDG_STATE_HOME");
  const std::string kept = previous ? previous : "";
  ::setenv("XDG_STATE_HOME", home_.path().c_str(), 1);
  EXPECT_EQ(defaultTechnicalLogFolder(), home_.path() / "VantelioZira" / "Logs");
  platform::UserDefaults defaults("");
  writeLine(defaults);
  const std::string text = readAllLogs(home_.path() / "VantelioZira" / "Logs");
  if (previous) ::setenv("XDG_STATE_HOME", kept.c_str(), 1); else ::unsetenv("XDG_STATE_HOME");
  EXPECT_NE(text.find("\t\tnode connected\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" started\r\n"), std::string::npos) << text;
}

TEST_F(TechnicalLogStartTest, WritesInTheFolderGivenAsAnArgument) {
  const std::filesystem::path folder = home_.path() / "given" / "logs";
  platform::UserDefaults defaults("", std::vector<std::string>{"-technicalLogFolderPath", folder.string()});
  writeLine(defaults);
  EXPECT_NE(readAllLogs(folder).find("\t\tnode connected\r\n"), std::string::npos);
}

}  // namespace
}  // namespace app
