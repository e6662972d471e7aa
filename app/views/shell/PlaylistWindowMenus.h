#pragma once
// decoratePlaylistWindow: gives a new playlist window the application menus
// in its own menu bar, acting on its document, with its table's edit actions
// in the Edit menu. The playlist window handle calls it through its hooks.
//
// GUI thread; the delegate outlives the window.

#include <memory>

namespace app {
class ApplicationDelegate;
}  // namespace app

namespace nodes {
class VideoPlaylistDocument;
}  // namespace nodes

namespace app::views {

class PlaylistWindow;

void decoratePlaylistWindow(PlaylistWindow& window, const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                            ApplicationDelegate& delegate);

}  // namespace app::views
