#pragma once
// DataSourcePlaylistNodeControl: the application's data source seen as the
// playlist windows' PlaylistNodeControl. Queries and node actions go to the
// data source as they are. Unlocking and the redundant-mode switch queue the
// same commands the data source queues, with a reply handler that runs the
// data source's own reply operation first and then hands the reply to the
// window.
//
// Owned by the application next to the data source. It asks a provider for
// the data source at each call, so it can be made before the data source is
// (with none, queries answer none and actions do nothing). Main thread only.

#include <functional>
#include <memory>

#include "app/playlist/PlaylistNodeControl.h"
#include "nodes/link/DataSource.h"

namespace app {

class DataSourcePlaylistNodeControl final : public PlaylistNodeControl {
 public:
  using DataSourceProvider = std::function<std::shared_ptr<nodes::DataSource>()>;

  explicit DataSourcePlaylistNodeControl(DataSourceProvider dataSource);
  // A data source held weakly.
  explicit DataSourcePlaylistNodeControl(std::weak_ptr<nodes::DataSource> dataSource);

  std::optional<platform::Dictionary> nodeControlStatus(std::string_view nodeUniqueID) const override;
  bool isNodeUnlocked(std::string_view nodeUniqueID) const override;
  bool isNodeInSlaveMode(std::string_view nodeUniqueID) const override;
  bool hasNodeConnection(std::string_view nodeUniqueID) const override;
  std::vector<PlaylistNodeIdentity> nodeList() const override;
  bool nodeOffersClipAttribute(std::string_view nodeUniqueID, std::string_view attributeName) const override;
  std::shared_ptr<nodes::PlaylistItem> catalogueClipWithUniqueID(std::string_view clipUniqueID) const override;

  void nodeControlSendAndStartPlaylistDocument(const std::shared_ptr<nodes::VideoPlaylistDocument>& document,
                                               const std::optional<std::string>& startClipUniqueID,
                                               double startClipOffset, bool cue) override;
  void nodeControlPlaybackPlayUniqueIDToStart(std::string_view nodeUniqueID,
                                              const std::optional<std::string>& clipUniqueID,
                                              std::uint64_t offsetFromStartInSeconds) override;
  void nodeControlPlaybackCue(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                              std::uint64_t offsetFromStartInSeconds) override;
  void nodeControlPlaybackPause(std::string_view nodeUniqueID) override;
  void nodeControlPlaybackStop(std::string_view nodeUniqueID) override;
  void setPlaylistDocument(std::string_view nodeUniqueID,
                           const std::shared_ptr<nodes::VideoPlaylistDocument>& document) override;

  void nodeControlPlaybackScrubToTime(std::string_view nodeUniqueID, double seconds) override;
  std::vector<std::string> nodePlaylistPlaybackUniqueIDs(std::string_view nodeUniqueID) const override;
  void nodeControlFillDocument(nodes::VideoPlaylistDocument& document, std::string_view nodeUniqueID) override;

  void nodeControlPlaylistInsertItem(nodes::PlaylistItem& item, std::uint64_t index,
                                     std::string_view nodeUniqueID) override;
  void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem& item,
                                             std::string_view nodeUniqueID) override;
  void nodeControlPlaylistRemoveItemAtIndex(std::uint64_t index, std::string_view nodeUniqueID) override;
  void nodeControlPlaylistSetLoopMode(std::string_view nodeUniqueID, bool loop) override;
  void nodeControlPlaylistSetChainMode(std::string_view nodeUniqueID, bool chain) override;
  void nodeControlPlaylistSetCueMode(std::string_view nodeUniqueID, bool cue) override;
  void nodeControlStopAndClearSchedule(std::string_view nodeUniqueID) override;
  void requestThumbnail(std::string_view mediaItemUniqueID, std::string_view mediaFolderUniqueID,
                        std::string_view nodeUniqueID, double positionInSeconds) override;

  void nodeLock(std::string_view nodeUniqueID) override;
  void nodeUnlock(std::string_view nodeUniqueID, std::string_view password, AnswerHandler answer) override;
  void nodeControlSetSlaveMode(bool slaveMode, std::string_view nodeUniqueID, AnswerHandler answer) override;

 private:
  using ReplyOperation = nodes::DataSource::ReplyOperation;
  void queueAnsweredCommand(std::string_view nodeUniqueID, std::string text, const char* responseSelector,
                            ReplyOperation reply, AnswerHandler answer);

  std::shared_ptr<nodes::DataSource> currentDataSource() const { return dataSource_ ? dataSource_() : nullptr; }

  DataSourceProvider dataSource_;
};

}  // namespace app
