#pragma once
// DataSource: the one object through which the windows reach the playout
// nodes. It keeps the node list (one NodeConnection per node, found by service
// discovery or entered by hand), reopens closed connections every
// kReconnectInterval, keeps what it learns about each node in the saved node
// list (user default "discoveredNodes"), turns every change a connection
// reports into a notification on the main thread, and queues the operators'
// node actions on the connections. The catalogue operations are declared here
// with their base behaviour; the catalogue data source overrides them.
//
// Ownership: always owned through std::shared_ptr (create(), or make_shared of
// a subclass), because connections and reply handlers hold it weakly. It owns
// its connections, its reconnect timer and its service browser.
//
// Threads: every member runs on the main thread, except the connection
// delegate operations that a connection's polling thread calls (the saved-list
// look-ups, saveNodeToPreference, nodeListDidChange, the status operations
// and nodePlaylistDidChangeForNode): those never wait for the main thread.
//
// Guarantees:
// - the node list and the "discoveredNodes" default are read and changed on
//   the main thread only; the polling threads read a snapshot of the saved
//   list that the main thread keeps up to date (also when someone else writes
//   the default), and their writes are handed to the main thread, so no
//   update of the saved list is lost to a concurrent one;
// - node notifications are posted on the default centre on the main thread,
//   in the order the connection reported the changes; their sender is the
//   connection and their object the NodeConnectionPtr (none for
//   "nodeListDidChange");
// - after destruction no reply handler, timer tick, browser answer or
//   connection report reaches this object.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/media/Attribute.h"
#include "nodes/link/ControlCommand.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/media/MediaItem.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/link/NodeConnectionDelegate.h"
#include "nodes/link/NodeConnectionDelegateRelay.h"
#include "nodes/link/NodePollingHooks.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/link/ServiceBrowser.h"
#include "nodes/media/StaticNodeInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/Observable.h"
#include "platform/Timer.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace nodes {

class PlaylistTransfer;
class VideoPlaylistDocument;

// --- Node notifications (object: the NodeConnectionPtr; userInfo: the node's
// new status dictionary, unless noted) ---
inline constexpr const char* kNodeListDidChangeNotification = "nodeListDidChange";  // no object, no userInfo
inline constexpr const char* kPlaybackStatusDidChangeNotification = "playbackStatusDidChange";
inline constexpr const char* kPlaybackClipUniqueIDDidChangeNotification = "playbackClipUniqueIDDidChange";
inline constexpr const char* kLockedClipsDidChangeNotification = "lockedClipsDidChange";
inline constexpr const char* kPlaybackPlaylistUniqueIDDidChangeNotification = "playbackPlaylistUniqueIDDidChange";
inline constexpr const char* kCurrentDateTimeDidChangeNotification = "currentDateTimeDidChange";
inline constexpr const char* kFirstEventStartDateTimeChangeNotification = "firstEventStartDateTimeChange";
inline constexpr const char* kLastEventEndDateTimeChangeNotification = "lastEventEndDateTimeChange";
inline constexpr const char* kCurrentDelayDidChangeNotification = "currentDelayDidChange";
inline constexpr const char* kPlaybackLoopModeDidChangeNotification = "playbackLoopModeDidChange";
inline constexpr const char* kPlaybackChainModeDidChangeNotification = "playbackChainModeDidChange";
inline constexpr const char* kPlaybackCueModeDidChangeNotification = "playbackCueModeDidChange";
inline constexpr const char* kPlaybackAuthenticationDidChangeNotification = "playbackAuthenticationDidChange";
inline constexpr const char* kPlaybackClipPositionDidChangeNotification = "playbackClipPositionDidChange";
inline constexpr const char* kSchedulerCurrentItemPathDidChangeNotification = "schedulerCurrentItemPathDidChange";
// userInfo {"scheduleUniqueID": the ID, "" for none}.
inline constexpr const char* kScheduleUniqueIDDidChangeNotification = "scheduleUniqueIDDidChange";
inline constexpr const char* kScheduleUniqueIDKey = "scheduleUniqueID";
inline constexpr const char* kPlaylistDidChangeNotification = "playlistDidChange";  // no userInfo
// Posted on the calling thread; sender: the data source; userInfo: the
// dictionary the connection reported.
inline constexpr const char* kPossibleClipAttributeDidChangeNotification = "possibleClipAttributeDidChange";
// Object: the thumbnail (std::shared_ptr<const RGBAImage>); userInfo
// {"mediaFolderUniqueID", "mediaItemUniqueID", "position" (the text)}.
inline constexpr const char* kNewThumbnailIsAvailableNotification = "newThumbnailIsAvailable";

