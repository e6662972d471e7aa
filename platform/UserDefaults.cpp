#include "platform/UserDefaults.h"

#include <errno.h>  // program_invocation_short_name

#include <atomic>
#include <charconv>
#include <system_error>
#include <utility>

#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"

namespace platform {
namespace {

// ---- Argument domain ----------------------------------------------------

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

Value parseArgumentValue(std::string_view key, const std::string& text) {
  std::string_view literal = trimmed(text);
  if (literal.starts_with('<')) {
    bool isDocument = literal.starts_with("<?xml") || literal.starts_with("<!DOCTYPE") || literal.starts_with("<plist");
    std::string document = isDocument ? std::string(literal)
                                      : "<plist version=\"1.0\">" + std::string(literal) + "</plist>";
    Result<Value> parsed = readPropertyList(document);
    if (parsed.ok() && !parsed->isNone()) return std::move(parsed).value();
    reportDiagnostic(DiagnosticLevel::Warning,
                     "UserDefaults: the command-line value of '" + std::string(key) +
                         "' looks like XML but is not a property list (" +
                         (parsed.ok() ? std::string("empty") : parsed.error().localizedDescription) +
                         "); using it as a plain string");
    return Value(text);
  }
  if (literal.size() >= 2 && literal.front() == '"' && literal.back() == '"') {
    std::string unquoted;
    for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
      if (literal[i] == '\\' && i + 2 < literal.size()) ++i;
      unquoted += literal[i];
    }
    return Value(std::move(unquoted));
  }
  return Value(text);
}

Dictionary parseArgumentDomain(const std::vector<std::string>& arguments) {
  Dictionary domain;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") break;
    if (argument.size() < 2 || argument[0] != '-' || argument[1] == '-') continue;
    if (i + 1 >= arguments.size()) break;  // a key without a value
    std::string key = argument.substr(1);
    domain[key] = parseArgumentValue(key, arguments[i + 1]);
    ++i;
  }
  return domain;
}

// ---- Conversions on read ------------------------------------------------

std::optional<std::int64_t> integerFromText(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  std::int64_t integer = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), integer);
  if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return integer;
  return std::nullopt;
}

std::optional<double> realFromText(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  double real = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), real);
  if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return real;
  return std::nullopt;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowercase) {
  if (text.size() != lowercase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowercase[i]) return false;
  }
  return true;
}

// Strings read as numbers when they hold one; everything else keeps Value's rules.
Value numericView(const Value& value) {
  const std::string* text = value.string();
  if (!text) return value;
  std::string_view number = trimmed(*text);
  if (auto integer = integerFromText(number)) return Value(*integer);
  if (auto real = realFromText(number)) return Value(*real);
  return Value();
}

// The keys whose values the writer refuses, taken out of `domain` so one bad
// value never keeps the others from being saved.
std::vector<std::string> removeUnwritableValues(Dictionary& domain) {
  std::vector<std::string> removed;
  for (auto it = domain.begin(); it != domain.end();) {
    if (!checkPropertyListWritable(Value(Dictionary{{it->first, it->second}})).ok()) {
      removed.push_back(it->first);
      it = domain.erase(it);
    } else {
      ++it;
    }
  }
  return removed;
}

// ---- The standard instance ----------------------------------------------

struct StandardConfiguration {
  std::mutex mutex;
  std::optional<std::string> suiteName;  // guarded by mutex
  std::vector<std::string> arguments;    // guarded by mutex
  bool created = false;                  // guarded by mutex
};

// Never destroyed: other threads may still use the standard defaults while
// static destructors run at exit.
StandardConfiguration& standardConfiguration() {
  static auto* configuration = new StandardConfiguration;
  return *configuration;
}

std::atomic<UserDefaults*> standardOverride{nullptr};

UserDefaults* makeStandard() {
  StandardConfiguration& configuration = standardConfiguration();
  std::string suiteName;
  std::vector<std::string> arguments;
  bool configured = false;
  {
    std::lock_guard guard(configuration.mutex);
    configuration.created = true;
    configured = configuration.suiteName.has_value();
    suiteName = configuration.suiteName.value_or(program_invocation_short_name);
    arguments = configuration.arguments;
  }
  if (!configured) {
    reportDiagnostic(DiagnosticLevel::Warning, "UserDefaults: the standard defaults were used before "
                                               "configureStandard; using the suite name '" + suiteName + "'");
  }
  return new UserDefaults(userConfigurationFolder() / (suiteName + ".plist"), arguments);
}

}  // namespace

