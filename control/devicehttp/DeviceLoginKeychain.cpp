// Device logins in the keychain, found by server (the item's service) and
// account. The update goes to the item that service and account name, so a
// changed password replaces the stored one.
#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"

namespace control {

platform::Status CVNAuthenticatedURLSessionController::addOrUpdateKeychainPassword(platform::Keychain& keychain,
                                                                                   const std::string& password,
                                                                                   const std::string& login,
                                                                                   const std::string& server,
                                                                                   const std::string& label) {
  platform::Status stored = keychain.setPassword(server, login, password);
  if (!stored.ok()) return stored;
  return keychain.setLabel(server, login, label);
}

platform::Status CVNAuthenticatedURLSessionController::deleteKeychainPassword(platform::Keychain& keychain,
                                                                              const std::string& login,
                                                                              const std::string& server) {
  return keychain.removePassword(server, login);
}

std::optional<std::map<std::string, std::string>> CVNAuthenticatedURLSessionController::keychainLoginInfoForServer(
    const platform::Keychain& keychain, const std::string& server, const std::string& userName) {
  if (server.empty()) return std::nullopt;
  platform::Keychain::Item item;
  if (userName.empty()) {
    auto found = keychain.itemForService(server);
    if (!found.ok() || !found.value()) return std::nullopt;
    item = *found.value();
  } else {
    auto found = keychain.password(server, userName);
    if (!found.ok() || !found.value()) return std::nullopt;
    item = {userName, *found.value()};
  }
  std::map<std::string, std::string> info;
  if (!item.account.empty()) info["user"] = item.account;
  if (!item.password.empty()) info["password"] = item.password;
  return info;
}

}  // namespace control
