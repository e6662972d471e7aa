#include "node-standin/NodeSession.h"

namespace standin {
namespace {

constexpr std::size_t kLoggedExcerptBytes = 120;

// A line that starts with the unlock word carries a password, whatever else
// is wrong with it (a bad byte, a wrong case): only the word is logged.
bool carriesPassword(std::string_view line) {
  constexpr std::string_view kUnlock = "unlock";
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (line.size() < kUnlock.size()) return false;
  for (std::size_t i = 0; i < kUnlock.size(); ++i) {
    if ((line[i] | 0x20) != kUnlock[i]) return false;
  }
  return true;
}

// Client text for a log line: control characters shown as '?', cut short.
std::string excerpt(std::string_view text) {
  std::string result;
  for (const char c : text.substr(0, kLoggedExcerptBytes)) {
    const auto byte = static_cast<unsigned char>(c);
    result.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
  }
  if (text.size() > kLoggedExcerptBytes) result += "...";
  return result;
}

}  // namespace

NodeSession::NodeSession(NodeState& node, const CommandMap& commands, std::string peer)
    : node_(node), commands_(commands), peer_(std::move(peer)), authenticated_(!node.password().has_value()) {}

platform::Result<Reply> NodeSession::run(std::string_view line, std::string& commandName) {
  platform::Result<NodeCommand> command = parseNodeCommand(line);
  if (!command) return command.error();
  commandName = command->name;
  const auto entry = commands_.find(command->name);
  if (entry == commands_.end()) {
    return commandError(NodeCommandErrorCode::UnknownCommand, "unknown command");
  }
  if (entry->second.access == CommandAccess::Control && !authenticated_) {
    return commandError(NodeCommandErrorCode::Locked, "the client has not unlocked the node");
  }
  CommandContext context{node_, authenticated_, ArgumentReader(command->arguments), command->verbatimArguments};
  return entry->second.run(context);
}

std::string NodeSession::replyToLine(std::string_view line) {
  std::string commandName;
  const platform::Result<Reply> reply = run(line, commandName);
  const std::string shown = carriesPassword(line) ? "unlock" : excerpt(line);
  if (!reply) {
    node_.log("client " + peer_ + ": \"" + shown + "\" refused: " + reply.error().localizedDescription);
    return plainReplyBytes(replyWordFor(reply.error()));
  }
  platform::Result<std::string> bytes = replyBytes(reply.value());
  if (!bytes) {
    node_.log("client " + peer_ + ": \"" + shown + "\" has no reply: " + bytes.error().describe());
    return plainReplyBytes(kErrorWord);
  }
  return std::move(bytes.value());
}

std::string NodeSession::replyToOverlongLine() {
  node_.log("client " + peer_ + ": command line too long, closing the link");
  return plainReplyBytes(kErrorWord);
}

NodeSessionFactory::NodeSessionFactory(NodeState& node) : node_(node) {
  for (const auto table : {identityCommands(), mediaCommands(), attributeCommands(), playlistCommands(),
                           playbackCommands()}) {
    for (const CommandEntry& entry : table) commands_.emplace(std::string(entry.name), entry);
  }
}

std::unique_ptr<LineSession> NodeSessionFactory::newSession(const std::string& peer) {
  return std::make_unique<NodeSession>(node_, commands_, peer);
}

}  // namespace standin
