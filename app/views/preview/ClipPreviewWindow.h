#pragma once
// ClipPreviewWindow: a window that previews one media file in the clip
// preview pane, with its own File and Playback menus. The file becomes a
// playlist item of its own; once the player knows the clip, the item takes
// its duration and rate, so the counters and the out point have them. In and
// out points are kept for the life of the window only.
//
// Owned by the caller (deletes itself on close when asked). GUI thread.

#include <QMainWindow>

#include <filesystem>
#include <memory>

#include "app/preview/InOutInspectorViewControllerDelegate.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/UserDefaults.h"

namespace app::views {

class ClipPreviewView;

class ClipPreviewWindow final : public QMainWindow, private InOutInspectorViewControllerDelegate {
  Q_OBJECT

 public:
  explicit ClipPreviewWindow(platform::UserDefaults& defaults, QWidget* parent = nullptr);
  ~ClipPreviewWindow() override;

  void openFile(const std::filesystem::path& file);
  ClipPreviewView& pane() { return *pane_; }
  const std::shared_ptr<nodes::PlaylistItem>& item() const { return item_; }

 private:
  void itemDidInitialize() override;
  void makeMenus();
  void chooseFile();

  platform::UserDefaults& defaults_;
  ClipPreviewView* pane_ = nullptr;  // child
  std::shared_ptr<nodes::PlaylistItem> item_;
};

}  // namespace app::views
