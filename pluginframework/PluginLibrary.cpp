#include "pluginframework/PluginLibrary.h"

#include <dlfcn.h>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/media/PixelBuffer.h"
#include "pluginframework/PluginVideoInput.h"
#include "pluginframework/PluginVideoOutput.h"

namespace pluginframework {
namespace {

using platform::media::PixelBuffer;

// A pixel buffer handle is a boxed reference to one of our buffers.
struct PixelBox {
  std::shared_ptr<PixelBuffer> buffer;
};

std::string text(const char* value) { return value ? value : ""; }

// A wrapper reached from a plug-in thread may hold the library's last reference;
// it goes on a global queue then, so the library never stops its own thread.
template <typename Wrapper>
void releaseOffPluginThread(std::shared_ptr<Wrapper>& wrapper) {
  if (wrapper.use_count() == 1) platform::DispatchQueue::global().async([last = std::move(wrapper)] {});
  wrapper.reset();
}

class PluginDevice final : public CVNDevice {
 public:
  PluginDevice(std::vector<std::shared_ptr<CVNVideoInput>> inputs, std::vector<std::shared_ptr<CVNVideoOutput>> outputs)
      : inputs_(std::move(inputs)), outputs_(std::move(outputs)) {}
  std::vector<std::shared_ptr<CVNVideoInput>> inputs() const override { return inputs_; }
  std::vector<std::shared_ptr<CVNVideoOutput>> outputs() const override { return outputs_; }

 private:
  const std::vector<std::shared_ptr<CVNVideoInput>> inputs_;
  const std::vector<std::shared_ptr<CVNVideoOutput>> outputs_;
};

}  // namespace

const CVNPluginHostTable& PluginLibrary::hostTableTemplate() {
  static const CVNPluginHostTable table = [] {
    CVNPluginHostTable t{};
    t.size = sizeof(CVNPluginHostTable);
    t.version = CVN_PLUGIN_ABI_VERSION;
    t.log = [](void* context, const char* message, std::int32_t level, std::int32_t show) {
      of(context).log(text(message), level, show != 0);
    };
    t.deviceAppeared = [](void* context, CVNPluginDevice* device) { of(context).reportDevice(device, true); };
    t.deviceDisappeared = [](void* context, CVNPluginDevice* device) { of(context).reportDevice(device, false); };
    t.deviceConfigurationWillChange = [](void* context, std::int32_t forcing) {
      auto& self = of(context);
      std::lock_guard guard(self.mutex_);
      if (self.delegate_) self.delegate_->deviceConfigurationWillChange(nullptr, forcing != 0);
    };
    t.deviceConfigurationChanged = [](void* context) {
      auto& self = of(context);
      std::lock_guard guard(self.mutex_);
      if (self.delegate_) self.delegate_->deviceConfigurationChanged(nullptr);
    };
    t.clockNanoseconds = [](void*) -> std::int64_t {
      return std::chrono::duration_cast<std::chrono::nanoseconds>(platform::Clock::current().now().time_since_epoch())
          .count();
    };
    t.waitUntilNanoseconds = [](void*, std::int64_t deadline, const std::int32_t* cancelled) -> std::int32_t {
      std::mutex mutex;
      std::condition_variable wake;
      std::unique_lock lock(mutex);
      auto& clock = platform::Clock::current();
      const platform::Clock::TimePoint due{
          std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::nanoseconds(deadline))};
      clock.waitUntil(lock, wake, due, [cancelled] { return cancelled && __atomic_load_n(cancelled, __ATOMIC_ACQUIRE); });
      return clock.now() >= due ? 0 : 1;
    };
    t.wakeWaiters = [](void*) { platform::Clock::current().wakeWaiters(); };
    t.createPixelBuffer = [](void*, std::uint32_t width, std::uint32_t height,
                             std::uint32_t fourCC) -> CVNPluginPixelBuffer* {
      platform::media::PixelBufferAttributes attributes;
      attributes.shareable = true;
      std::shared_ptr<PixelBuffer> buffer;
      if (PixelBuffer::create(width, height, fourCC, attributes, &buffer) != 0 || !buffer) return nullptr;
      return boxPicture(std::move(buffer));
    };
    t.pixelBufferBaseAddress = [](CVNPluginPixelBuffer* buffer) -> std::uint8_t* {
      return buffer ? reinterpret_cast<PixelBox*>(buffer)->buffer->baseAddress() : nullptr;
    };
    t.pixelBufferBytesPerRow = [](CVNPluginPixelBuffer* buffer) -> std::size_t {
      return buffer ? reinterpret_cast<PixelBox*>(buffer)->buffer->bytesPerRow() : 0;
    };
    t.releasePixelBuffer = [](CVNPluginPixelBuffer* buffer) { takePicture(buffer); };
    t.pixelBufferDescribe = [](CVNPluginPixelBuffer* buffer, std::uint32_t* width, std::uint32_t* height,
                               std::uint32_t* fourCC) -> std::int32_t {
      if (!buffer || !width || !height || !fourCC) return 1;
      const auto& picture = *reinterpret_cast<PixelBox*>(buffer)->buffer;
      *width = static_cast<std::uint32_t>(picture.width());
      *height = static_cast<std::uint32_t>(picture.height());
      *fourCC = picture.pixelFormatType();
      return 0;
    };
    t.inputDidProduceFrame = [](void* context, CVNPluginInput* input, const CVNPluginInputFrame* frame) {
      if (frame) of(context).deliverFrame(input, *frame);
    };
    t.inputFormatDidChange = [](void* context, CVNPluginInput* input) { of(context).inputFormatChanged(input); };
    t.inputConnectionDidChange = [](void* context, CVNPluginInput* input) {
      auto wrapper = of(context).inputForHandle(input);
      if (!wrapper) return;
      wrapper->connectionChanged();
      releaseOffPluginThread(wrapper);
    };
    t.pullFrame = [](void* context, CVNPluginOutput* output, CVNPluginOutputFrame* frame) -> std::int32_t {
      auto wrapper = of(context).outputForHandle(output);
      const bool pulled = wrapper && frame && wrapper->pull(*frame);
      releaseOffPluginThread(wrapper);
      return pulled ? 0 : 1;
    };
    return t;
  }();
  return table;
}

