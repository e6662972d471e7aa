#include "engine/transitions/CVNTransitionsManager.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "engine/transitions/CVNLayerTransition.h"
#include "engine/transitions/CVNMovieTransition.h"
#include "engine/transitions/CVNShaderTransition.h"
#include "foundation/CVNLogController.h"
#include "platform/Bundle.h"
#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "platform/NumberFormatter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

namespace engine {

namespace {

constexpr const char* kMultiplePropertiesActionName = "Change Multiple Transition Properties";

// Undo registration off for a load, back on however it ends.
class UndoRegistrationPause {
 public:
  explicit UndoRegistrationPause(platform::UndoManager& undoManager) : undoManager_(undoManager) {
    undoManager_.disableUndoRegistration();
  }
  ~UndoRegistrationPause() { undoManager_.enableUndoRegistration(); }
  UndoRegistrationPause(const UndoRegistrationPause&) = delete;
  UndoRegistrationPause& operator=(const UndoRegistrationPause&) = delete;

 private:
  platform::UndoManager& undoManager_;
};

void setText(std::string* out, std::string text) {
  if (out) *out = std::move(text);
}

bool isPropertyListFile(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".plist";
}

bool validIndexes(const CVNTransitionsManager::Indexes& indexes, std::size_t limit) {
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (indexes[i] >= limit || (i > 0 && indexes[i] <= indexes[i - 1])) return false;
  }
  return true;
}

}  // namespace

CVNTransitionsManager::RegistryLock::RegistryLock(const CVNTransitionsManager& manager) : manager_(manager) {
  manager_.mutex_.lock();
  ++manager_.lockDepth_;
}

CVNTransitionsManager::RegistryLock::~RegistryLock() {
  std::vector<platform::ObservationToken> retired;
  if (--manager_.lockDepth_ == 0) retired.swap(manager_.retired_);
  manager_.mutex_.unlock();
  // `retired` goes here, unlocked: removing an observer waits for its running
  // calls, which may be waiting for this lock.
}

CVNTransitionsManager& CVNTransitionsManager::sharedTransitionsManager() {
  static CVNTransitionsManager* const kShared = [] {
    auto* manager = new CVNTransitionsManager(nullptr, platform::NotificationCenter::defaultCenter());
    if (auto path = platform::Bundle::main()->pathForResource(kDefaultTransitionsResource, "plist")) {
      manager->loadTransitionsFromPropertyListAtURL(*path, nullptr, nullptr);
    }
    return manager;
  }();
  return *kShared;
}

CVNTransitionsManager::CVNTransitionsManager(platform::UserDefaults* defaults, platform::NotificationCenter& center)
    : defaults_(defaults), undoManager_(center) {
  checkpointObserver_ = center.addObserver(platform::kUndoManagerCheckpointNotification, &undoManager_,
                                           [this](const platform::Notification&) { observeUndoManagerCheckpoint(); });
}

CVNTransitionsManager::~CVNTransitionsManager() {
  checkpointObserver_.reset();
  std::map<const CVNTransition*, std::vector<platform::ObservationToken>> observations;
  std::vector<platform::ObservationToken> retired;
  {
    std::lock_guard lock(mutex_);
    observations.swap(observations_);
    retired.swap(retired_);
  }
}

platform::UserDefaults& CVNTransitionsManager::defaults() const {
  return defaults_ ? *defaults_ : platform::UserDefaults::standard();
}

CVNTransitionsManager::Transitions CVNTransitionsManager::transitions() const {
  RegistryLock lock(*this);
  return transitions_;
}

bool CVNTransitionsManager::loadTransitionsFromUserDefaultsUsingKeyPath(std::string_view key, std::string* error,
                                                                       std::string* warnings) {
  auto array = defaults().arrayForKey(key);
  if (!array) {
    setText(error, "Failed to load transitions from preferences (invalid or missing value for key " +
                       std::string(key) + ")");
    return false;
  }
  return loadTransitionsFromArray(*array, error, warnings);
}

