#pragma once
// MediaSynchronisation: keeps a node connection's mirror of the node's media
// folders, the media items in them and the clip attributes its plug-ins
// declare. A folder is first enumerated in full, then followed through the
// node's change numbers and change lists, fetching only what changed. Fetched
// media items go to the clip catalogue in one batch per folder
// (addOrUpdateClipsWithMediaItems), deleted ones are marked offline there,
// and folder and attribute changes are reported for the saved node list.
//
// Ownership: one instance may serve every connection (it keeps no state of
// its own; all state is in the connection and its folders); the data source
// installs it with DataSource::setNodePollingHooks and each connection
// shares it.
//
// Threads: every step runs on the connection's polling thread, the only
// sender of node commands. The connection's delegate gets its calls
// (mediaFoldersDidChange, addOrUpdateClipsWithMediaItems,
// markClipsAsOfflineForMediaItemsUniqueIDs, possibleClipAttributeDidChange)
// on the main thread, posted without waiting; calls still queued when the
// delegate has gone are dropped.
//
// Guarantees:
// - nothing the node sends is trusted: replies that are missing or do not
//   parse change nothing, entries of the wrong type are skipped with a log
//   line, and no ID from the node goes back into a command unless it is one
//   clean word;
// - a change number only advances once its change list was read;
// - the main thread gets snapshots: the folder list it is given is a list of
//   new folder objects holding each folder's saved fields at that moment,
//   the media items it is given are no longer touched by the polling thread;
// - the fetch of media item info stops as soon as control commands are
//   queued or the link closes (it resumes at the next check), and an item
//   whose info cannot be had is asked for at most once per check.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/media/Attribute.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/media/MediaItem.h"
#include "nodes/link/NodePollingHooks.h"

namespace nodes {

class NodeConnection;

class MediaSynchronisation final : public NodePollingHooks {
 public:
  // What became of one "fmmediaiteminfo" request.
  enum class MediaItemInfoOutcome {
    Saved = 1,        // filled and waiting for the catalogue in mediaItemsToSave
    Dropped = 2,      // the node refused it: removed from the pending items, not saved
    LeftPending = 3,  // no reply, or no usable "clipInfoRelativePathToMediaItem": asked again at the next check
  };

  // --- Media folders and items ---
  // The folder list, then for each folder: enumeration while it is not
  // initialized, the fetch of pending item info with the hand-over to the
  // catalogue, and its change list. Returns early when control commands are
  // queued or the link closes.
  void checkForMediaFolderChanges(NodeConnection& connection) override;
  // Removes the folders no longer listed and appends a new folder (with the
  // path "fmmediafolderinfo" gives) for each new ID. True when the list
  // changed (the delegate has then been told).
  bool updateMediaFoldersWithFolderUniqueIDs(NodeConnection& connection, const std::vector<std::string>& folderIDs);
  // Appends one new pending item per ID that the folder does not already hold
  // (pending or waiting for the catalogue). Answers how many were appended.
  std::size_t processMediaItemUniqueIDs(const std::vector<std::string>& mediaItemIDs, MediaFolder& folder);
  MediaItemInfoOutcome getInfoForMediaItem(NodeConnection& connection, MediaFolder& folder,
                                           const std::shared_ptr<MediaItem>& item);
  // For an initialized folder: follows its change number (see the .cpp).
  void getAndProcessChangesForMediaFolder(NodeConnection& connection, MediaFolder& folder);

  // --- Clip attributes ---
  // Loads every attribute when the connection has none, else follows the
  // attribute change number.
  void checkForAttributeChanges(NodeConnection& connection) override;
  // Fills the attribute from "atattributeinfo"; false (and the attribute
  // untouched) without a dictionary reply.
  bool getInfoForAttribute(NodeConnection& connection, Attribute& attribute);
  void getAndProcessChangesForClipsAttributes(NodeConnection& connection);

 private:
  // Fetches the folder's pending item info; false when the check must end
  // (control commands queued, link closed).
  // Lists a folder that is not initialized: its change number first, then
  // its media item IDs as new pending items. The change number, or none
  // (logged) when either reply is unusable.
  std::optional<std::uint64_t> enumerateMediaFolder(NodeConnection& connection, MediaFolder& folder,
                                                    const std::string& folderID);
  bool fetchPendingMediaItems(NodeConnection& connection, const std::shared_ptr<MediaFolder>& folder,
                              std::optional<std::uint64_t> listedChangeNumber);
  void handOverFetchedMediaItems(NodeConnection& connection, const std::shared_ptr<MediaFolder>& folder,
                                 std::optional<std::uint64_t> listedChangeNumber);
  // The folder's "fmlastchangenumber"; none (logged) without a usable reply.
  std::optional<std::uint64_t> mediaFolderChangeNumber(NodeConnection& connection, const std::string& folderID);
  std::optional<std::uint64_t> attributesChangeNumber(NodeConnection& connection);
  // A new attribute filled from the node; none without a dictionary reply.
  std::shared_ptr<Attribute> fetchAttribute(NodeConnection& connection, const std::string& name);
};

}  // namespace nodes
