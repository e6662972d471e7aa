#pragma once
// NodeConnection: the application's view of one playout node. It owns the
// node's TelnetController, runs the polling thread that speaks the node text
// protocol, and mirrors what the node reports: identity, media folders, clip
// attributes, current playlist and playback status. Every change goes to its
// delegate, the data source.
//
// Owned through std::shared_ptr (create()), by the data source. Threads:
// - main thread: startConnection, stopConnection, addControlCommand, the link
//   delegate operations (nodeConnectionDidOpen/DidClose/DidNotOpen) and the
//   reply handlers of control commands;
// - the polling thread ("com.dirarovazovo.nodePolling"), started when the link
//   opens: the only sender of node commands (the query operations below are
//   for it and for the NodePollingHooks it runs);
// - every accessor is safe from any thread; collections have one lock each,
//   held only while read or changed, and readers get copies.
//
// Polling: after the identity queries, a tick every kPollingTick on
// Clock::current(): queued control commands at every tick, "pbstatus" at
// every kStatusPollTicks-th tick, then the media folders, the playlist and the
// attributes at every kMediaPollTicks-th tick (split by control-command runs).
// Ticks with nothing to do pass without waking the thread: it sleeps until the
// next status or media tick, and a queued control command wakes it for the
// next tick on the cadence.
//
// Guarantees:
// - control commands are sent oldest first; the control-command lock is never
//   held while a command waits for its reply, so queuing never blocks;
// - a control command sent without a reply still reaches its reply handler
//   (empty response); commands still queued when the link closes are dropped;
// - stopConnection() waits for the polling thread in kShutdownStep steps on
//   the clock, at most kShutdownWaitLimit, never forever;
// - the polling thread keeps the connection alive only for one tick at a
//   time: dropping the last owner ends it within a tick. When the tick's
//   reference was the last one, the connection is destroyed on the main
//   queue, never on its own polling thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/media/Attribute.h"
#include "nodes/link/ControlCommand.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/link/NodeConnectionDelegate.h"
#include "nodes/link/NodePollingHooks.h"
#include "nodes/link/TelnetCommand.h"
#include "nodes/link/TelnetController.h"
#include "nodes/media/TiffImage.h"
#include "platform/Value.h"

namespace nodes {

class VideoPlaylistDocument;

inline constexpr const char* kNewNodeDiscoveredNotification = "newNodeDiscovered";
inline constexpr const char* kNodeConnectionDidCloseNotification = "nodeConnectionDidClose";

// Status dictionary keys ("pbstatus").
inline constexpr const char* kNodeStatusCurrentDateTimeKey = "currentDateTime";
inline constexpr const char* kNodeStatusSchedulerDelayKey = "schedulerDelayInSeconds";
inline constexpr const char* kNodeStatusLockedClipsKey = "lockedClips";
inline constexpr const char* kNodeStatusPlaylistUniqueIDKey = "playlistUniqueID";
inline constexpr const char* kNodeStatusClipPlaybackUniqueIDKey = "clipPlaybackUniqueID";
inline constexpr const char* kNodeStatusLoopModeKey = "loopMode";
inline constexpr const char* kNodeStatusChainModeKey = "chainMode";
inline constexpr const char* kNodeStatusCueModeKey = "cueMode";
inline constexpr const char* kNodeStatusStatusKey = "status";
inline constexpr const char* kNodeStatusPositionKey = "position";
inline constexpr const char* kNodeStatusScheduleUniqueIDKey = "scheduleUniqueID";
inline constexpr const char* kNodeStatusIsAuthenticatedKey = "isAuthenticated";
inline constexpr const char* kNodeStatusSlaveModeKey = "slaveMode";

class NodeConnection final : public TelnetControllerDelegate, public std::enable_shared_from_this<NodeConnection> {
 public:
  static constexpr std::chrono::milliseconds kPollingTick{40};
  static constexpr unsigned kStatusPollTicks = 5;
  static constexpr unsigned kMediaPollTicks = 51;
  // "version" answers at or above this are not polled.
  static constexpr std::uint64_t kUnsupportedVersion = 201;
  static constexpr std::chrono::milliseconds kShutdownStep{10};
  static constexpr std::chrono::seconds kShutdownWaitLimit{12};

  enum class ReplyForm { Plain = 1, XML = 2 };

  // A connection with `delegate` (held weakly) as its delegate and itself as
  // its link's delegate; every field empty, no link.
  static std::shared_ptr<NodeConnection> create(std::weak_ptr<NodeConnectionDelegate> delegate = {});
  // Closes the link and ends the polling thread (bounded).
  ~NodeConnection() override;
  NodeConnection(const NodeConnection&) = delete;
  NodeConnection& operator=(const NodeConnection&) = delete;

  std::weak_ptr<NodeConnectionDelegate> delegate() const;
  void setDelegate(std::weak_ptr<NodeConnectionDelegate> delegate);
  TelnetController& telnetController() { return telnetController_; }
  // The media and attribute synchronisation the polling thread runs; none:
  // those steps are skipped.
  void setPollingHooks(std::shared_ptr<NodePollingHooks> hooks);