bool CVNTransitionsManager::loadTransitionsFromPropertyListAtURL(const std::filesystem::path& url, std::string* error,
                                                                std::string* warnings) {
  std::error_code statError;
  const auto status = std::filesystem::status(url, statError);
  if (statError || !std::filesystem::exists(status)) {
    setText(error, "The file \"" + url.filename().string() + "\" couldn't be opened because there is no such file.");
    return false;
  }
  if (!isPropertyListFile(url)) return true;

  auto bytes = platform::readFile(url, kMaxTransitionsFileBytes);
  if (!bytes) {
    setText(error, bytes.error().localizedDescription);
    return false;
  }
  auto root = platform::readPropertyList(*bytes);
  if (!root) {
    setText(error, root.error().localizedDescription);
    return false;
  }
  const platform::Array* array = root->array();
  if (!array) {
    setText(error, "Invalid transition propertyList, root must be NSArray");
    return false;
  }
  return loadTransitionsFromArray(*array, error, warnings);
}

bool CVNTransitionsManager::loadTransitionsFromArray(const platform::Array& array, std::string* error,
                                                     std::string* warnings) {
  RegistryLock lock(*this);
  UndoRegistrationPause pause(undoManager_);
  return loadTransitionsFromArrayLocked(array, error, warnings);
}

bool CVNTransitionsManager::loadTransitionsFromArrayLocked(const platform::Array& array, std::string* error,
                                                           std::string* warnings) {
  std::set<std::string, std::less<>> hidden;
  if (auto list = defaults().arrayForKey(kHiddenTransitionsKey)) {
    for (const auto& entry : *list) {
      if (const std::string* uniqueID = entry.string()) hidden.insert(*uniqueID);
    }
  }

  std::string lastError, warningLines;
  Transitions collected;
  for (std::size_t i = 0; i < array.size(); ++i) {
    const platform::Dictionary* dictionary = array[i].dictionary();
    if (!dictionary) {
      warningLines += "ignoring transition " + std::to_string(i) + " (must be NSDictionary)\n";
      continue;
    }
    std::string message;
    auto transition = transitionFromDictionary(*dictionary, &message);
    if (!transition) {
      warningLines += "ignoring transition " + std::to_string(i) + " (" + message + ")\n";
      lastError = std::move(message);
      continue;
    }
    const std::string uniqueID = transition->uniqueID().value_or("");
    // Refused against the registry and the elements before it, so one file
    // cannot register an ID twice either.
    const bool duplicate = transitionWithUniqueID(uniqueID) ||
                           std::any_of(collected.begin(), collected.end(),
                                       [&](const auto& other) { return other->uniqueID() == uniqueID; });
    if (duplicate) {
      lastError = "Transition with uniqueID " + uniqueID + " already exists";
      continue;
    }
    if (!transition->isUserTransition() && hidden.count(uniqueID)) transition->setShow(false);
    collected.push_back(std::move(transition));
  }
  addTransitions(std::move(collected));

  if (!warningLines.empty()) setText(warnings, warningLines);
  if (lastError.empty()) return true;
  setText(error, std::move(lastError));
  return false;
}

std::shared_ptr<CVNTransition> CVNTransitionsManager::transitionFromDictionary(const platform::Dictionary& dictionary,
                                                                               std::string* errorString) {
  auto it = dictionary.find("transitionType");
  const std::string* typeString = it == dictionary.end() ? nullptr : it->second.string();
  if (!typeString) {
    setText(errorString, "Missing value for TransitionType");
    return nullptr;
  }
  std::string message;
  std::shared_ptr<CVNTransition> transition;
  const TransitionType type = CVNTransition::transitionTypeFromString(*typeString);
  if (type == TransitionType::Layer) {
    transition = CVNLayerTransition::initWithDictionary(dictionary, &message);
  } else if (type == TransitionType::AlphaMovie || type == TransitionType::MaskingMovie) {
    // Masking movies load too: the queue player plays them, and a stored file
    // holding one must load whole.
    transition = CVNMovieTransition::initWithDictionary(dictionary, &message);
  } else if (type == TransitionType::Shader) {
    transition = CVNShaderTransition::initWithDictionary(dictionary, &message);
  } else {
    setText(errorString, "Invalid transition type");
    return nullptr;
  }
  if (!transition) setText(errorString, message.empty() ? "Transition creation failed" : message);
  return transition;
}

