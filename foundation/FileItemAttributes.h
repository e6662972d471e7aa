#pragma once
// A snapshot of the attributes of one file-system item (name, dates, size) as
// the media identity hashes read them. The item itself is described: a final
// symbolic link is not followed. Stateless, reentrant.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace foundation {

inline constexpr const char* kFileItemAttributesErrorDomain = "FileItemAttributesErrorDomain";
enum class FileItemAttributesErrorCode { NotFound = 1, StatusFailed = 2 };

struct FileItemAttributes {
  std::string name;  // last path component ("b" for "/a/b/", "/" for "/")
  bool isRegularFile = false;
  std::optional<platform::Date> modificationDate;
  // Birth time where the file system keeps one, else the modification time.
  std::optional<platform::Date> creationDate;
  std::optional<std::uint64_t> size;
};

platform::Result<FileItemAttributes> readFileItemAttributes(const std::filesystem::path& path);

}  // namespace foundation
