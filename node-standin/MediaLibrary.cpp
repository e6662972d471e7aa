#include "node-standin/MediaLibrary.h"

#include <system_error>

namespace standin {

MediaLibrary::MediaLibrary(const std::vector<std::filesystem::path>& folders, Options options)
    : options_(std::move(options)) {
  for (const std::filesystem::path& folder : folders) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error) absolute = folder;
    absolute = absolute.lexically_normal();
    if (!absolute.has_filename() && absolute.has_parent_path()) absolute = absolute.parent_path();
    bool known = false;
    for (const MediaFolderIndex& existing : folders_) known = known || existing.path() == absolute;
    if (!known) folders_.emplace_back(std::move(absolute), options_.firstChangeNumber);
  }
  rescanAll();
}

void MediaLibrary::rescanAll() {
  for (MediaFolderIndex& folder : folders_) folder.rescan(options_.prober, options_.log);
  lastScan_ = platform::Clock::current().now();
}

void MediaLibrary::rescanIfDue() {
  if (platform::Clock::current().now() - lastScan_ >= options_.rescanInterval) rescanAll();
}

bool MediaLibrary::rescanFolder(std::string_view folderUniqueID) {
  for (MediaFolderIndex& folder : folders_) {
    if (folder.uniqueID() == folderUniqueID) {
      folder.rescan(options_.prober, options_.log);
      return true;
    }
  }
  return false;
}

const MediaFolderIndex* MediaLibrary::folder(std::string_view folderUniqueID) const {
  for (const MediaFolderIndex& folder : folders_) {
    if (folder.uniqueID() == folderUniqueID) return &folder;
  }
  return nullptr;
}

std::optional<MediaLibrary::Found> MediaLibrary::findItem(std::string_view folderUniqueID,
                                                          std::string_view itemUniqueID) const {
  const MediaFolderIndex* owner = folder(folderUniqueID);
  if (!owner) return std::nullopt;
  const MediaItemRecord* record = owner->item(itemUniqueID);
  if (!record) return std::nullopt;
  return Found{owner, record};
}

std::optional<MediaLibrary::Found> MediaLibrary::findItemAtPath(std::string_view absolutePath) const {
  for (const MediaFolderIndex& owner : folders_) {
    if (const MediaItemRecord* record = owner.itemAtAbsolutePath(absolutePath)) return Found{&owner, record};
  }
  return std::nullopt;
}

}  // namespace standin