platform::Result<std::shared_ptr<PluginLibrary>> PluginLibrary::open(const std::filesystem::path& path) {
  std::shared_ptr<PluginLibrary> library(new PluginLibrary());
  library->handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library->handle_) {
    const char* reason = dlerror();
    return platform::Error{"PluginLibrary", 1, "load", {{"reason", platform::Value(text(reason))}}};
  }
  auto entry = reinterpret_cast<CVNPluginEntryFunction>(dlsym(library->handle_, CVN_PLUGIN_ENTRY_SYMBOL));
  library->host_ = hostTableTemplate();
  library->host_.context = library.get();
  const CVNPluginTable* table = entry ? entry(&library->host_) : nullptr;
  const bool usable = table && table->version == CVN_PLUGIN_ABI_VERSION && table->size >= sizeof(CVNPluginTable) &&
                      table->pluginName && table->pluginVersionString && table->apiVersionString &&
                      table->driversSupportsARM64 && table->driverIsInstalled && table->driverVersionSupported &&
                      table->driverIsUpToDate && table->deviceType && table->searchCards &&
                      table->stopSearchingCards && table->deviceCount && table->deviceAt && table->shutdown &&
                      table->device && table->device->size >= sizeof(CVNPluginDeviceTable) &&
                      (!table->input || table->input->size >= sizeof(CVNPluginInputTable)) &&
                      (!table->output || table->output->size >= sizeof(CVNPluginOutputTable));
  if (!usable) {
    // Nothing of it runs yet: unload at once.
    dlclose(library->handle_);
    library->handle_ = nullptr;
    return platform::Error{"PluginLibrary", 2, "entry", {}};
  }
  library->table_ = table;
  return library;
}

PluginLibrary::~PluginLibrary() {
  if (!handle_) return;
  if (table_) table_->shutdown();
  dlclose(handle_);
}

void PluginLibrary::setDelegate(CVNDeviceControllerDelegate* delegate) {
  std::lock_guard guard(mutex_);
  delegate_ = delegate;
}

CVNDeviceRef PluginLibrary::deviceForHandle(CVNPluginDevice* handle) {
  if (!handle) return nullptr;
  {
    std::lock_guard guard(mutex_);
    if (auto found = devices_.find(handle); found != devices_.end()) {
      if (auto device = found->second.lock()) return device;
    }
  }
  const auto& deviceTable = *table_->device;
  std::vector<std::shared_ptr<CVNVideoInput>> inputs;
  const std::size_t count = table_->input && deviceTable.inputCount ? deviceTable.inputCount(handle) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    CVNPluginInput* input = deviceTable.inputAt(handle, i);
    if (!input) continue;
    auto wrapper = std::make_shared<PluginVideoInput>(shared_from_this(), input, table_->deviceType());
    std::lock_guard guard(mutex_);
    inputs_[input] = wrapper;
    inputs.push_back(std::move(wrapper));
  }
  std::vector<std::shared_ptr<CVNVideoOutput>> outputs;
  const std::size_t outputCount = table_->output && deviceTable.outputCount ? deviceTable.outputCount(handle) : 0;
  for (std::size_t i = 0; i < outputCount; ++i) {
    CVNPluginOutput* output = deviceTable.outputAt(handle, i);
    if (!output) continue;
    auto wrapper = std::make_shared<PluginVideoOutput>(shared_from_this(), output);
    std::lock_guard guard(mutex_);
    outputs_[output] = wrapper;
    outputs.push_back(std::move(wrapper));
  }
  auto device = std::make_shared<PluginDevice>(std::move(inputs), std::move(outputs));
  std::lock_guard guard(mutex_);
  devices_[handle] = device;
  return device;
}

