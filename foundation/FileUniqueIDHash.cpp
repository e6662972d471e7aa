#include "foundation/FileUniqueIDHash.h"

#include "foundation/MediaIdentityHash.h"

namespace foundation {

std::optional<std::string> FileUniqueIDHash::hashStringForFileAtPath(const std::filesystem::path& path) {
  platform::Result<FileItemAttributes> attributes = readFileItemAttributes(path);
  if (!attributes.ok()) return std::nullopt;
  return hashStringForAttributes(*attributes);
}

std::optional<std::string> FileUniqueIDHash::hashStringForAttributes(const FileItemAttributes& attributes) {
  if (!attributes.modificationDate || !attributes.creationDate || !attributes.size) return std::nullopt;
  platform::Dictionary dictionary;
  dictionary["filename"] = platform::Value(attributes.name);
  dictionary["lastModificationDate"] = platform::Value(*attributes.modificationDate);
  dictionary["creationDate"] = platform::Value(*attributes.creationDate);
  dictionary["fileSize"] = platform::Value(static_cast<std::int64_t>(*attributes.size));
  std::optional<std::string> hash = cryptedHashStringWithDictionary(dictionary);
  if (!hash) return std::nullopt;
  return *hash + "-0000";
}

}  // namespace foundation
