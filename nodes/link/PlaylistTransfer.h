#pragma once
// PlaylistTransfer: sends a playlist document to one node and starts it there.
// One object per send: it queues "plclearall", "plsetuniqueid", the loop,
// chain and cue modes, "pladditems", "pbinitialize" (when the node is not
// initialised) and "pbplayitem" or "pbcueitem" on the node's NodeConnection,
// each follow-up queued from the reply to the previous command, so the node
// sees them strictly in this order.
//
// Ownership: shared. While a step waits for its reply, the queued command's
// reply handler is the owner; the caller may keep a pointer to watch the
// outcome. The connection is held weakly (its queue holds the transfer).
// Lives on the main thread: it is made there, its reply handlers run there,
// and it watches there for its connection's "nodeConnectionDidClose". The
// one exception is its destruction when a closing link empties the
// connection's queue, which touches only thread-safe state.
//
// Guarantees:
// - the connection's "busy" mark (isModifyingPlaylist) is set while the
//   playlist is being replaced and cleared at every end: after "pladditems"
//   was answered, on an empty playlist, on a refusal, when the link closes
//   (queued steps dropped, or a step unanswered on a closed link), and when
//   the connection goes away;
// - playback is started only after the node accepted the whole item list;
//   a refused "pladditems" ends the transfer, logged and shown to the
//   operator ("Playlist Transfer Error !");
// - whenever the transfer ends without the node holding the whole playlist,
//   the document is marked dirty for that node, so the next start sends it
//   again in full instead of trusting the node's playlist ID;
// - every command text is checked against the line framing before it is
//   queued; item texts have carriage returns escaped so that content cannot
//   end the line.
//
// sendAndStartPlaylistDocument() is the operator's entry (node choice, the
// "Node Connection Error !" and "Node Busy Error !" alerts, the dirty flags,
// the shortcut for a playlist the node already holds).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/link/ControlCommand.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/Value.h"

namespace nodes {

// Reply operation names of the chain (the commands' responseSelector).
inline constexpr const char* kReceivedReplyToPlaylistClearAllSelector = "receivedReplyToPlaylistClearAll:";
inline constexpr const char* kReceivedReplyToPlaylistSetUniqueIDSelector = "receivedReplyToPlaylistSetUniqueID:";
inline constexpr const char* kReceivedReplyToPlaylistSetLoopModeSelector = "receivedReplyToPlaylistSetLoopMode:";
inline constexpr const char* kReceivedReplyToPlaylistSetChainModeSelector = "receivedReplyToPlaylistSetChainMode:";
inline constexpr const char* kReceivedReplyToPlaylistSetCueModeSelector = "receivedReplyToPlaylistSetCueMode:";
inline constexpr const char* kReceivedReplyToPlaylistAddItemsSelector = "receivedReplyToPlaylistAddItems:";
inline constexpr const char* kReceivedReplyToPlaybackInitializeSelector = "receivedReplyToPlaybackInitialize:";
inline constexpr const char* kReceivedReplyToPlaybackPlaySelector = "receivedReplyToPlaybackPlay:";

// Operator alerts of the send.
inline constexpr const char* kNodeConnectionErrorTitle = "Node Connection Error !";
inline constexpr const char* kNodeNotFoundMessage =
    "The selected Node could not be found on the network. Please make sure it is running.";
inline constexpr const char* kNodeBusyErrorTitle = "Node Busy Error !";
inline constexpr const char* kNodeBusyMessage =
    "The Node is currently busy receiving a new playlist. Please try again later.";
inline constexpr const char* kPlaylistTransferErrorTitle = "Playlist Transfer Error !";

// Log lines of the send.
inline constexpr const char* kEmptyPlaylistLine = "Trying to send an empty playlist to the node !";
inline constexpr const char* kStartClipNotFoundLine = "Clip that needs to be started cannot be found in the playlist";

// The node status word of a node that must be initialised before playback.
inline constexpr const char* kNodeStatusNotInitialized = "NOT_INITIALIZED";

class PlaylistTransfer : public std::enable_shared_from_this<PlaylistTransfer> {
 public:
  enum class Outcome {
    Started = 1,            // the node answered the play or cue command "OK"
    SentWithoutStart = 2,   // the start clip plays on another node: nothing started here
    EmptyPlaylist = 3,      // nothing to send
    StartClipNotFound = 4,  // the start clip is not in the playlist
    CommandNotWritable = 5, // a command (the item list, an ID) cannot be sent as one line
    ItemsRefused = 6,       // "pladditems" was not answered "OK"
    InitializeRefused = 7,  // "pbinitialize" was not answered "OK"
    StartRefused = 8,       // the play or cue command was not answered "OK"
    LinkClosed = 9,         // the link closed (or the connection went) before the end
  };
  // Called once, on the main thread, when the transfer ends.
  using Completion = std::function<void(Outcome)>;

