#pragma once
// MediaBrowserView: what the media browser's controller shows through its
// window, and FileRevealer: how a local file is shown in the desktop's file
// manager. The Qt window implements both; tests record the calls.
//
// Not owned by the controller; the window outlives its tie to it. Main thread.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/browser/MediaCollectionNode.h"
#include "nodes/media/TiffImage.h"

namespace app::browser {

inline constexpr const char* kNoNodeTitle = "<none>";

// One entry of the node chooser; a separator has no title and no node.
struct NodeChooserItem {
  std::string title;
  std::optional<std::string> nodeUniqueID;
  bool separator = false;
  bool enabled = false;
  friend bool operator==(const NodeChooserItem&, const NodeChooserItem&) = default;
};

struct NodeChooserState {
  std::vector<NodeChooserItem> items;
  std::size_t selectedIndex = 0;
  friend bool operator==(const NodeChooserState&, const NodeChooserState&) = default;
};

// What the offline-clip sheet shows when it opens.
struct OfflineClipSheetState {
  std::string fileName;
  std::size_t selectedCharacters = 0;  // selected from the start of the name
  std::string folder;
  double durationInSeconds = 0.0;
  std::vector<std::string> frameRateTitles;
  std::size_t frameRateIndex = 0;
  bool dropFrameEnabled = false;
  bool dropFrame = false;
  friend bool operator==(const OfflineClipSheetState&, const OfflineClipSheetState&) = default;
};

class MediaBrowserView {
 public:
  virtual ~MediaBrowserView() = default;
  virtual void showWindow() = 0;
  virtual void showNodeChooser(const NodeChooserState& chooser) = 0;
  virtual void showSelectedNodeName(const std::string& name) = 0;
  // The outline shows `roots` (children of the shown tree's root) and opens
  // every node marked expanded; the vertical scroll position stays when asked.
  virtual void reloadOutline(const std::vector<MediaCollectionNodePtr>& roots, bool keepScrollPosition) = 0;
  // Selects exactly these nodes' rows and scrolls the first into view.
  virtual void selectNodes(const std::vector<MediaCollectionNodePtr>& nodes) = 0;
  virtual void showThumbnail(std::shared_ptr<const nodes::RGBAImage> image) = 0;
  virtual void showClipCount(const std::string& text) = 0;
  virtual void showBusy(bool busy) = 0;
  virtual void setRestrictedMode(bool restricted) = 0;
  // Starts editing the node's name with the text selected.
  virtual void beginRenaming(const MediaCollectionNodePtr& node) = 0;
  // Window-modal; the answer comes back through offlineClipSheetEnded().
  virtual void openOfflineClipSheet(const OfflineClipSheetState& state) = 0;
  // Window-modal; its buttons call okMakeZiraClip() and cancelMakeZiraClip().
  virtual void openLiveClipPanel() = 0;
  virtual void closeLiveClipPanel() = 0;
  virtual void beep() = 0;
};

class FileRevealer {
 public:
  virtual ~FileRevealer() = default;
  // Shows the file selected in the file manager; false when it could not.
  virtual bool selectFile(const std::filesystem::path& path) = 0;
};

}  // namespace app::browser