// --- Saved node list: the default "discoveredNodes", an array of these
// dictionaries ---
inline constexpr const char* kDiscoveredNodesKey = "discoveredNodes";
inline constexpr const char* kSavedNodeUniqueIDKey = "nodeUniqueID";
inline constexpr const char* kSavedNodeNameKey = "nodeName";
inline constexpr const char* kSavedNodeIPAdressKey = "ipAdress";  // sic: the saved lists spell it so
inline constexpr const char* kSavedNodePortNumberKey = "portNumber";
inline constexpr const char* kSavedNodeDiscoveredByNetServicesKey = "discoveredByNetServices";
inline constexpr const char* kSavedNodeMediaFoldersKey = "mediaFolders";
inline constexpr const char* kSavedNodeClipAttributesKey = "clipAttributes";
inline constexpr const char* kSavedNodeClipAttributesLastChangeNumberKey = "clipAttributesLastChangeNumber";

// What the data source tells the application; reached by the catalogue side.
class DataSourceDelegate {
 public:
  virtual ~DataSourceDelegate() = default;
};

class DataSource : public NodeConnectionDelegate,
                   public ServiceBrowserDelegate,
                   public std::enable_shared_from_this<DataSource> {
 public:
  static constexpr std::chrono::seconds kReconnectInterval{5};
  static constexpr std::chrono::seconds kServiceResolveTimeLimit{10};
  using ReplyOperation = void (DataSource::*)(const std::shared_ptr<ControlCommand>&);

  // `browser` may be null (no discovery). Must be owned by a shared_ptr.
  static std::shared_ptr<DataSource> create(std::unique_ptr<ServiceBrowser> browser = nullptr);
  // Empty node list and thumbnail table, no timer; observes
  // "newNodeDiscovered" and the saved node list in UserDefaults::standard()
  // as it is at construction.
  explicit DataSource(std::unique_ptr<ServiceBrowser> browser = nullptr);
  // Invalidates the timer, stops the browser and every connection, and
  // removes its observers. Main thread.
  ~DataSource() override;
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  DataSourceDelegate* delegate() const { return delegate_; }
  void setDelegate(DataSourceDelegate* delegate) { delegate_ = delegate; }  // not owned; outlives this
  // The media and attribute synchronisation every connection runs (installed
  // on the current connections and on those made later); none by default.
  void setNodePollingHooks(std::shared_ptr<NodePollingHooks> hooks);

  // --- Node list (main thread) ---
  const std::vector<NodeConnectionPtr>& nodes() const { return nodes_; }
  NodeConnectionPtr nodeConnectionWithNodeUniqueID(std::string_view nodeUniqueID) const;
  // Positions in nodes(), -1 when none.
  std::int64_t indexOfNodeWithNodeUniqueID(std::string_view nodeUniqueID) const;
  std::int64_t indexOfNodeForNetService(const DiscoveredService& service) const;
  // Compares with each connection's address.
  std::int64_t indexOfNodeForIPAddress(std::string_view address) const;
  bool nodeArrayContainsNetService(const DiscoveredService& service) const;
  bool nodeArrayContainsIPAddress(std::string_view address) const;
  // The connection's name, else the first saved name for that ID, else "".
  std::string nodeNameForNodeWithUniqueID(std::string_view nodeUniqueID) const;
  // None when the node is unknown.
  std::optional<std::vector<std::shared_ptr<MediaFolder>>> mediaFoldersForNode(std::string_view nodeUniqueID) const;
  std::shared_ptr<MediaFolder> mediaFolderWithAbsolutePath(std::string_view path, std::string_view nodeUniqueID) const;

  // --- Connecting (main thread) ---
  // Once only: every kReconnectInterval, tryToConnectRegisteredNodes().
  void startTimerConnection();
  // Starts a failed browse again, opens every closed connection, removes
  // duplicate node IDs (a discovered connection wins over a hand-entered one)
  // and sorts the list by name.
  void tryToConnectRegisteredNodes();
  // A connection for each saved hand-entered node.
  void connectStaticNodeFromPref();
  // A hand-entered node: a connection that opens at the next timer tick.
  void createStaticNodeInPreferenceWithStaticNodeInfo(const StaticNodeInfo& info);
  void addStaticNodeInfoInCache(const StaticNodeInfo& info);
  // Remove saved entries; the live node list stays as it is.
  void deleteStaticNodeInPreferenceWithStaticNodeInfo(const StaticNodeInfo& info);
  void deleteNodeInPreferenceWithNodeUniqueID(std::string_view nodeUniqueID);

  // --- Discovery (main thread) ---
  // Browses for kNodeServiceType in the default domains.
  void startBrowsingForNodes();
  void retryBrowsingForNodes();
  ServiceBrowser* serviceBrowser() const { return browser_.get(); }
  void serviceBrowserDidFindService(const DiscoveredService& service, bool moreComing) override;
  void serviceBrowserDidRemoveService(const DiscoveredService& service, bool moreComing) override;
  void serviceBrowserDidNotSearch(const platform::Error& error) override;
  void serviceDidResolveAddress(const ResolvedService& service) override;
  void serviceDidNotResolve(const DiscoveredService& service, const platform::Error& error) override;

  // --- Saved node list ---
  // The "discoveredNodes" array (empty when none). Main thread.
  platform::Array savedNodeList() const;
  // Any thread; the main thread writes (at once when called there).
  void saveNodeToPreference(const NodeConnectionPtr& connection) override;
  // Polling thread (or any): answered from the saved-list snapshot.
  void getMediaFoldersForNode(const NodeConnectionPtr& connection) override;
  std::uint32_t attributesLastChangeNumberInPrefForNode(const NodeConnectionPtr& connection) override;
  std::vector<std::shared_ptr<Attribute>> attributesInPrefForNodeWithUniqueID(const std::string& nodeUniqueID) override;
  // Main thread.
  void mediaFoldersDidChange(const NodeMediaFoldersInfo& info) override;
  // {"nodeUniqueID", "nodeName", "possibleClipAttributes" (Attribute
  // dictionaries), "clipAttributesLastChangeNumber"}. Main thread.
  void possibleClipAttributesDidChange(const platform::Dictionary& info);
  // Posts "possibleClipAttributeDidChange" on the calling thread.
  void possibleClipAttributeDidChange(const platform::Dictionary& info) override;

  // --- Connection reports (polling or main thread) ---
  void nodeListDidChange() override;
  void nodePlaylistDidChangeForNode(const NodeConnectionPtr& node) override;
  void nodePlaybackStatusChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodePlaybackClipUniqueIDChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeLockedClipsChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodePlaybackPlaylistUniqueIDChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeCurrentDateTimeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeFirstEventStartDateTimeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeLastEventEndDateTimeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeCurrentDelayChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodePlaybackLoopModeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodePlaybackChainModeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodePlaybackCueModeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeAuthenticationChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodePlaybackClipPositionChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeSchedulerCurrentItemPathChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) override;
  void nodeScheduleUniqueIDDidChange(const std::string& scheduleUniqueID, const NodeConnectionPtr& node) override;

  // --- Node queries (main thread) ---
  // A copy of the node's status; none when the node is unknown.
  std::optional<platform::Dictionary> nodeControlStatus(std::string_view nodeUniqueID) const;
  bool isNodeUnlocked(std::string_view nodeUniqueID) const;
  bool isNodeInSlaveMode(std::string_view nodeUniqueID) const;

  // --- Node actions (main thread): each queues a control command on the
  // node's connection and does nothing for an unknown node ---
  void nodeLock(std::string_view nodeUniqueID);
  void nodeUnlock(std::string_view nodeUniqueID, std::string_view password);
  void nodeControlSetSlaveMode(bool slaveMode, std::string_view nodeUniqueID);
  void nodeControlPlaybackInitialize(std::string_view nodeUniqueID);
  void nodeControlPlaybackClose(std::string_view nodeUniqueID);
  void nodeControlPlaybackPause(std::string_view nodeUniqueID);
  void nodeControlPlaybackStopScheduler(std::string_view nodeUniqueID);
  void nodeControlPlaybackStop(std::string_view nodeUniqueID);
  // "pbplay" while a schedule runs, else "pbstartscheduler".
  void nodeControlPlaybackPlay(std::string_view nodeUniqueID);
  // Plays from a clip: queues "pbinitialize" first when the node is not
  // initialised, then the start command (receivedReplyToPlaybackInitialize).
  void nodeControlPlaybackPlayUniqueIDToStart(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                                              std::uint64_t offsetFromStartInSeconds);
  void nodeControlPlaybackScrubToTime(double seconds, const NodeConnectionPtr& connection);
  void nodeControlPlaybackCue(std::string_view nodeUniqueID, std::string_view clipUniqueID,
                              std::uint64_t offsetFromStartInSeconds);
  void nodeControlPlaybackSkipToNext(std::string_view nodeUniqueID);
  void nodeControlPlaylistSetLoopMode(std::string_view nodeUniqueID, bool loop);
  void nodeControlPlaylistSetChainMode(std::string_view nodeUniqueID, bool chain);
  void nodeControlPlaylistSetCueMode(std::string_view nodeUniqueID, bool cue);
  void nodeControlPlaylistInsertItem(PlaylistItem& item, std::uint64_t index, std::string_view nodeUniqueID);
  void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, PlaylistItem& item, std::string_view nodeUniqueID);
  void nodeControlPlaylistRemoveItemAtIndex(std::uint64_t index, std::string_view nodeUniqueID);
  void nodeControlStopAndClearSchedule(std::string_view nodeUniqueID);
  // Sends the document to its node (A, or with A/B roll over two nodes the
  // node of the start row) and plays or cues it from the start clip; see
  // PlaylistTransfer.h. The running transfer, or nullptr when nothing was sent.
  std::shared_ptr<PlaylistTransfer> nodeControlSendAndStartPlaylistDocument(
      const std::shared_ptr<VideoPlaylistDocument>& document, const std::optional<std::string>& startClipUniqueID,
      double startClipOffset, bool cue);
  // Fills the document from the node's current playlist (NodePlaylistFill.h).
  bool nodeControlFillDocument(VideoPlaylistDocument& document, std::string_view nodeUniqueID);

  // Thumbnails: "fmmediaitemthumbnail <folder> <item> <position>", answered
  // from the connection's cache when it has the image; one request per text
  // at a time (a request the closing link dropped is no longer pending). The
  // image arrives as "newThumbnailIsAvailable".
  void requestThumbnailForMediaItemWithUniqueID(std::string_view mediaItemUniqueID,
                                                std::string_view mediaFolderUniqueID,
                                                std::string_view nodeUniqueID, double positionInSeconds);
  bool isThumbnailRequestPending(std::string_view commandText) const;

  // --- Reply operations (main thread) ---
  virtual void receivedReplyToLock(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToUnlockWithPassword(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToRequestSetSlaveMode(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToPlaylistInsertItem(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToPlaybackClose(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToPlaybackStop(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToClearSchedule(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToStopScheduler(const std::shared_ptr<ControlCommand>&) {}
  virtual void receivedReplyToPlaybackCue(const std::shared_ptr<ControlCommand>&) {}
  virtual void replyReceivedFromPlaybackPause(const std::shared_ptr<ControlCommand>&) {}
  virtual void replyReceivedFromSkipToNext(const std::shared_ptr<ControlCommand>&) {}
  virtual void replyReceivedFromPlaybackStop(const std::shared_ptr<ControlCommand>&) {}
  virtual void replyReceivedFromStartScheduler(const std::shared_ptr<ControlCommand>&) {}
  // Queues "pbstop" (reply replyReceivedFromPlaybackStop).
  virtual void replyReceivedFromPlaybackStopScheduler(const std::shared_ptr<ControlCommand>& command);
  // Not "OK": clears isModifyingPlaylist and logs. Otherwise queues the start
  // command ("pbcueitem"/"pbplayitem" with the connection's start clip and
  // offset), unless startClipBelongsToAnotherNode() says it is not this
  // node's to play.
  virtual void receivedReplyToPlaybackInitialize(const std::shared_ptr<ControlCommand>& command);
  // Not "OK": logs "Error in pbplay (%@)" and clears isModifyingPlaylist.
  virtual void receivedReplyToPlaybackPlay(const std::shared_ptr<ControlCommand>& command);
  virtual void receivedReplyToRequestThumbnail(const std::shared_ptr<ControlCommand>& command);

  // --- Catalogue operations: the base behaviour; the catalogue data source
  // overrides them ---
  virtual void checkCompatibility() {}
  virtual void loadAllDataBaseInTree() {}
  virtual void resetMediaDatabase() {}
  virtual void forceEnumerationOnMediaFolderWithUniqueID(const std::optional<std::string>& /*mediaFolderUniqueID*/,
                                                         const std::string& /*nodeUniqueID*/,
                                                         const std::optional<std::string>& /*pathToUpdate*/) {}
  virtual void populateMediaCollectionNodeForAllNodeInPref() {}
  // Observer of "newNodeDiscovered".
  virtual void newNodeDiscovered(const platform::Notification& /*notification*/) {}
  virtual void removeClipsWithUniqueIDs(const std::vector<std::string>& /*clipUniqueIDs*/) {}
  virtual void removeClipsWithMediaItemsUniqueIDs(const std::vector<std::string>& /*mediaItemUniqueIDs*/) {}
  virtual void removeClipsWithMediaFolderUniqueID(const std::string& /*mediaFolderUniqueID*/) {}
  virtual void addOrUpdateClips(const std::vector<std::shared_ptr<PlaylistItem>>& /*items*/) {}
  void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& /*items*/) override {}
  virtual void markClipsAsOfflineForMediaItemWithUniqueID(const std::string& /*mediaItemUniqueID*/) {}
  void markClipsAsOfflineForMediaItemsUniqueIDs(const platform::Array& /*items*/) override {}

  virtual std::optional<platform::Dictionary> clipsModelVersionDictionary() { return std::nullopt; }
  virtual std::optional<platform::Dictionary> schedulesModelVersionDictionary() { return std::nullopt; }
  virtual std::optional<platform::Dictionary> playlistsModelVersionDictionary() { return std::nullopt; }
  virtual std::optional<std::string> description() const { return std::nullopt; }
  virtual std::optional<std::int32_t> type() const { return std::nullopt; }
  virtual std::optional<std::filesystem::path> rootPath() const { return std::nullopt; }

  using PlaylistItems = std::vector<std::shared_ptr<PlaylistItem>>;
  using PlaylistItemsByKey = std::map<std::string, std::shared_ptr<PlaylistItem>, std::less<>>;
  // Each of these writes "Virtual Method of dataSource called" to the system
  // log and answers none here.
  virtual std::optional<platform::Array> clips();
  virtual std::optional<PlaylistItems> clipsWithUniqueIDs(const std::vector<std::string>& clipUniqueIDs);
  virtual std::optional<platform::Array> clipsLanguages();
  virtual std::optional<platform::Array> clipsAttributes();
  virtual std::optional<PlaylistItems> clipsForNodeUniqueID(const std::string& nodeUniqueID);
  virtual std::optional<PlaylistItems> clipsWithMediaItemUniqueID(const std::string& mediaItemUniqueID,
                                                                  const std::optional<std::string>& nodeUniqueID,
                                                                  const std::optional<std::string>& mediaFolderUniqueID);
  virtual std::optional<PlaylistItems> clipsWithMediaItemAbsolutePath(const std::string& absolutePath,
                                                                      const std::optional<std::string>& nodeUniqueID);
  virtual std::shared_ptr<PlaylistItem> clipWithUniqueID(const std::optional<std::string>& clipUniqueID);
  virtual std::optional<PlaylistItemsByKey> playlistItemsWithAbsolutePaths(const std::vector<std::string>& paths,
                                                                          const std::string& nodeUniqueID);
  virtual std::optional<PlaylistItemsByKey> playlistItemsWithMediaItemUniqueIDs(
      const std::vector<std::string>& mediaItemUniqueIDs, const std::string& nodeUniqueID);
  virtual std::optional<PlaylistItems> playlistItemsFromPaths(const std::vector<std::filesystem::path>& paths,
                                                              const std::string& nodeUniqueID, bool& found);
  virtual std::optional<PlaylistItems> clipsWithMediaItemAtPath(const std::filesystem::path& path,
                                                                const std::string& nodeUniqueID);
  virtual std::optional<PlaylistItems> playlistItemsArrayFromDict(const platform::Dictionary& dictionary,
                                                                  const std::string& nodeUniqueID);
  virtual platform::Status exportAllDataToFolder(const std::filesystem::path& folder);
  virtual platform::Status importAllDataFromFolder(const std::filesystem::path& folder, bool eraseExisting);
  virtual std::optional<platform::Dictionary> exportInfosFromFolder(const std::filesystem::path& folder);
  // These two only write the line.
  virtual void duplicateClip(const std::shared_ptr<PlaylistItem>& item);
  virtual void loadPlaylistsInfos();

 protected:
  // The playlist transfer's test for receivedReplyToPlaybackInitialize: YES
  // when the connection's start clip lies in its playlist document on another
  // node while A/B roll is off (the connection's document, held weakly).
  virtual bool startClipBelongsToAnotherNode(const NodeConnection& connection) const;

  // Makes `command` with this data source as the client of `reply` (none:
  // no reply operation) and queues it on the connection.
  std::shared_ptr<ControlCommand> queueControlCommand(const NodeConnectionPtr& connection, std::string text,
                                                      const char* responseSelector = nullptr,
                                                      ReplyOperation reply = nullptr,
                                                      bool requiresXMLResponse = false);
  // A new connection with this data source as delegate and the polling hooks.
  NodeConnectionPtr makeConnection();
  // Changes "discoveredNodes" and saves it (and refreshes the snapshot).
  // `change` gets the saved list (empty when none) and is applied again to
  // the list given on the command line, when there is one: that copy is for
  // this run and never replaces the saved list. It must be a pure edit of
  // the list it gets. Main thread.
  void changeSavedNodeList(const std::function<void(platform::Array&)>& change);

 private:
  void postNodeNotification(const char* name, const platform::Dictionary& status, const NodeConnectionPtr& node);
  // On the main thread: at once there, else posted (weakly guarded).
  void runOnMainThread(std::function<void(DataSource&)> task);
  void saveNodeToPreferenceOnMainThread(const NodeConnectionPtr& connection);
  std::optional<platform::Dictionary> savedEntryForNodeUniqueID(std::string_view nodeUniqueID) const;  // snapshot
  void refreshSavedNodesSnapshot();
  void removeDuplicateNodes();

  platform::UserDefaults& defaults_;        // the standard defaults at construction
  DataSourceDelegate* delegate_ = nullptr;  // not owned; outlives this
  // What connections hold as their delegate; detached first at destruction.
  std::shared_ptr<NodeConnectionDelegateRelay> relay_;
  std::vector<NodeConnectionPtr> nodes_;    // main thread; kept sorted by name at each tick
  std::unique_ptr<platform::Timer> tryToConnectTimer_;
  // Command text -> the queued request; pending while the connection still
  // holds it (the reply clears the entry; a closing link drops the command).
  std::map<std::string, std::weak_ptr<ControlCommand>, std::less<>> requestedThumbnails_;
  std::unique_ptr<ServiceBrowser> browser_;
  std::vector<DiscoveredService> discoveredServices_;  // main thread
  bool browsingFailed_ = false;          // main thread; the browse failed and is retried
  bool browseRetryOutstanding_ = false;  // main thread; retried, no failure since
  std::shared_ptr<NodePollingHooks> pollingHooks_;     // main thread

  mutable std::mutex savedNodesMutex_;
  // Follows "discoveredNodes"; none when the default is not an array.
  std::optional<platform::Array> savedNodesSnapshot_;  // guarded by savedNodesMutex_

  platform::ObserverToken newNodeDiscoveredObserver_;
  platform::ObservationToken savedNodesObservation_;
};

}  // namespace nodes
