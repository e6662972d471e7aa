#include "app/PlaylistWindowObservers.h"

#include <any>
#include <string>

#include "nodes/DataSource.h"

namespace app {
namespace {

using NodeHandler = void (PlaylistWindowController::*)(std::string_view, const platform::Dictionary&);

// The sender's node unique ID; none when the object is not a connection.
std::optional<std::string> senderNodeUniqueID(const platform::Notification& notification) {
  const auto* connection = std::any_cast<nodes::NodeConnectionPtr>(&notification.object);
  if (!connection || !*connection) return std::nullopt;
  return (*connection)->nodeUniqueID();
}

}  // namespace

PlaylistWindowObservers::PlaylistWindowObservers(PlaylistWindowController& controller,
                                                 platform::NotificationCenter& center) {
  const auto observeNode = [&](const char* name, NodeHandler handler) {
    tokens_.push_back(center.addObserver(name, nullptr, [&controller, handler](const platform::Notification& n) {
      if (const auto sender = senderNodeUniqueID(n)) (controller.*handler)(*sender, n.userInfo);
    }));
  };
  tokens_.push_back(center.addObserver(nodes::kNodeListDidChangeNotification, nullptr,
                                       [&controller](const platform::Notification&) { controller.nodeListDidChange(); }));
  observeNode(nodes::kPlaybackStatusDidChangeNotification, &PlaylistWindowController::playbackStatusDidChange);
  observeNode(nodes::kPlaybackPlaylistUniqueIDDidChangeNotification,
              &PlaylistWindowController::playlistUniqueIDDidChange);
  tokens_.push_back(center.addObserver(
      nodes::kPlaybackAuthenticationDidChangeNotification, nullptr,
      [&controller](const platform::Notification&) { controller.authenticationDidChange(); }));
  observeNode(nodes::kPlaybackLoopModeDidChangeNotification, &PlaylistWindowController::loopModeDidChange);
  observeNode(nodes::kPlaybackCueModeDidChangeNotification, &PlaylistWindowController::cueModeDidChange);
  observeNode(nodes::kPlaybackChainModeDidChangeNotification, &PlaylistWindowController::chainModeDidChange);
  observeNode(nodes::kPlaybackClipUniqueIDDidChangeNotification, &PlaylistWindowController::clipUniqueIDDidChange);
  observeNode(nodes::kPlaybackClipPositionDidChangeNotification, &PlaylistWindowController::clipPositionDidChange);
  observeNode(nodes::kLockedClipsDidChangeNotification, &PlaylistWindowController::lockedClipsChanged);
}

}  // namespace app
