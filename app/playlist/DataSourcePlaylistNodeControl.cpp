#include "app/playlist/DataSourcePlaylistNodeControl.h"

#include <utility>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Diagnostics.h"

namespace app {
namespace {

// The playlist transfer is the data source's; until its build offers it, a
// window's request to send a playlist is reported instead of sent.
template <typename DataSourceType>
void sendAndStart(DataSourceType& dataSource, const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                  const std::optional<std::string>& startClip, double offset, bool cue) {
  if constexpr (requires { dataSource.nodeControlSendAndStartPlaylistDocument(document, startClip, offset, cue); }) {
    dataSource.nodeControlSendAndStartPlaylistDocument(document, startClip, offset, cue);
  } else {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "Sending a playlist to a node is not available in this build");
  }
}

}  // namespace

DataSourcePlaylistNodeControl::DataSourcePlaylistNodeControl(DataSourceProvider dataSource)
    : dataSource_(std::move(dataSource)) {}

DataSourcePlaylistNodeControl::DataSourcePlaylistNodeControl(std::weak_ptr<nodes::DataSource> dataSource)
    : dataSource_([weak = std::move(dataSource)] { return weak.lock(); }) {}

std::optional<platform::Dictionary> DataSourcePlaylistNodeControl::nodeControlStatus(
    std::string_view nodeUniqueID) const {
  const auto dataSource = currentDataSource();
  return dataSource ? dataSource->nodeControlStatus(nodeUniqueID) : std::nullopt;
}

bool DataSourcePlaylistNodeControl::isNodeUnlocked(std::string_view nodeUniqueID) const {
  const auto dataSource = currentDataSource();
  return dataSource && dataSource->isNodeUnlocked(nodeUniqueID);
}

bool DataSourcePlaylistNodeControl::isNodeInSlaveMode(std::string_view nodeUniqueID) const {
  const auto dataSource = currentDataSource();
  return dataSource && dataSource->isNodeInSlaveMode(nodeUniqueID);
}

bool DataSourcePlaylistNodeControl::hasNodeConnection(std::string_view nodeUniqueID) const {
  const auto dataSource = currentDataSource();
  return dataSource && dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID) != nullptr;
}

std::vector<PlaylistNodeIdentity> DataSourcePlaylistNodeControl::nodeList() const {
  std::vector<PlaylistNodeIdentity> list;
  if (const auto dataSource = currentDataSource()) {
    for (const auto& node : dataSource->nodes())
      list.push_back(PlaylistNodeIdentity{node->nodeUniqueID(), node->name(), node->isConnected(), node->address(),
                                          node->portNumber()});
  }
  return list;
}

bool DataSourcePlaylistNodeControl::nodeOffersClipAttribute(std::string_view nodeUniqueID,
                                                            std::string_view attributeName) const {
  const auto dataSource = currentDataSource();
  const auto connection = dataSource ? dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID) : nullptr;
  if (!connection) return false;
  for (const auto& attribute : connection->possibleClipAttributes()) {
    if (attribute && attribute->name() == attributeName) return true;
  }
  return false;
}

std::shared_ptr<nodes::PlaylistItem> DataSourcePlaylistNodeControl::catalogueClipWithUniqueID(
    std::string_view clipUniqueID) const {
  const auto dataSource = currentDataSource();
  return dataSource ? dataSource->clipWithUniqueID(std::string(clipUniqueID)) : nullptr;
}

void DataSourcePlaylistNodeControl::nodeControlSendAndStartPlaylistDocument(
    const std::shared_ptr<nodes::VideoPlaylistDocument>& document, const std::optional<std::string>& startClipUniqueID,
    double startClipOffset, bool cue) {
  if (const auto dataSource = currentDataSource()) sendAndStart(*dataSource, document, startClipUniqueID, startClipOffset, cue);
}

void DataSourcePlaylistNodeControl::nodeControlPlaybackPlayUniqueIDToStart(
    std::string_view nodeUniqueID, const std::optional<std::string>& clipUniqueID,
    std::uint64_t offsetFromStartInSeconds) {
  if (const auto dataSource = currentDataSource())
    dataSource->nodeControlPlaybackPlayUniqueIDToStart(nodeUniqueID, clipUniqueID.value_or(""),
                                                       offsetFromStartInSeconds);
}

void DataSourcePlaylistNodeControl::nodeControlPlaybackCue(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                                                           std::uint64_t offsetFromStartInSeconds) {
  if (const auto dataSource = currentDataSource())
    dataSource->nodeControlPlaybackCue(nodeUniqueID, clipUniqueID, offsetFromStartInSeconds);
}

void DataSourcePlaylistNodeControl::nodeControlPlaybackPause(std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaybackPause(nodeUniqueID);
}

void DataSourcePlaylistNodeControl::nodeControlPlaybackStop(std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaybackStop(nodeUniqueID);
}

void DataSourcePlaylistNodeControl::setPlaylistDocument(std::string_view nodeUniqueID,
                                                        const std::shared_ptr<nodes::VideoPlaylistDocument>& document) {
  const auto dataSource = currentDataSource();
  if (!dataSource) return;
  if (const auto connection = dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID))
    connection->setPlaylistDocument(document);
}

