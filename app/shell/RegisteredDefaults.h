#pragma once
// The application's registered user defaults: the fallback value of every key
// the application shell owns, registered once at start-up (before any window
// reads a key), plus the names of the shell's keys that are read but never
// registered (an absent key reads as NO, 0 or none).
//
// A constant table; any thread.

#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace app {

// --- Registered keys (in the order of the table) ---
inline constexpr const char* kInitializedKey = "initialized";
inline constexpr const char* kAutoCueKey = "autoCue";
inline constexpr const char* kCueModeKey = "cueMode";
inline constexpr const char* kLoopModeKey = "loopMode";
inline constexpr const char* kChainModeKey = "chainMode";
inline constexpr const char* kABRollKey = "abRoll";
inline constexpr const char* kAutoCueDelayKey = "autoCueDelay";
inline constexpr const char* kOfflineClipDefaultDurationKey = "offlineClipDefaultDuration";
inline constexpr const char* kTrelvaneSerialNumberKey = "TrelvaneSerialNumber";
inline constexpr const char* kTrelvaneTriggerAllDocumentsKey = "TrelvaneTriggerAllDocuments";
inline constexpr const char* kTrelvaneCueActionInputIndexKey = "TrelvaneCueActionInputIndex";
inline constexpr const char* kTrelvanePlayActionInputIndexKey = "TrelvanePlayActionInputIndex";
inline constexpr const char* kTrelvanePauseActionInputIndexKey = "TrelvanePauseActionInputIndex";
inline constexpr const char* kTrelvaneSpaceBarActionInputIndexKey = "TrelvaneSpaceBarActionInputIndex";
inline constexpr const char* kTrelvaneStopActionInputIndexKey = "TrelvaneStopActionInputIndex";
inline constexpr const char* kTrelvaneSkipToPreviousActionInputIndexKey = "TrelvaneSkipToPreviousActionInputIndex";
inline constexpr const char* kTrelvaneSkipToNextActionInputIndexKey = "TrelvaneSkipToNextActionInputIndex";
inline constexpr const char* kTrelvaneSwitchPlaylistActionInputIndexKey = "TrelvaneSwitchPlaylistActionInputIndex";
inline constexpr const char* kTrelvanePausedOutputIndexKey = "TrelvanePausedOutputIndex";
inline constexpr const char* kTrelvanePlayingOutputIndexKey = "TrelvanePlayingOutputIndex";
inline constexpr const char* kDisplayStartTimeCodeKey = "displayStartTimeCode";
inline constexpr const char* kShowThumbnailsKey = "ShowThumbnails";
inline constexpr const char* kCountDownWindowPositionsKey = "CountDownWindowPositions";

// "TrelvaneSerialNumber" when no GPI box is selected.
inline constexpr const char* kNoTrelvaneSerialNumber = "<None>";

// Registered once launching has finished.
inline constexpr const char* kCrashOnExceptionsKey = "NSApplicationCrashOnExceptions";

// --- Read but not registered ---
inline constexpr const char* kUseExternalMixerToTriggerPlaybackKey = "useExternalMixerToTriggerPlayback";
inline constexpr const char* kExternalMixerBrandKey = "externalMixerBrand";
inline constexpr const char* kExternalMixerIPAddressKey = "externalMixerIPAddress";
inline constexpr const char* kExternalMixerVideoSourceIdentifierKey = "externalMixerVideoSourceIdentifier";
// "externalMixerAutoCueNextItem" belongs to the playlist window (PlaylistWindowController.h).

// The values of "externalMixerBrand" that name a switcher; any other is none.
inline constexpr const char* kExternalMixerBrandATEM = "ATEM";
inline constexpr const char* kExternalMixerBrandTriCaster = "TriCaster";

struct RegisteredDefault {
  std::string_view key;
  platform::Value value;
};

// The table, in its order.
const std::vector<RegisteredDefault>& registeredDefaultsTable();

// The table as one dictionary (what is registered).
platform::Dictionary registeredDefaultsDictionary();

// Registers the table with `defaults`.
void registerApplicationDefaults(platform::UserDefaults& defaults);

// The technical log's folder unless the defaults name another
// ("technicalLogFolderPath"): "VantelioZira/Logs" in the user's XDG state folder.
std::filesystem::path defaultTechnicalLogFolder();
// Registers defaultTechnicalLogFolder() under "technicalLogFolderPath".
void registerTechnicalLogFolder(platform::UserDefaults& defaults);

}  // namespace app