void PluginLibrary::reportDevice(CVNPluginDevice* handle, bool appeared) {
  CVNDeviceRef device = deviceForHandle(handle);
  if (!device) return;
  std::lock_guard guard(mutex_);
  if (!delegate_) return;
  if (appeared) {
    delegate_->deviceAppeared(device);
  } else {
    delegate_->deviceDisappeared(device);
  }
}

std::shared_ptr<PluginVideoInput> PluginLibrary::inputForHandle(CVNPluginInput* input) {
  std::lock_guard guard(mutex_);
  auto found = inputs_.find(input);
  return found == inputs_.end() ? nullptr : found->second.lock();
}

std::shared_ptr<PluginVideoOutput> PluginLibrary::outputForHandle(CVNPluginOutput* output) {
  std::lock_guard guard(mutex_);
  auto found = outputs_.find(output);
  return found == outputs_.end() ? nullptr : found->second.lock();
}

CVNPluginPixelBuffer* PluginLibrary::boxPicture(std::shared_ptr<PixelBuffer> picture) {
  return reinterpret_cast<CVNPluginPixelBuffer*>(new PixelBox{std::move(picture)});
}

std::shared_ptr<PixelBuffer> PluginLibrary::takePicture(CVNPluginPixelBuffer* handle) {
  if (!handle) return nullptr;
  auto* box = reinterpret_cast<PixelBox*>(handle);
  auto picture = std::move(box->buffer);
  delete box;
  return picture;
}

void PluginLibrary::deliverFrame(CVNPluginInput* input, const CVNPluginInputFrame& frame) {
  auto wrapper = inputForHandle(input);
  if (!wrapper) {
    takePicture(frame.picture);
    return;
  }
  wrapper->deliver(frame);
  releaseOffPluginThread(wrapper);
}

void PluginLibrary::inputFormatChanged(CVNPluginInput* input) {
  auto wrapper = inputForHandle(input);
  if (!wrapper) return;
  wrapper->formatChanged();
  releaseOffPluginThread(wrapper);
}

void PluginLibrary::log(const std::string& message, std::int32_t level, bool show) {
  std::lock_guard guard(mutex_);
  if (delegate_) delegate_->logMessage(message, level, show);
}

std::string PluginController::pluginName() const { return text(library_->table().pluginName()); }
std::string PluginController::pluginVersionString() const { return text(library_->table().pluginVersionString()); }
std::string PluginController::apiVersionString() const { return text(library_->table().apiVersionString()); }
std::optional<std::string> PluginController::SDKVersionString() const {
  const auto& table = library_->table();
  if (!table.SDKVersionString) return std::nullopt;
  return text(table.SDKVersionString());
}
bool PluginController::driversSupportsARM64() const { return library_->table().driversSupportsARM64() != 0; }
bool PluginController::driverIsInstalled() const { return library_->table().driverIsInstalled() != 0; }
bool PluginController::driverVersionSupported() const { return library_->table().driverVersionSupported() != 0; }
bool PluginController::driverIsUpToDate() const { return library_->table().driverIsUpToDate() != 0; }
void PluginController::searchCards() { library_->table().searchCards(); }
void PluginController::stopSearchingCards() { library_->table().stopSearchingCards(); }
std::int32_t PluginController::deviceType() const { return library_->table().deviceType(); }

std::vector<CVNDeviceRef> PluginController::devices() const {
  std::vector<CVNDeviceRef> devices;
  const std::size_t count = library_->table().deviceCount();
  for (std::size_t i = 0; i < count; ++i) {
    if (auto device = library_->deviceForHandle(library_->table().deviceAt(i))) devices.push_back(std::move(device));
  }
  return devices;
}

CVNDeviceRef PluginController::createVirtualOutputWithName(const std::string& name, const std::string& uniqueID,
                                                           bool hidden) {
  const auto& table = library_->table();
  if (!table.createVirtualOutput) return nullptr;
  return library_->deviceForHandle(table.createVirtualOutput(name.c_str(), uniqueID.c_str(), hidden ? 1 : 0));
}

}  // namespace pluginframework
