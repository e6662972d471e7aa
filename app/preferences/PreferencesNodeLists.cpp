// The preferences window's node lists: the media folder equivalents and the
// nodes entered by address.

#include <algorithm>

#include "app/preferences/PreferenceInputChecks.h"
#include "app/preferences/PreferencesWindowController.h"
#include "nodes/link/DataSource.h"

namespace app::preferences {
namespace {

std::optional<platform::Dictionary> savedNodeWithUniqueID(const platform::UserDefaults& defaults,
                                                          const std::string& nodeUniqueID) {
  for (const platform::Value& entry : defaults.arrayForKey(nodes::kDiscoveredNodesKey).value_or(platform::Array{})) {
    if (entry.isDictionary() && entry[nodes::kSavedNodeUniqueIDKey].stringOr("") == nodeUniqueID) {
      return *entry.dictionary();
    }
  }
  return std::nullopt;
}

const PopUpItem* chosenItem(const ControlState& popUp) {
  if (!popUp.selectedItem || *popUp.selectedItem >= popUp.items.size()) return nullptr;
  return &popUp.items[*popUp.selectedItem];
}

}  // namespace

// ---- Media folder equivalents ----

void PreferencesWindowController::reloadMediaFolderEquivalents() {
  mediaFolderLocalEquivalentArray_ = nodes::MediaFolderLocalEquivalent::savedEquivalents(defaults_);
  tableSelectionChanged(kMediaFolderTableViewOutlet, {});
  reloadTable(kMediaFolderTableViewOutlet);
}

void PreferencesWindowController::updateMediaFoldersInfoInPreference() {
  nodes::MediaFolderLocalEquivalent::saveEquivalents(mediaFolderLocalEquivalentArray_, defaults_);
  (void)defaults_.synchronize();
}

void PreferencesWindowController::fillMediaFolderNodesPopUp() {
  ControlState& popUp = state(kNodesPopUpButtonOutlet);
  const PopUpItem* chosen = chosenItem(popUp);
  const std::optional<std::string> chosenID = chosen ? chosen->representedObject : std::nullopt;
  popUp.items.clear();
  popUp.selectedItem.reset();
  for (const PreferencesNode& node : nodes_.nodes()) {
    if (chosenID == node.nodeUniqueID) popUp.selectedItem = popUp.items.size();
    popUp.items.push_back({node.name, node.nodeUniqueID});
  }
  if (!popUp.selectedItem && !popUp.items.empty()) popUp.selectedItem = 0;
  changed(kNodesPopUpButtonOutlet);
}

void PreferencesWindowController::nodesPopUpButtonPushed() {
  ControlState& media = state(kMediaPopUpButtonOutlet);
  media.items.clear();
  media.selectedItem.reset();
  const PopUpItem* node = chosenItem(control(kNodesPopUpButtonOutlet));
  if (node && node->representedObject) {
    if (std::optional<platform::Dictionary> saved = savedNodeWithUniqueID(defaults_, *node->representedObject)) {
      const platform::Value& folders = (*saved)[nodes::kSavedNodeMediaFoldersKey];
      for (const platform::Value& folder : folders.isArray() ? *folders.array() : platform::Array{}) {
        const std::string* path = folder["mediaFolderPath"].string();
        if (!path) continue;
        const std::string* uniqueID = folder["mediaFolderUniqueID"].string();
        media.items.push_back({*path, uniqueID ? std::optional<std::string>(*uniqueID) : std::nullopt});
      }
    }
  }
  if (!media.items.empty()) media.selectedItem = 0;
  changed(kMediaPopUpButtonOutlet);
}

void PreferencesWindowController::openMediaFolderEquivalentSheet(std::optional<std::size_t> editedRow) {
  state(kNodesPopUpButtonOutlet) = ControlState{};
  fillMediaFolderNodesPopUp();
  ControlState& nodesPopUp = state(kNodesPopUpButtonOutlet);
  ControlState& path = state(kEquivalentLocalPathFieldOutlet);
  path.text.clear();
  if (editedRow) {
    const nodes::MediaFolderLocalEquivalent& edited = mediaFolderLocalEquivalentArray_[*editedRow];
    path.text = edited.equivalentLocalPath();
    for (std::size_t i = 0; i < nodesPopUp.items.size(); ++i) {
      if (nodesPopUp.items[i].title == edited.nodeName()) nodesPopUp.selectedItem = i;
    }
  } else if (!nodesPopUp.items.empty()) {
    nodesPopUp.selectedItem = 0;
  }
  changed(kNodesPopUpButtonOutlet);
  changed(kEquivalentLocalPathFieldOutlet);
  nodesPopUpButtonPushed();
  if (editedRow) {
    ControlState& media = state(kMediaPopUpButtonOutlet);
    const std::string& folder = mediaFolderLocalEquivalentArray_[*editedRow].mediaFolderPath();
    for (std::size_t i = 0; i < media.items.size(); ++i) {
      if (media.items[i].title == folder) media.selectedItem = i;
    }
    changed(kMediaPopUpButtonOutlet);
  }
  editingMFEquiv_ = editedRow.has_value();
  if (view_) view_->beginSheet(kMediaFolderEquivalentPanelOutlet);
}

bool PreferencesWindowController::mediaFolderEquivalentSheetDidEnd() {
  const PopUpItem* node = chosenItem(control(kNodesPopUpButtonOutlet));
  const PopUpItem* folder = chosenItem(control(kMediaPopUpButtonOutlet));
  const std::string& path = control(kEquivalentLocalPathFieldOutlet).text;
  // An entry without a node, folder or path would match nothing.
  if (!node || !folder || path.empty()) {
    if (view_) {
      view_->showSheetProblem(kMediaFolderEquivalentPanelOutlet,
                              "Choose a node, one of its media folders and a local folder.");
    }
    return false;
  }
  nodes::MediaFolderLocalEquivalent equivalent;
  equivalent.setEquivalentLocalPath(path);
  equivalent.setMediaFolderPath(folder->title);
  equivalent.setMediaFolderUniqueID(folder->representedObject.value_or(""));
  equivalent.setNodeName(node->title);
  equivalent.setNodeUniqueID(node->representedObject.value_or(""));
  const std::vector<std::size_t> selected = selectedRows(kMediaFolderTableViewOutlet);
  if (editingMFEquiv_ && !selected.empty()) {
    mediaFolderLocalEquivalentArray_[selected.front()] = std::move(equivalent);
  } else {
    mediaFolderLocalEquivalentArray_.push_back(std::move(equivalent));
  }
  editingMFEquiv_ = false;
  reloadTable(kMediaFolderTableViewOutlet);
  updateMediaFoldersInfoInPreference();
  return true;
}

std::filesystem::path PreferencesWindowController::folderChooserStart() const {
  const std::optional<std::string> prefix = defaults_.stringForKey(kPathPrefixKey);
  if (!prefix || prefix->empty()) return {};
  return std::filesystem::path(*prefix).parent_path();
}

void PreferencesWindowController::folderChosen(const std::filesystem::path& folder) {
  state(kEquivalentLocalPathFieldOutlet).text = folder.string();
  changed(kEquivalentLocalPathFieldOutlet);
}

// ---- Static nodes ----

void PreferencesWindowController::reloadStaticNodes() {
  staticNodeInfos_.clear();
  for (const platform::Value& entry : defaults_.arrayForKey(nodes::kDiscoveredNodesKey).value_or(platform::Array{})) {
    // Entries without the key are neither found nor entered: skipped.
    const platform::Value& discovered = entry[nodes::kSavedNodeDiscoveredByNetServicesKey];
    if (!entry.isDictionary() || discovered.isNone() || discovered.booleanOr(true)) continue;
    nodes::StaticNodeInfo info;
    (void)info.loadFromDict(*entry.dictionary());
    staticNodeInfos_.push_back(std::move(info));
  }
  tableSelectionChanged(kStaticIPTableViewOutlet, {});
  reloadTable(kStaticIPTableViewOutlet);
}

bool PreferencesWindowController::staticIPSheetDidEnd() {
  std::variant<StaticNodeAddress, std::string> checked =
      checkStaticNodeAddress(control(kStaticIPTextFieldOutlet).text, control(kPortNumberTextFieldOutlet).text);
  if (const std::string* reason = std::get_if<std::string>(&checked)) {
    if (view_) view_->showSheetProblem(kStaticIPPanelOutlet, *reason);
    return false;
  }
  const StaticNodeAddress& address = std::get<StaticNodeAddress>(checked);
  nodes::StaticNodeInfo info;
  info.setIpAdress(address.address);
  info.setPortNumber(address.portNumber);
  if (std::find(staticNodeInfos_.begin(), staticNodeInfos_.end(), info) != staticNodeInfos_.end()) {
    if (view_) {
      view_->showSheetProblem(kStaticIPPanelOutlet,
                              address.address + " port " + address.portNumber + " is already listed.");
    }
    return false;
  }
  staticNodeInfos_.push_back(info);
  nodes_.createStaticNode(info);
  tableSelectionChanged(kStaticIPTableViewOutlet, {});
  reloadTable(kStaticIPTableViewOutlet);
  if (view_) view_->selectTableRows(kStaticIPTableViewOutlet, {});
  return true;
}

void PreferencesWindowController::removeSelectedStaticNode() {
  const std::vector<std::size_t> rows = selectedRows(kStaticIPTableViewOutlet);
  if (rows.empty()) return;
  const nodes::StaticNodeInfo removed = staticNodeInfos_[rows.front()];
  nodes_.deleteStaticNode(removed);
  staticNodeInfos_.erase(staticNodeInfos_.begin() + static_cast<std::ptrdiff_t>(rows.front()));
  tableSelectionChanged(kStaticIPTableViewOutlet, {});
  reloadTable(kStaticIPTableViewOutlet);
}

}  // namespace app::preferences
