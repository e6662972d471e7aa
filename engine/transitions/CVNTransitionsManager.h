#pragma once
// CVNTransitionsManager: the registry of the transitions a user can choose
// from — the built-in ones of the bundle's "DefaultTransitions" property list,
// the user's own ones in the custom "Transitions.plist", and the hidden list
// in the user defaults ("HiddenTransitions"). Keeps the registry sorted (user
// transitions first, then by name), finds transitions by unique ID or name,
// adds and removes them with undo, records property changes for undo (one
// undo action per group, named after the property or "Change Multiple
// Transition Properties"), saves the user transitions at every undo checkpoint
// and checks that movie transitions still find their files.
//
// Threads: no queue of its own; callers may come from any thread. One
// re-entrant lock guards the registry and the undo manager: every operation
// below takes it, and undo actions re-enter through the public operations.
// Callers that drive undoManager() directly (undo, redo, grouping) hold no
// lock of the manager's, so they must not do so while another thread edits.
// Observers of transitions are removed only once the lock is released, so a
// property change racing a removal never waits on the lock from inside a
// removal.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/transitions/CVNTransition.h"
#include "platform/NotificationCenter.h"
#include "platform/Observable.h"
#include "platform/UndoManager.h"
#include "platform/Value.h"

namespace platform {
class UserDefaults;
}

namespace engine {

inline constexpr const char* kHiddenTransitionsKey = "HiddenTransitions";
inline constexpr const char* kDefaultTransitionsResource = "DefaultTransitions";
// Transition files larger than this are refused unread.
inline constexpr std::size_t kMaxTransitionsFileBytes = std::size_t{16} << 20;

class CVNTransitionsManager {
 public:
  using Transitions = std::vector<std::shared_ptr<CVNTransition>>;
  // Ascending, each index once.
  using Indexes = std::vector<std::size_t>;

  // Made once with the standard defaults; loads the built-in file from the
  // main bundle when the bundle has it, ignoring errors and warnings.
  static CVNTransitionsManager& sharedTransitionsManager();

  // An empty registry. `defaults` hold the hidden list (nullptr: whatever
  // UserDefaults::standard() is at each use); the undo manager posts its
  // checkpoints on `center`. Neither is owned; both outlive the manager.
  CVNTransitionsManager(platform::UserDefaults* defaults, platform::NotificationCenter& center);
  ~CVNTransitionsManager();
  CVNTransitionsManager(const CVNTransitionsManager&) = delete;
  CVNTransitionsManager& operator=(const CVNTransitionsManager&) = delete;

  // A copy of the registry.
  Transitions transitions() const;

  // Each answers true when there was no error; `error` gets the last error
  // text and `warnings` the lines of skipped elements (each may be null).
  // Undo registration is off while loading.
  bool loadTransitionsFromUserDefaultsUsingKeyPath(std::string_view key, std::string* error, std::string* warnings);
  bool loadTransitionsFromPropertyListAtURL(const std::filesystem::path& url, std::string* error,
                                            std::string* warnings);
  bool loadTransitionsFromArray(const platform::Array& array, std::string* error, std::string* warnings);

  // A layer, movie (alpha or masking) or shader transition by "transitionType".
  static std::shared_ptr<CVNTransition> transitionFromDictionary(const platform::Dictionary& dictionary,
                                                                 std::string* errorString);
  bool addTransitionFromDictionary(const platform::Dictionary& dictionary, std::string* errorString);
  // Inserts each where the sort puts it.
  void addTransitions(Transitions transitions);
  // True when `a` sorts before `b`: user transitions first, then by name.
  static bool transitionSortComparator(const CVNTransition& a, const CVNTransition& b);
  // transitions[i] ends at indexes[i]; indexes ascending and in range, or nothing happens.
  void insertTransitions(const Transitions& transitions, const Indexes& indexes);
  void removeTransitionsAtIndexes(const Indexes& indexes);
  void removeTransitionWithUniqueID(std::string_view uniqueID);

  std::shared_ptr<CVNTransition> transitionWithUniqueID(std::string_view uniqueID) const;
  std::shared_ptr<CVNTransition> transitionWithName(const std::optional<std::string>& name) const;
  // A layer or shader transition comes as a copy scaled to `duration`; a movie
  // transition as the registered object.
  std::shared_ptr<CVNTransition> transitionWithName(const std::optional<std::string>& name, double duration) const;
  Transitions transitionsAtIndexes(const Indexes& indexes) const;

  // Loads the custom file when it exists; errors and warnings go to the log, shown.
  void loadCustomTransitions();
  // Writes the user transitions, atomically. Nothing while no directory is set.
  void saveCustomTransitions();
  void saveHiddenTransitions();
  void checkForMissingClips();

  std::filesystem::path customTransitionsFilePath() const;
  std::filesystem::path customTransitionsDirectoryPath() const;
  void setCustomTransitionsDirectoryPath(std::filesystem::path path);
  platform::UndoManager& undoManager() { return undoManager_; }
  std::string undoGroupPresentablePropertyName() const;

 private:
  // First old value of each changed key, by transition, in one undo group.
  using OldProperties = std::map<std::shared_ptr<CVNTransition>, platform::Dictionary>;

  // The registry lock; the outermost release also drops retired observers.
  class RegistryLock {
   public:
    explicit RegistryLock(const CVNTransitionsManager& manager);
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

   private:
    const CVNTransitionsManager& manager_;
  };

  bool loadTransitionsFromArrayLocked(const platform::Array& array, std::string* error, std::string* warnings);
  void startObservingTransitions(const Transitions& transitions);
  void stopObservingTransitions(const Transitions& transitions);
  void observeValueForKeyPath(const std::string& key, const std::shared_ptr<CVNTransition>& transition,
                              const platform::Value& old, const platform::Value& now);
  void observeUndoManagerCheckpoint();
  void setTransitionProperties(const OldProperties& properties);

  platform::UserDefaults& defaults() const;

  platform::UserDefaults* const defaults_;  // not owned; nullptr: the standard defaults

  mutable std::recursive_mutex mutex_;
  mutable std::size_t lockDepth_ = 0;                          // guarded by mutex_
  mutable std::vector<platform::ObservationToken> retired_;    // guarded by mutex_; dropped unlocked
  Transitions transitions_;                                    // guarded by mutex_, as the fields below
  std::filesystem::path customTransitionsDirectoryPath_;
  platform::UndoManager undoManager_;
  std::set<const CVNTransition*> undoGroupInsertedTransitions_;
  std::shared_ptr<OldProperties> undoGroupOldPropertiesByTransition_;
  std::string undoGroupPresentablePropertyName_;
  bool undoGroupHasChangesToMultipleProperties_ = false;
  std::uint64_t checkpointCount_ = 0;
  std::map<const CVNTransition*, std::vector<platform::ObservationToken>> observations_;

  platform::ObserverToken checkpointObserver_;  // last: removed first
};

}  // namespace engine
