#pragma once
// Where the support desk's help desk and cloud storage are, and the secrets to
// reach them. Nothing is compiled in: addresses come from user defaults,
// secrets from the environment or else the keychain file. A missing secret
// leaves the service unreachable.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace platform {
class Keychain;
class UserDefaults;
}  // namespace platform

namespace support {

// Variable name to value; none when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;
EnvironmentLookup processEnvironment();

struct ZendeskConfiguration {
  std::string baseAddress;        // "https://<host>/api/v2/"
  std::string agentAddress;
  std::string supportWebAddress;  // quoted in failure messages
  std::string token;
  std::optional<std::filesystem::path> certificateAuthorities;  // a private CA, else the system's

  bool isComplete() const { return !baseAddress.empty() && !agentAddress.empty() && !token.empty(); }
  static ZendeskConfiguration fromSettings(const platform::UserDefaults& defaults, const platform::Keychain& keychain,
                                           const EnvironmentLookup& environment);
};

struct CloudStorageConfiguration {
  std::string endpoint;  // "https://<host>", path-style requests below it
  std::string bucketName;
  std::string region = "us-east-1";
  int signatureVersion = 4;  // 2 for stores that want the older signature
  std::string accessKey;
  std::string secretKey;
  std::optional<std::filesystem::path> certificateAuthorities;

  bool isComplete() const {
    return !endpoint.empty() && !bucketName.empty() && !accessKey.empty() && !secretKey.empty();
  }
  static CloudStorageConfiguration fromSettings(const platform::UserDefaults& defaults,
                                                const platform::Keychain& keychain,
                                                const EnvironmentLookup& environment);
};

}  // namespace support