void DataSourcePlaylistNodeControl::nodeControlPlaybackScrubToTime(std::string_view nodeUniqueID, double seconds) {
  const auto dataSource = currentDataSource();
  if (!dataSource) return;
  if (const auto connection = dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID))
    dataSource->nodeControlPlaybackScrubToTime(seconds, connection);
}

std::vector<std::string> DataSourcePlaylistNodeControl::nodePlaylistPlaybackUniqueIDs(
    std::string_view nodeUniqueID) const {
  std::vector<std::string> ids;
  const auto dataSource = currentDataSource();
  const auto connection = dataSource ? dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID) : nullptr;
  if (!connection) return ids;
  for (const auto& entry : connection->currentPlaylist())
    ids.push_back(entry[nodes::clipinfo::kPlaybackUniqueID].stringOr(""));
  return ids;
}

void DataSourcePlaylistNodeControl::nodeControlFillDocument(nodes::VideoPlaylistDocument& document,
                                                            std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) (void)dataSource->nodeControlFillDocument(document, nodeUniqueID);
}

void DataSourcePlaylistNodeControl::nodeControlPlaylistInsertItem(nodes::PlaylistItem& item, std::uint64_t index,
                                                                  std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaylistInsertItem(item, index, nodeUniqueID);
}

void DataSourcePlaylistNodeControl::nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index,
                                                                          nodes::PlaylistItem& item,
                                                                          std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource())
    dataSource->nodeControlPlaylistReplaceItemAtIndex(index, item, nodeUniqueID);
}

void DataSourcePlaylistNodeControl::nodeControlPlaylistRemoveItemAtIndex(std::uint64_t index,
                                                                         std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaylistRemoveItemAtIndex(index, nodeUniqueID);
}

void DataSourcePlaylistNodeControl::nodeControlPlaylistSetLoopMode(std::string_view nodeUniqueID, bool loop) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaylistSetLoopMode(nodeUniqueID, loop);
}

void DataSourcePlaylistNodeControl::nodeControlPlaylistSetChainMode(std::string_view nodeUniqueID, bool chain) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaylistSetChainMode(nodeUniqueID, chain);
}

void DataSourcePlaylistNodeControl::nodeControlPlaylistSetCueMode(std::string_view nodeUniqueID, bool cue) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlPlaylistSetCueMode(nodeUniqueID, cue);
}

void DataSourcePlaylistNodeControl::nodeControlStopAndClearSchedule(std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeControlStopAndClearSchedule(nodeUniqueID);
}

void DataSourcePlaylistNodeControl::requestThumbnail(std::string_view mediaItemUniqueID,
                                                     std::string_view mediaFolderUniqueID,
                                                     std::string_view nodeUniqueID, double positionInSeconds) {
  if (const auto dataSource = currentDataSource())
    dataSource->requestThumbnailForMediaItemWithUniqueID(mediaItemUniqueID, mediaFolderUniqueID, nodeUniqueID,
                                                         positionInSeconds);
}

void DataSourcePlaylistNodeControl::nodeLock(std::string_view nodeUniqueID) {
  if (const auto dataSource = currentDataSource()) dataSource->nodeLock(nodeUniqueID);
}

void DataSourcePlaylistNodeControl::nodeUnlock(std::string_view nodeUniqueID, std::string_view password,
                                               AnswerHandler answer) {
  queueAnsweredCommand(nodeUniqueID, "unlock " + std::string(password), "receivedReplyToUnlockWithPassword:",
                       &nodes::DataSource::receivedReplyToUnlockWithPassword, std::move(answer));
}

void DataSourcePlaylistNodeControl::nodeControlSetSlaveMode(bool slaveMode, std::string_view nodeUniqueID,
                                                            AnswerHandler answer) {
  queueAnsweredCommand(nodeUniqueID, slaveMode ? "setslavemode 1" : "setslavemode 0",
                       "receivedReplyToRequestSetSlaveMode:", &nodes::DataSource::receivedReplyToRequestSetSlaveMode,
                       std::move(answer));
}

// An unknown node never answers; the window's time limit covers it.
void DataSourcePlaylistNodeControl::queueAnsweredCommand(std::string_view nodeUniqueID, std::string text,
                                                         const char* responseSelector, ReplyOperation reply,
                                                         AnswerHandler answer) {
  const auto dataSource = currentDataSource();
  if (!dataSource) return;
  const auto connection = dataSource->nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return;
  std::weak_ptr<nodes::DataSource> weak = dataSource;
  auto command = nodes::ControlCommand::make(
      std::move(text), responseSelector,
      [weak, reply, answer = std::move(answer)](const std::shared_ptr<nodes::ControlCommand>& answered) {
        if (auto self = weak.lock()) ((*self).*reply)(answered);
        if (answer) answer(answered->response());
      });
  command->setNodeConnection(connection);
  connection->addControlCommand(std::move(command));
}

}  // namespace app