bool CVNTransitionsManager::addTransitionFromDictionary(const platform::Dictionary& dictionary,
                                                        std::string* errorString) {
  auto transition = transitionFromDictionary(dictionary, errorString);
  if (!transition) return false;
  RegistryLock lock(*this);
  const std::string uniqueID = transition->uniqueID().value_or("");
  if (transitionWithUniqueID(uniqueID)) {
    setText(errorString, "Transition with uniqueID " + uniqueID + " already exists");
    return false;
  }
  addTransitions({std::move(transition)});
  return true;
}

bool CVNTransitionsManager::transitionSortComparator(const CVNTransition& a, const CVNTransition& b) {
  const bool userA = a.isUserTransition(), userB = b.isUserTransition();
  if (userA != userB) return userA;
  return platform::localizedStandardCompare(a.name().value_or(""), b.name().value_or("")) < 0;
}

void CVNTransitionsManager::addTransitions(Transitions transitions) {
  if (transitions.empty()) return;
  auto before = [](const auto& a, const auto& b) { return transitionSortComparator(*a, *b); };
  RegistryLock lock(*this);
  std::stable_sort(transitions.begin(), transitions.end(), before);
  Transitions merged = transitions_;
  merged.insert(merged.end(), transitions.begin(), transitions.end());
  std::stable_sort(merged.begin(), merged.end(), before);

  const std::set<const CVNTransition*> added = [&] {
    std::set<const CVNTransition*> set;
    for (const auto& transition : transitions) set.insert(transition.get());
    return set;
  }();
  Transitions inOrder;
  Indexes indexes;
  for (std::size_t i = 0; i < merged.size(); ++i) {
    if (!added.count(merged[i].get())) continue;
    inOrder.push_back(merged[i]);
    indexes.push_back(i);
  }
  insertTransitions(inOrder, indexes);
}

void CVNTransitionsManager::insertTransitions(const Transitions& transitions, const Indexes& indexes) {
  RegistryLock lock(*this);
  if (transitions.size() != indexes.size() || !validIndexes(indexes, transitions_.size() + indexes.size())) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "CVNTransitionsManager: insertion refused, indexes do not fit the registry");
    return;
  }
  const bool registering = undoManager_.isUndoRegistrationEnabled();
  if (registering) {
    for (const auto& transition : transitions) undoGroupInsertedTransitions_.insert(transition.get());
    undoManager_.registerUndo([this, indexes] { removeTransitionsAtIndexes(indexes); });
    undoManager_.setActionName("Add Transition");
  }
  for (std::size_t i = 0; i < transitions.size(); ++i) {
    transitions_.insert(transitions_.begin() + static_cast<std::ptrdiff_t>(indexes[i]), transitions[i]);
  }
  startObservingTransitions(transitions);
  if (registering) saveCustomTransitions();
}

void CVNTransitionsManager::removeTransitionsAtIndexes(const Indexes& indexes) {
  RegistryLock lock(*this);
  if (!validIndexes(indexes, transitions_.size())) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "CVNTransitionsManager: removal refused, indexes outside the registry");
    return;
  }
  const Transitions removed = transitionsAtIndexes(indexes);
  const bool registering = undoManager_.isUndoRegistrationEnabled();
  if (registering) {
    undoManager_.registerUndo([this, removed, indexes] { insertTransitions(removed, indexes); });
    undoManager_.setActionName("Remove Transition");
  }
  stopObservingTransitions(removed);
  for (auto index = indexes.rbegin(); index != indexes.rend(); ++index) {
    transitions_.erase(transitions_.begin() + static_cast<std::ptrdiff_t>(*index));
  }
  if (registering) saveCustomTransitions();
}

