#pragma once
// MediaBrowserWindowController: every decision of the media browser window.
// It shows one node's tree at a time (chosen in the node chooser), follows
// the selection (thumbnail, clip count, "mediaBrowserSelectionDidChanged"),
// answers the outline's questions (rows, drags, renames), enables the
// contextual menu and runs its actions (reveal, refresh, delete offline and
// live clips, duplicate, rename, make offline and live clips).
//
// Observes on its centre: "nodeListDidChange", "selectNodeWithUniqueID",
// "newThumbnailIsAvailable", "startedCoreDataOperation",
// "finishedCataloggingMediaItems", "selectedNodeDidChange"; the window
// reports the chooser about to open and becoming key.
//
// One for the application's life, made on first show. Not owned: the
// collection controller, the view, the revealer, the defaults and the
// centre, which outlive it. Main thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/browser/MediaBrowserView.h"
#include "app/browser/MediaCollectionNodeController.h"
#include "app/browser/OfflineClipSheet.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace app::browser {

inline constexpr const char* kMediaBrowserFrameAutosaveName = "MediaBrowser";
inline constexpr const char* kSelectNodeWithUniqueIDNotification = "selectNodeWithUniqueID";
inline constexpr const char* kSelectedNodeDidChangeNotification = "selectedNodeDidChange";
inline constexpr const char* kMediaBrowserSelectionDidChangedNotification = "mediaBrowserSelectionDidChanged";
inline constexpr const char* kMediaBrowserWindowDidBecomeKeyNotification = "mediaBrowserWindowDidBecomeKey";
inline constexpr const char* kClipCountFormat = "Selection: %i clip(s)";
inline constexpr const char* kFileNotFoundTitle = "File Not Found Error !";
inline constexpr const char* kFileNotFoundMessage =
    "The File could not be found. Make sure that the Volume where it resides is mounted on your computer.";
inline constexpr const char* kDeleteOfflineTitle = "Warning !";
inline constexpr const char* kDeleteOfflineMessage =
    "This operation will delete selected offline Clip(s). Are you sure you want to do this ?";

enum class ContextMenuItem { Reveal, Refresh, MakeOffline, RemoveOffline, MakeLive, RemoveLive, Duplicate, Rename };
inline constexpr std::size_t kContextMenuItemCount = 8;

// For each item: enabled, disabled, or left as it was (none).
using ContextMenuEnabling = std::array<std::optional<bool>, kContextMenuItemCount>;

class MediaBrowserWindowController {
 public:
  MediaBrowserWindowController(MediaCollectionNodeController& collection, platform::UserDefaults& defaults,
                               platform::NotificationCenter& center);
  ~MediaBrowserWindowController();
  MediaBrowserWindowController(const MediaBrowserWindowController&) = delete;
  MediaBrowserWindowController& operator=(const MediaBrowserWindowController&) = delete;

  // awakeFromNib: the node chooser is built and the first node shown.
  void setView(MediaBrowserView* view, FileRevealer* revealer);
  void showWindow();

  // ---- Nodes ----
  void nodeListChanged();
  void popUpButtonWillPopUp() { nodeListChanged(); }
  // The operator chose the chooser's item at `index`.
  void nodeChooserChose(std::size_t index);
  void selectNodeWithUniqueID(const std::string& nodeUniqueID);
  void updateTreeForNodeWithUniqueID(const std::optional<std::string>& nodeUniqueID);
  const std::optional<std::string>& selectedNodeUniqueID() const { return selectedNodeUniqueID_; }
  const NodeChooserState& nodeChooser() const { return chooser_; }
  const std::vector<MediaCollectionNodePtr>& clipsCollectionRoots() const { return roots_; }
  // The tree changed: redisplay, keeping the scroll position.
  void treeChanged();
  void clearTree();

  // ---- Outline ----
  void outlineSelectionDidChange(std::vector<MediaCollectionNodePtr> selection);
  const std::vector<MediaCollectionNodePtr>& selection() const { return selection_; }
  std::shared_ptr<nodes::PlaylistItem> selectedPlaylistItem() const;
  std::vector<std::shared_ptr<nodes::PlaylistItem>> selectedPlaylistItems() const;
  void itemDidExpand(const MediaCollectionNodePtr& node, bool expanded);
  // A rename typed in the name column; false when nothing was saved.
  bool renameNode(const MediaCollectionNodePtr& node, const std::string& name);
  // The "PlaylistItemsDragInfoType" archive of a drag of these rows; none
  // when the drag is refused.
  std::optional<std::string> dragDataForRows(const std::vector<MediaCollectionNodePtr>& rows) const;
  // A file dropped on the window: reveals it when it is the only one.
  bool performDropOfPaths(const std::vector<std::string>& paths);
  void windowDidBecomeKey();
  void setRestrictedMode(bool restricted);
  bool restrictedMode() const { return restrictedMode_; }
  // Reveals the clips and selects them (the playlist windows' reveal).
  void showClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs);
  MediaCollectionNodePtr showItemWithAbsolutePath(const std::string& path);

  // ---- Contextual menu ----
  // The menu opens over `clicked` (none: empty space).
  ContextMenuEnabling contextMenuWillOpen(const MediaCollectionNodePtr& clicked);
  void revealInFinderAction();
  void refreshSelectedCollectionNode();
  void forceEnumerationForAllMediaFolder();
  void deleteSelectedOfflineCollectionNode();
  void removeSelectedZiraClip();
  void duplicateClip();
  void renameClip();
  // Where a node lies on this computer; none when nowhere that exists.
  std::optional<std::filesystem::path> equivalentLocalPathForNode(const MediaCollectionNode& node) const;
  // The node's folder path on the node (a clip: its folder).
  static std::string nodePathOfNode(const MediaCollectionNode& node);

  // ---- Offline and live clips ----
  void makeOfflineClipAction();
  OfflineClipSheet& offlineClipSheet() { return offlineSheet_; }
  // The sheet closed: return code 1 creates the clip.
  void offlineClipSheetEnded(int returnCode);
  void makeZiraClipAction();
  // False while the panel stays open.
  bool okMakeZiraClip(const std::string& name, double durationInSeconds);
  void cancelMakeZiraClip();

 private:
  void observe();
  void showNodeChosenInChooser();
  void postSelection() const;
  // "Selection: %i clip(s)": the selected nodes' clips, else the shown tree's.
  void showClipCount() const;
  void reloadOutline(bool keepScrollPosition);
  std::vector<MediaCollectionNodePtr> selectionWithClickedNode() const;
  std::string nodeNameFromSavedList(const std::string& nodeUniqueID) const;
  bool offlineClipClashes(const nodes::PlaylistItem& clip, std::string& uniqueID) const;

  MediaCollectionNodeController& collection_;
  platform::UserDefaults& defaults_;
  platform::NotificationCenter& center_;
  MediaBrowserView* view_ = nullptr;
  FileRevealer* revealer_ = nullptr;

  NodeChooserState chooser_;
  std::optional<std::string> selectedNodeUniqueID_;
  std::vector<MediaCollectionNodePtr> roots_;
  std::vector<MediaCollectionNodePtr> selection_;
  MediaCollectionNodePtr lastClickedNode_;
  bool restrictedMode_ = false;
  OfflineClipSheet offlineSheet_;
  std::vector<platform::ObserverToken> observers_;
};

}  // namespace app::browser
