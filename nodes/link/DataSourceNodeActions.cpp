// The node actions of DataSource: one control command (or a short sequence)
// per operator action, queued on the node's connection; the replies come back
// on the main thread as the reply operations. Also the thumbnail requests and
// the base behaviour of the catalogue operations.

#include <cstdio>
#include <cstdlib>

#include "nodes/link/DataSource.h"
#include "foundation/NotificationCenterAdditions.h"
#include "nodes/link/NodePlaylistFill.h"
#include "nodes/link/PlaylistTransfer.h"
#include "platform/Diagnostics.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"

namespace nodes {
namespace {

using platform::Value;

constexpr const char* kNotInitializedStatus = "NOT_INITIALIZED";
constexpr const char* kOKReply = "OK";
constexpr const char* kVirtualMethodLine = "Virtual Method of dataSource called";

void writeToSystemLog(const std::string& line) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, line); }

void writeVirtualMethodLine() { platform::reportDiagnostic(platform::DiagnosticLevel::Warning, kVirtualMethodLine); }

// "%f": six decimals, as the node commands write seconds.
std::string secondsText(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", seconds);
  return text;
}

bool hasScheduleUniqueID(const platform::Dictionary& status) {
  const auto found = status.find(kNodeStatusScheduleUniqueIDKey);
  return found != status.end() && !found->second.isNone();
}

// The item's node dictionary as XML property-list text fit for one command
// line; none (logged) when it cannot be written.
std::optional<std::string> itemText(PlaylistItem& item) {
  auto text = nodeCommandPropertyListText(Value(item.dictionaryForNode()));
  if (!text) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "Playlist item not sent to the node: " + text.error().localizedDescription);
    return std::nullopt;
  }
  return std::move(text.value());
}

std::vector<std::string> splitAtBlanks(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t blank; (blank = text.find(' ', start)) != std::string::npos; start = blank + 1)
    parts.push_back(text.substr(start, blank - start));
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

std::shared_ptr<ControlCommand> DataSource::queueControlCommand(const NodeConnectionPtr& connection, std::string text,
                                                                const char* responseSelector, ReplyOperation reply,
                                                                bool requiresXMLResponse) {
  // A text that would break the line framing (a password or item text with a
  // line break) is never queued.
  if (!checkedNodeCommandText(text)) return nullptr;
  ControlCommand::ReplyHandler handler;
  if (reply) {
    handler = [weak = weak_from_this(), reply](const std::shared_ptr<ControlCommand>& command) {
      if (auto self = weak.lock()) ((*self).*reply)(command);
    };
  }
  auto command = ControlCommand::make(std::move(text), responseSelector ? responseSelector : "", std::move(handler),
                                      requiresXMLResponse);
  command->setNodeConnection(connection);
  connection->addControlCommand(command);
  return command;
}

// --- Queries ---

std::optional<platform::Dictionary> DataSource::nodeControlStatus(std::string_view nodeUniqueID) const {
  const auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return std::nullopt;
  return connection->currentStatus();
}

bool DataSource::isNodeUnlocked(std::string_view nodeUniqueID) const {
  const auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  return connection && connection->isAuthenticated();
}

bool DataSource::isNodeInSlaveMode(std::string_view nodeUniqueID) const {
  const auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  return connection && connection->isInSlaveMode();
}

// --- Actions ---

void DataSource::nodeLock(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "lock", "receivedReplyToLock:", &DataSource::receivedReplyToLock);
}

void DataSource::nodeUnlock(std::string_view nodeUniqueID, std::string_view password) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "unlock " + std::string(password), "receivedReplyToUnlockWithPassword:",
                        &DataSource::receivedReplyToUnlockWithPassword);
}

void DataSource::nodeControlSetSlaveMode(bool slaveMode, std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, slaveMode ? "setslavemode 1" : "setslavemode 0",
                        "receivedReplyToRequestSetSlaveMode:", &DataSource::receivedReplyToRequestSetSlaveMode);
}

void DataSource::nodeControlPlaybackInitialize(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "pbinitialize", "receivedReplyToPlaybackInitialize:",
                        &DataSource::receivedReplyToPlaybackInitialize);
}

