#pragma once
// ClipInspectorWindowController: the one clip inspector window. A toolbar
// switches between the Attributes, In/Out, Resize and Info panes (the
// metadata pane shows under Info); the panes inspect the clips selected in
// the front playlist window or in the media browser, whichever spoke last.
// Made at the application delegate's init; it follows the playlist windows
// and the media browser through their notifications from then on, window or
// not. The window itself (ClipInspectorWindow) comes when first shown.
//
// Owns its panes; the context and the window are not owned (the window
// detaches before it goes). Main thread only.

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/inspector/AttributesClipInspectorViewController.h"
#include "app/inspector/ClipInspectorContext.h"
#include "app/inspector/GeneralClipInspectorViewController.h"
#include "app/inspector/InspectorPaneSize.h"
#include "app/inspector/MetadataClipInspectorViewController.h"
#include "app/inspector/ResizeClipInspectorViewController.h"
#include "app/inspector/ZRXLInOutInspectorViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/UndoManager.h"

namespace nodes {
class VideoPlaylistDocument;
}

namespace app::inspector {

inline constexpr const char* kPlaylistSelectionChangedNotification = "playlistSelectionChanged";
inline constexpr const char* kPlaylistWindowDidBecomeKeyNotification = "playlistWindowDidBecomeKey";
inline constexpr const char* kInvoqueInspectorSaveActionsForClipNotification = "invoqueInspectorSaveActionsForClip";
inline constexpr const char* kMediaBrowserSelectionDidChangedNotification = "mediaBrowserSelectionDidChanged";
inline constexpr const char* kMediaBrowserWindowDidBecomeKeyNotification = "mediaBrowserWindowDidBecomeKey";
inline constexpr const char* kClipInspectorFrameAutosaveName = "ClipInspector";
inline constexpr const char* kClipInspectorWindowTitle = "Clip Inspector";

struct InspectorToolbarItem {
  const char* identifier;
  const char* label;
  int tag;
  const char* image;
};

// In toolbar order; the first is selected when the window loads.
inline constexpr std::array<InspectorToolbarItem, 4> kInspectorToolbarItems{{
    {"Attributes", "Attributes", 0, "WrenchScrewDriverTemplate"},
    {"InOutPoints", "In/Out", 1, "InOutPointsTemplate"},
    {"Resize", "Resize", 2, "ResizeTemplate"},
    {"Info", "Info", 3, "InfoTemplate"},
}};

// What the controller asks of its window (the Qt panel implements it).
class ClipInspectorWindow {
 public:
  virtual ~ClipInspectorWindow() = default;
  virtual void selectToolbarItem(const std::string& identifier) = 0;
  virtual PaneFrame frame() const = 0;
  virtual PaneSize contentSize() const = 0;
  // The size the pane's view measures (its laid-out size).
  virtual PaneSize paneViewSize(const ClipInspectorViewController& pane) const = 0;
  // Puts the pane's view in as content, with the window at `resize`'s frame.
  virtual void showPane(ClipInspectorViewController& pane, const PaneResize& resize) = 0;
};

class ClipInspectorWindowController {
 public:
  explicit ClipInspectorWindowController(ClipInspectorContext& context);
  ~ClipInspectorWindowController();
  ClipInspectorWindowController(const ClipInspectorWindowController&) = delete;
  ClipInspectorWindowController& operator=(const ClipInspectorWindowController&) = delete;

  // The window is ready (nullptr: it is going away).
  void setWindow(ClipInspectorWindow* window) { window_ = window; }
  void windowDidLoad();
  static const char* windowFrameAutosaveName() { return kClipInspectorFrameAutosaveName; }

  // ---- Notifications ----
  void playlistSelectionChanged(std::shared_ptr<nodes::VideoPlaylistDocument> document);
  void mediaBrowserSelectionDidChanged();
  void playlistWindowDidBecomeKey(std::shared_ptr<nodes::VideoPlaylistDocument> document);
  void mediaBrowserWindowDidBecomeKey();
  void saveChangesForCurrentClip();

  bool lastUpdateComeFromInspector() const { return playlistDocument_ == nullptr; }
  const std::shared_ptr<nodes::VideoPlaylistDocument>& playlistDocument() const { return playlistDocument_; }
  // Whether a selected row of the playlist is locked on a node; the
  // Attributes pane's editors follow the answer.
  bool lockedClipsChanged(const std::vector<std::string>& lockedPlaybackUniqueIDs);
  // The playlist's undo manager, nullptr without a playlist.
  platform::UndoManager* undoManager() const;
  // The same, or an empty one of the window's own.
  platform::UndoManager& windowWillReturnUndoManager();

  // Toolbar tags 0 Attributes, 1 In/Out, 2 Resize, 3 Info; others nothing.
  void changePanes(int tag);
  void setInspectorPaneViewController(ClipInspectorViewController& pane);
  void resizeWindowWithViewController(ClipInspectorViewController& pane);
  // A key pressed in the window: the current pane's first; true when taken
  // (an unhandled key is dropped).
  bool keyDown(const ClipPreviewKey& key);

  ClipInspectorViewController* currentPanelViewController() const { return current_; }
  GeneralClipInspectorViewController& generalClipInspectorViewController() { return general_; }
  MetadataClipInspectorViewController& metadataClipInspectorViewController() { return metadata_; }
  AttributesClipInspectorViewController& attributesClipInspectorViewController() { return attributes_; }
  ZRXLInOutInspectorViewController& inOutInspectorViewController() { return inOut_; }
  ResizeClipInspectorViewController& resizeClipInspectorViewController() { return resize_; }
  // The pane of a toolbar tag, nullptr for other tags.
  ClipInspectorViewController* paneForTag(int tag);

 private:
  std::vector<ClipInspectorViewController*> editingPanes();

  ClipInspectorContext& context_;
  ClipInspectorWindow* window_ = nullptr;  // not owned; detaches before it goes
  GeneralClipInspectorViewController general_;
  MetadataClipInspectorViewController metadata_;
  AttributesClipInspectorViewController attributes_;
  ZRXLInOutInspectorViewController inOut_;
  ResizeClipInspectorViewController resize_;
  ClipInspectorViewController* current_ = nullptr;
  std::map<std::string, PaneSize> minimumPanelSizes_;
  std::shared_ptr<nodes::VideoPlaylistDocument> playlistDocument_;
  platform::UndoManager emptyUndoManager_;
  std::vector<platform::ObserverToken> observers_;
};

}  // namespace app::inspector
