#pragma once
// What the application delegate asks of the long-lived windows it creates on
// the operator's request (preferences, clip inspector, media browser,
// countdown windows). Each window's own helper implements these and hands the
// delegate a factory (ApplicationDelegate::WindowFactories); a window with no
// factory is not available in this build, which the delegate logs once.
//
// Owned by the application delegate (shared, because a window's view layer
// may hold it too). Main thread.

#include <memory>
#include <string>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"

namespace app {

class WindowController {
 public:
  virtual ~WindowController() = default;
  // Shows the window and brings it to the front.
  virtual void showWindow() = 0;
};

class MediaBrowserWindowController : public WindowController {
 public:
  // Rebuilds the browser's node list (sent after it is first shown).
  virtual void nodeListChanged() = 0;
  // The clips selected in the browser (the clip inspector shows them).
  virtual std::vector<std::shared_ptr<nodes::PlaylistItem>> selectedPlaylistItems() const = 0;
  // Shows the clips' node and folders and selects the clips.
  virtual void showClipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs) = 0;
};

class CountDownWindowController : public WindowController {
 public:
  // Applies the frame and full-screen state of the dictionary the window was
  // made from (a saved "CountDownWindowPositions" entry).
  virtual void loadAssignedWindowFrame() = 0;
};

}  // namespace app
