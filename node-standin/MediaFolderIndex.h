#pragma once
// MediaFolderIndex: one media folder of the node, the real directory given on
// the command line. It lists the files in it (sub-folders included, hidden
// names skipped), probes each new or changed file once, and keeps a journal
// of changes under growing change numbers so that clients can ask what
// changed since the number they saw last.
//
// IDs are derived from the folder's absolute path and each file's path
// inside it, so they stay the same across restarts. A file whose path is not
// valid UTF-8 cannot travel in a property list and is skipped with a log
// line; a file that cannot be played is kept and reported invalid.
//
// Change types are the clients' words: "mediaItemChangeTypeAdded",
// "mediaItemChangeTypeDeleted", and, for a file that changed on disk,
// "mediaItemChangeTypeBecameValid" or "mediaItemChangeTypeBecameInvalid" by
// its new state, so that clients fetch its information again.
//
// Owned by the media library; not thread-safe (server thread only). The
// journal is kept for the life of the process.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "node-standin/MediaProbe.h"
#include "platform/Value.h"

namespace standin {

using LogFunction = std::function<void(const std::string& message)>;
using MediaProber = std::function<MediaProbe(const std::filesystem::path& path)>;

struct MediaItemRecord {
  std::string uniqueID;
  std::string relativePath;  // inside the folder, "/" separated
  std::filesystem::path absolutePath;
  std::uintmax_t fileSize = 0;
  std::filesystem::file_time_type modificationTime;
  platform::Date modificationDate;
  MediaProbe probe;
};

enum class MediaItemChangeType { Added = 1, Deleted = 2, BecameValid = 3, BecameInvalid = 4 };
std::string_view changeTypeName(MediaItemChangeType type);

struct MediaItemChange {
  std::uint64_t changeNumber = 0;
  std::string mediaItemUniqueID;
  MediaItemChangeType type = MediaItemChangeType::Added;
};

class MediaFolderIndex {
 public:
  // Change numbers of this folder start after `firstChangeNumber`.
  MediaFolderIndex(std::filesystem::path absolutePath, std::uint64_t firstChangeNumber);

  const std::string& uniqueID() const { return uniqueID_; }
  const std::filesystem::path& path() const { return path_; }
  std::string pathText() const { return path_.string(); }
  std::uint64_t lastChangeNumber() const { return lastChangeNumber_; }

  // Lists the folder again and journals what changed. A folder that cannot
  // be opened counts as empty (its files are reported deleted); a listing
  // that breaks off half way changes nothing. Both are logged.
  void rescan(const MediaProber& prober, const LogFunction& log);

  const std::map<std::string, MediaItemRecord>& items() const { return items_; }  // by unique ID
  const MediaItemRecord* item(std::string_view uniqueID) const;
  const MediaItemRecord* itemAtAbsolutePath(std::string_view absolutePath) const;
  // Changes with a number above `changeNumber`, oldest first.
  std::vector<MediaItemChange> changesSince(std::uint64_t changeNumber) const;

 private:
  void journal(const std::string& uniqueID, MediaItemChangeType type);

  std::filesystem::path path_;
  std::string uniqueID_;
  std::uint64_t lastChangeNumber_;
  std::map<std::string, MediaItemRecord> items_;
  std::vector<MediaItemChange> changes_;
};

}  // namespace standin
