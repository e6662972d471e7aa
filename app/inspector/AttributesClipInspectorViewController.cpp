#include "app/inspector/AttributesClipInspectorViewController.h"

#include <algorithm>
#include <cctype>

#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app::inspector {
namespace {

std::optional<std::string> attributeText(const std::optional<platform::Dictionary>& attributes, const std::string& name) {
  if (!attributes) return std::nullopt;
  const auto found = attributes->find(name);
  if (found == attributes->end()) return std::nullopt;
  return found->second.isString() ? *found->second.string() : found->second.describe();
}

bool lessCaseInsensitive(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) < std::tolower(y);
  });
}

}  // namespace

AttributesClipInspectorViewController::AttributesClipInspectorViewController(ClipInspectorContext& context)
    : ClipInspectorViewController(context) {
  attributesObserver_ = context.notificationCenter().addObserver(
      kPossibleClipAttributeDidChangeNotification, nullptr, [this](const platform::Notification&) { updateContents(); });
}

void AttributesClipInspectorViewController::hideOutline(const char* reason) {
  state_.selectionValidation = reason;
  state_.scrollViewHidden = true;
  refreshView();
}

void AttributesClipInspectorViewController::updateContents() {
  if (lastUpdateComeFromInspector()) return hideOutline(kMediaBrowserAttributesText);
  const PlaylistItems items = selectedPlaylistItems();
  const auto document = playlistDocument();
  if (items.empty()) return hideOutline(kNoSelectionText);
  std::optional<std::string> node = document->nodeAUniqueID();
  if (document->abRoll()) {
    const std::string first = items.front()->nodeUniqueID();
    if (std::any_of(items.begin(), items.end(), [&](const auto& item) { return item->nodeUniqueID() != first; })) {
      disabledPluginsInterface(false);
      return hideOutline(kSelectionFromMultipleNodesText);
    }
    if (items.front()->abRollClipPosition() == nodes::ABRollClipPosition::NodeB) node = document->nodeBUniqueID();
  }
  updatePluginViewControllersWithClipAttributes(node ? context_.possibleClipAttributes(*node)
                                                     : std::vector<std::shared_ptr<nodes::Attribute>>{});
  state_.scrollViewHidden = false;
  state_.selectionValidation.clear();
  disabledPluginsInterface(!canModifyCurrentPlaylist());
}

void AttributesClipInspectorViewController::updatePluginViewControllersWithClipAttributes(
    const std::vector<std::shared_ptr<nodes::Attribute>>& attributes) {
  std::vector<std::shared_ptr<nodes::Attribute>> writable;
  for (const auto& attribute : attributes) {
    if (attribute && attribute->isWritable() && attribute->name()) writable.push_back(attribute->copy());
  }
  std::erase_if(attributeViewControllers_, [&](const auto& entry) {
    return std::none_of(writable.begin(), writable.end(), [&](const auto& a) { return *a->name() == entry.first; });
  });
  std::map<std::string, std::vector<std::shared_ptr<nodes::Attribute>>, bool (*)(const std::string&, const std::string&)>
      groups(&lessCaseInsensitive);
  for (const auto& attribute : writable) {
    auto& editor = attributeViewControllers_[*attribute->name()];
    if (editor) {
      editor->setAttribute(attribute);
    } else {
      editor = std::make_unique<AttributeViewController>(attribute, *this);
    }
    editor->updateInterface();
    editor->disabledInterface(interfaceDisabled_);
    groups[attribute->pluginName().value_or("")].push_back(attribute);
  }
  state_.plugins.clear();
  for (auto& [plugin, group] : groups) {
    std::sort(group.begin(), group.end(), [](const auto& a, const auto& b) { return a->compareByName(*b) < 0; });
    std::vector<std::string> names;
    for (const auto& attribute : group) names.push_back(*attribute->name());
    state_.plugins.emplace_back(plugin, std::move(names));
  }
  refreshView();
}

bool AttributesClipInspectorViewController::nodeUsedIsUnlocked() const {
  const auto document = playlistDocument();
  if (!document) return false;
  const auto a = document->nodeAUniqueID();
  const auto b = document->nodeBUniqueID();
  const bool unlockedA = a && context_.isNodeUnlocked(*a);
  if (document->abRoll() && b) return unlockedA && context_.isNodeUnlocked(*b);
  return unlockedA;
}

void AttributesClipInspectorViewController::disabledPluginsInterface(bool disabled) {
  interfaceDisabled_ = disabled;
  for (auto& [name, editor] : attributeViewControllers_) editor->disabledInterface(disabled);
  refreshView();
}

void AttributesClipInspectorViewController::saveAllChanges() {
  for (auto& [name, editor] : attributeViewControllers_) editor->saveAttributeValueFields();
}

AttributeViewController* AttributesClipInspectorViewController::editor(const std::string& attributeName) const {
  const auto found = attributeViewControllers_.find(attributeName);
  return found == attributeViewControllers_.end() ? nullptr : found->second.get();
}

std::optional<std::string> AttributesClipInspectorViewController::valueForAttributeName(const std::string& name) const {
  const PlaylistItems items = selectedPlaylistItems();
  if (std::none_of(items.begin(), items.end(), [&](const auto& item) { return attributeText(item->attributes(), name); })) {
    return std::nullopt;
  }
  const std::optional<std::string> first = attributeText(items.front()->attributes(), name);
  for (const auto& item : items) {
    if (attributeText(item->attributes(), name) != first) return std::string();
  }
  return first;
}

void AttributesClipInspectorViewController::setValue(const std::optional<std::string>& value, const std::string& name) {
  if (lastUpdateComeFromInspector()) return;
  for (const auto& item : selectedPlaylistItems()) {
    platform::Dictionary attributes = item->attributes().value_or(platform::Dictionary{});
    if (value) {
      attributes[name] = platform::Value(*value);
    } else {
      attributes.erase(name);
    }
    item->setAttributes(std::move(attributes));
  }
  replaceCurrentClipsInCurrentNode();
  if (name.starts_with("Clip End")) {
    if (const auto document = playlistDocument()) document->updatePlaylistMovieAndStartTimes();
  }
  refreshView();
}

void AttributesClipInspectorViewController::recordChange() {
  if (const auto document = playlistDocument()) {
    document->updateChangeCount(nodes::VideoPlaylistDocument::DocumentChange::Done);
  }
}

void AttributesClipInspectorViewController::replaceCurrentClipsInCurrentNode() {
  const auto document = playlistDocument();
  if (!document) return;
  const bool replacedDirectly = replaceSelectedClipsOnNodes(*document, true) > 0 && !document->abRoll();
  // In A/B roll the other node's copy needs the playlist window too.
  if (!replacedDirectly) postInspectorDidChangeClips(*document);
}

}  // namespace app::inspector
