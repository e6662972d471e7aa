#pragma once
// NodeSession: one client of the node. It parses each command line, checks
// that control commands come from a client that unlocked the node, runs the
// command and turns the result into reply bytes (NodeReply). Refusals are
// logged with the command (passwords left out) and answered "ERROR" or
// "LOCKED"; the link stays open.
//
// A client starts unlocked when the node has no password, locked otherwise.
//
// NodeSessions: created by NodeSessionFactory for the server, one per
// client; server thread only. The factory borrows the node state, which
// outlives the server.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "node-standin/CommandTable.h"
#include "node-standin/LineSession.h"
#include "node-standin/NodeState.h"

namespace standin {

class NodeSession final : public LineSession {
 public:
  using CommandMap = std::map<std::string, CommandEntry, std::less<>>;

  NodeSession(NodeState& node, const CommandMap& commands, std::string peer);

  std::string replyToLine(std::string_view line) override;
  std::string replyToOverlongLine() override;

  bool isAuthenticated() const { return authenticated_; }

 private:
  platform::Result<Reply> run(std::string_view line, std::string& commandName);

  NodeState& node_;              // not owned; outlives the session
  const CommandMap& commands_;   // owned by the factory, which outlives the session
  std::string peer_;
  bool authenticated_;
};

class NodeSessionFactory final : public LineSessionFactory {
 public:
  explicit NodeSessionFactory(NodeState& node);  // node: not owned, outlives the factory

  std::unique_ptr<LineSession> newSession(const std::string& peer) override;

 private:
  NodeState& node_;
  NodeSession::CommandMap commands_;
};

}  // namespace standin
