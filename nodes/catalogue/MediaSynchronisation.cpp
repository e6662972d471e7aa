// MediaSynchronisation: media folders, media items and their change lists.
// The clip attributes are in MediaSynchronisationAttributes.cpp.

#include "nodes/catalogue/MediaSynchronisation.h"

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/catalogue/MediaSynchronisationReports.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/link/NodeMediaReplies.h"
#include "platform/Diagnostics.h"

namespace nodes {
namespace {

using detail::escapedForLog;
using detail::logNodeReplyProblem;

// Folder change numbers are saved as property-list integers.
constexpr std::uint64_t kMaxMediaFolderChangeNumber = std::numeric_limits<std::int64_t>::max();

void writeToSystemLog(const std::string& line) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, line); }

bool isFetchChange(const std::string& changeType) {
  return changeType == detail::kMediaItemChangeTypeAdded || changeType == detail::kMediaItemChangeTypeBecameValid ||
         changeType == detail::kMediaItemChangeTypeBecameInvalid;
}

// The first pending item not in `passedOver`; nullptr when none.
std::shared_ptr<MediaItem> nextItemToFetch(MediaFolder& folder,
                                           const std::vector<std::shared_ptr<MediaItem>>& passedOver) {
  std::shared_ptr<MediaItem> next;
  folder.withMediaItems([&](MediaFolder::MediaItems& items) {
    for (const auto& item : items) {
      if (std::find(passedOver.begin(), passedOver.end(), item) == passedOver.end()) {
        next = item;
        return;
      }
    }
  });
  return next;
}

// Appends the items whose IDs are not pending yet, under the folder's lock.
std::size_t appendPendingItems(MediaFolder& folder, std::vector<std::shared_ptr<MediaItem>> items,
                               std::set<std::string, std::less<>> alsoKnown = {}) {
  std::size_t appended = 0;
  folder.withMediaItems([&](MediaFolder::MediaItems& pending) {
    for (const auto& item : pending) alsoKnown.insert(item->uniqueID().value_or(""));
    for (auto& item : items) {
      if (!alsoKnown.insert(item->uniqueID().value_or("")).second) continue;
      pending.push_back(std::move(item));
      ++appended;
    }
  });
  return appended;
}

}  // namespace

void MediaSynchronisation::checkForMediaFolderChanges(NodeConnection& connection) {
  auto reply = connection.sendXMLQuery("fmmediafoldersuniqueids");
  if (!reply.ok()) {
    logNodeReplyProblem("Invalid Unique id XML received from Telnet: " + reply.error().localizedDescription);
    return;
  }
  const auto folderIDs =
      detail::readNameList(*reply, connection.description() + " fmmediafoldersuniqueids", &detail::isNodeCommandWord);
  if (!folderIDs) return;
  updateMediaFoldersWithFolderUniqueIDs(connection, *folderIDs);

  for (const auto& folder : connection.mediaFolders()) {
    if (!connection.isConnected()) return;
    const auto folderID = folder->uniqueID();
    if (!folderID) continue;
    std::optional<std::uint64_t> listedChangeNumber;
    if (!folder->initialized()) listedChangeNumber = enumerateMediaFolder(connection, *folder, *folderID);
    if (!fetchPendingMediaItems(connection, folder, listedChangeNumber)) return;
    getAndProcessChangesForMediaFolder(connection, *folder);
  }
}

bool MediaSynchronisation::updateMediaFoldersWithFolderUniqueIDs(NodeConnection& connection,
                                                                  const std::vector<std::string>& folderIDs) {
  const std::set<std::string, std::less<>> listed(folderIDs.begin(), folderIDs.end());
  std::set<std::string, std::less<>> known;
  bool changed = false;
  connection.withMediaFolders([&](std::vector<std::shared_ptr<MediaFolder>>& folders) {
    const auto removed = std::erase_if(folders, [&](const std::shared_ptr<MediaFolder>& folder) {
      const auto id = folder ? folder->uniqueID() : std::nullopt;
      return !id || !listed.contains(*id);
    });
    changed = removed > 0;
    for (const auto& folder : folders) known.insert(folder->uniqueID().value_or(""));
  });

  for (const std::string& folderID : folderIDs) {
    if (known.contains(folderID)) continue;
    auto folder = std::make_shared<MediaFolder>();
    folder->setUniqueID(folderID);
    // Asked without the folder lock: readers on the main thread never wait
    // for the node.
    auto info = connection.sendXMLQuery("fmmediafolderinfo " + folderID);
    if (info.ok() && info->dictionary()) {
      if (const std::string* path = (*info)["absolutePath"].string()) {
        folder->setPath(*path);
        folder->setCaseSensitive((*info)["caseSensitive"].booleanOr(false));
      } else {
        logNodeReplyProblem(connection.description() + ": media folder " + folderID + " has no usable absolutePath");
      }
    } else {
      logNodeReplyProblem(connection.description() + ": no info for media folder " + folderID);
    }
    connection.withMediaFolders([&](std::vector<std::shared_ptr<MediaFolder>>& folders) { folders.push_back(folder); });
    known.insert(folderID);
    changed = true;
  }
  if (changed) detail::reportMediaFoldersDidChange(connection);
  return changed;
}

