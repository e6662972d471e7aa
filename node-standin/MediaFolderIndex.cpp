#include "node-standin/MediaFolderIndex.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

#include "foundation/TextEncoding.h"
#include "node-standin/StableID.h"

namespace standin {
namespace {

namespace fs = std::filesystem;

struct FoundFile {
  fs::path absolutePath;
  std::string relativePath;
  std::uintmax_t size = 0;
  fs::file_time_type modificationTime;
};

bool isHidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name.front() == '.';
}

platform::Date toDate(fs::file_time_type time) {
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::time_point_cast<std::chrono::microseconds>(system);
}

}  // namespace

std::string_view changeTypeName(MediaItemChangeType type) {
  switch (type) {
    case MediaItemChangeType::Added: return "mediaItemChangeTypeAdded";
    case MediaItemChangeType::Deleted: return "mediaItemChangeTypeDeleted";
    case MediaItemChangeType::BecameValid: return "mediaItemChangeTypeBecameValid";
    case MediaItemChangeType::BecameInvalid: return "mediaItemChangeTypeBecameInvalid";
  }
  return "mediaItemChangeTypeAdded";
}

MediaFolderIndex::MediaFolderIndex(fs::path absolutePath, std::uint64_t firstChangeNumber)
    : path_(std::move(absolutePath)),
      uniqueID_(stableUniqueID("mediaFolder:" + path_.string())),
      lastChangeNumber_(firstChangeNumber) {}

const MediaItemRecord* MediaFolderIndex::item(std::string_view uniqueID) const {
  const auto found = items_.find(std::string(uniqueID));
  return found == items_.end() ? nullptr : &found->second;
}

const MediaItemRecord* MediaFolderIndex::itemAtAbsolutePath(std::string_view absolutePath) const {
  for (const auto& [id, record] : items_) {
    if (record.absolutePath.string() == absolutePath) return &record;
  }
  return nullptr;
}

std::vector<MediaItemChange> MediaFolderIndex::changesSince(std::uint64_t changeNumber) const {
  const auto first = std::upper_bound(changes_.begin(), changes_.end(), changeNumber,
                                      [](std::uint64_t number, const MediaItemChange& change) {
                                        return number < change.changeNumber;
                                      });
  return {first, changes_.end()};
}

void MediaFolderIndex::journal(const std::string& uniqueID, MediaItemChangeType type) {
  changes_.push_back({++lastChangeNumber_, uniqueID, type});
}

void MediaFolderIndex::rescan(const MediaProber& prober, const LogFunction& log) {
  std::vector<FoundFile> files;
  std::error_code error;
  fs::recursive_directory_iterator walker(path_, fs::directory_options::skip_permission_denied, error);
  if (error) {
    log("Media folder " + path_.string() + ": cannot be read (" + error.message() + ")");
  } else {
    for (; !error && walker != fs::recursive_directory_iterator(); walker.increment(error)) {
      const fs::directory_entry& entry = *walker;
      std::error_code entryError;  // a file that vanishes or cannot be read is passed over
      if (isHidden(entry.path())) {
        if (entry.is_directory(entryError)) walker.disable_recursion_pending();
        continue;
      }
      if (!entry.is_regular_file(entryError)) continue;
      std::string relative = entry.path().lexically_relative(path_).generic_string();
      if (!foundation::isValidUTF8(relative)) {
        log("Media folder " + path_.string() + ": skipped a file whose name is not UTF-8");
        continue;
      }
      FoundFile file{entry.path(), std::move(relative), entry.file_size(entryError),
                     entry.last_write_time(entryError)};
      if (!entryError) files.push_back(std::move(file));
    }
    if (error) {
      // A partial listing would report files as deleted that are still there.
      log("Media folder " + path_.string() + ": listing stopped (" + error.message() + "), kept as it was");
      return;
    }
  }
  std::sort(files.begin(), files.end(),
            [](const FoundFile& a, const FoundFile& b) { return a.relativePath < b.relativePath; });

  std::set<std::string> present;
  for (FoundFile& file : files) {
    const std::string id = stableUniqueID(uniqueID_ + "/" + file.relativePath);
    present.insert(id);
    const auto known = items_.find(id);
    if (known != items_.end() && known->second.fileSize == file.size &&
        known->second.modificationTime == file.modificationTime) {
      continue;
    }
    MediaItemRecord record{id,        file.relativePath, file.absolutePath, file.size, file.modificationTime,
                           toDate(file.modificationTime), prober(file.absolutePath)};
    if (!record.probe.isValid()) {
      log("Media folder " + path_.string() + ": " + file.relativePath + " is not playable (" + record.probe.problem +
          ")");
    }
    const bool isNew = known == items_.end();
    const bool valid = record.probe.isValid();
    items_.insert_or_assign(id, std::move(record));
    journal(id, isNew ? MediaItemChangeType::Added
                      : (valid ? MediaItemChangeType::BecameValid : MediaItemChangeType::BecameInvalid));
  }
  for (auto it = items_.begin(); it != items_.end();) {
    if (present.count(it->first) == 0) {
      journal(it->first, MediaItemChangeType::Deleted);
      it = items_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace standin
