// Every test of this binary runs with its XDG folders in one temporary folder,
// so the SDK directory, the keychain and the user defaults never touch the
// user's own files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class TelemetryTestEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "telemetry-core-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
      std::filesystem::create_directories(root_ / variable);
      setenv(variable, (root_ / variable).c_str(), 1);
    }
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::filesystem::path root_;
};

const testing::Environment* const environment = testing::AddGlobalTestEnvironment(new TelemetryTestEnvironment);

}  // namespace
