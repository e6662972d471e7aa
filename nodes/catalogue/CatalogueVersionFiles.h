#pragma once
// CatalogueVersionFiles: the small property-list files in the catalogue's
// "Versions" folder that tell which application and which store format last
// opened the catalogue. Each file holds one dictionary {"version": value}:
// "MediaDatabaseVersion.plist" (integer, the clip store format),
// "ZiraVersion.plist" (string, the CFBundleVersion of the application) and
// "ScheduleDatabaseVersion.plist" (integer).
//
// Owned by the catalogue; used on the main thread. Writes are atomic, so a
// crash leaves the old or the new file, never a truncated one.
//
// Guarantees: a missing file reads as "no version"; a file that exists but
// cannot be read, is not a dictionary, or holds a "version" of the wrong type
// is an error and is never overwritten by a check (a readable dictionary
// without "version" reads as version 0).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "nodes/catalogue/ClipCatalogue.h"
#include "platform/Error.h"

namespace nodes {

// The media database version file, its key and the format this system reads
// and writes are the catalogue's (catalogue::kMediaDatabaseVersionFileName,
// catalogue::kVersionKey, catalogue::kMediaDatabaseVersion).
inline constexpr const char* kManagerVersionFileName = "ZiraVersion.plist";
inline constexpr const char* kScheduleDatabaseVersionFileName = "ScheduleDatabaseVersion.plist";
// The schedule store format written when its file is missing.
inline constexpr std::int64_t kScheduleDatabaseVersion = 100;

class CatalogueVersionFiles {
 public:
  // `applicationVersion` is the running application's CFBundleVersion.
  CatalogueVersionFiles(std::filesystem::path versionsFolder, std::string applicationVersion);

  const std::filesystem::path& versionsFolder() const { return versionsFolder_; }
  std::filesystem::path mediaDatabaseVersionPath() const;
  std::filesystem::path managerVersionPath() const;
  std::filesystem::path scheduleDatabaseVersionPath() const;

  // The stored values: nullopt when the file is missing (and, for the
  // manager version, when it has no "version"); an error when it is unreadable.
  platform::Result<std::optional<std::int64_t>> storedMediaDatabaseVersion() const;
  platform::Result<std::optional<std::string>> storedManagerVersion() const;
  platform::Result<std::optional<std::int64_t>> storedScheduleDatabaseVersion() const;

  // True when the file is missing (it is then written with
  // catalogue::kMediaDatabaseVersion) or holds `version`; false for another version.
  platform::Result<bool> checkMediaDatabaseVersion(std::int64_t version);
  platform::Status saveMediaDatabaseVersion(std::int64_t version);

  // True when the file is missing (it is then written) or holds the running
  // application's version.
  platform::Result<bool> checkManagerDatabaseVersion();
  platform::Status saveManagerVersion();

  // As checkMediaDatabaseVersion, for the schedule store (written with
  // kScheduleDatabaseVersion when missing).
  platform::Result<bool> checkScheduleDatabaseVersion(std::int64_t version);
  platform::Status saveScheduleDatabaseVersion(std::int64_t version);

 private:
  std::filesystem::path versionsFolder_;
  std::string applicationVersion_;
};

}  // namespace nodes
