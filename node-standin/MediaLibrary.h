#pragma once
// MediaLibrary: the node's media folders (one per --media argument) and when
// they are listed again. Folders are rescanned lazily: a query about media
// first rescans when the rescan interval has passed on Clock::current(), and
// "fmmediafolderupdate" rescans at once. So a file added to a folder shows up
// with a new change number at the client's next check, without a thread of
// its own, and tests move time with a ManualClock.
//
// Owned by main (or a test); used on the server thread only.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "node-standin/MediaFolderIndex.h"
#include "platform/Clock.h"

namespace standin {

class MediaLibrary {
 public:
  struct Options {
    std::chrono::milliseconds rescanInterval{5000};
    // Change numbers start above this. A start time in seconds keeps the
    // numbers of a restarted node above those clients saw before, so they
    // fetch the changes instead of trusting an equal number.
    std::uint64_t firstChangeNumber = 0;
    MediaProber prober = probeMediaFile;
    LogFunction log = [](const std::string&) {};
  };

  struct Found {
    const MediaFolderIndex* folder;
    const MediaItemRecord* item;
  };

  // Folders are taken as absolute, normalised paths (a folder given twice
  // counts once); the first scan runs here.
  MediaLibrary(const std::vector<std::filesystem::path>& folders, Options options);

  void rescanAll();
  void rescanIfDue();
  // False when the node has no folder with that ID.
  bool rescanFolder(std::string_view folderUniqueID);

  const std::vector<MediaFolderIndex>& folders() const { return folders_; }
  const MediaFolderIndex* folder(std::string_view folderUniqueID) const;
  std::optional<Found> findItem(std::string_view folderUniqueID, std::string_view itemUniqueID) const;
  std::optional<Found> findItemAtPath(std::string_view absolutePath) const;

 private:
  Options options_;
  std::vector<MediaFolderIndex> folders_;
  platform::Clock::TimePoint lastScan_;
};

}  // namespace standin
