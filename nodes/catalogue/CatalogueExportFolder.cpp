#include "nodes/catalogue/CatalogueExportFolder.h"

#include <map>
#include <string>
#include <system_error>
#include <utility>

#include "foundation/CVNLogController.h"
#include "nodes/catalogue/CatalogueTransferErrors.h"
#include "nodes/catalogue/ClipExportRecord.h"
#include "nodes/media/ClipInfoKeys.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"

namespace nodes {
namespace {

namespace fs = std::filesystem;
using platform::Dictionary;
using platform::Error;
using platform::Result;
using platform::Status;
using platform::Value;

constexpr std::uint32_t kProblemLevel = 1;
// A version file is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxVersionFileBytes = 64 * 1024;

void logProblem(const std::string& text) {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(kProblemLevel, false, text);
}

Dictionary pathInfo(const fs::path& path) { return Dictionary{{kCatalogueTransferPathKey, Value(path.string())}}; }

// What one export made, removed again (newest first) when the export fails.
// Only removes what it recorded, and only when it is still an empty folder
// or a plain file.
class CreatedPaths {
 public:
  void add(fs::path path) { paths_.push_back(std::move(path)); }
  void removeAll() {
    for (auto path = paths_.rbegin(); path != paths_.rend(); ++path) {
      std::error_code ec;
      fs::remove(*path, ec);  // a folder someone else filled stays
    }
    paths_.clear();
  }

 private:
  std::vector<fs::path> paths_;
};

Status makeFolder(const fs::path& path, const char* logFormat, CreatedPaths& created) {
  std::error_code ec;
  if (fs::create_directory(path, ec) && !ec) {
    created.add(path);
    return {};
  }
  const std::string why = ec ? ec.message() : std::string("it already exists");
  logProblem(std::string(logFormat) + path.string() + " (" + why + ")");
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ExportFolderUncreatable,
               "Cannot create the folder " + path.string() + ": " + why, pathInfo(path));
}

Status writeFile(const fs::path& path, const Value& contents, CreatedPaths& created) {
  Status written = platform::writePropertyListFile(path, contents);
  if (written.ok()) {
    created.add(path);
    return written;
  }
  logProblem("Cannot write the export file at: " + path.string() + " (" + written.error().localizedDescription + ")");
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ExportWriteFailed,
               "Cannot write " + path.string() + ": " + written.error().localizedDescription, pathInfo(path));
}

// The export path must be free, or an empty folder of which only the
// contents will be ours.
Result<bool> exportFolderIsNew(const fs::path& folder) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(folder, ec);
  if (status.type() == fs::file_type::not_found) return true;
  if (!ec && status.type() == fs::file_type::directory && fs::is_empty(folder, ec) && !ec) return false;
  const std::string why = ec ? ec.message() : std::string("something is already there");
  logProblem("Cannot create the export directory at: " + folder.string() + " (" + why + ")");
  return Error(kCatalogueTransferErrorDomain, CatalogueTransferErrorCode::ExportPathOccupied,
               "The export folder " + folder.string() + " must not exist yet or be empty: " + why, pathInfo(folder));
}

Error importError(CatalogueTransferErrorCode code, const std::string& description, const fs::path& path) {
  return Error(kCatalogueTransferErrorDomain, code, description, pathInfo(path));
}

Result<std::int64_t> readClipsVersion(const fs::path& clipsFolder) {
  const fs::path path = clipsFolder / kExportClipsVersionFileName;
  Result<std::string> bytes = platform::readFile(path, kMaxVersionFileBytes);
  Result<Value> version = bytes.ok() ? platform::readPropertyList(*bytes) : Result<Value>(bytes.error());
  const std::optional<std::int64_t> number = version.ok() && (*version)[kExportVersionKey].isInteger()
                                                 ? (*version)[kExportVersionKey].integer()
                                                 : std::nullopt;
  if (!number) {
    logProblem("Cannot find the Clips version file in folder: " + clipsFolder.string());
    const std::string why =
        version.ok() ? std::string("it holds no whole \"version\" number") : version.error().localizedDescription;
    return importError(CatalogueTransferErrorCode::ImportVersionMissing,
                       "The export's version file " + path.string() + " cannot be read: " + why, path);
  }
  if (*number != kClipsExportVersion) {
    logProblem("Incorrect Clips version number: " + std::to_string(*number));
    return importError(CatalogueTransferErrorCode::ImportVersionUnsupported,
                       "The export is of version " + std::to_string(*number) + "; only version " +
                           std::to_string(kClipsExportVersion) + " can be imported",
                       path);
  }
  return *number;
}