  // --- Identity ---
  std::string name() const;
  void setName(std::string name);
  std::string nodeUniqueID() const override;
  void setNodeUniqueID(std::string nodeUniqueID);
  std::string address() const;
  void setAddress(std::string address);
  std::string portNumber() const;
  void setPortNumber(std::string portNumber);
  bool discoveredByNetServices() const;
  void setDiscoveredByNetServices(bool discovered);
  std::optional<ResolvedNetService> netService() const;
  void setNetService(std::optional<ResolvedNetService> service);
  // "NodeConnection <name> - <nodeUniqueID>"
  std::string description() const;
  // Orders by name (for sorting the node list): -1, 0, 1.
  int nodeNameComparaison(const NodeConnection& other) const;

  // --- Lifecycle (main thread) ---
  // Opens the link: by address and port for hand-entered nodes, by the
  // resolved service for Bonjour ones (nothing when it has none).
  void startConnection();
  // Stops the link; when the polling thread runs, asks it to shut down and
  // waits (bounded) until it has ended.
  void stopConnection();
  bool isConnected() const;
  // The polling thread runs.
  bool isRunning() const;
  bool mustShutdown() const;
  void setMustShutdown(bool mustShutdown);
  // Ticks the polling thread has finished since the link last opened (each
  // counted just before the tick's sleep; an idle tick it sleeps through
  // counts once its time has come).
  std::uint64_t pollingTickCount() const;

  // --- Status ---
  // A copy of the last "pbstatus" reply; empty before the first and after
  // the link closed.
  platform::Dictionary currentStatus() const;
  void setCurrentStatus(platform::Dictionary status);
  bool isAuthenticated() const;
  bool isInSlaveMode() const;

  // --- Playlist ---
  platform::Array currentPlaylist() const;
  void setCurrentPlaylist(platform::Array playlist);
  std::uint64_t playlistLastChangeNumber() const;
  void setPlaylistLastChangeNumber(std::uint64_t number);
  bool isModifyingPlaylist() const;
  void setIsModifyingPlaylist(bool modifying);

  // --- Playlist transfer state (node actions) ---
  std::string startClipUniqueID() const;
  void setStartClipUniqueID(std::string uniqueID);
  double startClipOffset() const;
  void setStartClipOffset(double seconds);
  bool cue() const;
  void setCue(bool cue);
  std::weak_ptr<VideoPlaylistDocument> playlistDocument() const;
  void setPlaylistDocument(std::weak_ptr<VideoPlaylistDocument> document);

  // --- Media folders and attributes (mirrored by the polling hooks) ---
  std::vector<std::shared_ptr<MediaFolder>> mediaFolders() const;
  void setMediaFolders(std::vector<std::shared_ptr<MediaFolder>> folders);
  // Runs `body` with the folder list under its lock; `body` must not call back
  // into this connection's folder accessors.
  void withMediaFolders(const std::function<void(std::vector<std::shared_ptr<MediaFolder>>&)>& body);
  std::shared_ptr<MediaFolder> mediaFolderWithUniqueID(std::string_view uniqueID) const;
  std::vector<std::shared_ptr<Attribute>> possibleClipAttributes() const;
  void setPossibleClipAttributes(std::vector<std::shared_ptr<Attribute>> attributes);
  void withPossibleClipAttributes(const std::function<void(std::vector<std::shared_ptr<Attribute>>&)>& body);
  std::uint64_t clipAttributesLastChangeNumber() const;
  void setClipAttributesLastChangeNumber(std::uint64_t number);
  // {"nodeUniqueID", "nodeName", "ipAdress"?, "portNumber"?,
  // "discoveredByNetServices", "mediaFolders"} for the saved node list.
  platform::Dictionary nodeInfoDictionary() const;

  // --- Thumbnails ---
  // Cache key "%@ %@ %f" (folder ID, item ID, position).
  static std::string thumbnailCacheKey(std::string_view mediaFolderUniqueID, std::string_view mediaItemUniqueID,
                                       double positionInSeconds);
  std::shared_ptr<const RGBAImage> thumbnailForMediaItemWithUniqueID(std::string_view mediaItemUniqueID,
                                                                     std::string_view mediaFolderUniqueID,
                                                                     double positionInSeconds) const;
  void addThumbnailToCache(std::shared_ptr<const RGBAImage> image, std::string_view mediaItemUniqueID,
                           std::string_view mediaFolderUniqueID, double positionInSeconds);

  // --- Control commands (any thread; never blocks on a reply) ---
  void addControlCommand(std::shared_ptr<ControlCommand> command);
  std::vector<std::shared_ptr<ControlCommand>> controlCommands() const;
  bool hasQueuedControlCommands() const;

  // --- Node queries (polling thread; each blocks until its reply or the
  // reply limit) ---
  // The command sent; its hasResponse() tells whether a reply came.
  std::shared_ptr<TelnetCommand> sendCommandSynchronously(std::string text, ReplyForm form,
                                                          std::int32_t priority = kTelnetPriorityQuery);
  // The trimmed reply; none without a reply.
  std::optional<std::string> sendPlainQuery(std::string text, std::int32_t priority = kTelnetPriorityQuery);
  // The parsed reply; an error without a reply or when it does not parse
  // (short refusals such as "ERROR" included). Nothing is logged here.
  platform::Result<platform::Value> sendXMLQuery(std::string text, std::int32_t priority = kTelnetPriorityQuery);