void DataSource::nodeControlPlaybackClose(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "pbclose", "receivedReplyToPlaybackClose:", &DataSource::receivedReplyToPlaybackClose);
}

void DataSource::nodeControlPlaybackPause(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "pbpause", "replyReceivedFromPlaybackPause:",
                        &DataSource::replyReceivedFromPlaybackPause);
}

void DataSource::nodeControlPlaybackStopScheduler(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "pbstopscheduler", "replyReceivedFromPlaybackStopScheduler:",
                        &DataSource::replyReceivedFromPlaybackStopScheduler);
}

void DataSource::replyReceivedFromPlaybackStopScheduler(const std::shared_ptr<ControlCommand>& command) {
  if (auto connection = command->nodeConnection().lock())
    queueControlCommand(connection, "pbstop", "replyReceivedFromPlaybackStop:",
                        &DataSource::replyReceivedFromPlaybackStop);
}

void DataSource::nodeControlPlaybackStop(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "pbstop", "receivedReplyToPlaybackStop:", &DataSource::receivedReplyToPlaybackStop);
}

void DataSource::nodeControlPlaybackPlay(std::string_view nodeUniqueID) {
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  if (hasScheduleUniqueID(connection->currentStatus())) {
    queueControlCommand(connection, "pbplay");
  } else {
    queueControlCommand(connection, "pbstartscheduler", "replyReceivedFromStartScheduler:",
                        &DataSource::replyReceivedFromStartScheduler);
  }
}

void DataSource::nodeControlPlaybackPlayUniqueIDToStart(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                                                        std::uint64_t offsetFromStartInSeconds) {
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  connection->setCue(false);
  connection->setStartClipUniqueID(std::string(clipUniqueID));
  connection->setStartClipOffset(static_cast<double>(offsetFromStartInSeconds));
  const Value status(connection->currentStatus());
  if (status[kNodeStatusStatusKey].stringOr("") == kNotInitializedStatus) {
    queueControlCommand(connection, "pbinitialize", "receivedReplyToPlaybackInitialize:",
                        &DataSource::receivedReplyToPlaybackInitialize);
    return;
  }
  auto command = ControlCommand::make("pbinitialize", "receivedReplyToPlaybackInitialize:");
  command->setNodeConnection(connection);
  command->setResponse(kOKReply);
  receivedReplyToPlaybackInitialize(command);
}

void DataSource::receivedReplyToPlaybackInitialize(const std::shared_ptr<ControlCommand>& command) {
  auto connection = command->nodeConnection().lock();
  if (!connection) return;
  if (command->response() != kOKReply) {
    connection->setIsModifyingPlaylist(false);
    writeToSystemLog("Error while trying to initialize the node for playback (" + command->response() + ")");
    return;
  }
  const std::string startClip = connection->startClipUniqueID();
  std::string text = playbackStartCommandText(connection->cue(), startClip, connection->startClipOffset());
  if (!startClip.empty() && startClipBelongsToAnotherNode(*connection)) {
    auto answered = ControlCommand::make(std::move(text), "receivedReplyToPlaybackPlay:");
    answered->setNodeConnection(connection);
    answered->setResponse(kOKReply);
    receivedReplyToPlaybackPlay(answered);
    return;
  }
  queueControlCommand(connection, std::move(text), "receivedReplyToPlaybackPlay:",
                      &DataSource::receivedReplyToPlaybackPlay);
}

void DataSource::receivedReplyToPlaybackPlay(const std::shared_ptr<ControlCommand>& command) {
  if (command->response() == kOKReply) return;
  writeToSystemLog("Error in pbplay (" + command->response() + ")");
  if (auto connection = command->nodeConnection().lock()) connection->setIsModifyingPlaylist(false);
}

bool DataSource::startClipBelongsToAnotherNode(const NodeConnection& connection) const {
  return nodes::startClipBelongsToAnotherNode(connection);
}

