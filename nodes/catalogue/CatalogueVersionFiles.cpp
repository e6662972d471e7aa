#include "nodes/catalogue/CatalogueVersionFiles.h"

#include <cmath>
#include <system_error>
#include <utility>

#include "nodes/catalogue/CatalogueTransferErrors.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"
#include "platform/Value.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using platform::Error;
using platform::Result;
using platform::Status;
using platform::Value;

// A version file is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxVersionFileBytes = 64 * 1024;

Error unreadable(const fs::path& path, const std::string& why) {
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::VersionFileUnreadable,
               "The version file " + path.string() + " cannot be read: " + why,
               platform::Dictionary{{kCatalogueTransferPathKey, Value(path.string())}});
}

// The "version" value of the file: nullopt when the file is missing, a none
// value when the dictionary has no "version".
Result<std::optional<Value>> readVersionValue(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || status.type() == fs::file_type::not_found) {
    if (!ec || ec == std::errc::no_such_file_or_directory) return std::optional<Value>();
    return unreadable(path, ec.message());
  }
  Result<std::string> bytes = platform::readFile(path, kMaxVersionFileBytes);
  if (!bytes.ok()) return unreadable(path, bytes.error().localizedDescription);
  Result<Value> plist = platform::readPropertyList(*bytes);
  if (!plist.ok()) return unreadable(path, plist.error().localizedDescription);
  if (!plist->isDictionary())
    return unreadable(path, std::string("expected a dictionary, found ") + typeName(plist->type()));
  return std::optional<Value>((*plist)[catalogue::kVersionKey]);
}

Result<std::optional<std::int64_t>> readIntegerVersion(const fs::path& path) {
  Result<std::optional<Value>> value = readVersionValue(path);
  if (!value.ok()) return value.error();
  if (!value->has_value()) return std::optional<std::int64_t>();
  const Value& version = **value;
  if (version.isNone()) return std::optional<std::int64_t>(0);  // no number reads as 0
  if (version.isInteger()) return std::optional<std::int64_t>(*version.integer());
  if (version.isReal()) {
    const double real = *version.real();
    // Only a whole number within range is a version; 101.5 is not.
    if (std::isfinite(real) && real == std::trunc(real) && std::fabs(real) < 9.0e18)
      return std::optional<std::int64_t>(static_cast<std::int64_t>(real));
  }
  return unreadable(path, std::string("\"version\" is not a whole number (") + version.describe() + ")");
}

Status writeVersion(const fs::path& path, Value version) {
  Status written =
      platform::writePropertyListFile(path, Value(platform::Dictionary{{catalogue::kVersionKey, std::move(version)}}));
  if (written.ok()) return written;
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::VersionFileUnwritable,
               "The version file " + path.string() + " cannot be written: " + written.error().localizedDescription,
               platform::Dictionary{{kCatalogueTransferPathKey, Value(path.string())}});
}

Result<bool> checkIntegerVersion(const fs::path& path, std::int64_t expected, std::int64_t writtenWhenMissing) {
  Result<std::optional<std::int64_t>> stored = readIntegerVersion(path);
  if (!stored.ok()) return stored.error();
  if (!stored->has_value()) {
    Status written = writeVersion(path, Value(writtenWhenMissing));
    if (!written.ok()) return written.error();
    return true;
  }
  return **stored == expected;
}

}  // namespace

CatalogueVersionFiles::CatalogueVersionFiles(std::filesystem::path versionsFolder, std::string applicationVersion)
    : versionsFolder_(std::move(versionsFolder)), applicationVersion_(std::move(applicationVersion)) {}

std::filesystem::path CatalogueVersionFiles::mediaDatabaseVersionPath() const {
  return versionsFolder_ / catalogue::kMediaDatabaseVersionFileName;
}
std::filesystem::path CatalogueVersionFiles::managerVersionPath() const {
  return versionsFolder_ / kManagerVersionFileName;
}
std::filesystem::path CatalogueVersionFiles::scheduleDatabaseVersionPath() const {
  return versionsFolder_ / kScheduleDatabaseVersionFileName;
}

Result<std::optional<std::int64_t>> CatalogueVersionFiles::storedMediaDatabaseVersion() const {
  return readIntegerVersion(mediaDatabaseVersionPath());
}

Result<std::optional<std::string>> CatalogueVersionFiles::storedManagerVersion() const {
  const fs::path path = managerVersionPath();
  Result<std::optional<Value>> value = readVersionValue(path);
  if (!value.ok()) return value.error();
  if (!value->has_value() || (*value)->isNone()) return std::optional<std::string>();
  if (const std::string* text = (*value)->string()) return std::optional<std::string>(*text);
  return unreadable(path, std::string("\"version\" is not text (") + (*value)->describe() + ")");
}

Result<std::optional<std::int64_t>> CatalogueVersionFiles::storedScheduleDatabaseVersion() const {
  return readIntegerVersion(scheduleDatabaseVersionPath());
}

Result<bool> CatalogueVersionFiles::checkMediaDatabaseVersion(std::int64_t version) {
  return checkIntegerVersion(mediaDatabaseVersionPath(), version, catalogue::kMediaDatabaseVersion);
}

Status CatalogueVersionFiles::saveMediaDatabaseVersion(std::int64_t version) {
  return writeVersion(mediaDatabaseVersionPath(), Value(version));
}

Result<bool> CatalogueVersionFiles::checkManagerDatabaseVersion() {
  Result<std::optional<std::string>> stored = storedManagerVersion();
  if (!stored.ok()) return stored.error();
  if (!fs::exists(managerVersionPath())) {
    Status written = saveManagerVersion();
    if (!written.ok()) return written.error();
    return true;
  }
  return stored->has_value() && **stored == applicationVersion_;
}

Status CatalogueVersionFiles::saveManagerVersion() {
  return writeVersion(managerVersionPath(), Value(applicationVersion_));
}

Result<bool> CatalogueVersionFiles::checkScheduleDatabaseVersion(std::int64_t version) {
  return checkIntegerVersion(scheduleDatabaseVersionPath(), version, kScheduleDatabaseVersion);
}

Status CatalogueVersionFiles::saveScheduleDatabaseVersion(std::int64_t version) {
  return writeVersion(scheduleDatabaseVersionPath(), Value(version));
}

}  // namespace nodes
