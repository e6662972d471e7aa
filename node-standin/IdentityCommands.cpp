// Identity and access: "version", "nodeuniqueid", "nodename", "lock",
// "unlock PASSWORD" and "setslavemode 0|1".

#include "node-standin/CommandTable.h"

namespace standin {
namespace {

platform::Result<Reply> version(CommandContext&) { return Reply::text(kNodeProtocolVersion); }

platform::Result<Reply> nodeUniqueID(CommandContext& context) {
  return Reply::text(context.node.identity().uniqueID);
}

platform::Result<Reply> nodeName(CommandContext& context) { return Reply::text(context.node.identity().name); }

platform::Result<Reply> lock(CommandContext& context) {
  context.authenticated = false;
  return Reply::ok();
}

// The password is the rest of the line as sent, blanks included. Without a
// node password any text unlocks (an empty one too).
platform::Result<Reply> unlock(CommandContext& context) {
  const std::string_view given = context.verbatimArguments;
  const std::optional<std::string>& password = context.node.password();
  if (password && given != *password) {
    context.authenticated = false;
    return commandError(NodeCommandErrorCode::Refused, "wrong password");
  }
  context.authenticated = true;
  return Reply::ok();
}

platform::Result<Reply> setSlaveMode(CommandContext& context) {
  const std::optional<std::string_view> word = context.arguments.word();
  const std::optional<bool> on = word ? parseFlag(*word) : std::nullopt;
  if (!on || !noMoreArguments(context)) return badArguments("setslavemode");
  context.node.setSlaveMode(*on);
  return Reply::ok();
}

constexpr CommandEntry kCommands[] = {
    {"version", CommandAccess::Query, version},
    {"nodeuniqueid", CommandAccess::Query, nodeUniqueID},
    {"nodename", CommandAccess::Query, nodeName},
    {"lock", CommandAccess::Query, lock},
    {"unlock", CommandAccess::Query, unlock},
    {"setslavemode", CommandAccess::Control, setSlaveMode},
};

}  // namespace

std::span<const CommandEntry> identityCommands() { return kCommands; }

platform::Error badArguments(std::string_view command) {
  return commandError(NodeCommandErrorCode::BadArguments, "bad arguments for " + std::string(command));
}

bool noMoreArguments(CommandContext& context) { return context.arguments.atEnd(); }

}  // namespace standin
