#include "nodes/link/PlaylistTransfer.h"

#include <cstdio>
#include <utility>

#include "foundation/CVNAlertUtilities.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/link/TelnetController.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"

namespace nodes {
namespace {

using platform::Value;

constexpr const char* kOKReply = "OK";

void writeToSystemLog(const std::string& line) {
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning, line);
}

void showWarning(const std::string& title, const std::string& message) {
  foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(title, message, {foundation::kDefaultAlertButtonTitle});
}

std::string secondsText(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", seconds);
  return text;
}

std::optional<std::string> nonEmpty(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  return text;
}

std::string commandWord(const std::string& text) { return text.substr(0, text.find(' ')); }

bool rollsOverTwoNodes(const VideoPlaylistDocument& document) { return document.abRoll() && document.hasNodeB(); }

std::string nodeName(const NodeConnectionPtr& connection) {
  return connection ? "\"" + connection->name() + "\" (" + connection->nodeUniqueID() + ")" : "(gone)";
}

}  // namespace

// ---- Helpers shared with the data source ----

std::string playbackStartCommandText(bool cue, std::string_view startClipUniqueID, double startClipOffset) {
  std::string text = cue ? "pbcueitem" : "pbplayitem";
  if (!startClipUniqueID.empty()) {
    text += ' ';
    text += startClipUniqueID;
    text += ' ';
    text += secondsText(startClipOffset);
  }
  return text;
}

bool startClipBelongsToAnotherNode(const VideoPlaylistDocument* document, std::string_view startClipUniqueID,
                                   std::string_view nodeUniqueID) {
  if (!document || startClipUniqueID.empty() || rollsOverTwoNodes(*document)) return false;
  const auto row = document->clipAtIndex(document->clipIndexWithUniqueID(startClipUniqueID));
  return row && row->nodeUniqueID() != nodeUniqueID;
}

bool startClipBelongsToAnotherNode(const NodeConnection& connection) {
  const auto document = connection.playlistDocument().lock();
  return startClipBelongsToAnotherNode(document.get(), connection.startClipUniqueID(), connection.nodeUniqueID());
}

platform::Result<std::string> nodeCommandPropertyListText(const Value& value) {
  auto written = platform::writePropertyList(value);
  if (!written) return written.error();
  // The writer puts no carriage return between elements, so each one is
  // content; as a reference it survives parsing and can never form LF CR.
  std::string text;
  text.reserve(written->size());
  for (char c : *written) {
    if (c == '\r') {
      text += "&#13;";
    } else {
      text += c;
    }
  }
  return text;
}

bool checkedNodeCommandText(std::string_view text) {
  const platform::Status safe = TelnetController::checkCommandText(text);
  if (safe.ok()) return true;
  // The refusal names only the command word: arguments may be a password.
  writeToSystemLog(safe.error().localizedDescription);
  return false;
}

// ---- PlaylistTransfer ----

PlaylistTransfer::PlaylistTransfer(const NodeConnectionPtr& connection, Request request, Completion completion)
    : connection_(connection), request_(std::move(request)), completion_(std::move(completion)) {}

PlaylistTransfer::~PlaylistTransfer() {
  if (outcome_) return;
  // Dropped unanswered: the closing link emptied the connection's queue (the
  // caller may hold that queue's lock), or the connection went away. Only
  // thread-safe state is touched here; the report goes to the main thread.
  releaseBusyMark();
  if (!nodeHoldsPlaylist_ && request_.document) request_.document->setDirtyOnNode(request_.node, true);
  writeToSystemLog("Playlist transfer ended: the link closed before the node answered");
  if (completion_) platform::DispatchQueue::main().async([completion = std::move(completion_)] {
    completion(Outcome::LinkClosed);
  });
}

std::shared_ptr<PlaylistTransfer> PlaylistTransfer::sendAndStart(const NodeConnectionPtr& connection,
                                                                 Request request, Completion completion) {
  request.startClipUniqueID = nonEmpty(request.startClipUniqueID);
  std::shared_ptr<PlaylistTransfer> transfer(
      new PlaylistTransfer(connection, std::move(request), std::move(completion)));
  transfer->storeRequestOnConnection(*connection);
  transfer->watchForLinkClose(connection);
  connection->setIsModifyingPlaylist(true);
  transfer->holdsBusyMark_ = true;
  transfer->queue("plclearall", kReceivedReplyToPlaylistClearAllSelector, &PlaylistTransfer::clearAllAnswered);
  return transfer;
}