void CVNTransitionsManager::removeTransitionWithUniqueID(std::string_view uniqueID) {
  RegistryLock lock(*this);
  for (std::size_t i = 0; i < transitions_.size(); ++i) {
    if (transitions_[i]->uniqueID() == uniqueID) return removeTransitionsAtIndexes({i});
  }
}

std::shared_ptr<CVNTransition> CVNTransitionsManager::transitionWithUniqueID(std::string_view uniqueID) const {
  RegistryLock lock(*this);
  for (const auto& transition : transitions_) {
    if (transition->uniqueID() == uniqueID) return transition;
  }
  return nullptr;
}

std::shared_ptr<CVNTransition> CVNTransitionsManager::transitionWithName(const std::optional<std::string>& name) const {
  if (!name) return nullptr;
  RegistryLock lock(*this);
  for (const auto& transition : transitions_) {
    if (transition->name() == name) return transition;
  }
  return nullptr;
}

std::shared_ptr<CVNTransition> CVNTransitionsManager::transitionWithName(const std::optional<std::string>& name,
                                                                         double duration) const {
  auto transition = transitionWithName(name);
  if (!transition || !transition->isDurationEditable()) return transition;
  auto copy = transition->copy();
  if (copy) copy->setDuration(duration, true);
  return copy;
}

CVNTransitionsManager::Transitions CVNTransitionsManager::transitionsAtIndexes(const Indexes& indexes) const {
  RegistryLock lock(*this);
  Transitions found;
  for (std::size_t index : indexes) {
    if (index < transitions_.size()) found.push_back(transitions_[index]);
  }
  return found;
}

void CVNTransitionsManager::loadCustomTransitions() {
  const std::filesystem::path path = customTransitionsFilePath();
  std::error_code existsError;
  if (customTransitionsDirectoryPath().empty() || !std::filesystem::exists(path, existsError)) return;
  std::string error, warnings;
  {
    RegistryLock lock(*this);
    UndoRegistrationPause pause(undoManager_);
    loadTransitionsFromPropertyListAtURL(path, &error, &warnings);
  }
  auto& log = foundation::CVNLogController::sharedLogController();
  if (!error.empty()) log.logMessageWithLevel(0, true, error);
  if (!warnings.empty()) log.logMessageWithLevel(1, true, warnings);
}

void CVNTransitionsManager::saveCustomTransitions() {
  RegistryLock lock(*this);
  // Before the host sets the folder there is nowhere to save to.
  if (customTransitionsDirectoryPath_.empty()) return;
  platform::Array userTransitions;
  for (const auto& transition : transitions_) {
    if (transition->isUserTransition()) userTransitions.emplace_back(transition->dictionaryRepresentation());
  }
  const platform::Status saved =
      platform::writePropertyListFile(customTransitionsFilePath(), platform::Value(std::move(userTransitions)));
  if (saved) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info, "Custom transitions saved");
  } else {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(2, true,
                                                                            saved.error().localizedDescription);
  }
}

void CVNTransitionsManager::saveHiddenTransitions() {
  RegistryLock lock(*this);
  platform::Array hidden;
  for (const auto& transition : transitions_) {
    if (!transition->show()) hidden.emplace_back(transition->uniqueID().value_or(""));
  }
  defaults().setObject(platform::Value(std::move(hidden)), kHiddenTransitionsKey);
  (void)defaults().synchronize();
}

void CVNTransitionsManager::checkForMissingClips() {
  RegistryLock lock(*this);
  for (const auto& transition : transitions_) {
    if (auto movie = std::dynamic_pointer_cast<CVNMovieTransition>(transition)) movie->checkForMissingClip();
  }
}

std::filesystem::path CVNTransitionsManager::customTransitionsFilePath() const {
  return customTransitionsDirectoryPath() / "Transitions.plist";
}

std::filesystem::path CVNTransitionsManager::customTransitionsDirectoryPath() const {
  RegistryLock lock(*this);
  return customTransitionsDirectoryPath_;
}

