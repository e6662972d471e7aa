#pragma once
// Keychain: generic passwords stored by service and account in a private,
// owner-only property-list file.
//
// Owned by whoever constructs it; Keychain::standard() is the user's store,
// shared by the whole process. Any thread: every call takes a lock private to
// this library, held across the read-modify-write of the file, so calls on
// any instances in this process (even two on the same file) never lose each
// other's updates. Another process writing the same file at the same moment
// can still win the race (last whole-file write wins).
//
// Guarantees:
// - The store is created with mode 0600 (its folder 0700) and replaced
//   atomically; it is never readable by others, even briefly.
// - A store found readable by others is reported and tightened to 0600
//   before it is read; if that fails it is not read.
// - Passwords are kept as exact bytes: UTF-8 (or anything else) round-trips.
// - Each call reads the file afresh, so instances see each other's writes.
// - A store that cannot be read (permissions, I/O) is an error, and is never
//   overwritten: setPassword and removePassword refuse and keep the file.
// - A store that is damaged (not a property list, not a keychain's layout)
//   is kept aside as "<name>.corrupt-<timestamp>" with a report, and the
//   call goes on with an empty store; takeDamagedStoreKeptAside() then
//   names the kept file once, for telling the operator.

#include <filesystem>
#include <optional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace platform {

inline constexpr const char* kKeychainErrorDomain = "KeychainErrorDomain";
enum class KeychainErrorCode {
  StoreUnreadable = 1,   // the file exists but could not be read
  StoreCorrupt = 2,      // the file is not a store this class wrote
  StoreUnwritable = 3,   // the folder or the file could not be written
  UnsafePermissions = 4, // readable by others and the mode could not be fixed
  InvalidItem = 5,       // service or account cannot be stored (e.g. control characters)
};

class Keychain {
 public:
  // `<userApplicationSupportFolder()>/keychain/generic-passwords.plist`.
  static Keychain& standard();
  static std::filesystem::path standardPath();

  explicit Keychain(std::filesystem::path storePath);

  Status setPassword(std::string_view service, std::string_view account, std::string_view password);
  // nullopt when there is no such item (or no store yet).
  Result<std::optional<std::string>> password(std::string_view service, std::string_view account) const;
  struct Item {
    std::string account;
    std::string password;
  };
  // The first item (by account order) stored under `service`, whatever its
  // account; nullopt when there is none. For logins known by server alone.
  Result<std::optional<Item>> itemForService(std::string_view service) const;
  // Removing an item that does not exist succeeds; its label goes with it.
  Status removePassword(std::string_view service, std::string_view account);

  // The label an item is shown by; kept beside the password, removed with it.
  // Setting one for an item without a password is refused (InvalidItem).
  Status setLabel(std::string_view service, std::string_view account, std::string_view label);
  // nullopt when the item has no label (or does not exist).
  Result<std::optional<std::string>> label(std::string_view service, std::string_view account) const;

  const std::filesystem::path& storePath() const { return storePath_; }

  // Where a damaged store was kept since the last call; none otherwise.
  std::optional<std::filesystem::path> takeDamagedStoreKeptAside();

 private:
  const std::filesystem::path storePath_;
  mutable std::optional<std::filesystem::path> keptAside_;  // guarded by the store lock
};

}  // namespace platform