UserDefaults& UserDefaults::standard() {
  if (UserDefaults* replacement = standardOverride.load(std::memory_order_acquire)) return *replacement;
  static UserDefaults* instance = makeStandard();
  return *instance;
}

void UserDefaults::configureStandard(std::string suiteName, std::vector<std::string> arguments) {
  std::string problem;
  if (suiteName.empty() || suiteName == "." || suiteName == ".." || suiteName.find('/') != std::string::npos) {
    problem = "the suite name '" + suiteName + "' cannot name a file";
  } else {
    StandardConfiguration& configuration = standardConfiguration();
    std::lock_guard guard(configuration.mutex);
    if (configuration.created) {
      problem = "the standard defaults already exist";
    } else if (configuration.suiteName) {
      problem = "it was configured already as '" + *configuration.suiteName + "'";
    } else {
      configuration.suiteName = std::move(suiteName);
      configuration.arguments = std::move(arguments);
      return;
    }
  }
  reportDiagnostic(DiagnosticLevel::Error, "UserDefaults: configureStandard ignored: " + problem);
}

void UserDefaults::configureStandard(std::string suiteName, int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv[i]; ++i) arguments.emplace_back(argv[i]);
  configureStandard(std::move(suiteName), std::move(arguments));
}

UserDefaults::UserDefaults(std::filesystem::path persistentDomainFile, const std::vector<std::string>& arguments)
    : path_(std::move(persistentDomainFile)), argumentDomain_(parseArgumentDomain(arguments)) {
  if (!path_.empty()) loadPersistentDomain();
}

void UserDefaults::loadPersistentDomain() {
  Result<std::string> bytes = readFile(path_, kMaxPersistentFileBytes);
  std::string problem;
  if (!bytes.ok()) {
    if (bytes.error().is(kFileErrorDomain, FileErrorCode::NotFound)) return;
    problem = bytes.error().localizedDescription;
  } else {
    Result<Value> parsed = readPropertyList(*bytes);
    if (!parsed.ok()) {
      problem = parsed.error().localizedDescription;
    } else if (Dictionary* dictionary = parsed->dictionary()) {
      persistentDomain_ = std::move(*dictionary);
      return;
    } else {
      problem = std::string("the property list holds ") + typeName(parsed->type()) + ", not a dictionary";
    }
  }
  keepUnreadableFileAside(problem);
}

void UserDefaults::keepUnreadableFileAside(const std::string& problem) {
  Result<std::filesystem::path> aside = keepDamagedFileAside(path_);
  if (aside.ok()) {
    reportDiagnostic(DiagnosticLevel::Error, "UserDefaults '" + path_.string() + "': cannot read it (" + problem +
                                                 "); kept it as " + aside->string() +
                                                 " and started with no saved settings");
    return;
  }
  const std::string reason = aside.error().localizedDescription;
  writeRefusal_ = Error(kFileErrorDomain, FileErrorCode::WriteFailed,
                        "Not saving settings over the unreadable " + path_.string() + ": it could not be kept aside (" +
                            reason + ")");
  reportDiagnostic(DiagnosticLevel::Error, "UserDefaults '" + path_.string() + "': cannot read it (" + problem +
                                               ") nor move it aside (" + reason +
                                               "); started with no saved settings and will not save any to it");
}

const Value* UserDefaults::effectiveValue(std::string_view key) const {
  for (const Dictionary* domain : {&argumentDomain_, &persistentDomain_, &registeredDomain_}) {
    auto it = domain->find(key);
    if (it != domain->end()) return &it->second;
  }
  return nullptr;
}