std::shared_ptr<PlaylistTransfer> DataSource::nodeControlSendAndStartPlaylistDocument(
    const std::shared_ptr<VideoPlaylistDocument>& document, const std::optional<std::string>& startClipUniqueID,
    double startClipOffset, bool cue) {
  return sendAndStartPlaylistDocument(
      [this](std::string_view nodeUniqueID) { return nodeConnectionWithNodeUniqueID(nodeUniqueID); }, document,
      startClipUniqueID, startClipOffset, cue);
}

bool DataSource::nodeControlFillDocument(VideoPlaylistDocument& document, std::string_view nodeUniqueID) {
  return fillDocumentWithCurrentPlaylistFromNode(*this, document, nodeUniqueID);
}

void DataSource::nodeControlPlaybackScrubToTime(double seconds, const NodeConnectionPtr& connection) {
  if (connection) queueControlCommand(connection, "pbscrubtotime " + secondsText(seconds));
}

void DataSource::nodeControlPlaybackCue(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                                        std::uint64_t offsetFromStartInSeconds) {
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  std::string text = "pbcue";
  if (!clipUniqueID.empty()) {
    text = "pbcueitem " + std::string(clipUniqueID);
    if (offsetFromStartInSeconds != 0) text += " " + std::to_string(offsetFromStartInSeconds);
  }
  queueControlCommand(connection, std::move(text), "receivedReplyToPlaybackCue:",
                      &DataSource::receivedReplyToPlaybackCue);
}

void DataSource::nodeControlPlaybackSkipToNext(std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "pbskiptonext", "replyReceivedFromSkipToNext:",
                        &DataSource::replyReceivedFromSkipToNext);
}

void DataSource::nodeControlPlaylistSetLoopMode(std::string_view nodeUniqueID, bool loop) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, loop ? "plsetloopmode 1" : "plsetloopmode 0");
}

void DataSource::nodeControlPlaylistSetChainMode(std::string_view nodeUniqueID, bool chain) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, chain ? "plsetchainmode 1" : "plsetchainmode 0");
}

void DataSource::nodeControlPlaylistSetCueMode(std::string_view nodeUniqueID, bool cue) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, cue ? "plsetcuemode 1" : "plsetcuemode 0");
}

void DataSource::nodeControlPlaylistInsertItem(PlaylistItem& item, std::uint64_t index,
                                               std::string_view nodeUniqueID) {
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  const auto text = itemText(item);
  if (!text) return;
  queueControlCommand(connection, "plinsertitematindex " + std::to_string(index) + " " + *text);
}

void DataSource::nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, PlaylistItem& item,
                                                       std::string_view nodeUniqueID) {
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  const auto text = itemText(item);
  if (!text) return;
  std::string command = "plreplaceitematindex " + std::to_string(index) + " " + *text;
  writeToSystemLog(command);
  queueControlCommand(connection, std::move(command));
}

void DataSource::nodeControlPlaylistRemoveItemAtIndex(std::uint64_t index, std::string_view nodeUniqueID) {
  if (auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID))
    queueControlCommand(connection, "plremoveitematindex " + std::to_string(index));
}

void DataSource::nodeControlStopAndClearSchedule(std::string_view nodeUniqueID) {
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  if (hasScheduleUniqueID(connection->currentStatus()))
    queueControlCommand(connection, "pbstopscheduler", "receivedReplyToStopScheduler:",
                        &DataSource::receivedReplyToStopScheduler);
  queueControlCommand(connection, "pbstop", "receivedReplyToPlaybackStop:", &DataSource::receivedReplyToPlaybackStop);
  if (hasScheduleUniqueID(connection->currentStatus()))
    queueControlCommand(connection, "plclearschedule", "receivedReplyToClearSchedule:",
                        &DataSource::receivedReplyToClearSchedule);
}

// --- Thumbnails ---

bool DataSource::isThumbnailRequestPending(std::string_view commandText) const {
  const auto found = requestedThumbnails_.find(commandText);
  return found != requestedThumbnails_.end() && !found->second.expired();
}