std::optional<std::uint64_t> MediaSynchronisation::enumerateMediaFolder(NodeConnection& connection,
                                                                        MediaFolder& folder,
                                                                        const std::string& folderID) {
  // The change number before the list: a change made while the list is read
  // is then replayed from the change list instead of being lost.
  const auto changeNumber = mediaFolderChangeNumber(connection, folderID);
  if (!changeNumber) return std::nullopt;
  auto reply = connection.sendXMLQuery("fmmediaitemsuniqueids " + folderID);
  if (!reply.ok()) {
    logNodeReplyProblem(connection.description() + ": media items of folder " + folderID +
                        " not listed: " + reply.error().localizedDescription);
    return std::nullopt;
  }
  const auto itemIDs = detail::readNameList(*reply, connection.description() + " fmmediaitemsuniqueids " + folderID,
                                            &detail::isNodeCommandWord);
  if (!itemIDs) return std::nullopt;
  processMediaItemUniqueIDs(*itemIDs, folder);
  return changeNumber;
}

std::size_t MediaSynchronisation::processMediaItemUniqueIDs(const std::vector<std::string>& mediaItemIDs,
                                                           MediaFolder& folder) {
  // A folder listed again after an interrupted fetch already holds some of
  // these items; they are not asked for twice.
  std::set<std::string, std::less<>> known;
  folder.withMediaItemsToSave([&](MediaFolder::MediaItemsToSave& waiting) {
    for (const auto& entry : waiting) known.insert(entry.first);
  });
  const auto folderID = folder.uniqueID();
  const auto folderPath = folder.path();
  std::vector<std::shared_ptr<MediaItem>> items;
  items.reserve(mediaItemIDs.size());
  for (const std::string& id : mediaItemIDs) {
    MediaItemInfo info;
    info.uniqueID = id;
    info.mediaFolderUniqueID = folderID;
    info.mediaFolderPath = folderPath;
    items.push_back(std::make_shared<MediaItem>(std::move(info)));
  }
  return appendPendingItems(folder, std::move(items), std::move(known));
}

MediaSynchronisation::MediaItemInfoOutcome MediaSynchronisation::getInfoForMediaItem(
    NodeConnection& connection, MediaFolder& folder, const std::shared_ptr<MediaItem>& item) {
  const std::string folderID = folder.uniqueID().value_or("");
  const std::string itemID = item->uniqueID().value_or("");
  const auto command =
      connection.sendCommandSynchronously("fmmediaiteminfo " + folderID + " " + itemID, NodeConnection::ReplyForm::XML);
  if (!command->hasResponse()) return MediaItemInfoOutcome::LeftPending;

  const std::string what = connection.description() + ": media item " + itemID + " of folder " + folderID;
  const auto reply = command->responsePropertyList();
  const platform::Dictionary* info = reply.ok() ? reply->dictionary() : nullptr;
  if (!info || info->empty()) {
    logNodeReplyProblem(what + " dropped: " +
                        (reply.ok() ? "the info is " + reply->describe() : reply.error().localizedDescription));
    folder.removeMediaItem(item);
    return MediaItemInfoOutcome::Dropped;
  }
  const auto relativePath = info->find(clipinfo::kRelativePathToMediaItem);
  if (relativePath == info->end() || !relativePath->second.string()) {
    logNodeReplyProblem(what + ": no usable clipInfoRelativePathToMediaItem, asked again at the next check");
    return MediaItemInfoOutcome::LeftPending;
  }
  if (const platform::Status filled =
          detail::fillMediaItemFromNodeInfo(*item, *info, connection.name(), connection.nodeUniqueID());
      !filled.ok()) {
    logNodeReplyProblem(connection.description() + ": " + filled.error().localizedDescription);
  }
  folder.addMediaItemToSave(item);
  folder.removeMediaItem(item);
  return MediaItemInfoOutcome::Saved;
}

bool MediaSynchronisation::fetchPendingMediaItems(NodeConnection& connection,
                                                  const std::shared_ptr<MediaFolder>& folder,
                                                  std::optional<std::uint64_t> listedChangeNumber) {
  if (const std::size_t pending = folder->mediaItemsCount(); pending > 0) {
    writeToSystemLog("ClipInfoToRequest : " + std::to_string(pending));
  }
  // Items the node gave no usable info for: not asked again in this check,
  // so a node that keeps failing one cannot hold the polling thread.
  std::vector<std::shared_ptr<MediaItem>> passedOver;
  while (const auto item = nextItemToFetch(*folder, passedOver)) {
    if (getInfoForMediaItem(connection, *folder, item) == MediaItemInfoOutcome::LeftPending) {
      passedOver.push_back(item);
    }
    if (!nextItemToFetch(*folder, passedOver)) handOverFetchedMediaItems(connection, folder, listedChangeNumber);
    if (connection.hasQueuedControlCommands() || !connection.isConnected()) return false;
  }
  return true;
}

