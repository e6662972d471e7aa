#pragma once
// The process-wide owner of the device plug-ins: it loads every shared object
// of the "PlugIns" folder (by absolute path, after checking that the file is
// a regular file, not world-writable and built for this process), keeps one
// principal instance per loaded plug-in, gathers the devices the plug-ins
// report and keeps the sorted lists of all inputs and outputs that the engine
// offers. Device reports become notifications on the default centre.
//
// Threads: plug-ins report devices from their own threads; the lists are
// guarded, and every notification is posted on the main queue in the order
// the reports came, so observers never see a disappearance before the
// appearance it follows.

#include <any>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "pluginframework/CVNDevice.h"

namespace platform {
class DispatchQueue;
class NotificationCenter;
}  // namespace platform

namespace pluginframework {

// Notification names; the sender is the controller. The inputs or outputs of
// the device travel in the notification's object as an InputList / OutputList.
inline constexpr const char* kDeviceInputAppearedNotification = "deviceInputAppeared";
inline constexpr const char* kDeviceOutputAppearedNotification = "deviceOutputAppeared";
inline constexpr const char* kDeviceInputDisappearedNotification = "deviceInputDisappeared";
inline constexpr const char* kDeviceOutputDisappearedNotification = "deviceOutputDisappeared";
inline constexpr const char* kDeviceConfigurationWillChangeNotification = "deviceConfigurationWillChange";
inline constexpr const char* kDeviceConfigurationChangedNotification = "deviceConfigurationChanged";
inline constexpr std::int32_t kVirtualOutputDeviceType = 3;
inline constexpr const char* kHiddenVirtualOutputUniqueID = "Virtual Output";

using InputList = std::vector<std::shared_ptr<CVNVideoInput>>;
using OutputList = std::vector<std::shared_ptr<CVNVideoOutput>>;

class CVNDeviceController final : public CVNDeviceControllerDelegate {
 public:
  // Where notifications go (the default centre and the main queue unless a test gives others).
  struct Environment {
    platform::NotificationCenter* notificationCenter = nullptr;
    platform::DispatchQueue* mainQueue = nullptr;
  };

  CVNDeviceController();
  explicit CVNDeviceController(Environment environment);
  ~CVNDeviceController() override;
  CVNDeviceController(const CVNDeviceController&) = delete;
  CVNDeviceController& operator=(const CVNDeviceController&) = delete;

  // Created once, loading the main bundle's "PlugIns" folder.
  static std::shared_ptr<CVNDeviceController> sharedDeviceController();
  // Drops the shared instance (application termination).
  static void quit();

  // Loads every plug-in of the folder except those whose name holds "Legacy".
  void loadPluginsFromFolder(const std::filesystem::path& folder);
  // True on a process running natively on 64-bit ARM: plug-ins must say their drivers support it.
  static bool requiresFatPlugins();
  bool loadPluginAtPath(const std::filesystem::path& path, CVNDeviceControllerProtocolRef* instance);
  void setDeviceControllers(std::vector<CVNDeviceControllerProtocolRef> controllers);

  std::vector<CVNDeviceControllerProtocolRef> deviceControllers() const;
  std::vector<CVNDeviceRef> devices() const;
  InputList availableInputs() const;
  OutputList availableOutputs() const;
  // availableOutputs without the outputs whose unique ID is kHiddenVirtualOutputUniqueID:
  // the engine's own virtual output is no device an operator chooses.
  OutputList availableDeviceOutputs() const;
  std::vector<std::string> inputNames() const;
  std::vector<std::string> outputNames() const;
  std::shared_ptr<CVNVideoInput> inputWithName(const std::string& name) const;
  std::shared_ptr<CVNVideoInput> inputWithUniqueID(const std::string& uniqueID) const;
  std::shared_ptr<CVNVideoOutput> outputWithName(const std::string& name) const;
  std::shared_ptr<CVNVideoOutput> outputWithUniqueID(const std::string& uniqueID) const;
  CVNDeviceControllerProtocolRef deviceControllerWithDeviceType(std::int32_t type) const;
  void startSearchingSourcesWithDeviceType(std::int32_t type);
  void stopSearchingSourcesWithDeviceType(std::int32_t type);
  CVNDeviceRef createVirtualOutputWithName(const std::string& name, const std::string& uniqueID, bool hidden);

  // One line per plug-in whose instance was made, refused ones included.
  std::string pluginsDescription() const;
  std::vector<platform::Dictionary> pluginInfos() const;
  // The logo image name of a device type; none for types it does not name.
  static std::optional<std::string> deviceLogoImageForDeviceType(std::int32_t type);

  // CVNDeviceControllerDelegate (any thread).
  void deviceAppeared(const CVNDeviceRef& device) override;
  void deviceDisappeared(const CVNDeviceRef& device) override;
  void deviceConfigurationWillChange(const CVNDeviceRef& device, bool forcingStreamToStop) override;
  void deviceConfigurationChanged(const CVNDeviceRef& device) override;
  void logMessage(const std::string& message, std::int32_t level, bool show) override;

 private:
  void post(std::string name, std::any object, platform::Dictionary userInfo = {});
  bool fileMayLoad(const std::filesystem::path& path) const;

  Environment environment_;
  mutable std::mutex mutex_;
  std::vector<CVNDeviceControllerProtocolRef> deviceControllers_;  // guarded by mutex_
  std::vector<CVNDeviceRef> devices_;                               // guarded by mutex_
  InputList availableInputs_;                                       // guarded by mutex_
  OutputList availableOutputs_;                                     // guarded by mutex_
  std::vector<platform::Dictionary> pluginInfos_;                   // guarded by mutex_
};

}  // namespace pluginframework
