// Media folders: "fmmediafoldersuniqueids", "fmmediafolderinfo",
// "fmlastchangenumber", "fmmediaitemsuniqueids", "fmmediaiteminfo",
// "fmmediaitemschangessince", "fmmediafolderupdate" and
// "fmmediaitemthumbnail". Queries first rescan the folders when the rescan
// interval has passed, so new files reach clients at their next check.

#include "node-standin/ClipInfo.h"
#include "node-standin/CommandTable.h"

namespace standin {
namespace {

using platform::Value;

platform::Error unknownFolder(std::string_view id) {
  return commandError(NodeCommandErrorCode::UnknownObject, "no media folder " + std::string(id));
}

// Reads the folder ID argument and finds the folder.
platform::Result<const MediaFolderIndex*> folderArgument(CommandContext& context, std::string_view command) {
  const std::optional<std::string_view> id = context.arguments.word();
  if (!id) return badArguments(command);
  const MediaFolderIndex* folder = context.node.library().folder(*id);
  if (!folder) return unknownFolder(*id);
  return folder;
}

platform::Result<Reply> folderUniqueIDs(CommandContext& context) {
  context.node.library().rescanIfDue();
  platform::Array ids;
  for (const MediaFolderIndex& folder : context.node.library().folders()) ids.emplace_back(folder.uniqueID());
  return Reply::propertyList(Value(std::move(ids)));
}

platform::Result<Reply> folderInfo(CommandContext& context) {
  platform::Result<const MediaFolderIndex*> folder = folderArgument(context, "fmmediafolderinfo");
  if (!folder) return folder.error();
  return Reply::propertyList(Value(platform::Dictionary{
      {"absolutePath", Value((*folder)->pathText())},
      {"caseSensitive", Value(true)},
      {"mediaFolderUniqueID", Value((*folder)->uniqueID())},
      {"lastChangeNumber", Value(static_cast<std::int64_t>((*folder)->lastChangeNumber()))},
  }));
}

platform::Result<Reply> lastChangeNumber(CommandContext& context) {
  context.node.library().rescanIfDue();
  platform::Result<const MediaFolderIndex*> folder = folderArgument(context, "fmlastchangenumber");
  if (!folder) return folder.error();
  return Reply::text(std::to_string((*folder)->lastChangeNumber()));
}

platform::Result<Reply> itemUniqueIDs(CommandContext& context) {
  context.node.library().rescanIfDue();
  platform::Result<const MediaFolderIndex*> folder = folderArgument(context, "fmmediaitemsuniqueids");
  if (!folder) return folder.error();
  platform::Array ids;
  for (const auto& [id, record] : (*folder)->items()) ids.emplace_back(id);
  return Reply::propertyList(Value(std::move(ids)));
}

// Reads folder and item ID arguments and finds the item.
platform::Result<MediaLibrary::Found> itemArguments(CommandContext& context, std::string_view command) {
  const std::optional<std::string_view> folderID = context.arguments.word();
  const std::optional<std::string_view> itemID = context.arguments.word();
  if (!folderID || !itemID) return badArguments(command);
  const std::optional<MediaLibrary::Found> found = context.node.library().findItem(*folderID, *itemID);
  if (!found) {
    return commandError(NodeCommandErrorCode::UnknownObject,
                        "no media item " + std::string(*itemID) + " in folder " + std::string(*folderID));
  }
  return *found;
}

platform::Result<Reply> itemInfo(CommandContext& context) {
  platform::Result<MediaLibrary::Found> found = itemArguments(context, "fmmediaiteminfo");
  if (!found) return found.error();
  if (!noMoreArguments(context)) return badArguments("fmmediaiteminfo");
  return Reply::propertyList(Value(mediaItemClipInfo(*found->folder, *found->item, context.node.identity())));
}

platform::Result<Reply> changesSince(CommandContext& context) {
  context.node.library().rescanIfDue();
  platform::Result<const MediaFolderIndex*> folder = folderArgument(context, "fmmediaitemschangessince");
  if (!folder) return folder.error();
  const std::optional<std::string_view> numberText = context.arguments.word();
  const std::optional<std::uint64_t> number = numberText ? parseChangeNumber(*numberText) : std::nullopt;
  if (!number || !noMoreArguments(context)) return badArguments("fmmediaitemschangessince");
  platform::Array changes;
  for (const MediaItemChange& change : (*folder)->changesSince(*number)) {
    changes.emplace_back(platform::Dictionary{
        {"changeType", Value(changeTypeName(change.type))},
        {"mediaItemUniqueID", Value(change.mediaItemUniqueID)},
        {"changeNumber", Value(static_cast<std::int64_t>(change.changeNumber))},
    });
  }
  return Reply::propertyList(Value(std::move(changes)));
}

// The optional path argument names a sub-folder to look at; the stand-in
// always lists the whole folder again.
platform::Result<Reply> folderUpdate(CommandContext& context) {
  const std::optional<std::string_view> id = context.arguments.word();
  if (!id) return badArguments("fmmediafolderupdate");
  if (!context.node.library().rescanFolder(*id)) return unknownFolder(*id);
  return Reply::ok();
}

platform::Result<Reply> thumbnail(CommandContext& context) {
  platform::Result<MediaLibrary::Found> found = itemArguments(context, "fmmediaitemthumbnail");
  if (!found) return found.error();
  const std::optional<std::string_view> positionText = context.arguments.word();
  const std::optional<double> position = positionText ? parseSeconds(*positionText) : std::nullopt;
  if (!position || !noMoreArguments(context)) return badArguments("fmmediaitemthumbnail");
  platform::Result<platform::Data> image = context.node.thumbnail(found->item->absolutePath, *position);
  if (!image) return image.error();
  return Reply::propertyList(Value(std::move(image.value())));
}

constexpr CommandEntry kCommands[] = {
    {"fmmediafoldersuniqueids", CommandAccess::Query, folderUniqueIDs},
    {"fmmediafolderinfo", CommandAccess::Query, folderInfo},
    {"fmlastchangenumber", CommandAccess::Query, lastChangeNumber},
    {"fmmediaitemsuniqueids", CommandAccess::Query, itemUniqueIDs},
    {"fmmediaiteminfo", CommandAccess::Query, itemInfo},
    {"fmmediaitemschangessince", CommandAccess::Query, changesSince},
    {"fmmediafolderupdate", CommandAccess::Query, folderUpdate},
    {"fmmediaitemthumbnail", CommandAccess::Query, thumbnail},
};

}  // namespace

std::span<const CommandEntry> mediaCommands() { return kCommands; }

}  // namespace standin
