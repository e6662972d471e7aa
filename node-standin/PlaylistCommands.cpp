// The playlist: "plplaylist", "pllastchangenumber", "plclearall",
// "plsetuniqueid", "plsetloopmode", "plsetchainmode", "plsetcuemode",
// "pladditems", "pladditem", "plinsertitematindex", "plreplaceitematindex",
// "plremoveitematindex" and "plclearschedule". Clips arrive as XML property
// lists that span several lines of the one command line.

#include "node-standin/ClipInfo.h"
#include "node-standin/CommandTable.h"
#include "platform/PropertyList.h"

namespace standin {
namespace {

using platform::Value;

platform::Result<Value> propertyListArgument(CommandContext& context, std::string_view command) {
  const std::string_view text = context.arguments.rest();
  if (text.empty()) return badArguments(command);
  platform::Result<Value> value = platform::readPropertyList(text);
  if (!value) {
    return commandError(NodeCommandErrorCode::BadArguments,
                        std::string(command) + ": " + value.error().localizedDescription);
  }
  return value;
}

platform::Result<PlaylistEntry> entryArgument(CommandContext& context, std::string_view command) {
  platform::Result<Value> clip = propertyListArgument(context, command);
  if (!clip) return clip.error();
  return playlistEntryFromClipInfo(*clip, context.node.library(), context.node.identity());
}

platform::Result<std::size_t> indexArgument(CommandContext& context, std::string_view command) {
  const std::optional<std::string_view> text = context.arguments.word();
  const std::optional<std::uint64_t> index = text ? parseUnsigned(*text) : std::nullopt;
  if (!index) return badArguments(command);
  return static_cast<std::size_t>(*index);
}

platform::Result<Reply> replyFor(const platform::Status& status) {
  if (!status) return status.error();
  return Reply::ok();
}

platform::Result<Reply> playlist(CommandContext& context) {
  platform::Array clips;
  for (const PlaylistEntry& entry : context.node.playback().entries()) clips.emplace_back(entry.clipInfo);
  return Reply::propertyList(Value(std::move(clips)));
}

platform::Result<Reply> lastChangeNumber(CommandContext& context) {
  return Reply::text(std::to_string(context.node.playback().playlistChangeNumber()));
}

platform::Result<Reply> clearAll(CommandContext& context) {
  context.node.playback().clearAll();
  return Reply::ok();
}

platform::Result<Reply> setUniqueID(CommandContext& context) {
  const std::optional<std::string_view> id = context.arguments.word();
  if (!id || !noMoreArguments(context)) return badArguments("plsetuniqueid");
  context.node.playback().setPlaylistUniqueID(std::string(*id));
  return Reply::ok();
}

template <void (PlaybackModel::*setter)(bool)>
platform::Result<Reply> setMode(CommandContext& context) {
  const std::optional<std::string_view> word = context.arguments.word();
  const std::optional<bool> on = word ? parseFlag(*word) : std::nullopt;
  if (!on || !noMoreArguments(context)) return badArguments("plsetmode");
  (context.node.playback().*setter)(*on);
  return Reply::ok();
}

// All clips are checked before any is added: a bad list changes nothing.
platform::Result<Reply> addItems(CommandContext& context) {
  platform::Result<Value> list = propertyListArgument(context, "pladditems");
  if (!list) return list.error();
  const platform::Array* clips = list->array();
  if (!clips) return commandError(NodeCommandErrorCode::BadArguments, "pladditems: not an array");
  std::vector<PlaylistEntry> entries;
  entries.reserve(clips->size());
  for (const Value& clip : *clips) {
    platform::Result<PlaylistEntry> entry =
        playlistEntryFromClipInfo(clip, context.node.library(), context.node.identity());
    if (!entry) return entry.error();
    entries.push_back(std::move(entry.value()));
  }
  context.node.playback().appendEntries(std::move(entries));
  return Reply::ok();
}

platform::Result<Reply> addItem(CommandContext& context) {
  platform::Result<PlaylistEntry> entry = entryArgument(context, "pladditem");
  if (!entry) return entry.error();
  std::vector<PlaylistEntry> entries;
  entries.push_back(std::move(entry.value()));
  context.node.playback().appendEntries(std::move(entries));
  return Reply::ok();
}

platform::Result<Reply> insertItem(CommandContext& context) {
  platform::Result<std::size_t> index = indexArgument(context, "plinsertitematindex");
  if (!index) return index.error();
  platform::Result<PlaylistEntry> entry = entryArgument(context, "plinsertitematindex");
  if (!entry) return entry.error();
  return replyFor(context.node.playback().insertEntry(*index, std::move(entry.value())));
}

platform::Result<Reply> replaceItem(CommandContext& context) {
  platform::Result<std::size_t> index = indexArgument(context, "plreplaceitematindex");
  if (!index) return index.error();
  platform::Result<PlaylistEntry> entry = entryArgument(context, "plreplaceitematindex");
  if (!entry) return entry.error();
  return replyFor(context.node.playback().replaceEntry(*index, std::move(entry.value())));
}

platform::Result<Reply> removeItem(CommandContext& context) {
  platform::Result<std::size_t> index = indexArgument(context, "plremoveitematindex");
  if (!index) return index.error();
  if (!noMoreArguments(context)) return badArguments("plremoveitematindex");
  return replyFor(context.node.playback().removeEntry(*index));
}

// The stand-in runs no schedules: there is never one to clear.
platform::Result<Reply> clearSchedule(CommandContext&) { return Reply::ok(); }

constexpr CommandEntry kCommands[] = {
    {"plplaylist", CommandAccess::Query, playlist},
    {"pllastchangenumber", CommandAccess::Query, lastChangeNumber},
    {"plclearall", CommandAccess::Control, clearAll},
    {"plsetuniqueid", CommandAccess::Control, setUniqueID},
    {"plsetloopmode", CommandAccess::Control, setMode<&PlaybackModel::setLoopMode>},
    {"plsetchainmode", CommandAccess::Control, setMode<&PlaybackModel::setChainMode>},
    {"plsetcuemode", CommandAccess::Control, setMode<&PlaybackModel::setCueMode>},
    {"pladditems", CommandAccess::Control, addItems},
    {"pladditem", CommandAccess::Control, addItem},
    {"plinsertitematindex", CommandAccess::Control, insertItem},
    {"plreplaceitematindex", CommandAccess::Control, replaceItem},
    {"plremoveitematindex", CommandAccess::Control, removeItem},
    {"plclearschedule", CommandAccess::Control, clearSchedule},
};

}  // namespace

std::span<const CommandEntry> playlistCommands() { return kCommands; }

}  // namespace standin
