#pragma once
// ApplicationMenus: the application's menus (File, Window, Help) in a menu
// bar, each item forwarding to an application-menu action of the application
// delegate. The "Playlist from Node" submenu is rebuilt from the delegate's
// items each time it opens. Any window may carry these menus (the shell
// window does; playlist windows may call populate on their own menu bar).
//
// The actions are children of the menu bar; the delegate must outlive it.
// GUI thread.

#include <QString>

class QMenuBar;

namespace app {
class ApplicationDelegate;
}  // namespace app

namespace app::views {

// Object names of the actions, for windows and tests that look them up.
inline constexpr const char* kAboutActionName = "aboutAction";
inline constexpr const char* kPreferencesActionName = "preferencesAction";
inline constexpr const char* kQuitActionName = "quitAction";
inline constexpr const char* kNewPlaylistActionName = "newPlaylistAction";
inline constexpr const char* kOpenPlaylistActionName = "openPlaylistAction";
inline constexpr const char* kPlaylistFromNodeMenuName = "playlistFromNodeMenu";

class ApplicationMenus {
 public:
  static void populate(QMenuBar& menuBar, ApplicationDelegate& delegate);
  // The filter of the open panel for playlist documents.
  static QString playlistFileFilter();
};

}  // namespace app::views
