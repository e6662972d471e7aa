#include "pluginframework/CVNDeviceController.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace pluginframework {
namespace {

namespace fs = std::filesystem;

class NamedInput final : public CVNVideoInput {
 public:
  explicit NamedInput(std::string name) : name_(std::move(name)) {}
  std::string name() const override { return name_; }
  std::string uniqueID() const override { return "id-" + name_; }
  std::int32_t deviceType() const override { return 1; }
  bool isRunning() const override { return false; }
  std::shared_ptr<const CVNDisplayMode> selectedDisplayMode() const override { return nullptr; }
  void setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode>) override {}
  bool startCapture(platform::Error*) override { return false; }
  void stopCapture() override {}
  platform::Dictionary settings() const override { return {}; }
  void setSettings(const platform::Dictionary&) override {}
  void setDelegate(CVNVideoInputDelegate*) override {}

 private:
  std::string name_;
};

class FakeDevice final : public CVNDevice {
 public:
  explicit FakeDevice(std::vector<std::string> names) {
    for (auto& name : names) inputs_.push_back(std::make_shared<NamedInput>(std::move(name)));
  }
  std::vector<std::shared_ptr<CVNVideoInput>> inputs() const override { return inputs_; }
  std::vector<std::shared_ptr<CVNVideoOutput>> outputs() const override { return {}; }

 private:
  std::vector<std::shared_ptr<CVNVideoInput>> inputs_;
};

std::vector<std::string> names(const InputList& inputs) {
  std::vector<std::string> out;
  for (const auto& input : inputs) out.push_back(input->name());
  return out;
}

class DeviceControllerTest : public ::testing::Test {
 protected:
  void flush() { ASSERT_TRUE(queue_.sync([] {}, std::chrono::seconds(10))); }
  // Every notification the controller posts, as "name: input names".
  std::vector<std::string> seen() {
    flush();
    std::lock_guard guard(mutex_);
    return seen_;
  }
  fs::path copyPlugin(const std::string& name, const std::string& as) {
    const fs::path target = folder_ / "PlugIns" / as;
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::path(VZ_TEST_PLUGINS) / (name + ".so"), target, fs::copy_options::overwrite_existing);
    return target;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  platform::NotificationCenter center_;
  platform::SerialQueue queue_{"test.main"};
  CVNDeviceController controller_{CVNDeviceController::Environment{&center_, &queue_}};
  std::mutex mutex_;
  std::vector<std::string> seen_;  // guarded by mutex_
  platform::ObserverToken token_ = center_.addObserver("", &controller_, [this](const platform::Notification& note) {
    std::string line = note.name + ":";
    if (const auto* inputs = std::any_cast<InputList>(&note.object)) {
      for (const auto& name : names(*inputs)) line += " " + name;
    }
    std::lock_guard guard(mutex_);
    seen_.push_back(line);
  });
};

