#pragma once
// DelegateClipInspectorContext: the clip inspector's context over the
// application delegate, its data source and the operator alerts. The
// delegate is looked up at each call, since the inspector is made while the
// delegate is still being built (and before its data source exists).
//
// Main thread only; the defaults and the centre outlive it.

#include <functional>

#include "app/inspector/ClipInspectorContext.h"

namespace app {
class ApplicationDelegate;
}

namespace nodes {
class DataSource;
}

namespace app::inspector {

class DelegateClipInspectorContext final : public ClipInspectorContext {
 public:
  DelegateClipInspectorContext(std::function<ApplicationDelegate*()> delegate, platform::UserDefaults& defaults,
                               platform::NotificationCenter& center);

  PlaylistItems mediaBrowserSelectedPlaylistItems() const override;
  std::shared_ptr<nodes::VideoPlaylistDocument> currentPlaylistDocument() const override;
  std::optional<platform::Dictionary> nodeControlStatus(std::string_view nodeUniqueID) const override;
  bool isNodeUnlocked(std::string_view nodeUniqueID) const override;
  std::vector<std::shared_ptr<nodes::Attribute>> possibleClipAttributes(std::string_view nodeUniqueID) const override;
  void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem& item,
                                             std::string_view nodeUniqueID) override;
  void addOrUpdateClips(const PlaylistItems& items) override;
  void runWarningAlert(const std::string& title, const std::string& message) override;
  platform::NotificationCenter& notificationCenter() override { return center_; }
  platform::UserDefaults& defaults() override { return defaults_; }

 private:
  nodes::DataSource* dataSource() const;

  std::function<ApplicationDelegate*()> delegate_;
  platform::UserDefaults& defaults_;
  platform::NotificationCenter& center_;
};

}  // namespace app::inspector
