#pragma once
// A media browser data source for tests: a node list, media folder case
// rules and a clip catalogue in memory; records what is asked of it.

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/browser/MediaBrowserDataSource.h"

namespace app_testing {

struct ThumbnailRequest {
  std::string mediaItemUniqueID;
  std::string mediaFolderUniqueID;
  std::string nodeUniqueID;
  double position = 0.0;
  friend bool operator==(const ThumbnailRequest&, const ThumbnailRequest&) = default;
};

struct EnumerationRequest {
  std::optional<std::string> mediaFolderUniqueID;
  std::string nodeUniqueID;
  std::optional<std::string> pathToUpdate;
  friend bool operator==(const EnumerationRequest&, const EnumerationRequest&) = default;
};

class FakeMediaBrowserDataSource final : public app::browser::MediaBrowserDataSource {
 public:
  std::vector<app::browser::BrowserNodeInfo> nodeList;
  // (node ID, folder ID) -> case sensitive.
  std::map<std::pair<std::string, std::string>, bool> folders;
  std::vector<std::shared_ptr<nodes::PlaylistItem>> catalogue;

  std::vector<std::vector<std::string>> removed;
  std::vector<Clips> stored;
  std::vector<std::shared_ptr<nodes::PlaylistItem>> duplicated;
  std::vector<ThumbnailRequest> thumbnails;
  std::vector<EnumerationRequest> enumerations;
  int catalogueReads = 0;

  std::vector<app::browser::BrowserNodeInfo> nodes() const override { return nodeList; }
  std::optional<app::browser::BrowserNodeInfo> node(const std::string& id) const override {
    for (const auto& info : nodeList) {
      if (info.uniqueID == id) return info;
    }
    return std::nullopt;
  }
  std::optional<bool> mediaFolderIsCaseSensitive(const std::string& node, const std::string& folder) const override {
    const auto found = folders.find({node, folder});
    if (found == folders.end()) return std::nullopt;
    return found->second;
  }
  Clips clipsForNodeUniqueID(const std::string& node) override {
    ++catalogueReads;
    Clips clips;
    for (const auto& clip : catalogue) {
      if (clip->nodeUniqueID() == node) clips.push_back(clip);
    }
    return clips;
  }
  Clips clipsWithUniqueIDs(const std::vector<std::string>& ids) override {
    Clips clips;
    for (const auto& id : ids) {
      if (auto clip = clipWithUniqueID(id)) clips.push_back(clip);
    }
    return clips;
  }
  std::shared_ptr<nodes::PlaylistItem> clipWithUniqueID(const std::string& id) override {
    for (const auto& clip : catalogue) {
      if (clip->uniqueID() == id) return clip;
    }
    return nullptr;
  }
  void removeClipsWithUniqueIDs(const std::vector<std::string>& ids) override {
    removed.push_back(ids);
    std::erase_if(catalogue, [&](const auto& clip) {
      return std::find(ids.begin(), ids.end(), clip->uniqueID().value_or("")) != ids.end();
    });
  }
  void addOrUpdateClips(const Clips& clips) override { stored.push_back(clips); }
  void duplicateClip(const std::shared_ptr<nodes::PlaylistItem>& clip) override { duplicated.push_back(clip); }
  void requestThumbnail(const std::string& item, const std::string& folder, const std::string& node,
                        double position) override {
    thumbnails.push_back({item, folder, node, position});
  }
  void forceEnumeration(const std::optional<std::string>& folder, const std::string& node,
                        const std::optional<std::string>& path) override {
    enumerations.push_back({folder, node, path});
  }
};

// A catalogue clip: `relativePath` under the media folder `folderPath`.
inline std::shared_ptr<nodes::PlaylistItem> makeClip(const std::string& uniqueID, const std::string& node,
                                                     const std::string& folderID, const std::string& folderPath,
                                                     const std::string& relativePath, bool online = true) {
  auto clip = std::make_shared<nodes::PlaylistItem>();
  clip->setUniqueID(uniqueID);
  clip->setNodeUniqueID(node);
  clip->setMediaFolderUniqueID(folderID);
  clip->setMediaFolderPath(folderPath);
  clip->setRelativePathToMediaItem(relativePath);
  const auto slash = relativePath.rfind('/');
  clip->setDisplayName(slash == std::string::npos ? relativePath : relativePath.substr(slash + 1));
  clip->setAbsolutePathToMediaItem(folderPath + "/" + relativePath);
  clip->setMediaItemUniqueID("item-" + uniqueID);
  clip->setOnline(online);
  clip->setValidationStatus(2);
  clip->setFramesPerSecond(25.0);
  clip->setMediaItemDurationInSeconds(10.0);
  return clip;
}

// A live clip: no media folder, its name as its path.
inline std::shared_ptr<nodes::PlaylistItem> makeLiveClip(const std::string& uniqueID, const std::string& node,
                                                         const std::string& name) {
  return makeClip(uniqueID, node, "", "", name);
}

}  // namespace app_testing