void DataSource::requestThumbnailForMediaItemWithUniqueID(std::string_view mediaItemUniqueID,
                                                          std::string_view mediaFolderUniqueID,
                                                          std::string_view nodeUniqueID, double positionInSeconds) {
  std::string text = "fmmediaitemthumbnail " + std::string(mediaFolderUniqueID) + " " +
                     std::string(mediaItemUniqueID) + " " + secondsText(positionInSeconds);
  if (isThumbnailRequestPending(text)) return;
  auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  if (auto cached = connection->thumbnailForMediaItemWithUniqueID(mediaItemUniqueID, mediaFolderUniqueID,
                                                                  positionInSeconds)) {
    auto command = ControlCommand::make(std::move(text), {}, {}, true);
    command->setNodeConnection(connection);
    command->setResponseImage(std::move(cached));
    receivedReplyToRequestThumbnail(command);
    return;
  }
  if (auto queued = queueControlCommand(connection, text, kReceivedReplyToRequestThumbnailSelector,
                                        &DataSource::receivedReplyToRequestThumbnail, true))
    requestedThumbnails_[std::move(text)] = queued;
}

void DataSource::receivedReplyToRequestThumbnail(const std::shared_ptr<ControlCommand>& command) {
  const std::string text = command->command();
  const std::vector<std::string> parts = splitAtBlanks(text);
  const auto image = command->responseImage();
  const auto connection = command->nodeConnection().lock();
  if (parts.size() == 4 && image && connection) {
    const std::string& folderID = parts[1];
    const std::string& itemID = parts[2];
    connection->addThumbnailToCache(image, itemID, folderID, std::strtod(parts[3].c_str(), nullptr));
    platform::Notification notification{kNewThumbnailIsAvailableNotification, this, image,
                                        {{"mediaFolderUniqueID", Value(folderID)},
                                         {"mediaItemUniqueID", Value(itemID)},
                                         {"position", Value(parts[3])}}};
    foundation::postNotificationOnMainThread(platform::NotificationCenter::defaultCenter(), std::move(notification));
  }
  requestedThumbnails_.erase(text);
}

// --- Catalogue operations: base behaviour ---

std::optional<platform::Array> DataSource::clips() {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::clipsWithUniqueIDs(const std::vector<std::string>&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<platform::Array> DataSource::clipsLanguages() {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<platform::Array> DataSource::clipsAttributes() {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::clipsForNodeUniqueID(const std::string&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::clipsWithMediaItemUniqueID(const std::string&,
                                                                                const std::optional<std::string>&,
                                                                                const std::optional<std::string>&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::clipsWithMediaItemAbsolutePath(const std::string&,
                                                                                    const std::optional<std::string>&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::shared_ptr<PlaylistItem> DataSource::clipWithUniqueID(const std::optional<std::string>&) {
  writeVirtualMethodLine();
  return nullptr;
}

std::optional<DataSource::PlaylistItemsByKey> DataSource::playlistItemsWithAbsolutePaths(
    const std::vector<std::string>&, const std::string&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItemsByKey> DataSource::playlistItemsWithMediaItemUniqueIDs(
    const std::vector<std::string>&, const std::string&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::playlistItemsFromPaths(const std::vector<std::filesystem::path>&,
                                                                            const std::string&, bool&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::clipsWithMediaItemAtPath(const std::filesystem::path&,
                                                                              const std::string&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

std::optional<DataSource::PlaylistItems> DataSource::playlistItemsArrayFromDict(const platform::Dictionary&,
                                                                                const std::string&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

platform::Status DataSource::exportAllDataToFolder(const std::filesystem::path&) {
  writeVirtualMethodLine();
  return platform::Error("DataSourceErrorDomain", 1, kVirtualMethodLine);
}

platform::Status DataSource::importAllDataFromFolder(const std::filesystem::path&, bool) {
  writeVirtualMethodLine();
  return platform::Error("DataSourceErrorDomain", 1, kVirtualMethodLine);
}

std::optional<platform::Dictionary> DataSource::exportInfosFromFolder(const std::filesystem::path&) {
  writeVirtualMethodLine();
  return std::nullopt;
}

void DataSource::duplicateClip(const std::shared_ptr<PlaylistItem>&) { writeVirtualMethodLine(); }

void DataSource::loadPlaylistsInfos() { writeVirtualMethodLine(); }

}  // namespace nodes
