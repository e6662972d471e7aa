#pragma once
// ApplicationMenus: the application's menus (File, Edit, Window, Help) in a
// menu bar, each item forwarding to the application delegate or its document
// controller. Every playlist window carries them, acting on its own document;
// the start window carries them with the document items disabled. "Open
// Recent", "Playlist from Node" and the window list are rebuilt each time
// they open. Items whose windows this build does not have are disabled, with
// a tooltip saying so.
//
// The actions are children of the menu bar; the delegate must outlive it.
// GUI thread.

#include <functional>
#include <memory>
#include <vector>

#include <QString>

class QAction;
class QMenuBar;
class QWidget;

namespace app {
class ApplicationDelegate;
}  // namespace app

namespace nodes {
class VideoPlaylistDocument;
}  // namespace nodes

namespace app::views {

// Object names of the actions, for windows and tests that look them up.
inline constexpr const char* kAboutActionName = "aboutAction";
inline constexpr const char* kPreferencesActionName = "preferencesAction";
inline constexpr const char* kQuitActionName = "quitAction";
inline constexpr const char* kNewPlaylistActionName = "newPlaylistAction";
inline constexpr const char* kOpenPlaylistActionName = "openPlaylistAction";
inline constexpr const char* kCloseActionName = "closeAction";
inline constexpr const char* kSaveActionName = "saveAction";
inline constexpr const char* kSaveAsActionName = "saveAsAction";
inline constexpr const char* kRevertActionName = "revertAction";
inline constexpr const char* kOpenRecentMenuName = "openRecentMenu";
inline constexpr const char* kPlaylistFromNodeMenuName = "playlistFromNodeMenu";
inline constexpr const char* kNotAvailableToolTip = "Not available in this version yet.";

// The window the menus belong to: a playlist window with its document and
// its table's edit actions, a window without a document (Close closes it), or
// the start window (none: Close is off). A panel working on whichever
// playlist is current (the clip inspector) follows it instead, so Save and
// Save As reach that playlist from the panel too.
struct MenuOwner {
  QWidget* window = nullptr;
  std::shared_ptr<nodes::VideoPlaylistDocument> document;
  std::vector<QAction*> editActions;  // in menu order; nullptr puts a separator
  std::function<std::shared_ptr<nodes::VideoPlaylistDocument>()> followedDocument;
};

class ApplicationMenus {
 public:
  static void populate(QMenuBar& menuBar, ApplicationDelegate& delegate, const MenuOwner& owner = {});
  // The filter of the open and save panels for playlist documents.
  static QString playlistFileFilter();
  // Quit as the menu does: asks about edited documents first.
  static void quit(ApplicationDelegate& delegate);
};

}  // namespace app::views
