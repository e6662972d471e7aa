#include "app/preferences/PreferencesWindowController.h"

#include <algorithm>

#include "app/preferences/MetadataRowDrag.h"
#include "app/preferences/PreferenceInputChecks.h"
#include "app/shell/RegisteredDefaults.h"
#include "control/gpi/CVNTrelvaneController.h"
#include "control/gpi/GPIDeviceController.h"
#include "foundation/CVNAlertUtilities.h"
#include "nodes/link/DataSource.h"

namespace app::preferences {
namespace {

// Each mode box and the boxes a click on it turns off, and whether it turns
// cue mode on (A/B roll needs its nodes cued).
struct ModeBoxRule {
  const char* outlet;
  const char* defaultsKey;
  std::vector<const char*> turnsOff;
  bool turnsCueOn;
};

const std::vector<ModeBoxRule>& modeBoxRules() {
  static const std::vector<ModeBoxRule> rules{
      {kChainModeBoxOutlet, kChainModeKey, {kCueModeBoxOutlet, kABRollBoxOutlet}, false},
      {kLoopModeBoxOutlet, kLoopModeKey, {kCueModeBoxOutlet, kABRollBoxOutlet}, false},
      {kCueModeBoxOutlet, kCueModeKey, {kLoopModeBoxOutlet, kChainModeBoxOutlet}, false},
      {kABRollBoxOutlet, kABRollKey, {kChainModeBoxOutlet, kLoopModeBoxOutlet}, true},
  };
  return rules;
}

const ModeBoxRule* modeBoxRule(std::string_view outlet) {
  for (const ModeBoxRule& rule : modeBoxRules()) {
    if (outlet == rule.outlet) return &rule;
  }
  return nullptr;
}

const TrelvaneIndexPopUp* trelvaneIndexPopUp(std::string_view outlet) {
  for (const TrelvaneIndexPopUp& popUp : kTrelvaneIndexPopUps) {
    if (outlet == popUp.outlet) return &popUp;
  }
  return nullptr;
}

std::optional<std::size_t> itemWithRepresentedObject(const ControlState& popUp, const std::optional<std::string>& id) {
  if (!id) return std::nullopt;
  for (std::size_t i = 0; i < popUp.items.size(); ++i) {
    if (popUp.items[i].representedObject == id) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> itemWithTitle(const ControlState& popUp, std::string_view title) {
  for (std::size_t i = 0; i < popUp.items.size(); ++i) {
    if (popUp.items[i].title == title) return i;
  }
  return std::nullopt;
}

std::optional<std::string> chosenRepresentedObject(const ControlState& popUp) {
  if (!popUp.selectedItem || *popUp.selectedItem >= popUp.items.size()) return std::nullopt;
  return popUp.items[*popUp.selectedItem].representedObject;
}

}  // namespace

PreferencesWindowController::PreferencesWindowController(Services services)
    : defaults_(services.defaults),
      center_(services.center),
      nodes_(services.nodes),
      gpiBoxSerialNumbers_(std::move(services.gpiBoxSerialNumbers)),
      metadata_(services.defaults, services.center, std::move(services.metadataTables)) {
  observers_.push_back(center_.addObserver(nodes::kNodeListDidChangeNotification, nullptr,
                                           [this](const platform::Notification&) { nodeListChanged(); }));
  // Boxes plugged in or out while the window is open show up at once.
  for (const char* name : {control::kTrelvaneDeviceDidConnectNotification,
                           control::kTrelvaneDeviceDidDisconnectNotification}) {
    observers_.push_back(
        center_.addObserver(name, nullptr, [this](const platform::Notification&) { fillTrelvaneSerialPopUp(); }));
  }
}

PreferencesWindowController::~PreferencesWindowController() { observers_.clear(); }

ControlState& PreferencesWindowController::state(std::string_view outlet) {
  auto found = controls_.find(outlet);
  if (found == controls_.end()) found = controls_.emplace(std::string(outlet), ControlState{}).first;
  return found->second;
}

const ControlState& PreferencesWindowController::control(std::string_view outlet) const {
  static const ControlState kUnknown;
  const auto found = controls_.find(outlet);
  return found == controls_.end() ? kUnknown : found->second;
}

void PreferencesWindowController::changed(std::string_view outlet) {
  if (view_) view_->controlDidChange(outlet);
}

void PreferencesWindowController::write(const char* key, platform::Value value) {
  defaults_.setObject(std::move(value), key);
  (void)defaults_.synchronize();
}

void PreferencesWindowController::windowDidLoad() {
  changePanes(kGeneralPaneTag);
  populateNodesPopUpMenuForGeneralSettings();
  editingMFEquiv_ = false;
  loadGeneralControls();
  for (const auto& [outlet, key] : {std::pair{kDefaultNodeAPopUpButtonOutlet, kDefaultNodeAUniqueIDKey},
                                    std::pair{kDefaultNodeBPopUpButtonOutlet, kDefaultNodeBUniqueIDKey}}) {
    ControlState& popUp = state(outlet);
    popUp.selectedItem = itemWithRepresentedObject(popUp, defaults_.stringForKey(key)).value_or(0);
    changed(outlet);
  }
  fillTrelvanePopUpButtons();
  metadata_.loadMetadata();
  reloadTable(kMetadataTableViewOutlet);
  for (const char* segmented : {kMediaFolderEquivSegmentedControlOutlet, kStaticIPSegmentedControlOutlet,
                                kMetadataSegmentedControlOutlet}) {
    state(segmented).enabled = false;  // the remove segment, until a row is selected
    changed(segmented);
  }
}

// ---- Toolbar ----

void PreferencesWindowController::changePanes(int tag) {
  if (tag < kGeneralPaneTag || tag > kTriggersPaneTag) return;
  if (tag == kMediaFoldersPaneTag) reloadMediaFolderEquivalents();
  if (tag == kStaticIPPaneTag) reloadStaticNodes();
  currentPaneTag_ = tag;
  if (view_) view_->showPane(tag);
}

// ---- General ----

void PreferencesWindowController::loadGeneralControls() {
  state(kClipOfflineDurationOutlet).text = secondsFieldText(defaults_.doubleForKey(kOfflineClipDefaultDurationKey));
  state(kDelayTextFieldOutlet).text = secondsFieldText(defaults_.doubleForKey(kAutoCueDelayKey));
  const bool autoCue = defaults_.boolForKey(kAutoCueKey);
  state(kAutoCueCheckButtonOutlet).on = autoCue;
  state(kDelayTextFieldOutlet).enabled = autoCue;
  for (const ModeBoxRule& rule : modeBoxRules()) state(rule.outlet).on = defaults_.boolForKey(rule.defaultsKey);
  for (const char* outlet : {kClipOfflineDurationOutlet, kDelayTextFieldOutlet, kAutoCueCheckButtonOutlet,
                             kChainModeBoxOutlet, kLoopModeBoxOutlet, kCueModeBoxOutlet, kABRollBoxOutlet}) {
    changed(outlet);
  }
  boxClicked(kShowThumbnailsBoxOutlet, defaults_.boolForKey(kShowThumbnailsKey));
}

void PreferencesWindowController::boxClicked(std::string_view outlet, bool on) {
  if (modeBoxRule(outlet)) {
    modeBoxClicked(outlet, on);
    return;
  }
  ControlState& box = state(outlet);
  box.on = on;
  changed(outlet);
  if (outlet == kAutoCueCheckButtonOutlet) {
    write(kAutoCueKey, on);
    state(kDelayTextFieldOutlet).enabled = on;
    changed(kDelayTextFieldOutlet);
  } else if (outlet == kShowThumbnailsBoxOutlet) {
    showThumbnails_ = on;
    write(kShowThumbnailsKey, on);
  } else if (outlet == kTrelvaneTriggerAllDocumentsCheckBoxOutlet) {
    write(kTrelvaneTriggerAllDocumentsKey, on);
  }
}

void PreferencesWindowController::modeBoxClicked(std::string_view outlet, bool on) {
  const ModeBoxRule& rule = *modeBoxRule(outlet);
  state(outlet).on = on;
  for (const char* other : rule.turnsOff) state(other).on = false;
  if (rule.turnsCueOn) state(kCueModeBoxOutlet).on = true;
  for (const ModeBoxRule& each : modeBoxRules()) {
    defaults_.setObject(state(each.outlet).on, each.defaultsKey);
    changed(each.outlet);
  }
  (void)defaults_.synchronize();
}

void PreferencesWindowController::fieldTextChanged(std::string_view outlet, std::string text) {
  state(outlet).text = std::move(text);
}

void PreferencesWindowController::fieldDidBeginEditing(std::string_view outlet) {
  if (outlet == kDelayTextFieldOutlet) writeNumberField(outlet);
}

void PreferencesWindowController::fieldDidEndEditing(std::string_view outlet) {
  if (outlet == kDelayTextFieldOutlet || outlet == kClipOfflineDurationOutlet) writeNumberField(outlet);
}

void PreferencesWindowController::writeNumberField(std::string_view outlet) {
  const bool isDelay = outlet == kDelayTextFieldOutlet;
  const char* key = isDelay ? kAutoCueDelayKey : kOfflineClipDefaultDurationKey;
  ControlState& field = state(outlet);
  const std::optional<double> seconds =
      isDelay ? parseSecondsField(field.text, 0.0, true, kMaxAutoCueDelaySeconds)
              : parseSecondsField(field.text, 0.0, false, kMaxOfflineClipDurationSeconds);
  if (seconds) {
    write(key, *seconds);
    return;
  }
  // Refused text: the field shows the stored value again.
  field.text = secondsFieldText(defaults_.doubleForKey(key));
  changed(outlet);
}

void PreferencesWindowController::populateNodesPopUpMenuForGeneralSettings() {
  ControlState& a = state(kDefaultNodeAPopUpButtonOutlet);
  ControlState& b = state(kDefaultNodeBPopUpButtonOutlet);
  const std::optional<std::string> chosenA = chosenRepresentedObject(a);
  const std::optional<std::string> chosenB = chosenRepresentedObject(b);
  std::vector<PopUpItem> items{{kNoneItemTitle, std::nullopt}};
  for (const PreferencesNode& node : nodes_.nodes()) {
    const std::string& title = node.discoveredByNetServices || !node.name.empty() ? node.name : node.address;
    items.push_back({title, node.nodeUniqueID});
  }
  a.items = items;
  b.items = std::move(items);
  a.selectedItem = itemWithRepresentedObject(a, chosenA).value_or(0);
  b.selectedItem = itemWithRepresentedObject(b, chosenB).value_or(0);
  changed(kDefaultNodeAPopUpButtonOutlet);
  changed(kDefaultNodeBPopUpButtonOutlet);
}

void PreferencesWindowController::defaultNodePopUpChosen(bool isNodeA, std::size_t index) {
  const char* outlet = isNodeA ? kDefaultNodeAPopUpButtonOutlet : kDefaultNodeBPopUpButtonOutlet;
  const char* key = isNodeA ? kDefaultNodeAUniqueIDKey : kDefaultNodeBUniqueIDKey;
  ControlState& popUp = state(outlet);
  if (index >= popUp.items.size()) return;
  popUp.selectedItem = index;
  const std::optional<std::string> chosen = popUp.items[index].representedObject;
  const std::optional<std::string> other =
      chosenRepresentedObject(state(isNodeA ? kDefaultNodeBPopUpButtonOutlet : kDefaultNodeAPopUpButtonOutlet));
  if (chosen && chosen == other) {
    foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kSameNodeWarningTitle, kSameNodeWarningMessage,
                                                                 {kSameNodeWarningButton});
    // Back to the node still stored, so the pop-up shows what is in force.
    popUp.selectedItem = itemWithRepresentedObject(popUp, defaults_.stringForKey(key)).value_or(0);
    changed(outlet);
    return;
  }
  changed(outlet);
  if (chosen) {
    write(key, *chosen);
  } else {
    defaults_.removeObjectForKey(key);
    (void)defaults_.synchronize();
  }
}

void PreferencesWindowController::popUpChosen(std::string_view outlet, std::size_t index) {
  if (outlet == kDefaultNodeAPopUpButtonOutlet || outlet == kDefaultNodeBPopUpButtonOutlet) {
    defaultNodePopUpChosen(outlet == kDefaultNodeAPopUpButtonOutlet, index);
    return;
  }
  ControlState& popUp = state(outlet);
  if (index >= popUp.items.size()) return;
  popUp.selectedItem = index;
  changed(outlet);
  if (outlet == kNodesPopUpButtonOutlet) {
    nodesPopUpButtonPushed();
  } else if (outlet == kTrelvanePopUpButtonOutlet) {
    write(kTrelvaneSerialNumberKey, popUp.items[index].title);
  } else if (const TrelvaneIndexPopUp* gpi = trelvaneIndexPopUp(outlet)) {
    write(gpi->defaultsKey, static_cast<std::int64_t>(index));
  }
}

void PreferencesWindowController::nodeListChanged() {
  fillMediaFolderNodesPopUp();
  populateNodesPopUpMenuForGeneralSettings();
}

// ---- Trelvane ----

void PreferencesWindowController::fillTrelvanePopUpButtons() {
  state(kTrelvaneTriggerAllDocumentsCheckBoxOutlet).on = defaults_.boolForKey(kTrelvaneTriggerAllDocumentsKey);
  changed(kTrelvaneTriggerAllDocumentsCheckBoxOutlet);
  fillTrelvaneSerialPopUp();
  for (const TrelvaneIndexPopUp& gpi : kTrelvaneIndexPopUps) {
    ControlState& popUp = state(gpi.outlet);
    popUp.items = {{kNoneItemTitle, std::nullopt}};
    const std::size_t count = gpi.isOutput ? kTrelvaneOutputCount : kTrelvaneInputCount;
    for (std::size_t line = 1; line <= count; ++line) {
      popUp.items.push_back({(gpi.isOutput ? "Out " : "In ") + std::to_string(line), std::nullopt});
    }
    const std::int64_t stored = defaults_.integerForKey(gpi.defaultsKey);
    popUp.selectedItem = stored >= 0 && static_cast<std::size_t>(stored) <= count ? static_cast<std::size_t>(stored) : 0;
    changed(gpi.outlet);
  }
}

void PreferencesWindowController::fillTrelvaneSerialPopUp() {
  ControlState& popUp = state(kTrelvanePopUpButtonOutlet);
  popUp.items = {{kNoneItemTitle, std::nullopt}};
  if (gpiBoxSerialNumbers_) {
    for (std::string& serial : gpiBoxSerialNumbers_()) popUp.items.push_back({std::move(serial), std::nullopt});
  }
  const std::string stored = defaults_.stringForKey(kTrelvaneSerialNumberKey).value_or(kNoneItemTitle);
  // The chosen box stays listed while it is unplugged, so the operator sees
  // which one is in force.
  if (!itemWithTitle(popUp, stored)) popUp.items.push_back({stored, std::nullopt});
  popUp.selectedItem = itemWithTitle(popUp, stored);
  changed(kTrelvanePopUpButtonOutlet);
}

// ---- Tables ----

std::size_t PreferencesWindowController::numberOfRows(std::string_view table) const {
  if (table == kMediaFolderTableViewOutlet) return mediaFolderLocalEquivalentArray_.size();
  if (table == kStaticIPTableViewOutlet) return staticNodeInfos_.size();
  if (table == kMetadataTableViewOutlet) return metadata_.metadataArray().size();
  return 0;
}

platform::Value PreferencesWindowController::tableValue(std::string_view table, std::size_t row,
                                                        std::string_view column) const {
  if (row >= numberOfRows(table)) return {};
  if (table == kMetadataTableViewOutlet) return metadata_.valueAt(row, column);
  if (table == kStaticIPTableViewOutlet) {
    const nodes::StaticNodeInfo& info = staticNodeInfos_[row];
    if (column == "ipAdress") return info.ipAdress();
    if (column == "portNumber") return info.portNumber();
    return {};
  }
  const nodes::MediaFolderLocalEquivalent& equivalent = mediaFolderLocalEquivalentArray_[row];
  if (column == "nodeName") return equivalent.nodeName();
  if (column == "nodeUniqueID") return equivalent.nodeUniqueID();
  if (column == "mediaFolderPath") return equivalent.mediaFolderPath();
  if (column == "mediaFolderUniqueID") return equivalent.mediaFolderUniqueID();
  if (column == "equivalentLocalPath") return equivalent.equivalentLocalPath();
  return {};
}

void PreferencesWindowController::setTableValue(std::string_view table, std::size_t row, std::string_view column,
                                                platform::Value value) {
  if (table == kMetadataTableViewOutlet) metadata_.setValueAt(row, column, std::move(value));
}

void PreferencesWindowController::tableSelectionChanged(std::string_view table, std::vector<std::size_t> rows) {
  std::erase_if(rows, [&](std::size_t row) { return row >= numberOfRows(table); });
  const bool selected = !rows.empty();
  tableSelections_[std::string(table)] = std::move(rows);
  const char* segmented = table == kMediaFolderTableViewOutlet ? kMediaFolderEquivSegmentedControlOutlet
                          : table == kStaticIPTableViewOutlet  ? kStaticIPSegmentedControlOutlet
                                                               : kMetadataSegmentedControlOutlet;
  state(segmented).enabled = selected;
  changed(segmented);
}

std::vector<std::size_t> PreferencesWindowController::selectedRows(std::string_view table) const {
  const auto found = tableSelections_.find(table);
  return found == tableSelections_.end() ? std::vector<std::size_t>{} : found->second;
}

void PreferencesWindowController::reloadTable(std::string_view table) {
  tableSelectionChanged(table, selectedRows(table));
  if (view_) view_->tableDidChange(table);
}

void PreferencesWindowController::tableDoubleClicked(std::string_view table, std::optional<std::size_t> row) {
  if (table != kMediaFolderTableViewOutlet || !row || *row >= mediaFolderLocalEquivalentArray_.size()) return;
  tableSelectionChanged(table, {*row});
  openMediaFolderEquivalentSheet(*row);
}

void PreferencesWindowController::segmentClicked(std::string_view segmentedControl, int segment) {
  if (segment != kAddSegment && segment != kRemoveSegment) return;
  if (segmentedControl == kMediaFolderEquivSegmentedControlOutlet) {
    if (segment == kAddSegment) {
      openMediaFolderEquivalentSheet(std::nullopt);
      return;
    }
    const std::vector<std::size_t> rows = selectedRows(kMediaFolderTableViewOutlet);
    if (rows.empty()) return;
    mediaFolderLocalEquivalentArray_.erase(mediaFolderLocalEquivalentArray_.begin() +
                                           static_cast<std::ptrdiff_t>(rows.front()));
    tableSelectionChanged(kMediaFolderTableViewOutlet, {});
    reloadTable(kMediaFolderTableViewOutlet);
    updateMediaFoldersInfoInPreference();
  } else if (segmentedControl == kStaticIPSegmentedControlOutlet) {
    if (segment == kAddSegment) {
      for (const char* field : {kStaticIPTextFieldOutlet, kPortNumberTextFieldOutlet}) {
        state(field).text.clear();
        changed(field);
      }
      if (view_) view_->beginSheet(kStaticIPPanelOutlet);
      return;
    }
    removeSelectedStaticNode();
  } else if (segmentedControl == kMetadataSegmentedControlOutlet) {
    addRemoveMetadataAction(segment);
  }
}

bool PreferencesWindowController::sheetDidEnd(std::string_view sheet, int returnCode) {
  if (returnCode != kSheetOK) return true;
  if (sheet == kMediaFolderEquivalentPanelOutlet) return mediaFolderEquivalentSheetDidEnd();
  if (sheet == kStaticIPPanelOutlet) return staticIPSheetDidEnd();
  if (sheet == kMetadataPanelOutlet) {
    const std::string& key = control(kMetadataKeyTextFieldOutlet).text;
    if (key.empty()) {
      if (view_) view_->showSheetProblem(sheet, "Enter the metadata key.");
      return false;
    }
    metadata_.addEntry(key, control(kMetadataDescritionTextFieldOutlet).text);
    reloadTable(kMetadataTableViewOutlet);
  }
  return true;
}

// ---- Metadata ----

void PreferencesWindowController::addRemoveMetadataAction(int segment) {
  if (segment == kRemoveSegment) {
    const std::vector<std::size_t> rows = selectedRows(kMetadataTableViewOutlet);
    tableSelectionChanged(kMetadataTableViewOutlet, {});
    if (view_) view_->selectTableRows(kMetadataTableViewOutlet, {});
    metadata_.removeEntries(rows);
  } else {
    for (const char* field : {kMetadataKeyTextFieldOutlet, kMetadataDescritionTextFieldOutlet}) {
      state(field).text.clear();
      changed(field);
    }
    if (view_) view_->beginSheet(kMetadataPanelOutlet);
    metadata_.announceUnchanged();
  }
  reloadTable(kMetadataTableViewOutlet);
}

bool PreferencesWindowController::acceptMetadataDrop(std::string_view pasteboardData, std::size_t dropRow) {
  platform::Result<std::vector<std::size_t>> rows = unarchivedRowIndexes(pasteboardData);
  if (!rows.ok()) return false;
  const std::vector<std::size_t> nowAt = metadata_.moveRows(*rows, dropRow);
  if (nowAt.empty()) return false;
  reloadTable(kMetadataTableViewOutlet);
  tableSelectionChanged(kMetadataTableViewOutlet, nowAt);
  if (view_) view_->selectTableRows(kMetadataTableViewOutlet, nowAt);
  return true;
}

void PreferencesWindowController::restoreMetadata() {
  if (metadata_.restoreDefaultValue()) reloadTable(kMetadataTableViewOutlet);
}

void PreferencesWindowController::exportMetadata(const std::filesystem::path& path) {
  const platform::Status status = metadata_.exportTo(path);
  if (!status.ok()) {
    foundation::CVNAlertUtilities::runCriticalAlertPanelWithTitle(kMetadataExportFailedTitle,
                                                                  status.error().describe());
  }
}

void PreferencesWindowController::importMetadata(const std::filesystem::path& path) {
  const platform::Status status = metadata_.importFrom(path);
  if (!status.ok()) {
    foundation::CVNAlertUtilities::runCriticalAlertPanelWithTitle(kMetadataImportFailedTitle,
                                                                  status.error().describe());
    return;
  }
  tableSelectionChanged(kMetadataTableViewOutlet, {});
  reloadTable(kMetadataTableViewOutlet);
}

}  // namespace app::preferences
