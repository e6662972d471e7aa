#pragma once
// UserDefaults: the operator's settings, looked up by key through three
// domains, first match wins:
//   1. the argument domain: "-key value" pairs from the command line;
//   2. the persistent domain: an XML property-list dictionary in a file, read
//      at construction and rewritten on every change;
//   3. the registered domain: fallbacks the application registers at start-up
//      with registerDefaults(); never saved.
//
// Owned by the application (standard()) or by a test. Any thread: all calls
// are serialised by an internal lock; observers run on the thread that made
// the change, after the lock is released.
//
// Guarantees:
// - Persistence is immediate: setObject and removeObjectForKey rewrite the file
//   atomically (writePropertyListFile) before they return, so a crash loses
//   nothing that was set; a failed write is reported as a diagnostic, kept in
//   memory and retried by the next change or synchronize(); every failed save
//   is reported. Code that changes
//   many keys at high rate should batch its changes itself.
// - A defaults file that cannot be read or parsed is never overwritten: it is
//   renamed to "<name>.corrupt-<UTC timestamp>", a diagnostic names it and the
//   error, and the persistent domain starts empty. If it cannot be moved
//   aside, nothing is written to that path for the life of this object.
// - Observers of a key hear of every change of its effective value (by set,
//   remove or registerDefaults), with the old and new effective values.
//
// Argument values are parsed as property-list literals:
// - text starting with '<' is XML: "<true/>", "<integer>3</integer>",
//   "<array>...</array>" (a full "<?xml ...><plist>" document works too); XML
//   that does not parse is reported and kept as the plain string;
// - text in double quotes is a string with the quotes removed and
//   backslash escapes resolved;
// - anything else, numbers and YES/NO included, is the string as written. The
//   typed getters convert on read (given "-count 3", integerForKey("count")
//   is 3), and objectForKey keeps exactly what the operator typed.
// Argument parsing: an argument "-key" (one dash, not "--...") takes the next
// argument as its value, whatever it looks like ("-offset -3"); a bare "--"
// ends the defaults; arguments not starting with '-' (argv[0] included) are
// skipped.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Observable.h"
#include "platform/Value.h"

namespace platform {

class UserDefaults {
 public:
  using KeyCallback = ObservableObject::KeyCallback;

  // Files larger than this are treated as unreadable (and kept aside).
  static constexpr std::size_t kMaxPersistentFileBytes = 64 * 1024 * 1024;

  // The process-wide defaults: "<userConfigurationFolder()>/<suiteName>.plist"
  // with the arguments given to configureStandard. Created on first use and
  // kept until the process ends. Used before configureStandard it takes the
  // program's short name as the suite name and reports that.
  static UserDefaults& standard();
  // Call once at start-up, before standard() is first used; later calls and
  // names that are empty or contain '/' are reported and ignored.
  static void configureStandard(std::string suiteName, std::vector<std::string> arguments);
  static void configureStandard(std::string suiteName, int argc, const char* const* argv);

  // Defaults persisted in `persistentDomainFile` (nothing is persisted when it
  // is empty), with an argument domain parsed from `arguments`.
  explicit UserDefaults(std::filesystem::path persistentDomainFile, const std::vector<std::string>& arguments = {});
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // The effective value; none when no domain has the key.
  Value objectForKey(std::string_view key) const;
  // Conversions on read:
  // - string: strings as they are; integers in decimal; reals in the shortest
  //   form that reads back the same; booleans as "1"/"0"; nullopt otherwise.
  // - bool: booleans; numbers not zero; strings "YES"/"true" (any case) or a
  //   number not zero. Anything else (absent included) is false.
  // - integer/double: numbers; booleans as 1/0; strings holding a decimal
  //   number (surrounding blanks allowed; reals truncate toward zero for
  //   integerForKey, saturating). Anything else is 0.
  std::optional<std::string> stringForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;
  std::int64_t integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  std::optional<Array> arrayForKey(std::string_view key) const;
  std::optional<Dictionary> dictionaryForKey(std::string_view key) const;

  // Sets the key in the persistent domain and saves it. A none value removes
  // the key; a value the property-list file cannot hold (none inside, text
  // with control characters, ...) is refused with a diagnostic, and the
  // other keys go on being saved.
  void setObject(Value value, std::string_view key);
  void removeObjectForKey(std::string_view key);
  // Read-modify-write of a key whose value is changed a piece at a time (a
  // saved list): `change` gets the persistent domain's value (none when
  // absent) and returns the new one, which is saved as setObject saves it.
  // Values of the argument domain are for this run only: when the arguments
  // set the key, `change` is applied to their value too, for the rest of the
  // run, and the argument's value is never saved over the persistent one.
  // `change` runs under the defaults' lock: it must not use these defaults.
  void modifyObject(std::string_view key, const std::function<Value(Value)>& change);
  // Merges into the registered domain (a later registration of a key wins).
  void registerDefaults(const Dictionary& defaults);

  // Writes the persistent domain if it has changes not yet on disk (after an
  // earlier failed write). Does not re-read the file.
  Status synchronize();

  // Every key of every domain with its effective value.
  Dictionary dictionaryRepresentation() const;

  // Observes the effective value of `key` (see ObservationToken for removal).
  ObservationToken observeKey(std::string key, KeyCallback callback);

  const std::filesystem::path& persistentDomainFile() const { return path_; }

 private:
  const Value* effectiveValue(std::string_view key) const;  // needs mutex_
  void loadPersistentDomain();
  void keepUnreadableFileAside(const std::string& problem);
  Status writePersistentDomain();

  const std::filesystem::path path_;
  ObservableObject observers_;

  // Taken before mutex_; serialises file writes so an older snapshot never
  // lands after a newer one.
  std::mutex writeMutex_;
  bool lastWriteFailed_ = false;  // guarded by writeMutex_

  mutable std::mutex mutex_;
  Dictionary argumentDomain_;        // guarded by mutex_; changed only by modifyObject
  Dictionary persistentDomain_;      // guarded by mutex_
  Dictionary registeredDomain_;      // guarded by mutex_
  std::uint64_t changeCount_ = 0;    // guarded by mutex_
  std::uint64_t savedChangeCount_ = 0;  // guarded by mutex_
  std::optional<Error> writeRefusal_;   // guarded by mutex_; set when a bad file could not be kept aside
};

// Makes UserDefaults::standard() return `defaults` for the lifetime of this
// object, so tests of code that uses the standard defaults stay off the
// operator's file.
class ScopedStandardUserDefaultsOverride {
 public:
  explicit ScopedStandardUserDefaultsOverride(UserDefaults& defaults);
  ~ScopedStandardUserDefaultsOverride();
  ScopedStandardUserDefaultsOverride(const ScopedStandardUserDefaultsOverride&) = delete;
  ScopedStandardUserDefaultsOverride& operator=(const ScopedStandardUserDefaultsOverride&) = delete;

 private:
  UserDefaults* previous_;
};

}  // namespace platform
