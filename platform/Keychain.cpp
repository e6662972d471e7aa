#include "platform/Keychain.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"

namespace platform {
namespace {

// Layout of the file: { GenericPasswords: { <service>: { <account>: <data> } } }.
// Passwords are <data> so that any bytes survive, including characters an XML
// string cannot carry. Labels: { <service>: { <account>: <string> } } beside
// it. Other top-level keys are kept as found.
constexpr std::string_view kGenericPasswordsKey = "GenericPasswords";
constexpr std::string_view kLabelsKey = "Labels";
// A store holds a handful of passwords; anything this large is not ours.
constexpr std::size_t kMaxStoreBytes = 16 * 1024 * 1024;
constexpr mode_t kStoreMode = 0600;
constexpr mode_t kFolderMode = 0700;

// Held across every read-modify-write, for all instances: two Keychain objects
// on one file must not interleave their updates.
std::mutex storeMutex;

Error keychainError(KeychainErrorCode code, const std::filesystem::path& path, const std::string& reason) {
  return Error(kKeychainErrorDomain, code, "Keychain '" + path.string() + "': " + reason);
}

std::string octal(mode_t mode) {
  char buffer[8];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, static_cast<unsigned>(mode & 0777), 8).ptr;
  return "0" + std::string(buffer, end);
}

// True when `root` has the layout this class writes.
bool isWellFormed(const Dictionary& root) {
  auto entries = root.find(kGenericPasswordsKey);
  if (entries == root.end()) return true;
  const Dictionary* services = entries->second.dictionary();
  if (!services) return false;
  for (const auto& [service, accounts] : *services) {
    if (!accounts.isDictionary()) return false;
    for (const auto& [account, secret] : *accounts.dictionary()) {
      if (!secret.isData()) return false;
    }
  }
  return true;
}

Result<Dictionary> parse(const std::filesystem::path& path);

// The whole store as a dictionary; empty when there is no file yet. A store
// that is damaged (not a keychain at all) would refuse every password for
// good: it is kept aside, reported, named in `keptAside`, and the store
// starts empty. Caller holds storeMutex.
Result<Dictionary> load(const std::filesystem::path& path, std::optional<std::filesystem::path>& keptAside) {
  Result<Dictionary> root = parse(path);
  if (root.ok() || !root.error().is(kKeychainErrorDomain, KeychainErrorCode::StoreCorrupt)) return root;
  Result<std::filesystem::path> aside = keepDamagedFileAside(path);
  if (!aside.ok()) {
    return keychainError(KeychainErrorCode::StoreCorrupt, path,
                         root.error().localizedDescription + "; " + aside.error().localizedDescription);
  }
  reportDiagnostic(DiagnosticLevel::Error, root.error().localizedDescription + "; kept it as " + aside->string() +
                                               " and started an empty store");
  keptAside = *aside;
  return Dictionary{};
}

Result<Dictionary> parse(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return Dictionary{};
    return keychainError(KeychainErrorCode::StoreUnreadable, path, std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return keychainError(KeychainErrorCode::StoreUnreadable, path, "the store is not a regular file");
  }
  if ((info.st_mode & 077) != 0) {
    if (::chmod(path.c_str(), kStoreMode) != 0) {
      return keychainError(KeychainErrorCode::UnsafePermissions, path,
                           "the store is readable by others (mode " + octal(info.st_mode) +
                               ") and could not be restricted: " + std::strerror(errno));
    }
    reportDiagnostic(DiagnosticLevel::Warning, "Keychain '" + path.string() + "': the store was open to others (mode " +
                                                   octal(info.st_mode) + "); restricted it to its owner (0600)");
  }

  Result<std::string> bytes = readFile(path, kMaxStoreBytes);
  if (!bytes) {
    // Removed between the stat and the read: there is simply no store.
    if (bytes.error().is(kFileErrorDomain, FileErrorCode::NotFound)) return Dictionary{};
    return keychainError(KeychainErrorCode::StoreUnreadable, path, bytes.error().localizedDescription);
  }
  Result<Value> root = readPropertyList(*bytes);
  if (!root) return keychainError(KeychainErrorCode::StoreCorrupt, path, root.error().localizedDescription);
  const Dictionary* dictionary = root->dictionary();
  if (!dictionary || !isWellFormed(*dictionary)) {
    return keychainError(KeychainErrorCode::StoreCorrupt, path, "the store does not have the layout of a keychain");
  }
  return *dictionary;
}

// Creates the missing folders above the store, owner-only.
Status ensureFolder(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> missing;
  std::error_code error;
  for (std::filesystem::path folder = path.parent_path(); !folder.empty() && !std::filesystem::exists(folder, error);
       folder = folder.parent_path()) {
    missing.push_back(folder);
    if (folder == folder.parent_path()) break;
  }
  for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
    if (::mkdir(folder->c_str(), kFolderMode) != 0 && errno != EEXIST) {
      return keychainError(KeychainErrorCode::StoreUnwritable, path,
                           "cannot create folder '" + folder->string() + "': " + std::strerror(errno));
    }
  }
  return Status::success();
}

// Caller holds storeMutex.
Status save(const std::filesystem::path& path, const Dictionary& root) {
  Result<std::string> bytes = writePropertyList(Value(root));
  if (!bytes) return keychainError(KeychainErrorCode::InvalidItem, path, bytes.error().localizedDescription);
  if (Status folder = ensureFolder(path); !folder) return folder;
  if (Status written = writeFileAtomically(path, *bytes, /*ownerOnly=*/true); !written) {
    return keychainError(KeychainErrorCode::StoreUnwritable, path, written.error().localizedDescription);
  }
  return Status::success();
}

