#include "app/inspector/MetadataClipInspectorViewController.h"

#include "nodes/playlist/PlaylistItem.h"

namespace app::inspector {
namespace {

constexpr const char* kMetadataOrderDictKey = "metadataOrderDict";
constexpr const char* kMetadataShowDictKey = "metadataShowDict";
constexpr const char* kMetadataEntriesDidChangeNotification = "MetadataEntriesDidChange";

platform::Dictionary dictionaryDefault(const platform::UserDefaults& defaults, const char* key) {
  return defaults.dictionaryForKey(key).value_or(platform::Dictionary{});
}

}  // namespace

std::vector<nodes::Metadata> filteredMetadata(const std::vector<nodes::Metadata>& metadata,
                                              const platform::Dictionary& order, const platform::Dictionary& shown) {
  std::vector<nodes::Metadata> filtered;
  for (std::size_t position = 0; position < order.size(); ++position) {
    const auto key = order.find(std::to_string(position));
    if (key == order.end() || !key->second.isString()) continue;
    const auto show = shown.find(*key->second.string());
    if (show == shown.end() || !show->second.booleanOr(false)) continue;
    for (const nodes::Metadata& entry : metadata) {
      if (entry.key() == *key->second.string()) filtered.push_back(entry);
    }
  }
  return filtered;
}

MetadataClipInspectorViewController::MetadataClipInspectorViewController(ClipInspectorContext& context)
    : ClipInspectorViewController(context) {
  entriesObserver_ = context.notificationCenter().addObserver(
      kMetadataEntriesDidChangeNotification, nullptr, [this](const platform::Notification&) { updateContents(); });
}

void MetadataClipInspectorViewController::updateContents() {
  const PlaylistItems items = selectedPlaylistItems();
  if (items.size() != 1) {
    state_.selectionValidation = items.empty() ? kNoSelectionText : kMultipleSelectionText;
    state_.scrollViewHidden = true;
    state_.metadataArrayFiltered.clear();
  } else {
    state_.selectionValidation.clear();
    state_.scrollViewHidden = false;
    state_.metadataArrayFiltered =
        filteredMetadata(items.front()->metadataArray(), dictionaryDefault(context_.defaults(), kMetadataOrderDictKey),
                         dictionaryDefault(context_.defaults(), kMetadataShowDictKey));
  }
  refreshView();
}

std::optional<std::string> MetadataClipInspectorViewController::objectValue(const std::string& columnIdentifier,
                                                                            std::size_t row) const {
  if (row >= state_.metadataArrayFiltered.size()) return std::nullopt;
  const nodes::Metadata& entry = state_.metadataArrayFiltered[row];
  if (columnIdentifier == "key") return entry.key();
  if (columnIdentifier == "value") return entry.value();
  if (columnIdentifier == "type") return entry.type();
  return std::nullopt;
}

}  // namespace app::inspector