std::shared_ptr<PlaylistTransfer> PlaylistTransfer::startOnly(const NodeConnectionPtr& connection, Request request,
                                                              Completion completion) {
  request.startClipUniqueID = nonEmpty(request.startClipUniqueID);
  std::shared_ptr<PlaylistTransfer> transfer(
      new PlaylistTransfer(connection, std::move(request), std::move(completion)));
  transfer->storeRequestOnConnection(*connection);
  transfer->watchForLinkClose(connection);
  transfer->nodeHoldsPlaylist_ = true;
  transfer->initializeOrStart();
  return transfer;
}

void PlaylistTransfer::whenFinished(Completion completion) {
  if (outcome_) {
    if (completion) completion(*outcome_);
    return;
  }
  completion_ = std::move(completion);
}

const char* PlaylistTransfer::outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Started: return "started";
    case Outcome::SentWithoutStart: return "sent, started on another node";
    case Outcome::EmptyPlaylist: return "empty playlist";
    case Outcome::StartClipNotFound: return "start clip not found";
    case Outcome::CommandNotWritable: return "command not writable";
    case Outcome::ItemsRefused: return "items refused";
    case Outcome::InitializeRefused: return "initialisation refused";
    case Outcome::StartRefused: return "start refused";
    case Outcome::LinkClosed: return "link closed";
  }
  return "unknown";
}

void PlaylistTransfer::storeRequestOnConnection(NodeConnection& connection) const {
  connection.setCue(request_.cue);
  connection.setPlaylistDocument(request_.document);
  connection.setStartClipUniqueID(request_.startClipUniqueID.value_or(""));
  connection.setStartClipOffset(request_.startClipOffset);
}

void PlaylistTransfer::watchForLinkClose(const NodeConnectionPtr& connection) {
  // The close empties the connection's queue: the steps waiting there are
  // gone, whoever still holds this transfer.
  linkClosedObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kNodeConnectionDidCloseNotification, connection.get(),
      [weak = weak_from_this(), connection = std::weak_ptr<NodeConnection>(connection)](const platform::Notification&) {
        if (const auto self = weak.lock())
          self->finish(Outcome::LinkClosed, "Playlist transfer to " + nodeName(connection.lock()) +
                                                " ended: the link closed");
      });
}

void PlaylistTransfer::queue(std::string text, const char* selector, Step step) {
  const auto connection = connection_.lock();
  if (!connection) {
    finish(Outcome::LinkClosed, "Playlist transfer ended: the node is gone");
    return;
  }
  if (!checkedNodeCommandText(text)) {
    finish(Outcome::CommandNotWritable);
    return;
  }
  // The handler owns the transfer until the reply comes (or the queue drops
  // the command).
  auto command = ControlCommand::make(
      std::move(text), selector,
      [self = shared_from_this(), step](const std::shared_ptr<ControlCommand>& answered) {
        self->replyArrived(step, answered);
      });
  command->setNodeConnection(connection);
  connection->addControlCommand(std::move(command));
}

void PlaylistTransfer::replyArrived(Step step, const std::shared_ptr<ControlCommand>& command) {
  if (outcome_) return;
  const std::string response = command->response();
  if (response.empty()) {
    // No reply: on a closed link the rest would wait in the queue and reach
    // the node only after it reconnected, out of context.
    const auto connection = connection_.lock();
    if (!connection || !connection->isConnected()) {
      finish(Outcome::LinkClosed, "Playlist transfer to " + nodeName(connection) +
                                      " ended: the link closed before \"" + commandWord(command->command()) +
                                      "\" was answered");
      return;
    }
  }
  (this->*step)(response);
}

