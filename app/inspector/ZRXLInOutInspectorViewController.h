#pragma once
// ZRXLInOutInspectorViewController: the In/Out pane. It embeds the clip
// preview for the first inspected clip (without mix points) and takes the
// preview's in point, out point and duration changes: it checks them,
// records them for undo on the playlist's undo manager, sends the clip to
// the nodes that play the playlist and, when none took it, tells the
// playlist windows. Media browser clips and playlists on a locked node are
// not edited; a message says why.
//
// Owned by the window controller; the preview belongs to the pane's view,
// which detaches it before it goes. Main thread only.

#include <memory>
#include <string>

#include "app/inspector/ClipInspectorViewController.h"
#include "app/preview/InOutInspectorViewControllerDelegate.h"

namespace nodes {
class PlaylistItem;
}

namespace app::inspector {

inline constexpr const char* kInOutMediaBrowserText = "In/Out points can not be edited in Media Browser";
inline constexpr const char* kPlaylistIsLockedText = "Playlist is locked";
inline constexpr const char* kInOutConflictTitle = "In/Out Point Conflict Error !";

struct InOutPaneState {
  std::string message;  // shown in place of the in/out controls when not empty
};

class ZRXLInOutInspectorViewController final : public ClipInspectorViewController,
                                               public InOutInspectorViewControllerDelegate {
 public:
  using ClipInspectorViewController::ClipInspectorViewController;
  ~ZRXLInOutInspectorViewController() override;

  // The embedded preview (nullptr: it is going away).
  void setPreview(ClipPreviewViewController* preview);
  ClipPreviewViewController* preview() const { return preview_; }

  void updateContents() override;
  void setCurrentClip(std::shared_ptr<nodes::PlaylistItem> item);
  const std::shared_ptr<nodes::PlaylistItem>& currentClip() const { return item_; }
  bool handleKeyDownWithEvent(const ClipPreviewKey& key) override;
  const InOutPaneState& state() const { return state_; }

  // InOutInspectorViewControllerDelegate: always taken (refused values change nothing).
  void inOutPointInspectorViewControllerDidLoad(ClipPreviewViewController&) override { updateContents(); }
  bool setInPointInSeconds(double seconds) override;
  bool setOutPointInSeconds(double seconds) override;
  bool setMediaItemDurationInSeconds(double seconds) override;

 private:
  enum class Point { In = 1, Out = 2 };
  bool mayEdit() const;
  // Checks `seconds` against the item (unless undoing) and alerts on a conflict.
  bool acceptsPoint(const nodes::PlaylistItem& item, Point point, double seconds);
  void applyPoint(const std::shared_ptr<nodes::PlaylistItem>& item, Point point, double seconds);
  void applyDuration(const std::shared_ptr<nodes::PlaylistItem>& item, double duration, double outPoint);
  void itemChanged();

  ClipPreviewViewController* preview_ = nullptr;  // not owned; the pane's view detaches it first
  std::shared_ptr<nodes::PlaylistItem> item_;
  InOutPaneState state_;
};

}  // namespace app::inspector
