#pragma once
// New unique IDs (random UUIDs as 36 upper-case characters, 8-4-4-4-12) and
// the media identity hash of files addressed by location. Class operations
// only; reentrant, safe on any thread.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace foundation {

// Keys of the resource-value dictionary that the location-based identity hash
// digests; the desktop platform's resource key names, kept for identical hashes.
inline constexpr const char* kURLNameKey = "NSURLNameKey";
inline constexpr const char* kURLCreationDateKey = "NSURLCreationDateKey";
inline constexpr const char* kURLContentModificationDateKey = "NSURLContentModificationDateKey";
inline constexpr const char* kURLFileSizeKey = "NSURLFileSizeKey";

class GenerateUniqueID {
 public:
  GenerateUniqueID() = delete;

  // A new random (version 4) UUID, e.g. "1B4E28BA-2FA1-41D2-883F-0016D3CCA427".
  static std::string generateUniqueID();

  // The identity hash of the item's resource values (name, creation date,
  // content modification date, and the size for regular files); none for an
  // empty location or an item that cannot be read.
  static std::optional<std::string> hashStringForFileAtURL(const std::filesystem::path& fileURL);

  // One identity hash over several files: their resource values keyed by last
  // path component (a later file of the same name replaces an earlier one).
  // None for an empty list or when any item cannot be read.
  static std::optional<std::string> hashStringForFileAtURLs(const std::vector<std::filesystem::path>& fileURLs);
};

}  // namespace foundation
