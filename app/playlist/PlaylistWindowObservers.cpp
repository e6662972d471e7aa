#include "app/playlist/PlaylistWindowObservers.h"

#include <any>
#include <string>

#include "nodes/catalogue/ClipCatalogue.h"
#include "nodes/link/DataSource.h"

namespace app {
namespace {

using NodeHandler = void (PlaylistWindowController::*)(std::string_view, const platform::Dictionary&);

// The sender's node unique ID; none when the object is not a connection.
std::optional<std::string> senderNodeUniqueID(const platform::Notification& notification) {
  const auto* connection = std::any_cast<nodes::NodeConnectionPtr>(&notification.object);
  if (!connection || !*connection) return std::nullopt;
  return (*connection)->nodeUniqueID();
}

// The text or the texts carried as a Value object.
std::vector<std::string> textsOf(const std::any& object) {
  std::vector<std::string> texts;
  const auto* value = std::any_cast<platform::Value>(&object);
  if (!value) return texts;
  if (const auto* array = value->array()) {
    for (const auto& element : *array) {
      if (element.isString()) texts.push_back(element.stringOr(""));
    }
  } else if (value->isString()) {
    texts.push_back(value->stringOr(""));
  }
  return texts;
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
  tokens_.push_back(center.addObserver(nodes::kPlaylistDidChangeNotification, nullptr,
                                       [&controller](const platform::Notification& n) {
                                         if (const auto sender = senderNodeUniqueID(n))
                                           controller.playlistDidChange(*sender);
                                       }));
  tokens_.push_back(center.addObserver(nodes::kNodeConnectionDidCloseNotification, nullptr,
                                       [&controller](const platform::Notification& n) {
                                         for (const auto& id : textsOf(n.object)) controller.nodeConnectionDidClose(id);
                                       }));
  tokens_.push_back(center.addObserver(
      nodes::kNewThumbnailIsAvailableNotification, nullptr, [&controller](const platform::Notification& n) {
        if (const auto* image = std::any_cast<std::shared_ptr<const nodes::RGBAImage>>(&n.object))
          controller.newThumbnailIsAvailable(*image, n.userInfo);
      }));
  for (const char* name : {nodes::catalogue::kClipsDidChangeNotification, nodes::catalogue::kClipsAddedNotification}) {
    tokens_.push_back(center.addObserver(name, nullptr, [&controller](const platform::Notification& n) {
      controller.clipsDidChange(textsOf(n.object));
    }));
  }
  tokens_.push_back(center.addObserver(kInspectorDidChangeClipsNotification, nullptr,
                                       [&controller](const platform::Notification& n) {
                                         controller.inspectorDidChangeClips(n.userInfo);
                                       }));
}

}  // namespace app
