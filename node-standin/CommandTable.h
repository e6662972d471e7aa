#pragma once
// The commands a node answers, grouped by area: each area's file gives a
// table of command words, whether the command needs an unlocked client, and
// the function that answers it. NodeSession joins the tables and dispatches.
//
// Command functions run on the server thread; they read their arguments from
// the context and answer a reply or an Error (refusals become "ERROR" or
// "LOCKED" in NodeReply).

#include <span>
#include <string_view>

#include "node-standin/CommandLine.h"
#include "node-standin/NodeReply.h"
#include "node-standin/NodeState.h"

namespace standin {

struct CommandContext {
  NodeState& node;
  bool& authenticated;  // this client's lock state
  ArgumentReader arguments;
  std::string_view verbatimArguments;  // NodeCommand::verbatimArguments
};

enum class CommandAccess {
  Query = 1,    // any client
  Control = 2,  // only a client that unlocked the node
};

using CommandFunction = platform::Result<Reply> (*)(CommandContext& context);

struct CommandEntry {
  std::string_view name;
  CommandAccess access;
  CommandFunction run;
};

std::span<const CommandEntry> identityCommands();   // version, name, ID, lock, unlock, slave mode
std::span<const CommandEntry> mediaCommands();      // "fm..."
std::span<const CommandEntry> attributeCommands();  // "at..."
std::span<const CommandEntry> playlistCommands();   // "pl..."
std::span<const CommandEntry> playbackCommands();   // "pb..."

// Shared by the command files: a refusal for bad arguments, and the check
// that no argument is left over.
platform::Error badArguments(std::string_view command);
bool noMoreArguments(CommandContext& context);

}  // namespace standin
