#pragma once
// One loaded plug-in shared object: the dlopen handle, the plug-in's table
// and the host table it was given. Its principal instance, devices and inputs
// share it, so the code stays mapped while any of them lives; the last owner
// stops the plug-in's threads and unloads it.
//
// Threads: the plug-in calls the host table from its own threads; the
// delegate and the handle→wrapper map are guarded.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "pluginframework/CVNDevice.h"
#include "pluginframework/CVNPluginABI.h"
#include "platform/Error.h"
#include "platform/media/PixelBuffer.h"

namespace pluginframework {

class PluginVideoInput;
class PluginVideoOutput;

class PluginLibrary : public std::enable_shared_from_this<PluginLibrary> {
 public:
  // Opens `path` (absolute) with RTLD_NOW | RTLD_LOCAL and calls its entry.
  // Errors: "load" when dlopen fails (the loader's text as description);
  // "entry" when the entry is missing, answers nothing, another version or a
  // short table.
  static platform::Result<std::shared_ptr<PluginLibrary>> open(const std::filesystem::path& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const CVNPluginTable& table() const { return *table_; }
  void setDelegate(CVNDeviceControllerDelegate* delegate);

  // The wrapper of a device handle, made on first sight.
  CVNDeviceRef deviceForHandle(CVNPluginDevice* handle);

  // Pixel buffer handles are boxed references to our buffers.
  static CVNPluginPixelBuffer* boxPicture(std::shared_ptr<platform::media::PixelBuffer> picture);
  // Unboxes and frees the handle.
  static std::shared_ptr<platform::media::PixelBuffer> takePicture(CVNPluginPixelBuffer* handle);

 private:
  PluginLibrary() = default;
  static const CVNPluginHostTable& hostTableTemplate();
  static PluginLibrary& of(void* context) { return *static_cast<PluginLibrary*>(context); }

  void reportDevice(CVNPluginDevice* handle, bool appeared);
  void deliverFrame(CVNPluginInput* input, const CVNPluginInputFrame& frame);
  void inputFormatChanged(CVNPluginInput* input);
  std::shared_ptr<PluginVideoInput> inputForHandle(CVNPluginInput* input);
  std::shared_ptr<PluginVideoOutput> outputForHandle(CVNPluginOutput* output);
  void log(const std::string& message, std::int32_t level, bool show);

  void* handle_ = nullptr;
  const CVNPluginTable* table_ = nullptr;
  CVNPluginHostTable host_{};
  std::mutex mutex_;
  CVNDeviceControllerDelegate* delegate_ = nullptr;                               // guarded by mutex_
  std::unordered_map<CVNPluginDevice*, std::weak_ptr<CVNDevice>> devices_;         // guarded by mutex_
  std::unordered_map<CVNPluginInput*, std::weak_ptr<PluginVideoInput>> inputs_;    // guarded by mutex_
  std::unordered_map<CVNPluginOutput*, std::weak_ptr<PluginVideoOutput>> outputs_;  // guarded by mutex_
};

// The principal instance of a loaded plug-in.
class PluginController final : public CVNDeviceControllerProtocol {
 public:
  explicit PluginController(std::shared_ptr<PluginLibrary> library) : library_(std::move(library)) {}

  std::string pluginName() const override;
  std::string pluginVersionString() const override;
  std::string apiVersionString() const override;
  std::optional<std::string> SDKVersionString() const override;
  bool driversSupportsARM64() const override;
  bool driverIsInstalled() const override;
  bool driverVersionSupported() const override;
  bool driverIsUpToDate() const override;
  void setDelegate(CVNDeviceControllerDelegate* delegate) override { library_->setDelegate(delegate); }
  void searchCards() override;
  void stopSearchingCards() override;
  std::vector<CVNDeviceRef> devices() const override;
  std::int32_t deviceType() const override;
  CVNDeviceRef createVirtualOutputWithName(const std::string& name, const std::string& uniqueID,
                                           bool hidden) override;

 private:
  std::shared_ptr<PluginLibrary> library_;
};

}  // namespace pluginframework