// importVersion100Clips: every clip of "clips.plist", checked.
Result<std::vector<Dictionary>> importVersion100Clips(const fs::path& clipsFolder) {
  const fs::path path = clipsFolder / kExportClipsFileName;
  Result<std::string> bytes = platform::readFile(path, kMaxClipsFileBytes);
  if (!bytes.ok()) {
    logProblem("Cannot find the clips.plist file at path: " + path.string());
    return importError(CatalogueTransferErrorCode::ImportClipsMalformed,
                       "Cannot read " + path.string() + ": " + bytes.error().localizedDescription, path);
  }
  return readExportClips(*bytes, path);
}

}  // namespace

Result<std::vector<Dictionary>> readExportClips(std::string_view bytes, const fs::path& path) {
  Result<Value> clips = platform::readPropertyList(bytes);
  if (!clips.ok() || !clips->isArray()) {
    logProblem("Cannot find the clips.plist file at path: " + path.string());
    const std::string why = clips.ok() ? std::string("it is not an array") : clips.error().localizedDescription;
    return importError(CatalogueTransferErrorCode::ImportClipsMalformed, "Cannot read " + path.string() + ": " + why,
                       path);
  }

  std::vector<Dictionary> rows;
  std::map<std::string, std::size_t, std::less<>> rowByUniqueID;
  const platform::Array& array = *clips->array();
  for (std::size_t index = 0; index < array.size(); ++index) {
    Result<Dictionary> row = array[index].isDictionary()
                                 ? clipRowFromExportDictionary(*array[index].dictionary())
                                 : Result<Dictionary>(importError(CatalogueTransferErrorCode::ImportClipsMalformed,
                                                                  "a clip is not a dictionary", path));
    if (!row.ok()) {
      Error error = row.error();
      error.localizedDescription =
          "Clip " + std::to_string(index) + " of " + path.string() + ": " + error.localizedDescription;
      error.userInfo[kCatalogueTransferClipIndexKey] = Value(static_cast<std::int64_t>(index));
      error.userInfo[kCatalogueTransferPathKey] = Value(path.string());
      logProblem("Failed importing clip... (" + error.localizedDescription + ")");
      return error;
    }
    const std::string uniqueID = *(*row)[clipinfo::kUniqueID].string();
    auto [existing, added] = rowByUniqueID.emplace(uniqueID, rows.size());
    if (added) {
      rows.push_back(std::move(*row));
    } else {
      rows[existing->second] = std::move(*row);  // one row per clip: the later one wins
    }
  }
  return rows;
}

Dictionary clipsModelVersionDictionary() { return Dictionary{{kExportVersionKey, Value(kClipsExportVersion)}}; }

platform::Array exportClips(const std::vector<Dictionary>& clipRows, const ExportProgressHandler& progress) {
  platform::Array clips;
  clips.reserve(clipRows.size());
  const double count = static_cast<double>(clipRows.size());
  for (std::size_t i = 0; i < clipRows.size(); ++i) {
    clips.emplace_back(exportDictionaryFromClipRow(clipRows[i]));
    if (progress) progress(static_cast<double>(i + 1) / count * 100.0, false);
  }
  return clips;
}

Status exportAllDataToFolder(const fs::path& folder, const std::vector<Dictionary>& clipRows,
                             platform::Date creationDate, const ExportProgressHandler& progress) {
  CreatedPaths created;
  auto failed = [&](Status status) {
    created.removeAll();
    return status;
  };

  Result<bool> isNew = exportFolderIsNew(folder);
  if (!isNew.ok()) return isNew.error();
  if (*isNew) {
    if (Status made = makeFolder(folder, "Cannot create the export directory at: ", created); !made.ok()) return made;
  }
  const fs::path clipsFolder = folder / kExportClipsFolderName;
  if (Status made = makeFolder(clipsFolder, "Cannot create the Clips export directory at: ", created); !made.ok())
    return failed(made);
  if (Status written = writeFile(folder / kExportInfosFileName,
                                 Value(Dictionary{{kExportCreationDateKey, Value(creationDate)}}), created);
      !written.ok())
    return failed(written);
  if (Status written =
          writeFile(clipsFolder / kExportClipsVersionFileName, Value(clipsModelVersionDictionary()), created);
      !written.ok())
    return failed(written);

  if (progress) progress(0.0, false);
  platform::Array clips = exportClips(clipRows, progress);
  if (progress) progress(0.0, true);

  if (Status written = writeFile(clipsFolder / kExportClipsFileName, Value(std::move(clips)), created); !written.ok())
    return failed(written);
  return {};
}

std::optional<Dictionary> exportInfosFromFolder(const fs::path& folder) {
  Result<Value> infos = platform::readPropertyListFile(folder / kExportInfosFileName);
  if (!infos.ok() || !infos->isDictionary()) return std::nullopt;
  return *infos->dictionary();
}

Result<std::vector<Dictionary>> readExportFolder(const fs::path& folder) {
  const fs::path clipsFolder = folder / kExportClipsFolderName;
  Result<std::int64_t> version = readClipsVersion(clipsFolder);
  if (!version.ok()) return version.error();
  return importVersion100Clips(clipsFolder);
}

}  // namespace nodes
