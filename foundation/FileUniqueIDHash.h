#pragma once
// The identity of a media file as the catalogue knows it: the media identity
// hash of the file's name, modification date, creation date and size,
// followed by "-0000" (29 characters). Class operations only; reentrant.

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/FileItemAttributes.h"

namespace foundation {

class FileUniqueIDHash {
 public:
  FileUniqueIDHash() = delete;

  // None for a missing item or one whose attributes lack a date or the size.
  static std::optional<std::string> hashStringForFileAtPath(const std::filesystem::path& path);
  // The same from attributes already read; none when a date or the size is missing.
  static std::optional<std::string> hashStringForAttributes(const FileItemAttributes& attributes);
};

}  // namespace foundation
