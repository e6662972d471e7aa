#pragma once
// NodePollingHooks: the media and attribute synchronisation steps that a
// NodeConnection's polling thread runs once after connecting
// (checkForMediaFolderChanges) and at every 51st tick (both), between its
// control-command runs.
//
// Installed on a connection with NodeConnection::setPollingHooks and shared by
// it; called on the connection's polling thread only. The steps talk to the
// node through the connection's query operations (sendXMLQuery and the get...
// family), which block for at most the reply limit each. They should return
// early when connection.hasQueuedControlCommands() (operator commands wait at
// most one query) and when !connection.isConnected().

namespace nodes {

class NodeConnection;

class NodePollingHooks {
 public:
  virtual ~NodePollingHooks() = default;
  virtual void checkForMediaFolderChanges(NodeConnection& connection) = 0;
  virtual void checkForAttributeChanges(NodeConnection& connection) = 0;
};

}  // namespace nodes
