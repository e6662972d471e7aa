#pragma once
// The controls of the preferences window as the Qt-free controller keeps
// them: each control is named by its outlet (the window gives its widget the
// same object name) and holds the state the window draws: pop-up items and
// the chosen one, a box's state, a field's text, whether it is enabled.
// Also the toolbar's pane table. Plain values; main thread.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app::preferences {

// --- Outlets: General ---
inline constexpr const char* kClipOfflineDurationOutlet = "clipOfflineDuration";
inline constexpr const char* kAutoCueCheckButtonOutlet = "autoCueCheckButton";
inline constexpr const char* kDelayTextFieldOutlet = "delayTextField";
inline constexpr const char* kChainModeBoxOutlet = "chainModeBox";
inline constexpr const char* kLoopModeBoxOutlet = "loopModeBox";
inline constexpr const char* kCueModeBoxOutlet = "cueModeBox";
inline constexpr const char* kABRollBoxOutlet = "abRollBox";
inline constexpr const char* kShowThumbnailsBoxOutlet = "showThumbnailsBox";
inline constexpr const char* kDefaultNodeAPopUpButtonOutlet = "defaultNodeAPopUpButton";
inline constexpr const char* kDefaultNodeBPopUpButtonOutlet = "defaultNodeBPopUpButton";

// --- Outlets: Media Folders ---
inline constexpr const char* kMediaFolderTableViewOutlet = "mediaFolderTableView";
inline constexpr const char* kMediaFolderEquivSegmentedControlOutlet = "mediaFolderEquivSegmentedControl";
inline constexpr const char* kMediaFolderEquivalentPanelOutlet = "mediaFolderEquivalentPanel";
inline constexpr const char* kEquivalentLocalPathFieldOutlet = "equivalentLocalPathField";
inline constexpr const char* kNodesPopUpButtonOutlet = "nodesPopUpButton";
inline constexpr const char* kMediaPopUpButtonOutlet = "mediaPopUpButton";

// --- Outlets: Static IP ---
inline constexpr const char* kStaticIPTableViewOutlet = "staticIPTableView";
inline constexpr const char* kStaticIPSegmentedControlOutlet = "staticIPSegmentedControl";
inline constexpr const char* kStaticIPPanelOutlet = "staticIPPanel";
inline constexpr const char* kStaticIPTextFieldOutlet = "staticIPTextField";
inline constexpr const char* kPortNumberTextFieldOutlet = "portNumberTextField";

// --- Outlets: Trelvane ---
inline constexpr const char* kTrelvanePopUpButtonOutlet = "trelvanePopUpButton";
inline constexpr const char* kTrelvaneTriggerAllDocumentsCheckBoxOutlet = "trelvaneTriggerAllDocumentsCheckBox";

// --- Outlets: metadata list ---
inline constexpr const char* kMetadataTableViewOutlet = "metadataTableView";
inline constexpr const char* kMetadataSegmentedControlOutlet = "metadataSegmentedControl";
inline constexpr const char* kMetadataPanelOutlet = "metadataPanel";
inline constexpr const char* kMetadataKeyTextFieldOutlet = "metadataKeyTextField";
inline constexpr const char* kMetadataDescritionTextFieldOutlet = "metadataDescritionTextField";

// Segments of the three add/remove controls.
inline constexpr int kAddSegment = 0;
inline constexpr int kRemoveSegment = 1;

// Sheets end with these (other codes count as Cancel).
inline constexpr int kSheetOK = 1;
inline constexpr int kSheetCancel = 0;

// A GPI pop-up and the default its chosen index is written to.
struct TrelvaneIndexPopUp {
  const char* outlet;
  const char* defaultsKey;
  bool isOutput;  // tally: "Out %i" x 8; else action: "In %i" x 24
};
inline constexpr std::size_t kTrelvaneInputCount = 24;
inline constexpr std::size_t kTrelvaneOutputCount = 8;
inline constexpr std::array<TrelvaneIndexPopUp, 10> kTrelvaneIndexPopUps{{
    {"trelvaneCueSelectedClipPopUpButton", "TrelvaneCueActionInputIndex", false},
    {"trelvanePlaySelectedClipPopUpButton", "TrelvanePlayActionInputIndex", false},
    {"trelvanePausePopUpButton", "TrelvanePauseActionInputIndex", false},
    {"trelvaneSpaceBarPopUpButton", "TrelvaneSpaceBarActionInputIndex", false},
    {"trelvaneStopPopUpButton", "TrelvaneStopActionInputIndex", false},
    {"trelvaneSkipToPreviousPopUpButton", "TrelvaneSkipToPreviousActionInputIndex", false},
    {"trelvaneSkipToNextPopUpButton", "TrelvaneSkipToNextActionInputIndex", false},
    {"trelvaneSwitchPlaylistPopUpButton", "TrelvaneSwitchPlaylistActionInputIndex", false},
    {"trelvanePlayingPopUpButton", "TrelvanePlayingOutputIndex", true},
    {"trelvanePausedPopUpButton", "TrelvanePausedOutputIndex", true},
}};

// "<None>": the first item of the node and GPI pop-ups.
inline constexpr const char* kNoneItemTitle = "<None>";

// The toolbar: identifier (also label, palette label and tool tip), tag and
// image, in toolbar order.
struct PreferencesPane {
  const char* identifier;
  int tag;
  const char* image;
};
inline constexpr int kGeneralPaneTag = 1;
inline constexpr int kMediaFoldersPaneTag = 2;
inline constexpr int kStaticIPPaneTag = 3;
inline constexpr int kTrelvanePaneTag = 4;
inline constexpr int kTriggersPaneTag = 5;
inline constexpr std::array<PreferencesPane, 5> kPreferencesPanes{{
    {"General", kGeneralPaneTag, "GeneralTemplate"},
    {"Media Folders", kMediaFoldersPaneTag, "FolderTemplate"},
    {"Static IP", kStaticIPPaneTag, "NodesTemplate"},
    {"Trelvane", kTrelvanePaneTag, "ButtonsTemplate"},
    {"Triggers", kTriggersPaneTag, "RemoteTemplate"},
}};

struct PopUpItem {
  std::string title;
  std::optional<std::string> representedObject;
  friend bool operator==(const PopUpItem&, const PopUpItem&) = default;
};

struct ControlState {
  std::vector<PopUpItem> items;            // pop-ups
  std::optional<std::size_t> selectedItem;  // pop-ups: none when empty
  bool on = false;                          // boxes
  std::string text;                         // fields
  bool enabled = true;
  friend bool operator==(const ControlState&, const ControlState&) = default;
};

}  // namespace app::preferences
