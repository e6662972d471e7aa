#include "nodes/link/NodePasswordKeychain.h"

#include "platform/Diagnostics.h"

namespace nodes {

namespace {

constexpr const char* kServicePrefix = "com.dirarovazovo.RuzizevuZazo.";

KeychainStatus statusFor(const platform::Error& error, std::string_view service) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                             "Node password for \"" + std::string(service) + "\": " + error.describe());
  if (error.is(platform::kKeychainErrorDomain, platform::KeychainErrorCode::InvalidItem)) {
    return kKeychainStatusParamError;
  }
  return kKeychainStatusIOError;
}

}  // namespace

std::string nodePasswordServiceName(std::string_view nodeUniqueID) {
  return kServicePrefix + std::string(nodeUniqueID);
}

KeychainLookup FindKeychainPasswordForService(std::string_view service, platform::Keychain& keychain) {
  KeychainLookup lookup;
  platform::Result<std::optional<std::string>> stored = keychain.password(service, kNodePasswordAccount);
  if (!stored.ok()) {
    lookup.status = statusFor(stored.error(), service);
    return lookup;
  }
  if (!stored->has_value()) {
    lookup.status = kKeychainStatusItemNotFound;
    return lookup;
  }
  lookup.status = kKeychainStatusSuccess;
  lookup.password = std::move(**stored);
  lookup.item = KeychainItem{std::string(service), kNodePasswordAccount};
  return lookup;
}

std::optional<std::string> KeychainPasswordForService(std::string_view service, platform::Keychain& keychain) {
  KeychainLookup lookup = FindKeychainPasswordForService(service, keychain);
  if (lookup.status != kKeychainStatusSuccess) return std::nullopt;
  return std::move(lookup.password);
}

KeychainStatus AddKeychainPasswordForService(std::string_view service, std::string_view password,
                                             platform::Keychain& keychain) {
  KeychainLookup lookup = FindKeychainPasswordForService(service, keychain);
  if (lookup.status == kKeychainStatusSuccess) return kKeychainStatusDuplicateItem;
  if (lookup.status != kKeychainStatusItemNotFound) return lookup.status;
  platform::Status added = keychain.setPassword(service, kNodePasswordAccount, password);
  return added.ok() ? kKeychainStatusSuccess : statusFor(added.error(), service);
}

KeychainStatus ModifyKeychainItemPassword(const KeychainItem& item, std::string_view password,
                                          platform::Keychain& keychain) {
  platform::Status modified = keychain.setPassword(item.service, item.account, password);
  return modified.ok() ? kKeychainStatusSuccess : statusFor(modified.error(), item.service);
}

KeychainStatus StoreKeychainPasswordForService(std::string_view password, std::string_view service,
                                               platform::Keychain& keychain) {
  KeychainLookup lookup = FindKeychainPasswordForService(service, keychain);
  if (lookup.status == kKeychainStatusItemNotFound) return AddKeychainPasswordForService(service, password, keychain);
  if (lookup.status != kKeychainStatusSuccess) return lookup.status;
  return ModifyKeychainItemPassword(*lookup.item, password, keychain);
}

KeychainStatus DeleteKeychainPasswordForService(std::string_view service, platform::Keychain& keychain) {
  platform::Status removed = keychain.removePassword(service, kNodePasswordAccount);
  return removed.ok() ? kKeychainStatusSuccess : statusFor(removed.error(), service);
}

}  // namespace nodes
