#include "media/live/CVNZiraSourceController.h"

#include "platform/Diagnostics.h"
#include "pluginframework/CVNDeviceController.h"

namespace media {

CVNZiraSourceController::CVNZiraSourceController(Environment environment) : environment_(std::move(environment)) {
  if (!environment_.defaults) environment_.defaults = &platform::UserDefaults::standard();
  if (!environment_.notificationCenter) environment_.notificationCenter = &platform::NotificationCenter::defaultCenter();
  const void* sender = environment_.devices.get();
  appeared_ = environment_.notificationCenter->addObserver(
      pluginframework::kDeviceInputAppearedNotification, sender,
      [this](const platform::Notification& note) { deviceInputsChanged(note, true); });
  disappeared_ = environment_.notificationCenter->addObserver(
      pluginframework::kDeviceInputDisappearedNotification, sender,
      [this](const platform::Notification& note) { deviceInputsChanged(note, false); });
  loadZiraSourcesFromPrefs();
}

CVNZiraSourceController::~CVNZiraSourceController() {
  appeared_.reset();
  disappeared_.reset();
  std::lock_guard guard(mutex_);
  for (const auto& source : sources_) source->setDelegate(nullptr);
}

CVNZiraSourceController& CVNZiraSourceController::sharedZiraSourceController() {
  static CVNZiraSourceController shared(Environment{nullptr, nullptr, pluginframework::CVNDeviceController::sharedDeviceController()});
  return shared;
}

std::shared_ptr<CVNZiraSource> CVNZiraSourceController::sourceWithName(const std::string& name) const {
  std::lock_guard guard(mutex_);
  for (const auto& source : sources_) {
    if (source->displayName() == name) return source;
  }
  return nullptr;
}

std::shared_ptr<CVNZiraSource> CVNZiraSourceController::firstEnabledSourceWithInputUniqueID(
    const std::string& uniqueID, const CVNZiraSource* ignoring) const {
  std::lock_guard guard(mutex_);
  for (const auto& source : sources_) {
    if (source.get() != ignoring && source->isEnabled() && source->inputUniqueID() == uniqueID) return source;
  }
  return nullptr;
}

std::vector<std::shared_ptr<CVNZiraSource>> CVNZiraSourceController::sourcesWithInputUniqueID(
    const std::string& uniqueID) const {
  std::lock_guard guard(mutex_);
  std::vector<std::shared_ptr<CVNZiraSource>> found;
  for (const auto& source : sources_) {
    if (source->inputUniqueID() == uniqueID) found.push_back(source);
  }
  return found;
}

std::vector<std::shared_ptr<CVNZiraSource>> CVNZiraSourceController::ziraSources() const {
  std::lock_guard guard(mutex_);
  return sources_;
}

void CVNZiraSourceController::insertZiraSources(const std::vector<std::shared_ptr<CVNZiraSource>>& sources,
                                                std::size_t at) {
  std::lock_guard guard(mutex_);
  for (const auto& source : sources) source->setDelegate(this);
  at = std::min(at, sources_.size());
  sources_.insert(sources_.begin() + static_cast<std::ptrdiff_t>(at), sources.begin(), sources.end());
}

void CVNZiraSourceController::removeZiraSources(std::size_t at, std::size_t count) {
  std::lock_guard guard(mutex_);
  if (at >= sources_.size()) return;
  const auto first = sources_.begin() + static_cast<std::ptrdiff_t>(at);
  const auto last = first + static_cast<std::ptrdiff_t>(std::min(count, sources_.size() - at));
  for (auto it = first; it != last; ++it) {
    (*it)->setDelegate(nullptr);
    (*it)->setIsEnabled(false);
  }
  sources_.erase(first, last);
}

void CVNZiraSourceController::loadZiraSourcesFromPrefs() {
  const platform::Value stored = environment_.defaults->objectForKey(kZiraSourcesDefaultsKey);
  std::vector<std::shared_ptr<CVNZiraSource>> loaded;
  if (const auto* entries = stored.array()) {
    for (const auto& entry : *entries) {
      const auto* dictionary = entry.dictionary();
      if (!dictionary) continue;
      auto source = CVNZiraSource::createWithDictionary(*dictionary);
      if (environment_.devices) source->setInput(environment_.devices->inputWithName(source->inputDisplayName()));
      loaded.push_back(std::move(source));
    }
  }
  insertZiraSources(loaded, ziraSources().size());
}

void CVNZiraSourceController::saveZiraSourcesToPrefs() {
  platform::Array entries;
  for (const auto& source : ziraSources()) entries.emplace_back(source->dictionaryRepresentation());
  environment_.defaults->setObject(platform::Value(std::move(entries)), kZiraSourcesDefaultsKey);
  // The sources stay in memory; a later save writes them again.
  if (const platform::Status saved = environment_.defaults->synchronize(); !saved.ok()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "Could not save the Vovi sources: " + saved.error().describe());
  }
  environment_.notificationCenter->post(kZiraSourcesDidChangeNotification);
}

void CVNZiraSourceController::applicationWillTerminate() {
  std::lock_guard guard(mutex_);
  for (const auto& source : sources_) {
    if (auto input = source->input(); input && input->isRunning()) {
      source->stopCaptureWithReason("Application will terminate");
    }
  }
}

void CVNZiraSourceController::ziraSourceDidUpdateLastKnownConnectionDescriptionTo(CVNZiraSource& source,
                                                                                   const std::string& description) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                             "Updating ZiraSources Preferences as Vovi Source Named: \"" + source.displayName() +
                                 "\" did change its last know connectionDescription to " + description);
  saveZiraSourcesToPrefs();
}

void CVNZiraSourceController::deviceInputsChanged(const platform::Notification& notification, bool appeared) {
  const auto* inputs = std::any_cast<pluginframework::InputList>(&notification.object);
  if (!inputs) return;
  for (const auto& input : *inputs) {
    for (const auto& source : ziraSources()) {
      if (source->inputDisplayName() == input->name()) source->setInput(appeared ? input : nullptr);
    }
  }
}

}  // namespace media
