// Every test of this binary runs with HOME and its XDG folders in one
// temporary folder, so the SDK directory, the keychain and the user defaults
// never touch the user's own files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace {

class TelemetryTestEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "telemetry-core-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    setenv("HOME", root_.c_str(), 1);
    const std::pair<const char*, const char*> folders[] = {
        {"XDG_DATA_HOME", ".local/share"}, {"XDG_CONFIG_HOME", ".config"}, {"XDG_CACHE_HOME", ".cache"}};
    for (const auto& [variable, folder] : folders) {
      std::filesystem::create_directories(root_ / folder);
      setenv(variable, (root_ / folder).c_str(), 1);
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
