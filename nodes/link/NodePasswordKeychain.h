#pragma once
// Node passwords in the keychain: generic passwords whose account is the fixed
// text "account" and whose service is a name the caller gives (for a node,
// nodePasswordServiceName(nodeUniqueID)).
//
// Free functions over a platform::Keychain (the user's store unless a test
// passes its own); safe on any thread, as the keychain is. Passwords and
// service names are UTF-8 and kept byte for byte, non-ASCII characters
// included. Results are keychain status codes: 0 on success, the item-not-found
// and duplicate-item codes where those apply, the I/O or parameter code when
// the store could not be used.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Keychain.h"

namespace nodes {

using KeychainStatus = std::int32_t;
inline constexpr KeychainStatus kKeychainStatusSuccess = 0;
inline constexpr KeychainStatus kKeychainStatusItemNotFound = -25300;
inline constexpr KeychainStatus kKeychainStatusDuplicateItem = -25299;
inline constexpr KeychainStatus kKeychainStatusIOError = -36;   // store unreadable or unwritable
inline constexpr KeychainStatus kKeychainStatusParamError = -50;  // service name the store refuses

inline constexpr const char* kNodePasswordAccount = "account";
// "com.dirarovazovo.RuzizevuZazo.<node unique ID>"
std::string nodePasswordServiceName(std::string_view nodeUniqueID);

// A found keychain item: where its password lives.
struct KeychainItem {
  std::string service;
  std::string account;
};

struct KeychainLookup {
  KeychainStatus status = kKeychainStatusItemNotFound;
  std::string password;              // valid when status is success
  std::optional<KeychainItem> item;  // set when status is success
};

// The stored password, none when there is none or the store cannot be read.
std::optional<std::string> KeychainPasswordForService(std::string_view service,
                                                      platform::Keychain& keychain = platform::Keychain::standard());
// Adds the item when the service has none, replaces its password otherwise;
// any other look-up status is answered as it is.
KeychainStatus StoreKeychainPasswordForService(std::string_view password, std::string_view service,
                                               platform::Keychain& keychain = platform::Keychain::standard());
// Adds the item; the duplicate-item status when it already exists.
KeychainStatus AddKeychainPasswordForService(std::string_view service, std::string_view password,
                                             platform::Keychain& keychain = platform::Keychain::standard());
KeychainLookup FindKeychainPasswordForService(std::string_view service,
                                              platform::Keychain& keychain = platform::Keychain::standard());
// Replaces the found item's password.
KeychainStatus ModifyKeychainItemPassword(const KeychainItem& item, std::string_view password,
                                          platform::Keychain& keychain = platform::Keychain::standard());
// Deletes the item of that service (success when there was none).
KeychainStatus DeleteKeychainPasswordForService(std::string_view service,
                                                platform::Keychain& keychain = platform::Keychain::standard());

}  // namespace nodes