TEST_F(DeviceControllerTest, LoadingTableOfPluginsInAFolder) {
  for (const char* name : {"Good", "Absent", "Unsupported", "Old", "Old Legacy", "Stale", "Direct Legacy", "NoEntry",
                           "OtherVersion", "ShortTable"}) {
    copyPlugin(name, std::string(name) + ".so");
  }
  // The same good plug-in for another machine, writable by anyone, and behind a link.
  const fs::path foreign = copyPlugin("Good", "Foreign.so");
  {
    std::fstream file(foreign, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(18);
    const char otherMachine[2] = {static_cast<char>(0x14), 0};  // PowerPC
    file.write(otherMachine, 2);
  }
  const fs::path writable = copyPlugin("Good", "Writable.so");
  fs::permissions(writable, fs::perms::others_write, fs::perm_options::add);
  fs::create_symlink(folder_ / "PlugIns" / "Good.so", folder_ / "PlugIns" / "Linked.so");
  std::ofstream(folder_ / "PlugIns" / "ReadMe.txt") << "not a plug-in";

  controller_.loadPluginsFromFolder(folder_ / "PlugIns");

  std::vector<std::string> loaded;
  for (const auto& plugin : controller_.deviceControllers()) loaded.push_back(plugin->pluginName());
  EXPECT_EQ(loaded, (std::vector<std::string>{"Good", "Old Legacy"}));
  const std::string dir = (folder_ / "PlugIns").string() + "/";
  const struct {
    std::string line;
    std::size_t count;
  } rows[] = {
      {"Trying to load plugin: Good.so (Universal)", 1},
      {"Good (v.2.0 using SDK 12.4) - Loaded with drivers version 7.1", 1},
      {"Error: Absent - Drivers are not installed", 1},
      {"Error: Unsupported - Drivers (version 7.1) are not supported. Please update to a supported version.", 1},
      {"Old Legacy (v.2.0 using SDK 12.4) - Loaded with drivers version 6.0", 1},
      {"Error: Old - Drivers (version 7.1) are too old", 0},
      {"Error: Stale - Drivers (version 7.1) are too old. Please update to a newer version.", 1},
      {"Trying to load plugin: Direct Legacy.so", 0},
      {"Trying to load plugin: Old Legacy.so (Universal)", 1},
      {"Error: No principal class for plugin at path: " + dir + "NoEntry.so", 1},
      {"Error: No principal class for plugin at path: " + dir + "OtherVersion.so", 1},
      {"Error: No principal class for plugin at path: " + dir + "ShortTable.so", 1},
      {"Trying to load plugin: Foreign.so (Intel)", 1},
      {"Error: No plugin at path: " + dir + "Foreign.so", 1},
      {"is writable by anyone; not loaded", 1},
      {"Error: No plugin at path: " + dir + "Writable.so", 1},
      {"Error: No plugin at path: " + dir + "Linked.so", 1},
      {"Error: No plugin at path: " + dir + "ReadMe.txt", 1},
  };
  for (const auto& row : rows) EXPECT_EQ(log_.linesWith(row.line), row.count) << row.line;

  EXPECT_EQ(controller_.pluginsDescription(),
            "Absent not installed\n"
            "Good v2.0 using SDK 12.4 driver v7.1 (supported)\n"
            "Old v2.0 using SDK 12.4 driver v7.1 (supported)\n"
            "Old Legacy v2.0 using SDK 12.4 driver v6.0 (supported)\n"
            "Stale v2.0 using SDK 12.4 driver v7.1 (supported)\n"
            "Unsupported v2.0 using SDK 12.4 driver v7.1 (NOT supported)\n");
  EXPECT_EQ(controller_.inputNames(),
            (std::vector<std::string>{"Good In 1", "Good In 2", "Old Legacy In 1", "Old Legacy In 2"}));
  ASSERT_NE(controller_.inputWithName("Old Legacy In 2"), nullptr);
  EXPECT_EQ(controller_.inputWithUniqueID("Good In 1")->name(), "Good In 1");
  EXPECT_EQ(controller_.inputWithName("Missing"), nullptr);
  EXPECT_EQ(controller_.deviceControllerWithDeviceType(1)->pluginName(), "Good");
  EXPECT_EQ(controller_.deviceControllerWithDeviceType(3), nullptr);
  EXPECT_EQ(controller_.createVirtualOutputWithName("V", "V", true), nullptr);
}

TEST_F(DeviceControllerTest, OnlyAbsolutePathsLoad) {
  copyPlugin("Good", "Good.so");
  CVNDeviceControllerProtocolRef instance;
  EXPECT_FALSE(controller_.loadPluginAtPath("Good.so", &instance));
  EXPECT_EQ(instance, nullptr);
  EXPECT_TRUE(controller_.loadPluginAtPath(folder_ / "PlugIns" / "Good.so", &instance));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->apiVersionString(), "7.1");
  controller_.loadPluginsFromFolder(folder_ / "missing");
  EXPECT_TRUE(controller_.deviceControllers().empty());
}

TEST_F(DeviceControllerTest, InputsTakeTheirSortedPlacesOnceAndNotificationsKeepReportingOrder) {
  auto first = std::make_shared<FakeDevice>(std::vector<std::string>{"C"});
  auto second = std::make_shared<FakeDevice>(std::vector<std::string>{"B", "A"});
  controller_.deviceAppeared(first);
  controller_.deviceAppeared(second);
  controller_.deviceAppeared(second);
  EXPECT_EQ(names(controller_.availableInputs()), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_EQ(controller_.devices().size(), 2u);
  controller_.deviceDisappeared(first);
  controller_.deviceDisappeared(first);
  controller_.deviceConfigurationWillChange(nullptr, true);
  EXPECT_EQ(names(controller_.availableInputs()), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(seen(), (std::vector<std::string>{"deviceInputAppeared: C", "deviceInputAppeared: B A",
                                              "deviceInputDisappeared: C", "deviceConfigurationWillChange:"}));
}

TEST_F(DeviceControllerTest, ReportsFromPluginThreadsKeepTheListsWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        auto device = std::make_shared<FakeDevice>(
            std::vector<std::string>{"T" + std::to_string(t) + "-" + std::to_string(i)});
        controller_.deviceAppeared(device);
        if (i % 2) controller_.deviceDisappeared(device);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(controller_.availableInputs().size(), 100u);
  const auto lines = seen();
  // Each disappearance comes after the appearance of the same input.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("deviceInputDisappeared:", 0) != 0) continue;
    const std::string appeared = "deviceInputAppeared:" + lines[i].substr(std::string("deviceInputDisappeared:").size());
    EXPECT_NE(std::find(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(i), appeared),
              lines.begin() + static_cast<std::ptrdiff_t>(i))
        << lines[i];
  }
}

}  // namespace
}  // namespace pluginframework