void CVNTransitionsManager::setCustomTransitionsDirectoryPath(std::filesystem::path path) {
  RegistryLock lock(*this);
  customTransitionsDirectoryPath_ = std::move(path);
}

std::string CVNTransitionsManager::undoGroupPresentablePropertyName() const {
  RegistryLock lock(*this);
  return undoGroupPresentablePropertyName_;
}

void CVNTransitionsManager::startObservingTransitions(const Transitions& transitions) {
  static const std::vector<std::string> kShowOnly{"show"};
  for (const auto& transition : transitions) {
    const auto& keys =
        transition->isUserTransition() ? CVNTransition::keysForValuesToObserveForUndo() : kShowOnly;
    auto& tokens = observations_[transition.get()];
    std::weak_ptr<CVNTransition> weak = transition;
    for (const auto& key : keys) {
      tokens.push_back(transition->observeKey(key, [this, weak, key](const platform::Value& old,
                                                                     const platform::Value& now) {
        if (auto observed = weak.lock()) observeValueForKeyPath(key, observed, old, now);
      }));
    }
  }
}

void CVNTransitionsManager::stopObservingTransitions(const Transitions& transitions) {
  for (const auto& transition : transitions) {
    auto it = observations_.find(transition.get());
    if (it == observations_.end()) continue;
    for (auto& token : it->second) retired_.push_back(std::move(token));
    observations_.erase(it);
  }
}

void CVNTransitionsManager::observeValueForKeyPath(const std::string& key,
                                                   const std::shared_ptr<CVNTransition>& transition,
                                                   const platform::Value& old, const platform::Value& now) {
  RegistryLock lock(*this);
  // A change that raced the transition's removal is not the registry's any more.
  if (!observations_.count(transition.get())) return;
  if (undoGroupInsertedTransitions_.count(transition.get()) || old == now) return;
  if (key == "show") saveHiddenTransitions();

  // The old value is recorded before the undo action is registered: a
  // registration outside a group is itself a checkpoint, which lets go of the table.
  const bool firstChangeOfGroup = !undoGroupOldPropertiesByTransition_;
  if (firstChangeOfGroup) undoGroupOldPropertiesByTransition_ = std::make_shared<OldProperties>();
  auto table = undoGroupOldPropertiesByTransition_;
  (*table)[transition].try_emplace(key, old);
  const std::uint64_t checkpointsBefore = checkpointCount_;
  if (firstChangeOfGroup) undoManager_.registerUndo([this, table] { setTransitionProperties(*table); });
  const bool groupEnded = checkpointCount_ != checkpointsBefore;

  if (undoManager_.isUndoing() || undoManager_.isRedoing()) return;
  const std::string name = CVNTransition::presentablePropertyNameForKey(key).value_or(key);
  // A change made outside any group was its own group: named, nothing kept for the next.
  if (groupEnded) return undoManager_.setActionName(name);
  if (undoGroupHasChangesToMultipleProperties_) return;
  if (undoGroupPresentablePropertyName_.empty()) {
    undoManager_.setActionName(name);
    undoGroupPresentablePropertyName_ = name;
    return;
  }
  if (undoGroupPresentablePropertyName_ == name ||
      transition->isPresentablePropertyWithName(undoGroupPresentablePropertyName_, name)) {
    return;
  }
  undoManager_.setActionName(kMultiplePropertiesActionName);
  undoGroupHasChangesToMultipleProperties_ = true;
  undoGroupPresentablePropertyName_.clear();
}

void CVNTransitionsManager::setTransitionProperties(const OldProperties& properties) {
  for (const auto& [transition, values] : properties) {
    for (const auto& [key, value] : values) transition->setValueForKey(key, value);
  }
}

void CVNTransitionsManager::observeUndoManagerCheckpoint() {
  RegistryLock lock(*this);
  ++checkpointCount_;
  undoGroupInsertedTransitions_.clear();
  undoGroupOldPropertiesByTransition_.reset();
  undoGroupPresentablePropertyName_.clear();
  undoGroupHasChangesToMultipleProperties_ = false;
  saveCustomTransitions();
}

}  // namespace engine
