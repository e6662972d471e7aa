#pragma once
// ClipInspectorViewController: the base of the clip inspector's panes. It
// finds the clips a pane inspects (the media browser's selection, or the
// selected rows of the window controller's playlist document), says whether
// the panes may edit that playlist (its nodes' locks), and sends edited
// clips to the nodes that play the playlist.
//
// A pane keeps what it shows as plain state; its view (Qt) redraws when the
// pane calls the view updater.
//
// Owned by the window controller, whose `delegate` back-pointer outlives it.
// Main thread only.

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/inspector/ClipInspectorContext.h"
#include "app/preview/ClipPreviewViewController.h"

namespace app::inspector {

class ClipInspectorWindowController;

inline constexpr const char* kInspectorDidChangeClipsNotification = "inspectorDidChangeClips";
inline constexpr const char* kPlaylistUniqueIDKey = "playlistUniqueID";
inline constexpr const char* kNoSelectionText = "No Selection";
inline constexpr const char* kMultipleSelectionText = "Multiple Selection";
inline constexpr const char* kMediaBrowserAttributesText = "Attributes can not be edited in Media Browser";

// A three-state check box.
enum class CheckState : std::int32_t { Mixed = -1, Off = 0, On = 1 };

class ClipInspectorViewController {
 public:
  explicit ClipInspectorViewController(ClipInspectorContext& context) : context_(context) {}
  virtual ~ClipInspectorViewController() = default;
  ClipInspectorViewController(const ClipInspectorViewController&) = delete;
  ClipInspectorViewController& operator=(const ClipInspectorViewController&) = delete;

  ClipInspectorWindowController* delegate() const { return delegate_; }
  void setDelegate(ClipInspectorWindowController* delegate) { delegate_ = delegate; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  virtual void updateContents() {}
  virtual void desableControls() {}
  virtual void enableControls() {}
  virtual void setEnabled(bool /*enabled*/) {}
  virtual bool nodeUsedIsUnlocked() const { return true; }
  virtual void disabledPluginsInterface(bool /*disabled*/) {}
  virtual void saveAllChanges() {}
  // True when the pane took the key.
  virtual bool handleKeyDownWithEvent(const ClipPreviewKey& /*key*/) { return false; }
  void didBecomeKeyView() { updateContents(); }

  // The inspected items, with their indexes in the playlist document (empty
  // for the media browser's selection).
  PlaylistItems selectedPlaylistItems(std::set<std::size_t>* indexes = nullptr) const;
  std::shared_ptr<nodes::VideoPlaylistDocument> playlistDocument() const;
  bool lastUpdateComeFromInspector() const;
  bool canModifyCurrentPlaylist() const;

  // Redraws the pane's view after its state changed (none: no view yet).
  void setViewUpdater(std::function<void()> updater) { viewUpdater_ = std::move(updater); }

 protected:
  // Sends each selected row of `document` to node A and to node B when the
  // row belongs to that node and the node plays the document; answers how
  // many replacements went out, logging each when asked.
  std::size_t replaceSelectedClipsOnNodes(const nodes::VideoPlaylistDocument& document, bool logReplacements);
  // "inspectorDidChangeClips" {"playlistUniqueID"}: the playlist windows send the change on.
  void postInspectorDidChangeClips(const nodes::VideoPlaylistDocument& document);
  void refreshView() const {
    if (viewUpdater_) viewUpdater_();
  }

  ClipInspectorContext& context_;

 private:
  ClipInspectorWindowController* delegate_ = nullptr;  // not owned; the window controller owns the pane
  std::string title_;
  std::function<void()> viewUpdater_;
};

}  // namespace app::inspector
