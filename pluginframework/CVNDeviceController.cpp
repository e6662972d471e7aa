#include "pluginframework/CVNDeviceController.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "foundation/CVNLogController.h"
#include "platform/Bundle.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "pluginframework/ElfArchitecture.h"
#include "pluginframework/PluginLibrary.h"

namespace pluginframework {
namespace {

std::mutex sharedMutex;
std::shared_ptr<CVNDeviceController> sharedInstance;  // guarded by sharedMutex

void log(const std::string& message, std::int32_t level, bool show) {
  foundation::CVNLogController::sharedLogController().logMessage(message, level, show);
}

// The positions `added` take in the name-sorted union with `listed`; the
// device's entries are then inserted there in the device's own order.
template <typename Entry>
void insertSorted(std::vector<std::shared_ptr<Entry>>& listed, const std::vector<std::shared_ptr<Entry>>& added) {
  std::vector<std::pair<std::string, const Entry*>> all;
  for (const auto& entry : listed) all.emplace_back(entry->name(), entry.get());
  for (const auto& entry : added) all.emplace_back(entry->name(), entry.get());
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (const auto& entry : added) {
      if (entry.get() == all[i].second) positions.push_back(i);
    }
  }
  for (std::size_t i = 0; i < added.size() && i < positions.size(); ++i) {
    listed.insert(listed.begin() + static_cast<std::ptrdiff_t>(positions[i]), added[i]);
  }
}

template <typename Entry>
std::vector<std::shared_ptr<Entry>> removeListed(std::vector<std::shared_ptr<Entry>>& listed,
                                                 const std::vector<std::shared_ptr<Entry>>& gone) {
  std::vector<std::shared_ptr<Entry>> removed;
  for (const auto& entry : gone) {
    auto found = std::find(listed.begin(), listed.end(), entry);
    if (found == listed.end()) continue;
    removed.push_back(entry);
    listed.erase(found);
  }
  return removed;
}

template <typename Entry, typename Key>
std::shared_ptr<Entry> firstWith(const std::vector<std::shared_ptr<Entry>>& list, const std::string& wanted, Key key) {
  for (const auto& entry : list) {
    if ((entry.get()->*key)() == wanted) return entry;
  }
  return nullptr;
}

std::string stringOf(const platform::Dictionary& info, const char* key) {
  auto found = info.find(key);
  return found == info.end() ? std::string() : found->second.stringOr("");
}

bool boolOf(const platform::Dictionary& info, const char* key) {
  auto found = info.find(key);
  return found != info.end() && found->second.booleanOr(false);
}

}  // namespace

CVNDeviceController::CVNDeviceController() : CVNDeviceController(Environment{}) {}

CVNDeviceController::CVNDeviceController(Environment environment) : environment_(environment) {
  if (!environment_.notificationCenter) environment_.notificationCenter = &platform::NotificationCenter::defaultCenter();
  if (!environment_.mainQueue) environment_.mainQueue = &platform::DispatchQueue::main();
}

CVNDeviceController::~CVNDeviceController() {
  for (const auto& controller : deviceControllers()) controller->setDelegate(nullptr);
}

std::shared_ptr<CVNDeviceController> CVNDeviceController::sharedDeviceController() {
  std::lock_guard guard(sharedMutex);
  if (!sharedInstance) {
    sharedInstance = std::make_shared<CVNDeviceController>();
    if (auto bundle = platform::Bundle::main()) sharedInstance->loadPluginsFromFolder(bundle->resourcesPath() / "PlugIns");
  }
  return sharedInstance;
}

void CVNDeviceController::quit() {
  std::lock_guard guard(sharedMutex);
  sharedInstance.reset();
}

bool CVNDeviceController::requiresFatPlugins() { return processIsARM64(); }

void CVNDeviceController::loadPluginsFromFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::vector<std::filesystem::path> entries;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  if (error) return;
  std::sort(entries.begin(), entries.end());
  std::vector<CVNDeviceControllerProtocolRef> loaded;
  for (const auto& entry : entries) {
    if (entry.filename().string().find("Legacy") != std::string::npos) continue;
    CVNDeviceControllerProtocolRef instance;
    if (!loadPluginAtPath(std::filesystem::absolute(entry), &instance)) continue;
    instance->setDelegate(this);
    loaded.push_back(std::move(instance));
  }
  setDeviceControllers(std::move(loaded));
}