void MediaSynchronisation::handOverFetchedMediaItems(NodeConnection& connection,
                                                     const std::shared_ptr<MediaFolder>& folder,
                                                     std::optional<std::uint64_t> listedChangeNumber) {
  if (folder->mediaItemsToSaveCount() == 0) return;
  // Initialized means every listed item was fetched, counted from the change
  // number read with the list in this check.
  if (!folder->initialized() && folder->mediaItemsCount() == 0 && listedChangeNumber) {
    folder->setInitialized(true);
    folder->setLastChangeNumber(*listedChangeNumber);
    detail::reportMediaFoldersDidChange(connection);
    writeToSystemLog("MediaFolder " + folder->path().value_or("") + " " + folder->uniqueID().value_or("") +
                     " initialized");
  }
  detail::reportFetchedMediaItems(connection, folder->takeMediaItemsToSave());
}

std::optional<std::uint64_t> MediaSynchronisation::mediaFolderChangeNumber(NodeConnection& connection,
                                                                           const std::string& folderID) {
  const auto reply = connection.sendPlainQuery("fmlastchangenumber " + folderID);
  const auto number = reply ? detail::readChangeNumber(*reply, kMaxMediaFolderChangeNumber) : std::nullopt;
  if (!number) {
    logNodeReplyProblem(connection.description() + ": no usable change number for media folder " + folderID + " (" +
                        (reply ? "\"" + escapedForLog(*reply) + "\"" : std::string("no reply")) + ")");
  }
  return number;
}

// For an initialized folder: the same change number changes nothing; a lower
// one (the node started afresh) makes the folder enumerated again at the next
// check; a higher one fetches the change list since the folder's number.
// Only a change list that was read advances the number.
void MediaSynchronisation::getAndProcessChangesForMediaFolder(NodeConnection& connection, MediaFolder& folder) {
  if (!folder.initialized()) return;
  const auto folderID = folder.uniqueID();
  if (!folderID) return;
  const auto latest = mediaFolderChangeNumber(connection, *folderID);
  if (!latest) return;
  const std::uint64_t known = folder.lastChangeNumber();
  if (*latest == known) return;
  if (*latest < known) {
    writeToSystemLog("lastChangeNumber:" + std::to_string(*latest) + " for mediaFolderChangeNumber:" + *folderID);
    folder.setInitialized(false);
    detail::reportMediaFoldersDidChange(connection);
    return;
  }

  writeToSystemLog("Processing changes range: " + std::to_string(known + 1) + " - " + std::to_string(*latest));
  const std::string command = "fmmediaitemschangessince " + *folderID + " " + std::to_string(known) + "i";
  const auto reply = connection.sendXMLQuery(command);
  if (!reply.ok() || !reply->array()) {
    logNodeReplyProblem(connection.description() + ": change list of media folder " + *folderID +
                        " not read, change number kept at " + std::to_string(known) + " (" +
                        (reply.ok() ? "received " + reply->describe() : reply.error().localizedDescription) + ")");
    return;
  }

  const std::string nodeName = connection.name();
  const std::string nodeUniqueID = connection.nodeUniqueID();
  const auto folderPath = folder.path();
  std::set<std::string, std::less<>> fetched;
  std::set<std::string, std::less<>> deleted;
  std::vector<std::shared_ptr<MediaItem>> toFetch;
  platform::Array deletions;
  for (const auto& change : detail::readMediaItemChanges(*reply->array(), connection.description() + " " + command)) {
    if (isFetchChange(change.changeType)) {
      if (!fetched.insert(change.mediaItemUniqueID).second) continue;
      MediaItemInfo info;
      info.uniqueID = change.mediaItemUniqueID;
      info.mediaFolderUniqueID = *folderID;
      info.mediaFolderPath = folderPath;
      info.nodeName = nodeName;
      info.nodeUniqueID = nodeUniqueID;
      info.online = true;
      toFetch.push_back(std::make_shared<MediaItem>(std::move(info)));
    } else if (change.changeType == detail::kMediaItemChangeTypeDeleted) {
      if (!deleted.insert(change.mediaItemUniqueID).second) continue;
      deletions.emplace_back(platform::Dictionary{{"mediaItemUniqueId", platform::Value(change.mediaItemUniqueID)},
                                                  {"mediaFolderUniqueID", platform::Value(*folderID)}});
    }
  }
  appendPendingItems(folder, std::move(toFetch));  // their info is fetched at the next check
  if (!deletions.empty()) detail::reportOfflineMediaItems(connection, std::move(deletions));
  folder.setLastChangeNumber(*latest);
  detail::reportMediaFoldersDidChange(connection);
}

}  // namespace nodes