Value UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard guard(mutex_);
  const Value* value = effectiveValue(key);
  return value ? *value : Value();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  Value value = objectForKey(key);
  switch (value.type()) {
    case Value::Type::String:
      return *value.string();
    case Value::Type::Integer:
      return std::to_string(*value.integer());
    case Value::Type::Real: {
      char buffer[32];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, *value.real());
      return std::string(buffer, result.ptr);
    }
    case Value::Type::Boolean:
      return *value.boolean() ? "1" : "0";
    default:
      return std::nullopt;
  }
}

bool UserDefaults::boolForKey(std::string_view key) const {
  Value value = objectForKey(key);
  if (const std::string* text = value.string()) {
    std::string_view word = trimmed(*text);
    if (equalsIgnoringCase(word, "yes") || equalsIgnoringCase(word, "true")) return true;
  }
  return numericView(value).booleanOr(false);
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
  return numericView(objectForKey(key)).integerOr(0);
}

double UserDefaults::doubleForKey(std::string_view key) const { return numericView(objectForKey(key)).realOr(0.0); }

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
  Value value = objectForKey(key);
  if (Array* array = value.array()) return std::move(*array);
  return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  Value value = objectForKey(key);
  if (Dictionary* dictionary = value.dictionary()) return std::move(*dictionary);
  return std::nullopt;
}

void UserDefaults::setObject(Value value, std::string_view key) {
  if (value.isNone()) {
    removeObjectForKey(key);
    return;
  }
  // Refused here, not at the next save: a value the file cannot hold would
  // otherwise keep every later change of every key from being saved.
  if (Status writable = checkPropertyListWritable(Value(Dictionary{{std::string(key), value}})); !writable.ok()) {
    reportDiagnostic(DiagnosticLevel::Error, "UserDefaults '" + path_.string() + "': refused a value for '" +
                                                 std::string(key) + "' that cannot be saved: " +
                                                 writable.error().localizedDescription);
    return;
  }
  Value old;
  Value now;
  {
    std::lock_guard guard(mutex_);
    auto it = persistentDomain_.find(key);
    if (it != persistentDomain_.end() && it->second == value) return;
    if (const Value* effective = effectiveValue(key)) old = *effective;
    persistentDomain_.insert_or_assign(std::string(key), std::move(value));
    ++changeCount_;
    now = *effectiveValue(key);
  }
  (void)writePersistentDomain();
  observers_.didChangeValueForKey(key, old, now);
}

void UserDefaults::removeObjectForKey(std::string_view key) {
  Value old;
  Value now;
  {
    std::lock_guard guard(mutex_);
    auto it = persistentDomain_.find(key);
    if (it == persistentDomain_.end()) return;
    old = *effectiveValue(key);
    persistentDomain_.erase(it);
    ++changeCount_;
    if (const Value* effective = effectiveValue(key)) now = *effective;
  }
  (void)writePersistentDomain();
  observers_.didChangeValueForKey(key, old, now);
}

void UserDefaults::modifyObject(std::string_view key, const std::function<Value(Value)>& change) {
  Value old;
  Value now;
  {
    std::lock_guard guard(mutex_);
    auto persistent = persistentDomain_.find(key);
    Value changed = change(persistent == persistentDomain_.end() ? Value() : persistent->second);
    if (!changed.isNone()) {
      if (Status writable = checkPropertyListWritable(Value(Dictionary{{std::string(key), changed}}));
          !writable.ok()) {
        reportDiagnostic(DiagnosticLevel::Error, "UserDefaults '" + path_.string() + "': refused a value for '" +
                                                     std::string(key) + "' that cannot be saved: " +
                                                     writable.error().localizedDescription);
        return;
      }
    }
    if (const Value* effective = effectiveValue(key)) old = *effective;
    if (auto argument = argumentDomain_.find(key); argument != argumentDomain_.end()) {
      Value run = change(argument->second);
      if (run.isNone()) {
        argumentDomain_.erase(argument);
      } else {
        argument->second = std::move(run);
      }
    }
    const bool persistentChanged =
        changed.isNone() ? persistent != persistentDomain_.end() : persistent == persistentDomain_.end() || persistent->second != changed;
    if (persistentChanged) {
      if (changed.isNone()) {
        persistentDomain_.erase(persistent);
      } else {
        persistentDomain_.insert_or_assign(std::string(key), std::move(changed));
      }
      ++changeCount_;
    }
    if (const Value* effective = effectiveValue(key)) now = *effective;
  }
  (void)writePersistentDomain();
  if (old != now) observers_.didChangeValueForKey(key, old, now);
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  struct Change {
    std::string key;
    Value old;
    Value now;
  };
  std::vector<Change> changes;
  {
    std::lock_guard guard(mutex_);
    for (const auto& [key, value] : defaults) {
      Change change{key, {}, {}};
      if (const Value* effective = effectiveValue(key)) change.old = *effective;
      if (value.isNone()) {
        registeredDomain_.erase(key);
      } else {
        registeredDomain_.insert_or_assign(key, value);
      }
      if (const Value* effective = effectiveValue(key)) change.now = *effective;
      if (change.old != change.now) changes.push_back(std::move(change));
    }
  }
  for (const Change& change : changes) observers_.didChangeValueForKey(change.key, change.old, change.now);
}