bool CVNDeviceController::fileMayLoad(const std::filesystem::path& path) const {
  struct stat status {};
  if (!path.is_absolute() || lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  if (status.st_mode & S_IWOTH) {
    log("Error: Plugin at path: " + path.string() + " is writable by anyone; not loaded", 1, false);
    return false;
  }
  return elfMatchesProcess(path);
}

bool CVNDeviceController::loadPluginAtPath(const std::filesystem::path& path,
                                           CVNDeviceControllerProtocolRef* instance) {
  if (instance) instance->reset();
  const bool mayLoad = fileMayLoad(path);
  // Only shared objects of this process's architecture are "Universal" here.
  log("Trying to load plugin: " + path.filename().string() + " (" + (mayLoad ? "Universal" : "Intel") + ")", 2,
      false);
  if (!mayLoad) {
    log("Error: No plugin at path: " + path.string(), 2, false);
    return false;
  }
  auto library = PluginLibrary::open(path);
  if (!library) {
    if (library.error().localizedDescription == "load") {
      log("Failed to load plugin: " + path.string(), 1, true);
      log(platform::Value(library.error().userInfo).describe(), 2, false);
    } else {
      log("Error: No principal class for plugin at path: " + path.string(), 2, false);
    }
    return false;
  }
  auto plugin = std::make_shared<PluginController>(std::move(*library));
  const std::string name = plugin->pluginName();
  const std::string version = plugin->pluginVersionString();
  if (requiresFatPlugins() && !plugin->driversSupportsARM64()) {
    log("Error: " + name +
            " - Drivers do not support ARM64 processors. Check the manufacturer's website for a compatible version "
            "to install",
        0, true);
    return false;
  }
  const std::string driverVersion = plugin->apiVersionString();
  const bool installed = plugin->driverIsInstalled();
  const bool supported = plugin->driverVersionSupported();
  const bool upToDate = plugin->driverIsUpToDate();
  const std::string sdk = plugin->SDKVersionString().value_or("");
  {
    std::lock_guard guard(mutex_);
    pluginInfos_.push_back({{"Name", platform::Value(name)},
                            {"Plugin Version", platform::Value(version)},
                            {"Driver Version", platform::Value(driverVersion)},
                            {"SDK Version", platform::Value(sdk)},
                            {"Driver Supported", platform::Value(supported)},
                            {"Driver is up to date", platform::Value(upToDate)},
                            {"Driver Installed", platform::Value(installed)}});
  }
  if (!installed) {
    log("Error: " + name + " - Drivers are not installed", 0, false);
    return false;
  }
  if (!supported) {
    log("Error: " + name + " - Drivers (version " + driverVersion +
            ") are not supported. Please update to a supported version. Check our website for more information.",
        0, true);
    return false;
  }
  if (upToDate) {
    log(name + " (v." + version + " using SDK " + sdk + ") - Loaded with drivers version " + driverVersion, 2, false);
    if (instance) *instance = std::move(plugin);
    return true;
  }
  plugin.reset();
  const auto legacy = path.parent_path() / (path.stem().string() + " Legacy.so");
  std::error_code error;
  if (std::filesystem::exists(legacy, error) && loadPluginAtPath(legacy, instance)) return true;
  log("Error: " + name + " - Drivers (version " + driverVersion + ") are too old. Please update to a newer version.", 0,
      true);
  return false;
}

void CVNDeviceController::setDeviceControllers(std::vector<CVNDeviceControllerProtocolRef> controllers) {
  {
    std::lock_guard guard(mutex_);
    deviceControllers_ = controllers;
    devices_.clear();
  }
  // Plug-ins are called without the lock: they may report devices at once.
  for (const auto& controller : controllers) {
    controller->searchCards();
    for (const auto& device : controller->devices()) deviceAppeared(device);
  }
}

std::vector<CVNDeviceControllerProtocolRef> CVNDeviceController::deviceControllers() const {
  std::lock_guard guard(mutex_);
  return deviceControllers_;
}
std::vector<CVNDeviceRef> CVNDeviceController::devices() const {
  std::lock_guard guard(mutex_);
  return devices_;
}
InputList CVNDeviceController::availableInputs() const {
  std::lock_guard guard(mutex_);
  return availableInputs_;
}
OutputList CVNDeviceController::availableOutputs() const {
  std::lock_guard guard(mutex_);
  return availableOutputs_;
}

OutputList CVNDeviceController::availableDeviceOutputs() const {
  OutputList outputs = availableOutputs();
  std::erase_if(outputs, [](const auto& output) { return output->uniqueID() == kHiddenVirtualOutputUniqueID; });
  return outputs;
}

std::vector<std::string> CVNDeviceController::inputNames() const {
  std::vector<std::string> names;
  for (const auto& input : availableInputs()) names.push_back(input->name());
  return names;
}
std::vector<std::string> CVNDeviceController::outputNames() const {
  std::vector<std::string> names;
  for (const auto& output : availableOutputs()) names.push_back(output->name());
  return names;
}

std::shared_ptr<CVNVideoInput> CVNDeviceController::inputWithName(const std::string& name) const {
  return firstWith(availableInputs(), name, &CVNVideoInput::name);
}
std::shared_ptr<CVNVideoInput> CVNDeviceController::inputWithUniqueID(const std::string& uniqueID) const {
  return firstWith(availableInputs(), uniqueID, &CVNVideoInput::uniqueID);
}
std::shared_ptr<CVNVideoOutput> CVNDeviceController::outputWithName(const std::string& name) const {
  return firstWith(availableOutputs(), name, &CVNVideoOutput::name);
}
std::shared_ptr<CVNVideoOutput> CVNDeviceController::outputWithUniqueID(const std::string& uniqueID) const {
  return firstWith(availableOutputs(), uniqueID, &CVNVideoOutput::uniqueID);
}

CVNDeviceControllerProtocolRef CVNDeviceController::deviceControllerWithDeviceType(std::int32_t type) const {
  for (const auto& controller : deviceControllers()) {
    if (controller->deviceType() == type) return controller;
  }
  return nullptr;
}

void CVNDeviceController::startSearchingSourcesWithDeviceType(std::int32_t type) {
  if (auto controller = deviceControllerWithDeviceType(type)) controller->searchCards();
}

void CVNDeviceController::stopSearchingSourcesWithDeviceType(std::int32_t type) {
  if (auto controller = deviceControllerWithDeviceType(type)) controller->stopSearchingCards();
}

CVNDeviceRef CVNDeviceController::createVirtualOutputWithName(const std::string& name, const std::string& uniqueID,
                                                              bool hidden) {
  auto controller = deviceControllerWithDeviceType(kVirtualOutputDeviceType);
  return controller ? controller->createVirtualOutputWithName(name, uniqueID, hidden) : nullptr;
}

std::vector<platform::Dictionary> CVNDeviceController::pluginInfos() const {
  std::lock_guard guard(mutex_);
  return pluginInfos_;
}

std::string CVNDeviceController::pluginsDescription() const {
  std::string text;
  for (const auto& info : pluginInfos()) {
    if (boolOf(info, "Driver Installed")) {
      text += stringOf(info, "Name") + " v" + stringOf(info, "Plugin Version") + " using SDK " +
              stringOf(info, "SDK Version") + " driver v" + stringOf(info, "Driver Version") + " (" +
              (boolOf(info, "Driver Supported") ? "" : "NOT ") + "supported)\n";
    } else {
      text += stringOf(info, "Name") + " not installed\n";
    }
  }
  return text;
}

std::optional<std::string> CVNDeviceController::deviceLogoImageForDeviceType(std::int32_t type) {
  static const std::map<std::int32_t, const char*> logos = {
      {0, "Source_AJA"},  {1, "Source_DeckLink"}, {2, "Source_Deltacast"}, {3, "Source_ZRXV"},
      {4, "Source_ZRXV"}, {5, "Source_ZRXN"},     {6, "Source_ZRXCGS"},    {7, "Source_ZRXCG"},
      {8, "Source_AJA"},  {9, "Source_AJA"},      {10, "Source_Apple"}};
  auto found = logos.find(type);
  if (found == logos.end()) return std::nullopt;
  return found->second;
}

void CVNDeviceController::post(std::string name, std::any object, platform::Dictionary userInfo) {
  platform::NotificationCenter* center = environment_.notificationCenter;
  const void* sender = this;
  environment_.mainQueue->async([center, sender, name = std::move(name), object = std::move(object),
                                 userInfo = std::move(userInfo)] {
    center->post(platform::Notification{name, sender, object, userInfo});
  });
}

void CVNDeviceController::deviceAppeared(const CVNDeviceRef& device) {
  if (!device) return;
  const auto inputs = device->inputs();
  const auto outputs = device->outputs();
  std::lock_guard guard(mutex_);
  if (std::find(devices_.begin(), devices_.end(), device) != devices_.end()) return;
  devices_.push_back(device);
  if (!inputs.empty()) {
    insertSorted(availableInputs_, inputs);
    post(kDeviceInputAppearedNotification, inputs);
  }
  if (!outputs.empty()) {
    insertSorted(availableOutputs_, outputs);
    post(kDeviceOutputAppearedNotification, outputs);
  }
}

void CVNDeviceController::deviceDisappeared(const CVNDeviceRef& device) {
  if (!device) return;
  const auto inputs = device->inputs();
  const auto outputs = device->outputs();
  std::lock_guard guard(mutex_);
  if (auto removed = removeListed(availableInputs_, inputs); !removed.empty()) {
    post(kDeviceInputDisappearedNotification, inputs);
  }
  if (auto removed = removeListed(availableOutputs_, outputs); !removed.empty()) {
    post(kDeviceOutputDisappearedNotification, outputs);
  }
  devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
}

void CVNDeviceController::deviceConfigurationWillChange(const CVNDeviceRef&, bool forcingStreamToStop) {
  std::lock_guard guard(mutex_);
  post(kDeviceConfigurationWillChangeNotification, {},
       {{"forcingStreamToStop", platform::Value(forcingStreamToStop)}});
}

void CVNDeviceController::deviceConfigurationChanged(const CVNDeviceRef&) {
  std::lock_guard guard(mutex_);
  post(kDeviceConfigurationChangedNotification, {});
}

void CVNDeviceController::logMessage(const std::string& message, std::int32_t level, bool show) {
  log(message, level, show);
}

}  // namespace pluginframework