  struct Request {
    std::shared_ptr<VideoPlaylistDocument> document;
    std::optional<std::string> startClipUniqueID;  // a row's playbackUniqueID; none: from the top
    double startClipOffset = 0.0;                  // seconds into the start clip
    bool cue = false;                              // cue instead of play
    PlaylistNode node = PlaylistNode::A;           // the document's node this connection is
  };

  // Marks the connection busy, stores the request on it (document, start
  // clip, offset, cue) and queues "plclearall". Main thread.
  static std::shared_ptr<PlaylistTransfer> sendAndStart(const NodeConnectionPtr& connection, Request request,
                                                        Completion completion = {});
  // The node holds this playlist already: only "pbinitialize" (when needed)
  // and the start command. Stores the request on the connection; the busy
  // mark is not touched. Main thread.
  static std::shared_ptr<PlaylistTransfer> startOnly(const NodeConnectionPtr& connection, Request request,
                                                     Completion completion = {});

  // Ends a transfer still running as LinkClosed (busy mark cleared, document
  // marked dirty, completion posted to the main thread).
  ~PlaylistTransfer();
  PlaylistTransfer(const PlaylistTransfer&) = delete;
  PlaylistTransfer& operator=(const PlaylistTransfer&) = delete;

  // None while running.
  std::optional<Outcome> outcome() const { return outcome_; }
  // Runs `completion` when the transfer ends, or at once when it has ended.
  void whenFinished(Completion completion);
  static const char* outcomeName(Outcome outcome);

 private:
  using Step = void (PlaylistTransfer::*)(const std::string& response);
  PlaylistTransfer(const NodeConnectionPtr& connection, Request request, Completion completion);

  void storeRequestOnConnection(NodeConnection& connection) const;
  void queue(std::string text, const char* selector, Step step);
  void replyArrived(Step step, const std::shared_ptr<ControlCommand>& command);

  void clearAllAnswered(const std::string& response);
  void setUniqueIDAnswered(const std::string& response);
  void setLoopModeAnswered(const std::string& response);
  void setChainModeAnswered(const std::string& response);
  void setCueModeAnswered(const std::string& response);
  void addItemsAnswered(const std::string& response);
  void initializeOrStart();
  void initializeAnswered(const std::string& response);
  void start();
  void startAnswered(const std::string& response);

  // The node dictionaries to send: every row, or with two nodes the chained
  // run from the start clip. None (and the end is made) when there is none.
  std::optional<platform::Array> itemsToSend();
  void finish(Outcome outcome, const std::string& logLine = {});
  void releaseBusyMark();

  void watchForLinkClose(const NodeConnectionPtr& connection);

  std::weak_ptr<NodeConnection> connection_;
  const Request request_;
  Completion completion_;
  bool holdsBusyMark_ = false;
  // Set once the node holds the whole playlist ("pladditems" answered "OK",
  // or it held it already).
  bool nodeHoldsPlaylist_ = false;
  std::optional<Outcome> outcome_;
  platform::ObserverToken linkClosedObserver_;
};

// What nodeControlSendAndStartPlaylistDocument does, given how to find a
// node's connection: chooses the node (A, or with A/B roll over two nodes the
// node of the start row), shows "Node Connection Error !" when it has no
// connection, starts without sending when the node holds this playlist
// unchanged (one node, not dirty), shows "Node Busy Error !" (one node only)
// while it receives another playlist, and otherwise takes that node's dirty
// flag and sends. A start clip that is not in the playlist is refused with an
// alert. Answers the transfer, or nullptr when nothing was sent. Main thread.
using ConnectionLookup = std::function<NodeConnectionPtr(std::string_view nodeUniqueID)>;
std::shared_ptr<PlaylistTransfer> sendAndStartPlaylistDocument(const ConnectionLookup& lookup,
                                                               const std::shared_ptr<VideoPlaylistDocument>& document,
                                                               const std::optional<std::string>& startClipUniqueID,
                                                               double startClipOffset, bool cue,
                                                               PlaylistTransfer::Completion completion = {});

// "pbplayitem"/"pbcueitem", with " <clip> <offset %f>" when a clip is given.
std::string playbackStartCommandText(bool cue, std::string_view startClipUniqueID, double startClipOffset);

// True when the start clip is a row of `document` that plays on another node
// than `nodeUniqueID` while the document does not roll over two nodes: that
// start is not this node's to make.
bool startClipBelongsToAnotherNode(const VideoPlaylistDocument* document, std::string_view startClipUniqueID,
                                   std::string_view nodeUniqueID);
// The same for the request stored on a connection.
bool startClipBelongsToAnotherNode(const NodeConnection& connection);

// `value` as XML property-list text fit for one node command line: carriage
// returns in the content are written as character references, so that no
// line end can appear inside; an error when the value cannot be written.
platform::Result<std::string> nodeCommandPropertyListText(const platform::Value& value);

// True when `text` can be sent as one command line; otherwise the refusal is
// logged here, naming only the command word (arguments may be a password).
bool checkedNodeCommandText(std::string_view text);

}  // namespace nodes