Status UserDefaults::synchronize() { return writePersistentDomain(); }

Status UserDefaults::writePersistentDomain() {
  if (path_.empty()) return Status::success();
  Status status;
  std::optional<std::pair<DiagnosticLevel, std::string>> report;
  {
    std::lock_guard writing(writeMutex_);
    Dictionary snapshot;
    std::uint64_t changeCount = 0;
    {
      std::lock_guard guard(mutex_);
      if (writeRefusal_) return *writeRefusal_;
      if (changeCount_ == savedChangeCount_) return Status::success();
      snapshot = persistentDomain_;
      changeCount = changeCount_;
    }

    std::error_code folderError;
    std::filesystem::create_directories(path_.parent_path(), folderError);
    if (folderError) {
      status = Error(kFileErrorDomain, FileErrorCode::CreateFolderFailed,
                     "Could not create the folder " + path_.parent_path().string() + ": " + folderError.message());
    } else {
      // Values read from an older file may be ones the writer refuses: they
      // are left out of the file, the other keys are saved.
      std::string leftOut;
      if (!checkPropertyListWritable(Value(snapshot)).ok()) {
        const std::vector<std::string> removed = removeUnwritableValues(snapshot);
        std::lock_guard guard(mutex_);
        for (const std::string& key : removed) {
          persistentDomain_.erase(key);
          leftOut += (leftOut.empty() ? "'" : ", '") + key + "'";
        }
      }
      status = writePropertyListFile(path_, Value(std::move(snapshot)));
      if (status.ok() && !leftOut.empty()) {
        report.emplace(DiagnosticLevel::Error, "UserDefaults '" + path_.string() + "': saved without " + leftOut +
                                                   ", whose values cannot be saved");
      }
    }

    if (status.ok()) {
      std::lock_guard guard(mutex_);
      savedChangeCount_ = changeCount;
    }
    if (!status.ok()) {
      report.emplace(DiagnosticLevel::Error,
                     "UserDefaults '" + path_.string() + "': could not save settings: " + status.error().describe());
    } else if (lastWriteFailed_) {
      report.emplace(DiagnosticLevel::Info, "UserDefaults '" + path_.string() + "': saving works again");
    }
    lastWriteFailed_ = !status.ok();
  }
  // Outside the lock: the diagnostic handler may itself use these defaults.
  if (report) reportDiagnostic(report->first, report->second);
  return status;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard guard(mutex_);
  Dictionary merged = registeredDomain_;
  for (const auto& [key, value] : persistentDomain_) merged.insert_or_assign(key, value);
  for (const auto& [key, value] : argumentDomain_) merged.insert_or_assign(key, value);
  return merged;
}

ObservationToken UserDefaults::observeKey(std::string key, KeyCallback callback) {
  return observers_.observeKey(std::move(key), std::move(callback));
}

ScopedStandardUserDefaultsOverride::ScopedStandardUserDefaultsOverride(UserDefaults& defaults)
    : previous_(standardOverride.exchange(&defaults, std::memory_order_acq_rel)) {}

ScopedStandardUserDefaultsOverride::~ScopedStandardUserDefaultsOverride() {
  standardOverride.store(previous_, std::memory_order_release);
}

}  // namespace platform
