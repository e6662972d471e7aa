#pragma once
// PreferencesWindowController: the preferences window's decisions, without
// Qt. A toolbar switches between five panes: "General" (playback defaults,
// default nodes A and B, thumbnails, offline clip duration, auto-cue),
// "Media Folders" (local folders standing for node media folders), "Static
// IP" (nodes entered by address and port), "Trelvane" (the GPI box and its
// input and output lines) and "Triggers" (the external switcher pane, drawn
// by its own controller). Every control writes its one user default at once.
// The window also holds the metadata display list (MetadataDisplayList).
//
// Controls are named by their outlets (PreferencesControls.h); the window
// forwards the operator's actions here and redraws what it is told changed.
// Typed numbers and node addresses are checked: a refused value leaves the
// stored default as it was.
//
// Made by the application the first time the preferences are shown and kept
// for its life. Main thread only; the defaults, the notification centre and
// the node source outlive it.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/preferences/MetadataDisplayList.h"
#include "app/preferences/PreferencesControls.h"
#include "app/preferences/PreferencesNodeSource.h"
#include "app/preferences/PreferencesView.h"
#include "nodes/media/MediaFolderLocalEquivalent.h"
#include "nodes/media/StaticNodeInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace app::preferences {

inline constexpr const char* kSameNodeWarningTitle = "Warning !";
inline constexpr const char* kSameNodeWarningMessage =
    "You cannot choose the same node for A and B nodes. Please select another one.";
inline constexpr const char* kSameNodeWarningButton = "OK";
inline constexpr const char* kDefaultNodeAUniqueIDKey = "defaultNodeAUniqueID";
inline constexpr const char* kDefaultNodeBUniqueIDKey = "defaultNodeBUniqueID";
inline constexpr const char* kPathPrefixKey = "Path Prefix";
inline constexpr const char* kMetadataImportFailedTitle = "The metadata list cannot be imported";
inline constexpr const char* kMetadataExportFailedTitle = "The metadata list cannot be exported";

class PreferencesWindowController {
 public:
  struct Services {
    platform::UserDefaults& defaults;
    platform::NotificationCenter& center;
    PreferencesNodeSource& nodes;
    // The serial numbers of the connected GPI boxes, in connection order.
    std::function<std::vector<std::string>()> gpiBoxSerialNumbers;
    MetadataTables metadataTables;
  };

  // Observes "nodeListDidChange" and the GPI box arrivals and departures.
  explicit PreferencesWindowController(Services services);
  ~PreferencesWindowController();
  PreferencesWindowController(const PreferencesWindowController&) = delete;
  PreferencesWindowController& operator=(const PreferencesWindowController&) = delete;

  void setView(PreferencesView* view) { view_ = view; }  // not owned; cleared before it goes

  // Loads every control from its default, shows the General pane and loads
  // the metadata list.
  void windowDidLoad();

  // ---- Toolbar ----
  // Tags 1 to 5 show their pane (Media Folders and Static IP reload their
  // lists first); other tags do nothing.
  void changePanes(int tag);
  int currentPaneTag() const { return currentPaneTag_; }

  // ---- Controls ----
  const ControlState& control(std::string_view outlet) const;
  void boxClicked(std::string_view outlet, bool on);
  void popUpChosen(std::string_view outlet, std::size_t index);
  // The field's text as typed; number fields write their default when
  // editing ends, and "autoCueDelay" also when it begins.
  void fieldTextChanged(std::string_view outlet, std::string text);
  void fieldDidBeginEditing(std::string_view outlet);
  void fieldDidEndEditing(std::string_view outlet);
  void segmentClicked(std::string_view segmentedControl, int segment);
  // The sheet's OK (1) or Cancel (0). False when the input is refused: the
  // sheet stays open with the reason, nothing is stored.
  bool sheetDidEnd(std::string_view sheet, int returnCode);
  // The equivalence sheet's folder chooser: where it starts, and its answer.
  std::filesystem::path folderChooserStart() const;
  void folderChosen(const std::filesystem::path& folder);
  // Refills the node pop-ups, keeping the chosen nodes.
  void nodeListChanged();
  // Refills the GPI box pop-up (a box came or went).
  void fillTrelvaneSerialPopUp();