void PlaylistTransfer::clearAllAnswered(const std::string&) {
  if (request_.document->playlist().empty()) {
    finish(Outcome::EmptyPlaylist, kEmptyPlaylistLine);
    return;
  }
  queue("plsetuniqueid " + request_.document->uniqueID(), kReceivedReplyToPlaylistSetUniqueIDSelector,
        &PlaylistTransfer::setUniqueIDAnswered);
}

void PlaylistTransfer::setUniqueIDAnswered(const std::string&) {
  queue(request_.document->loop() ? "plsetloopmode 1" : "plsetloopmode 0", kReceivedReplyToPlaylistSetLoopModeSelector,
        &PlaylistTransfer::setLoopModeAnswered);
}

void PlaylistTransfer::setLoopModeAnswered(const std::string&) {
  queue(request_.document->chain() ? "plsetchainmode 1" : "plsetchainmode 0",
        kReceivedReplyToPlaylistSetChainModeSelector, &PlaylistTransfer::setChainModeAnswered);
}

void PlaylistTransfer::setChainModeAnswered(const std::string&) {
  queue(request_.document->cueMode() ? "plsetcuemode 1" : "plsetcuemode 0", kReceivedReplyToPlaylistSetCueModeSelector,
        &PlaylistTransfer::setCueModeAnswered);
}

void PlaylistTransfer::setCueModeAnswered(const std::string&) {
  std::optional<platform::Array> items = itemsToSend();
  if (!items) return;
  auto text = nodeCommandPropertyListText(Value(std::move(*items)));
  if (!text) {
    finish(Outcome::CommandNotWritable,
           "The playlist could not be written for the node (" + text.error().localizedDescription + ")");
    return;
  }
  queue("pladditems " + *text, kReceivedReplyToPlaylistAddItemsSelector, &PlaylistTransfer::addItemsAnswered);
}

std::optional<platform::Array> PlaylistTransfer::itemsToSend() {
  const VideoPlaylistDocument::Rows rows = request_.document->playlist();
  if (rows.empty()) {
    finish(Outcome::EmptyPlaylist, kEmptyPlaylistLine);
    return std::nullopt;
  }
  platform::Array items;
  if (!rollsOverTwoNodes(*request_.document)) {
    items.reserve(rows.size());
    for (const auto& row : rows) items.emplace_back(row->dictionaryForNode());
    return items;
  }
  // Two nodes: this node gets the start row and the rows it chains into.
  const std::int64_t start =
      request_.startClipUniqueID ? request_.document->clipIndexWithUniqueID(*request_.startClipUniqueID) : 0;
  if (start == kNoClipIndex) {
    finish(Outcome::StartClipNotFound, kStartClipNotFoundLine);
    return std::nullopt;
  }
  for (std::size_t i = static_cast<std::size_t>(start); i < rows.size(); ++i) {
    items.emplace_back(rows[i]->dictionaryForNode());
    if (rows[i]->clipEndBehaviour() != ClipEndBehaviour::Chain) break;
  }
  return items;
}

void PlaylistTransfer::addItemsAnswered(const std::string& response) {
  if (response != kOKReply) {
    // The node may hold part of the list, or none: never start on it.
    finish(Outcome::ItemsRefused, "Error in pladditem (" + response + ")");
    return;
  }
  nodeHoldsPlaylist_ = true;
  releaseBusyMark();
  initializeOrStart();
}

void PlaylistTransfer::initializeOrStart() {
  const auto connection = connection_.lock();
  if (!connection) {
    finish(Outcome::LinkClosed, "Playlist transfer ended: the node is gone");
    return;
  }
  // No status yet (a link that opened moments ago) counts as not
  // initialised: a start command would be refused by such a node.
  const std::string status = Value(connection->currentStatus())[kNodeStatusStatusKey].stringOr("");
  if (status == kNodeStatusNotInitialized || status.empty()) {
    queue("pbinitialize", kReceivedReplyToPlaybackInitializeSelector, &PlaylistTransfer::initializeAnswered);
    return;
  }
  start();
}

void PlaylistTransfer::initializeAnswered(const std::string& response) {
  if (response != kOKReply) {
    finish(Outcome::InitializeRefused, "Error while trying to initialize the node for playback (" + response + ")");
    return;
  }
  start();
}

