// NodeConnection: the node commands, their replies and the status diff. All
// of it runs on the polling thread.

#include <utility>

#include "nodes/link/NodeConnection.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/PropertyList.h"

namespace nodes {
namespace {

void systemLog(const std::string& message) { platform::reportDiagnostic(platform::DiagnosticLevel::Warning, message); }

std::uint64_t unsignedValueOfReply(const std::string& text) {
  return static_cast<std::uint64_t>(integerValueOfReply(text));
}

// An array of strings; none for anything else.
std::optional<std::vector<std::string>> stringArray(const platform::Value& value) {
  const platform::Array* array = value.array();
  if (!array) return std::nullopt;
  std::vector<std::string> strings;
  strings.reserve(array->size());
  for (const platform::Value& item : *array) {
    if (const std::string* text = item.string()) strings.push_back(*text);
  }
  return strings;
}

// The string test of the status diff: a missing value on either side counts
// as a change.
bool stringsDiffer(const platform::Value& oldValue, const platform::Value& newValue) {
  const std::string* oldText = oldValue.string();
  const std::string* newText = newValue.string();
  return !oldText || !newText || *oldText != *newText;
}

bool doublesDiffer(const platform::Value& oldValue, const platform::Value& newValue) {
  return oldValue.realOr(0.0) != newValue.realOr(0.0);  // NaN counts as a change
}

bool booleansDiffer(const platform::Value& oldValue, const platform::Value& newValue) {
  return oldValue.booleanOr(false) != newValue.booleanOr(false);
}

}  // namespace

std::shared_ptr<TelnetCommand> NodeConnection::sendCommandSynchronously(std::string text, ReplyForm form,
                                                                        std::int32_t priority) {
  auto command = std::make_shared<TelnetCommand>(std::move(text), priority, form == ReplyForm::XML);
  telnetController_.processCommandSynchronously(command);
  return command;
}

// Replies are made fit for the property lists they end up in (the saved node
// list, documents): one control character from a node must not make the
// operator's settings unwritable.
std::optional<std::string> NodeConnection::sendPlainQuery(std::string text, std::int32_t priority) {
  const auto command = sendCommandSynchronously(std::move(text), ReplyForm::Plain, priority);
  if (!command->hasResponse()) return std::nullopt;
  return platform::propertyListSafeText(command->responseString());
}

platform::Result<platform::Value> NodeConnection::sendXMLQuery(std::string text, std::int32_t priority) {
  platform::Result<platform::Value> reply =
      sendCommandSynchronously(std::move(text), ReplyForm::XML, priority)->responsePropertyList();
  if (reply.ok()) platform::makePropertyListSafe(*reply);
  return reply;
}

std::uint64_t NodeConnection::getVersion() { return unsignedValueOfReply(sendPlainQuery("version").value_or("")); }

std::string NodeConnection::getNodeUniqueID() {
  std::string uniqueID = sendPlainQuery("nodeuniqueid").value_or("");
  setNodeUniqueID(uniqueID);
  return uniqueID;
}

std::string NodeConnection::getNodeName() {
  std::string nodeName = sendPlainQuery("nodename").value_or("");
  setName(nodeName);
  return nodeName;
}

std::optional<std::vector<std::string>> NodeConnection::getMediaFolderUniqueIDs() {
  auto reply = sendXMLQuery("fmmediafoldersuniqueids");
  if (!reply.ok()) {
    systemLog("Invalid Unique id XML received from Telnet: " + reply.error().localizedDescription);
    return std::nullopt;
  }
  return stringArray(*reply);
}

std::optional<std::vector<std::string>> NodeConnection::getPossibleClipAttributeNames() {
  auto reply = sendXMLQuery("atattributenames");
  if (!reply.ok()) {
    systemLog("Invalid Unique id XML received from Telnet: " + reply.error().localizedDescription);
    return std::nullopt;
  }
  return stringArray(*reply);
}

std::optional<std::string> NodeConnection::getMediaFolderPathForFolderWithUniqueID(std::string_view folderUniqueID,
                                                                                   bool* caseSensitive) {
  auto reply = sendXMLQuery("fmmediafolderinfo " + std::string(folderUniqueID));
  if (!reply.ok() || !reply->isDictionary()) return std::nullopt;
  if (caseSensitive) *caseSensitive = (*reply)["caseSensitive"].booleanOr(false);
  const std::string* path = (*reply)["absolutePath"].string();
  if (!path) return std::nullopt;
  return *path;
}

std::uint64_t NodeConnection::getLastChangeNumberForClipAttributes() {
  return unsignedValueOfReply(sendPlainQuery("atlastchangenumber").value_or(""));
}

std::uint64_t NodeConnection::getLastChangeNumberForPlaylist() {
  return unsignedValueOfReply(sendPlainQuery("pllastchangenumber").value_or(""));
}

std::uint64_t NodeConnection::getLastChangeNumberForMediaFolder(std::string_view folderUniqueID) {
  return unsignedValueOfReply(sendPlainQuery("fmlastchangenumber " + std::string(folderUniqueID)).value_or(""));
}

std::optional<std::vector<std::string>> NodeConnection::getMediaItemUniqueIDsForMediaFolderUniqueID(
    std::string_view folderUniqueID) {
  auto reply = sendXMLQuery("fmmediaitemsuniqueids " + std::string(folderUniqueID));
  if (!reply.ok()) return std::nullopt;
  return stringArray(*reply);
}

std::optional<platform::Array> NodeConnection::getCurrentPlaylist() {
  auto reply = sendXMLQuery("plplaylist");
  if (!reply.ok() || !reply->isArray()) return std::nullopt;
  return std::move(*reply->array());
}

void NodeConnection::addItemToPlaylist(const platform::Dictionary& item) {
  auto text = platform::writePropertyList(platform::Value(item));
  if (!text.ok()) {
    systemLog(description() + ": playlist item not sent: " + text.error().localizedDescription);
    return;
  }
  sendCommandSynchronously("pladditem " + *text, ReplyForm::Plain, kTelnetPriorityControl);
}

void NodeConnection::checkForPlaylistChanges() {
  const std::uint64_t number = getLastChangeNumberForPlaylist();
  if (number <= playlistLastChangeNumber()) return;
  auto playlist = getCurrentPlaylist();
  // Without the playlist the number is kept, so the next check asks again.
  if (!playlist) return;
  setCurrentPlaylist(std::move(*playlist));
  setPlaylistLastChangeNumber(number);
  if (auto delegate = lockedDelegate()) delegate->nodePlaylistDidChangeForNode(shared_from_this());
}

void NodeConnection::processControlCommandsAndUpdateStatus() {
  // Only the commands queued when the step began: a reply handler that queues
  // the next step of a chain is served at the next tick.
  std::size_t budget = 0;
  {
    std::lock_guard lock(controlCommandsMutex_);
    budget = controlCommands_.size();
  }
  for (; budget > 0 && isConnected(); --budget) {
    std::shared_ptr<ControlCommand> control;
    {
      std::lock_guard lock(controlCommandsMutex_);
      if (controlCommands_.empty()) return;
      control = controlCommands_.front();
    }
    // Sent without the queue's lock: queuing from the main thread never waits
    // for a reply.
    auto command = std::make_shared<TelnetCommand>(control->command(), kTelnetPriorityControl,
                                                   control->requiresXMLResponse());
    const std::string selector = control->responseSelector();
    command->setResponseSelector(selector);
    telnetController_.processCommandSynchronously(command);

    control->setResponseImage(nullptr);
    if (selector != kReceivedReplyToRequestThumbnailSelector) {
      control->setResponse(platform::propertyListSafeText(command->responseString()));
    } else if (command->hasResponse() && command->responseString().starts_with("<?xml ")) {
      if (auto reply = command->responsePropertyList(); reply.ok() && reply->isData()) {
        if (auto image = imageFromTiffData(*reply->data()); image.ok()) {
          control->setResponseImage(std::make_shared<const RGBAImage>(std::move(*image)));
        }
      }
    }
    if (auto handler = control->replyHandler()) {
      platform::DispatchQueue::main().async([handler = std::move(handler), control] { handler(control); });
    }
    std::lock_guard lock(controlCommandsMutex_);
    // By identity: the queue may have been emptied by a close meanwhile.
    std::erase(controlCommands_, control);
  }
}

bool NodeConnection::checkIfLockedItemsArrayHasChanged(const platform::Value& oldLockedClips,
                                                       const platform::Value& newLockedClips) {
  static const platform::Array kNone;
  const platform::Array& oldArray = oldLockedClips.array() ? *oldLockedClips.array() : kNone;
  const platform::Array& newArray = newLockedClips.array() ? *newLockedClips.array() : kNone;
  if (oldArray.size() != newArray.size()) return true;
  for (std::size_t i = 0; i < oldArray.size(); ++i) {
    if (stringsDiffer(oldArray[i], newArray[i])) return true;
  }
  return false;
}

void NodeConnection::checkPlaybackStatus() {
  auto reply = sendXMLQuery("pbstatus", kTelnetPriorityControl);
  if (!reply.ok() || !reply->isDictionary()) return;
  reportStatusDifferences(currentStatus(), std::move(*reply->dictionary()));
}

void NodeConnection::reportStatusDifferences(const platform::Dictionary& oldStatus, platform::Dictionary newStatus) {
  // Looked up in place: a status poll copies neither dictionary.
  static const platform::Value& none = *new platform::Value();
  const auto in = [](const platform::Dictionary& status, const char* key) -> const platform::Value& {
    const auto found = status.find(std::string_view(key));
    return found == status.end() ? none : found->second;
  };
  const auto o = [&](const char* key) -> const platform::Value& { return in(oldStatus, key); };
  const auto n = [&](const char* key) -> const platform::Value& { return in(newStatus, key); };
  const auto delegate = lockedDelegate();
  const auto self = shared_from_this();
  const auto report = [&](void (NodeConnectionDelegate::*operation)(const platform::Dictionary&,
                                                                    const NodeConnectionPtr&)) {
    if (delegate) (delegate.get()->*operation)(newStatus, self);
  };

  if (const auto oldDate = o(kNodeStatusCurrentDateTimeKey).date();
      oldDate && oldDate != n(kNodeStatusCurrentDateTimeKey).date()) {
    report(&NodeConnectionDelegate::nodeCurrentDateTimeChanged);
  }
  if (doublesDiffer(o(kNodeStatusSchedulerDelayKey), n(kNodeStatusSchedulerDelayKey))) {
    report(&NodeConnectionDelegate::nodeCurrentDelayChanged);
  }
  if (checkIfLockedItemsArrayHasChanged(o(kNodeStatusLockedClipsKey), n(kNodeStatusLockedClipsKey))) {
    report(&NodeConnectionDelegate::nodeLockedClipsChanged);
  }
  if (stringsDiffer(o(kNodeStatusPlaylistUniqueIDKey), n(kNodeStatusPlaylistUniqueIDKey))) {
    report(&NodeConnectionDelegate::nodePlaybackPlaylistUniqueIDChanged);
  }
  if (stringsDiffer(o(kNodeStatusClipPlaybackUniqueIDKey), n(kNodeStatusClipPlaybackUniqueIDKey))) {
    report(&NodeConnectionDelegate::nodePlaybackClipUniqueIDChanged);
  }
  if (booleansDiffer(o(kNodeStatusLoopModeKey), n(kNodeStatusLoopModeKey))) {
    report(&NodeConnectionDelegate::nodePlaybackLoopModeChanged);
  }
  if (booleansDiffer(o(kNodeStatusChainModeKey), n(kNodeStatusChainModeKey))) {
    report(&NodeConnectionDelegate::nodePlaybackChainModeChanged);
  }
  if (booleansDiffer(o(kNodeStatusCueModeKey), n(kNodeStatusCueModeKey))) {
    report(&NodeConnectionDelegate::nodePlaybackCueModeChanged);
  }
  if (stringsDiffer(o(kNodeStatusStatusKey), n(kNodeStatusStatusKey)) &&
      o(kNodeStatusStatusKey).stringOr("") != "CLOSED") {
    report(&NodeConnectionDelegate::nodePlaybackStatusChanged);
  }
  if (doublesDiffer(o(kNodeStatusPositionKey), n(kNodeStatusPositionKey))) {
    report(&NodeConnectionDelegate::nodePlaybackClipPositionChanged);
  }
  const platform::Value newScheduleID = n(kNodeStatusScheduleUniqueIDKey);
  const bool scheduleChanged = newScheduleID.isString() && o(kNodeStatusScheduleUniqueIDKey) != newScheduleID;
  const bool authenticationChanged = booleansDiffer(o(kNodeStatusIsAuthenticatedKey), n(kNodeStatusIsAuthenticatedKey));
  setCurrentStatus(newStatus);
  if (scheduleChanged && delegate) delegate->nodeScheduleUniqueIDDidChange(*newScheduleID.string(), self);
  if (authenticationChanged) report(&NodeConnectionDelegate::nodeAuthenticationChanged);
}

}  // namespace nodes