  std::uint64_t getVersion();
  // Sets and answers nodeUniqueID / name (empty without a reply).
  std::string getNodeUniqueID();
  std::string getNodeName();
  std::optional<std::vector<std::string>> getMediaFolderUniqueIDs();
  std::optional<std::vector<std::string>> getPossibleClipAttributeNames();
  // The folder's "absolutePath"; `caseSensitive` (may be null) gets its flag.
  std::optional<std::string> getMediaFolderPathForFolderWithUniqueID(std::string_view folderUniqueID,
                                                                     bool* caseSensitive);
  // 0 without a reply.
  std::uint64_t getLastChangeNumberForClipAttributes();
  std::uint64_t getLastChangeNumberForPlaylist();
  std::uint64_t getLastChangeNumberForMediaFolder(std::string_view folderUniqueID);
  std::optional<std::vector<std::string>> getMediaItemUniqueIDsForMediaFolderUniqueID(std::string_view folderUniqueID);
  std::optional<platform::Array> getCurrentPlaylist();
  // "pladditem" with the item as XML property-list text (priority 2).
  void addItemToPlaylist(const platform::Dictionary& item);

  // --- Polling steps (polling thread) ---
  // Sends "pbstatus" and reports each difference to the delegate in order.
  void checkPlaybackStatus();
  void checkForPlaylistChanges();
  void processControlCommandsAndUpdateStatus();
  static bool checkIfLockedItemsArrayHasChanged(const platform::Value& oldLockedClips,
                                                const platform::Value& newLockedClips);

  // --- Link delegate (main thread) ---
  void nodeConnectionDidOpen(TelnetController& controller) override;
  void nodeConnectionDidClose(TelnetController& controller) override;
  void nodeConnectionDidNotOpen(TelnetController& controller) override;

 private:
  NodeConnection();
  struct PollingState;

  // The deleter of create(): never on the connection's own polling thread.
  static void destroy(NodeConnection* connection);

  bool startPolling();
  void runTick(unsigned& statusTicks, unsigned& mediaTicks);
  std::shared_ptr<NodePollingHooks> pollingHooks() const;
  void resetAfterClose();
  void reportStatusDifferences(const platform::Dictionary& oldStatus, platform::Dictionary newStatus);
  std::shared_ptr<NodeConnectionDelegate> lockedDelegate() const;

  TelnetController telnetController_;
  std::shared_ptr<PollingState> polling_;

  mutable std::mutex fieldsMutex_;
  std::weak_ptr<NodeConnectionDelegate> delegate_;   // guarded by fieldsMutex_
  std::shared_ptr<NodePollingHooks> pollingHooks_;   // guarded by fieldsMutex_
  std::string name_;                                 // guarded by fieldsMutex_
  std::string nodeUniqueID_;                         // guarded by fieldsMutex_
  std::string address_;                              // guarded by fieldsMutex_
  std::string portNumber_;                           // guarded by fieldsMutex_
  std::optional<ResolvedNetService> netService_;     // guarded by fieldsMutex_
  bool discoveredByNetServices_ = false;             // guarded by fieldsMutex_
  std::uint64_t playlistLastChangeNumber_ = 0;       // guarded by fieldsMutex_
  std::uint64_t clipAttributesLastChangeNumber_ = 0; // guarded by fieldsMutex_
  std::string startClipUniqueID_;                    // guarded by fieldsMutex_
  double startClipOffset_ = 0.0;                     // guarded by fieldsMutex_
  bool cue_ = false;                                 // guarded by fieldsMutex_
  bool isModifyingPlaylist_ = false;                 // guarded by fieldsMutex_
  std::weak_ptr<VideoPlaylistDocument> playlistDocument_;  // guarded by fieldsMutex_

  mutable std::mutex mediaFoldersMutex_;
  std::vector<std::shared_ptr<MediaFolder>> mediaFolders_;  // guarded by mediaFoldersMutex_
  mutable std::mutex possibleClipAttributesMutex_;
  std::vector<std::shared_ptr<Attribute>> possibleClipAttributes_;  // guarded by possibleClipAttributesMutex_
  mutable std::mutex currentPlaylistMutex_;
  platform::Array currentPlaylist_;  // guarded by currentPlaylistMutex_
  mutable std::mutex currentStatusMutex_;
  platform::Dictionary currentStatus_;  // guarded by currentStatusMutex_
  mutable std::mutex controlCommandsMutex_;
  std::vector<std::shared_ptr<ControlCommand>> controlCommands_;  // guarded by controlCommandsMutex_
  mutable std::mutex thumbnailsMutex_;
  std::map<std::string, std::shared_ptr<const RGBAImage>, std::less<>> thumbnailsCache_;  // guarded by thumbnailsMutex_
};

}  // namespace nodes