void PlaylistTransfer::start() {
  const auto connection = connection_.lock();
  if (!connection) {
    finish(Outcome::LinkClosed, "Playlist transfer ended: the node is gone");
    return;
  }
  const std::string startClip = request_.startClipUniqueID.value_or("");
  if (startClipBelongsToAnotherNode(request_.document.get(), startClip, connection->nodeUniqueID())) {
    finish(Outcome::SentWithoutStart);
    return;
  }
  queue(playbackStartCommandText(request_.cue, startClip, request_.startClipOffset),
        kReceivedReplyToPlaybackPlaySelector, &PlaylistTransfer::startAnswered);
}

void PlaylistTransfer::startAnswered(const std::string& response) {
  if (response != kOKReply) {
    finish(Outcome::StartRefused, "Error in pbplay (" + response + ")");
    return;
  }
  finish(Outcome::Started);
}

void PlaylistTransfer::finish(Outcome outcome, const std::string& logLine) {
  if (outcome_) return;
  outcome_ = outcome;
  linkClosedObserver_.reset();
  releaseBusyMark();
  if (!nodeHoldsPlaylist_) request_.document->setDirtyOnNode(request_.node, true);
  if (!logLine.empty()) writeToSystemLog(logLine);
  if (outcome == Outcome::ItemsRefused || outcome == Outcome::CommandNotWritable) {
    showWarning(kPlaylistTransferErrorTitle,
                "The Node " + nodeName(connection_.lock()) +
                    " did not take the playlist, so playback was not started." +
                    (logLine.empty() ? std::string() : " (" + logLine + ")"));
  }
  if (auto completion = std::move(completion_)) completion(outcome);
}

void PlaylistTransfer::releaseBusyMark() {
  if (!holdsBusyMark_) return;
  holdsBusyMark_ = false;
  if (const auto connection = connection_.lock()) connection->setIsModifyingPlaylist(false);
}

// ---- The operator's entry ----

std::shared_ptr<PlaylistTransfer> sendAndStartPlaylistDocument(const ConnectionLookup& lookup,
                                                               const std::shared_ptr<VideoPlaylistDocument>& document,
                                                               const std::optional<std::string>& startClipUniqueID,
                                                               double startClipOffset, bool cue,
                                                               PlaylistTransfer::Completion completion) {
  if (!document) return nullptr;
  const std::optional<std::string> startClip = nonEmpty(startClipUniqueID);
  const std::optional<PlaylistNode> node = document->nodeForStartClip(startClip);
  if (!node) {
    writeToSystemLog(kStartClipNotFoundLine);
    showWarning(kPlaylistTransferErrorTitle, "The clip to start is not in the playlist any more.");
    return nullptr;
  }
  const bool twoNodes = rollsOverTwoNodes(*document);
  const std::string nodeUniqueID = document->nodeUniqueID(*node).value_or("");
  const NodeConnectionPtr connection = nodeUniqueID.empty() || !lookup ? nullptr : lookup(nodeUniqueID);
  // The node's dirty flag stays set until its playlist is really sent.
  if (!connection) {
    showWarning(kNodeConnectionErrorTitle, kNodeNotFoundMessage);
    return nullptr;
  }
  PlaylistTransfer::Request request{document, startClip, startClipOffset, cue, *node};
  const bool dirty = *node == PlaylistNode::A ? document->dirtyOnNodeA() : document->dirtyOnNodeB();
  const std::string nodePlaylist = Value(connection->currentStatus())[kNodeStatusPlaylistUniqueIDKey].stringOr("");
  if (!twoNodes && !dirty && nodePlaylist == document->uniqueID()) {
    return PlaylistTransfer::startOnly(connection, std::move(request), std::move(completion));
  }
  if (connection->isModifyingPlaylist()) {
    if (!twoNodes) showWarning(kNodeBusyErrorTitle, kNodeBusyMessage);
    return nullptr;
  }
  document->takeDirtyFlag(*node);
  return PlaylistTransfer::sendAndStart(connection, std::move(request), std::move(completion));
}

}  // namespace nodes