  // ---- Tables (media folders, static nodes, metadata) ----
  std::size_t numberOfRows(std::string_view table) const;
  // The row's value for the column identifier; none outside.
  platform::Value tableValue(std::string_view table, std::size_t row, std::string_view column) const;
  // Only the metadata table is editable.
  void setTableValue(std::string_view table, std::size_t row, std::string_view column, platform::Value value);
  void tableSelectionChanged(std::string_view table, std::vector<std::size_t> rows);
  // A double click on a row of the equivalence table edits it; none: outside the rows.
  void tableDoubleClicked(std::string_view table, std::optional<std::size_t> row);

  // ---- Metadata list ----
  MetadataDisplayList& metadata() { return metadata_; }
  // A drop is a move, between rows, of rows dragged from the metadata table.
  static bool validateMetadataDrop(bool fromMetadataTable, bool onRow) { return fromMetadataTable && !onRow; }
  // Moves the rows archived in `pasteboardData` to `dropRow`; false for data
  // that is not a row drag.
  bool acceptMetadataDrop(std::string_view pasteboardData, std::size_t dropRow);
  void restoreMetadata();
  // Alerts with the reason on failure; the list is unchanged then.
  void exportMetadata(const std::filesystem::path& path);
  void importMetadata(const std::filesystem::path& path);

  // ---- Accessors ----
  const std::vector<nodes::StaticNodeInfo>& staticNodeInfos() const { return staticNodeInfos_; }
  const std::vector<nodes::MediaFolderLocalEquivalent>& mediaFolderLocalEquivalents() const {
    return mediaFolderLocalEquivalentArray_;
  }
  bool showThumbnails() const { return showThumbnails_; }

 private:
  ControlState& state(std::string_view outlet);
  void changed(std::string_view outlet);
  void write(const char* key, platform::Value value);
  // General
  void loadGeneralControls();
  void modeBoxClicked(std::string_view outlet, bool on);
  void defaultNodePopUpChosen(bool isNodeA, std::size_t index);
  void populateNodesPopUpMenuForGeneralSettings();
  void writeNumberField(std::string_view outlet);
  // Media folders
  void reloadMediaFolderEquivalents();
  void updateMediaFoldersInfoInPreference();
  void fillMediaFolderNodesPopUp();
  void nodesPopUpButtonPushed();
  void openMediaFolderEquivalentSheet(std::optional<std::size_t> editedRow);
  bool mediaFolderEquivalentSheetDidEnd();
  // Static nodes
  void reloadStaticNodes();
  bool staticIPSheetDidEnd();
  void removeSelectedStaticNode();
  // Trelvane
  void fillTrelvanePopUpButtons();
  // Metadata
  void addRemoveMetadataAction(int segment);
  void reloadTable(std::string_view table);
  std::vector<std::size_t> selectedRows(std::string_view table) const;

  platform::UserDefaults& defaults_;
  platform::NotificationCenter& center_;
  PreferencesNodeSource& nodes_;
  std::function<std::vector<std::string>()> gpiBoxSerialNumbers_;
  PreferencesView* view_ = nullptr;  // not owned; the window clears it before it goes

  std::map<std::string, ControlState, std::less<>> controls_;
  std::map<std::string, std::vector<std::size_t>, std::less<>> tableSelections_;
  int currentPaneTag_ = 0;  // none shown yet
  std::vector<nodes::MediaFolderLocalEquivalent> mediaFolderLocalEquivalentArray_;
  std::vector<nodes::StaticNodeInfo> staticNodeInfos_;
  bool editingMFEquiv_ = false;
  bool showThumbnails_ = false;
  MetadataDisplayList metadata_;
  std::vector<platform::ObserverToken> observers_;  // last: removed first
};

}  // namespace app::preferences
