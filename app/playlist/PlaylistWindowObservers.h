#pragma once
// PlaylistWindowObservers: the node notifications a playlist window follows,
// taken from a notification centre and handed to its controller with the
// sender's node unique ID (the notification's object is the sender's
// NodeConnection) and the userInfo. A notification without a connection as
// its object is not a node's and is dropped.
//
// Owned next to the controller and destroyed before it (it holds the
// controller by reference). Main thread: the data source posts its node
// notifications there. Destruction removes every observer.

#include <vector>

#include "app/playlist/PlaylistWindowController.h"
#include "platform/NotificationCenter.h"

namespace app {

// Posted by the clip inspector with userInfo {"playlistUniqueID"}.
inline constexpr const char* kInspectorDidChangeClipsNotification = "inspectorDidChangeClips";

class PlaylistWindowObservers {
 public:
  explicit PlaylistWindowObservers(PlaylistWindowController& controller,
                                   platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
  PlaylistWindowObservers(const PlaylistWindowObservers&) = delete;
  PlaylistWindowObservers& operator=(const PlaylistWindowObservers&) = delete;

 private:
  std::vector<platform::ObserverToken> tokens_;
};

}  // namespace app
