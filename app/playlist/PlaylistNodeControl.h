#pragma once
// PlaylistNodeControl: what a playlist window asks of the nodes: their status
// dictionaries, whether they are unlocked or redundant, and the node actions
// of the transport. The application's data source satisfies it through
// DataSourcePlaylistNodeControl; tests give a fake that records the commands.
//
// Not owned by the window; the application keeps the data source (and so this
// adapter) alive longer than every window. Main thread only.
//
// Answers: unlocking and the redundant-mode switch take a handler that runs
// once, on the main thread, with the node's reply ("OK", "ERROR", ...) or an
// empty text when the node never answered (link closed, reply limit). The
// window reads the outcome from that answer, not at a fixed moment.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace nodes {
class PlaylistItem;
class VideoPlaylistDocument;
}

namespace app {

// The reply text a node gives to a command it carried out.
inline constexpr const char* kNodeReplyOK = "OK";

// One node of the data source's list, as the window's node choice needs it.
struct PlaylistNodeIdentity {
  std::string uniqueID;
  std::string name;
  bool connected = false;
  std::string address;     // shown with the port when the node has no name
  std::string portNumber;
  friend bool operator==(const PlaylistNodeIdentity&, const PlaylistNodeIdentity&) = default;
};

class PlaylistNodeControl {
 public:
  // The node's reply; empty when none came.
  using AnswerHandler = std::function<void(const std::string& reply)>;

  virtual ~PlaylistNodeControl() = default;

  // --- Queries ---
  // A copy of the node's status dictionary; none for an unknown node.
  virtual std::optional<platform::Dictionary> nodeControlStatus(std::string_view nodeUniqueID) const = 0;
  virtual bool isNodeUnlocked(std::string_view nodeUniqueID) const = 0;
  virtual bool isNodeInSlaveMode(std::string_view nodeUniqueID) const = 0;
  // The node has a connection object (connected or not).
  virtual bool hasNodeConnection(std::string_view nodeUniqueID) const = 0;
  // The node list in the data source's order.
  virtual std::vector<PlaylistNodeIdentity> nodeList() const = 0;
  // The node's connection offers a clip attribute of that name.
  virtual bool nodeOffersClipAttribute(std::string_view nodeUniqueID, std::string_view attributeName) const = 0;
  // The catalogue clip with that unique ID; nullptr when none.
  virtual std::shared_ptr<nodes::PlaylistItem> catalogueClipWithUniqueID(std::string_view clipUniqueID) const = 0;

  // --- Transport ---
  // Sends the whole document to the node that owns the start clip (none: row
  // 0) and plays or cues it from there.
  virtual void nodeControlSendAndStartPlaylistDocument(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                                                       const std::optional<std::string>& startClipUniqueID,
                                                       double startClipOffset, bool cue) = 0;
  // Plays from a clip; none resumes or starts what the node has cued.
  virtual void nodeControlPlaybackPlayUniqueIDToStart(std::string_view nodeUniqueID,
                                                      const std::optional<std::string>& clipUniqueID,
                                                      std::uint64_t offsetFromStartInSeconds) = 0;
  virtual void nodeControlPlaybackCue(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                                      std::uint64_t offsetFromStartInSeconds) = 0;
  virtual void nodeControlPlaybackPause(std::string_view nodeUniqueID) = 0;
  virtual void nodeControlPlaybackStop(std::string_view nodeUniqueID) = 0;
  // Binds the document to the node's connection before a skip command.
  virtual void setPlaylistDocument(std::string_view nodeUniqueID,
                                   const std::shared_ptr<nodes::VideoPlaylistDocument>& document) = 0;

  virtual void nodeControlPlaybackScrubToTime(std::string_view nodeUniqueID, double seconds) = 0;
  // The playback unique IDs of the node's current playlist, in its order.
  virtual std::vector<std::string> nodePlaylistPlaybackUniqueIDs(std::string_view nodeUniqueID) const = 0;
  // Replaces the document's rows with the node's current playlist.
  virtual void nodeControlFillDocument(nodes::VideoPlaylistDocument& document, std::string_view nodeUniqueID) = 0;

  // --- The node's copy of the playlist and its modes ---
  virtual void nodeControlPlaylistInsertItem(nodes::PlaylistItem& item, std::uint64_t index,
                                             std::string_view nodeUniqueID) = 0;
  virtual void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem& item,
                                                     std::string_view nodeUniqueID) = 0;
  virtual void nodeControlPlaylistRemoveItemAtIndex(std::uint64_t index, std::string_view nodeUniqueID) = 0;
  virtual void nodeControlPlaylistSetLoopMode(std::string_view nodeUniqueID, bool loop) = 0;
  virtual void nodeControlPlaylistSetChainMode(std::string_view nodeUniqueID, bool chain) = 0;
  virtual void nodeControlPlaylistSetCueMode(std::string_view nodeUniqueID, bool cue) = 0;
  virtual void nodeControlStopAndClearSchedule(std::string_view nodeUniqueID) = 0;

  // --- Thumbnails: the image comes back as "newThumbnailIsAvailable" ---
  virtual void requestThumbnail(std::string_view mediaItemUniqueID, std::string_view mediaFolderUniqueID,
                                std::string_view nodeUniqueID, double positionInSeconds) = 0;

  // --- Lock and redundant mode ---
  virtual void nodeLock(std::string_view nodeUniqueID) = 0;
  virtual void nodeUnlock(std::string_view nodeUniqueID, std::string_view password, AnswerHandler answer) = 0;
  virtual void nodeControlSetSlaveMode(bool slaveMode, std::string_view nodeUniqueID, AnswerHandler answer) = 0;
};

}  // namespace app
