// Offline and live clips made from the media browser: placeholders written
// to the catalogue, which places them in the tree through "clipsAdded".

#include <chrono>
#include <cstdio>

#include "app/browser/MediaBrowserWindowController.h"
#include "foundation/CVNAlertUtilities.h"
#include "foundation/GenerateUniqueID.h"
#include "platform/Clock.h"

namespace app::browser {

namespace {

constexpr std::int32_t kValid = 2;
constexpr const char* kUnknownFormat = "<Unknown Format>";
constexpr const char* kOfflineClashMessage = "A file or folder with the same name already exists in the media folder.";
constexpr const char* kOfflineReplaceMessage =
    "A file or folder with the same name already exists in the media folder. Replacing it will overwrite its current "
    "contents.";
constexpr const char* kLiveClashMessage = "A file or folder with the same name already exists.";

platform::Date now() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(platform::Clock::current().wallNow());
}

std::string joinedPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The path below the media folder: only a leading "<folder>/" goes (with no
// folder, only a leading "/").
std::string relativePathIn(const std::string& absolute, const std::string& mediaFolderPath) {
  std::string prefix = mediaFolderPath;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  return absolute.starts_with(prefix) ? absolute.substr(prefix.size()) : absolute;
}

std::string folderOfFile(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string titled(const char* format, const std::string& name) {
  std::string title = format;
  title.replace(title.find("%@"), 2, name);
  return title;
}

}  // namespace

void MediaBrowserWindowController::makeOfflineClipAction() {
  std::string folder;
  if (lastClickedNode_) {
    const auto& node = *lastClickedNode_;
    if (node.playlistItem()) {
      folder = folderOfFile(node.playlistItem()->absolutePathToMediaItem());
    } else if (node.childrenCount() > 0 && node.childAtIndex(0)->playlistItem()) {
      folder = folderOfFile(node.childAtIndex(0)->playlistItem()->absolutePathToMediaItem());
    } else {
      folder = nodePathOfNode(node);
    }
  }
  offlineSheet_.open(folder, defaults_.doubleForKey(kOfflineClipDefaultDurationKey));
  if (view_) view_->openOfflineClipSheet(offlineSheet_.state());
}

bool MediaBrowserWindowController::offlineClipClashes(const nodes::PlaylistItem& clip, std::string& uniqueID) const {
  const auto leaf = collection_.mediaCollectionNodeWithClip(clip);
  if (!leaf || !leaf->playlistItem()) {
    uniqueID = foundation::GenerateUniqueID::generateUniqueID();
    return false;
  }
  const std::string name = clip.displayName();
  if (leaf->playlistItem()->online()) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(titled("%@ already exists.", name),
                                                                 kOfflineClashMessage, {"OK"});
    return true;
  }
  const auto answer = foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
      titled("%@ already exists. Do you want to replace it ?", name), kOfflineReplaceMessage, {"Cancel", "Replace"});
  if (answer != foundation::kAlertSecondButtonReturn) return true;
  // The catalogue replaces the clip, so playlists holding it keep pointing to it.
  uniqueID = leaf->playlistItem()->uniqueID().value_or("");
  return false;
}

void MediaBrowserWindowController::offlineClipSheetEnded(int returnCode) {
  if (returnCode != 1) return;
  const std::string name = offlineSheet_.fileName();
  if (name.empty()) {
    if (view_) view_->beep();
    return;
  }
  const std::string nodeID = selectedNodeUniqueID_.value_or("");
  const auto node = collection_.dataSource()->node(nodeID);
  const std::string folderPath = lastClickedNode_ ? lastClickedNode_->mediaFolderPath() : std::string();
  const std::string absolute = joinedPath(offlineSheet_.folder(), name);

  auto clip = std::make_shared<nodes::PlaylistItem>();
  clip->setNodeUniqueID(nodeID);
  clip->setNodeName(node ? node->name : std::string());
  clip->setDisplayName(name);
  clip->setAbsolutePathToMediaItem(absolute);
  clip->setRelativePathToMediaItem(relativePathIn(absolute, folderPath));
  clip->setMediaFolderPath(folderPath);
  clip->setMediaFolderUniqueID(lastClickedNode_ ? lastClickedNode_->mediaFolderUniqueID() : std::string());
  clip->setMediaItemUniqueID(std::string());
  clip->setMediaItemDurationInSeconds(offlineSheet_.durationInSeconds());
  clip->setFramesPerSecond(offlineSheet_.framesPerSecond());
  clip->setDropFrame(offlineSheet_.dropFrame());
  clip->setValidationStatus(kValid);
  clip->setVideoCodecDescription(kUnknownFormat);
  clip->setCreationDate(now());
  clip->setLastModificationDate(now());
  clip->setOnline(false);
  clip->setFinderLabelName(std::string());
  clip->setLanguagesDescription(std::string());
  clip->setDisplaySizeWidth(0);
  clip->setDisplaySizeHeight(0);
  clip->setUniqueID(std::nullopt);

  std::string uniqueID;
  if (offlineClipClashes(*clip, uniqueID)) return;
  clip->setUniqueID(uniqueID);
  collection_.dataSource()->addOrUpdateClips({clip});
}

void MediaBrowserWindowController::makeZiraClipAction() {
  if (view_) view_->openLiveClipPanel();
}

bool MediaBrowserWindowController::okMakeZiraClip(const std::string& name, double durationInSeconds) {
  if (name.empty()) {
    if (view_) view_->beep();
    return false;
  }
  auto clip = std::make_shared<nodes::PlaylistItem>();
  clip->setNodeUniqueID(selectedNodeUniqueID_.value_or(""));
  clip->setNodeName(std::string());
  clip->setDisplayName(name);
  clip->setAbsolutePathToMediaItem(name);
  clip->setRelativePathToMediaItem(name);
  clip->setMediaFolderPath(std::string());
  clip->setMediaFolderUniqueID(std::string());
  clip->setMediaItemUniqueID(std::string());
  clip->setMediaItemDurationInSeconds(durationInSeconds);
  clip->setValidationStatus(kValid);
  clip->setVideoCodecDescription(std::string());
  clip->setCreationDate(now());
  clip->setLastModificationDate(now());
  clip->setOnline(true);
  clip->setFinderLabelName(std::string());
  clip->setLanguagesDescription(std::string());
  clip->setUniqueID(std::nullopt);
  if (collection_.mediaCollectionNodeWithClip(*clip)) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(titled("%@ already exists.", name), kLiveClashMessage,
                                                                 {"Cancel"});
    return false;
  }
  clip->setUniqueID(foundation::GenerateUniqueID::generateUniqueID());
  collection_.dataSource()->addOrUpdateClips({clip});
  if (view_) view_->closeLiveClipPanel();
  return true;
}

void MediaBrowserWindowController::cancelMakeZiraClip() {
  if (view_) view_->closeLiveClipPanel();
}

}  // namespace app::browser