Data toData(std::string_view bytes) { return Data(bytes.begin(), bytes.end()); }

}  // namespace

Keychain& Keychain::standard() {
  static Keychain& keychain = *new Keychain(standardPath());  // never destroyed: used by any thread
  return keychain;
}

std::filesystem::path Keychain::standardPath() {
  return userApplicationSupportFolder() / "keychain" / "generic-passwords.plist";
}

Keychain::Keychain(std::filesystem::path storePath) : storePath_(std::move(storePath)) {}

Status Keychain::setPassword(std::string_view service, std::string_view account, std::string_view password) {
  std::lock_guard guard(storeMutex);
  Result<Dictionary> root = load(storePath_, keptAside_);
  if (!root) return root.error();

  Value& entries = (*root)[std::string(kGenericPasswordsKey)];
  if (entries.isNone()) entries = Value(Dictionary{});
  Value& accounts = (*entries.dictionary())[std::string(service)];
  if (accounts.isNone()) accounts = Value(Dictionary{});
  Value& secret = (*accounts.dictionary())[std::string(account)];
  Data bytes = toData(password);
  if (secret.data() && *secret.data() == bytes) return Status::success();  // spare a write and an fsync
  secret = Value(std::move(bytes));
  return save(storePath_, *root);
}

Result<std::optional<std::string>> Keychain::password(std::string_view service, std::string_view account) const {
  Result<Dictionary> root = [&] {
    std::lock_guard guard(storeMutex);
    return load(storePath_, keptAside_);
  }();
  if (!root) return root.error();
  const Value store(std::move(*root));
  const Value& secret = store[kGenericPasswordsKey][service][account];
  if (!secret.isData()) return std::optional<std::string>();
  const Data& bytes = *secret.data();
  return std::optional<std::string>(std::string(bytes.begin(), bytes.end()));
}

Result<std::optional<Keychain::Item>> Keychain::itemForService(std::string_view service) const {
  Result<Dictionary> root = [&] {
    std::lock_guard guard(storeMutex);
    return load(storePath_, keptAside_);
  }();
  if (!root) return root.error();
  const Value store(std::move(*root));
  const Value& accounts = store[kGenericPasswordsKey][service];
  if (!accounts.isDictionary()) return std::optional<Item>();
  for (const auto& [account, secret] : *accounts.dictionary()) {
    if (!secret.isData()) continue;
    const Data& bytes = *secret.data();
    return std::optional<Item>(Item{account, std::string(bytes.begin(), bytes.end())});
  }
  return std::optional<Item>();
}

Status Keychain::removePassword(std::string_view service, std::string_view account) {
  std::lock_guard guard(storeMutex);
  Result<Dictionary> root = load(storePath_, keptAside_);
  if (!root) return root.error();

  auto entries = root->find(kGenericPasswordsKey);
  if (entries == root->end()) return Status::success();
  Dictionary& services = *entries->second.dictionary();
  auto accounts = services.find(service);
  if (accounts == services.end()) return Status::success();
  Dictionary& byAccount = *accounts->second.dictionary();
  auto secret = byAccount.find(account);
  if (secret == byAccount.end()) return Status::success();
  byAccount.erase(secret);
  if (byAccount.empty()) services.erase(accounts);
  auto labels = root->find(kLabelsKey);
  if (labels != root->end() && labels->second.isDictionary()) {
    Dictionary& labelServices = *labels->second.dictionary();
    auto labelAccounts = labelServices.find(service);
    if (labelAccounts != labelServices.end() && labelAccounts->second.isDictionary()) {
      labelAccounts->second.dictionary()->erase(std::string(account));
      if (labelAccounts->second.dictionary()->empty()) labelServices.erase(labelAccounts);
    }
  }
  return save(storePath_, *root);
}

Status Keychain::setLabel(std::string_view service, std::string_view account, std::string_view label) {
  std::lock_guard guard(storeMutex);
  Result<Dictionary> root = load(storePath_, keptAside_);
  if (!root) return root.error();
  if (!Value(*root)[kGenericPasswordsKey][service][account].isData()) {
    return keychainError(KeychainErrorCode::InvalidItem, storePath_, "no item to label");
  }
  Value& labels = (*root)[std::string(kLabelsKey)];
  if (!labels.isDictionary()) labels = Value(Dictionary{});
  Value& accounts = (*labels.dictionary())[std::string(service)];
  if (!accounts.isDictionary()) accounts = Value(Dictionary{});
  Value& text = (*accounts.dictionary())[std::string(account)];
  if (text.string() && *text.string() == label) return Status::success();
  text = Value(std::string(label));
  return save(storePath_, *root);
}

Result<std::optional<std::string>> Keychain::label(std::string_view service, std::string_view account) const {
  Result<Dictionary> root = [&] {
    std::lock_guard guard(storeMutex);
    return load(storePath_, keptAside_);
  }();
  if (!root) return root.error();
  const Value store(std::move(*root));
  const Value& text = store[kLabelsKey][service][account];
  if (!text.isString()) return std::optional<std::string>();
  return std::optional<std::string>(*text.string());
}

std::optional<std::filesystem::path> Keychain::takeDamagedStoreKeptAside() {
  std::lock_guard guard(storeMutex);
  return std::exchange(keptAside_, std::nullopt);
}

}  // namespace platform
