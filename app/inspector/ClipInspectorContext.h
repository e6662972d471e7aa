#pragma once
// ClipInspectorContext: what the clip inspector reaches outside itself: the
// media browser's selection, the current playlist document, the nodes (status,
// lock, the clip attributes they offer, replacing a clip on them), the clip
// catalogue, the alerts and the defaults. The application delegate answers it
// (DelegateClipInspectorContext); tests give a fake that records.
//
// Not owned by the inspector; outlives it. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace nodes {
class Attribute;
class PlaylistItem;
class VideoPlaylistDocument;
}  // namespace nodes

namespace app::inspector {

using PlaylistItems = std::vector<std::shared_ptr<nodes::PlaylistItem>>;

class ClipInspectorContext {
 public:
  virtual ~ClipInspectorContext() = default;

  virtual PlaylistItems mediaBrowserSelectedPlaylistItems() const = 0;
  virtual std::shared_ptr<nodes::VideoPlaylistDocument> currentPlaylistDocument() const = 0;

  // A copy of the node's status dictionary; none for an unknown node.
  virtual std::optional<platform::Dictionary> nodeControlStatus(std::string_view nodeUniqueID) const = 0;
  virtual bool isNodeUnlocked(std::string_view nodeUniqueID) const = 0;
  // The clip attributes the node's connection offers; empty without one.
  virtual std::vector<std::shared_ptr<nodes::Attribute>> possibleClipAttributes(std::string_view nodeUniqueID) const = 0;
  virtual void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem& item,
                                                     std::string_view nodeUniqueID) = 0;
  virtual void addOrUpdateClips(const PlaylistItems& items) = 0;

  // A warning alert with one "OK" button.
  virtual void runWarningAlert(const std::string& title, const std::string& message) = 0;

  virtual platform::NotificationCenter& notificationCenter() = 0;
  virtual platform::UserDefaults& defaults() = 0;
};

}  // namespace app::inspector
