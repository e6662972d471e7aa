#pragma once
// ControlCommand: an operator action (transport, playlist, lock, thumbnail)
// queued on a NodeConnection by the data source, sent by the connection's
// polling thread at its next tick with priority 2, and answered by calling
// the command's reply handler on the main thread.
//
// Shared through std::shared_ptr. The main thread fills the request fields
// and queues the command (NodeConnection::addControlCommand); from then on
// the polling thread writes the reply fields, and hands the command back to
// the main thread through its reply handler. Every accessor takes the
// command's private lock, so a stray read from another thread is safe too.
//
// Guarantees: a command whose reply never came (link closed, reply limit,
// refused text) still reaches its reply handler, with an empty response.
// Commands still queued when the link closes are dropped unanswered, as the
// connection's queue is emptied.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "nodes/media/TiffImage.h"

namespace nodes {

class NodeConnection;
class ControlCommand;

// The reply operation whose reply is a thumbnail: its XML reply holds TIFF
// data, decoded into responseImage instead of copied into response.
inline constexpr const char* kReceivedReplyToRequestThumbnailSelector = "receivedReplyToRequestThumbnail:";

class ControlCommand {
 public:
  // Called on the main thread with the answered command.
  using ReplyHandler = std::function<void(const std::shared_ptr<ControlCommand>& command)>;

  // Everything empty, no XML reply, no handler.
  ControlCommand() = default;
  ControlCommand(const ControlCommand&) = delete;
  ControlCommand& operator=(const ControlCommand&) = delete;

  // Convenience: a command with text, reply operation name and handler.
  static std::shared_ptr<ControlCommand> make(std::string command, std::string responseSelector = {},
                                              ReplyHandler replyHandler = {}, bool requiresXMLResponse = false);

  // Not retained.
  std::weak_ptr<NodeConnection> nodeConnection() const;
  void setNodeConnection(std::weak_ptr<NodeConnection> connection);
  bool requiresXMLResponse() const;
  void setRequiresXMLResponse(bool required);
  std::string command() const;
  void setCommand(std::string command);
  // The reply text (empty when none came).
  std::string response() const;
  void setResponse(std::string response);
  // The decoded thumbnail, or a cached one; nullptr when none.
  std::shared_ptr<const RGBAImage> responseImage() const;
  void setResponseImage(std::shared_ptr<const RGBAImage> image);
  // Name of the reply operation; empty for none.
  std::string responseSelector() const;
  void setResponseSelector(std::string selector);
  // What performs the reply operation (it captures its client, weakly when
  // the client may go away first); empty for none.
  ReplyHandler replyHandler() const;
  void setReplyHandler(ReplyHandler handler);

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<NodeConnection> nodeConnection_;      // guarded by mutex_
  bool requiresXMLResponse_ = false;                  // guarded by mutex_
  std::string command_;                               // guarded by mutex_
  std::string response_;                              // guarded by mutex_
  std::shared_ptr<const RGBAImage> responseImage_;    // guarded by mutex_
  std::string responseSelector_;                      // guarded by mutex_
  ReplyHandler replyHandler_;                         // guarded by mutex_
};

}  // namespace nodes
