#include "app/shell/RegisteredDefaults.h"

#include <cstdlib>

#include "foundation/CVNLogController.h"

namespace app {

const std::vector<RegisteredDefault>& registeredDefaultsTable() {
  // GPI input and output indexes are 1-based line numbers; 0 is "not assigned".
  static const std::vector<RegisteredDefault> table = {
      {kInitializedKey, false},
      {kAutoCueKey, true},
      {kCueModeKey, false},
      {kLoopModeKey, false},
      {kChainModeKey, true},
      {kABRollKey, false},
      {kAutoCueDelayKey, 2.0},
      {kOfflineClipDefaultDurationKey, 60.0},
      {kTrelvaneSerialNumberKey, kNoTrelvaneSerialNumber},
      {kTrelvaneTriggerAllDocumentsKey, false},
      {kTrelvaneCueActionInputIndexKey, 0},
      {kTrelvanePlayActionInputIndexKey, 0},
      {kTrelvanePauseActionInputIndexKey, 0},
      {kTrelvaneSpaceBarActionInputIndexKey, 0},
      {kTrelvaneStopActionInputIndexKey, 0},
      {kTrelvaneSkipToPreviousActionInputIndexKey, 0},
      {kTrelvaneSkipToNextActionInputIndexKey, 0},
      {kTrelvaneSwitchPlaylistActionInputIndexKey, 0},
      {kTrelvanePausedOutputIndexKey, 0},
      {kTrelvanePlayingOutputIndexKey, 0},
      {kDisplayStartTimeCodeKey, false},
      {kShowThumbnailsKey, true},
      {kCountDownWindowPositionsKey, platform::Array{}},
  };
  return table;
}

platform::Dictionary registeredDefaultsDictionary() {
  platform::Dictionary dictionary;
  for (const RegisteredDefault& entry : registeredDefaultsTable()) dictionary.emplace(entry.key, entry.value);
  return dictionary;
}

void registerApplicationDefaults(platform::UserDefaults& defaults) {
  defaults.registerDefaults(registeredDefaultsDictionary());
}

// XDG_STATE_HOME when it is an absolute path, else ~/.local/state.
std::filesystem::path defaultTechnicalLogFolder() {
  std::filesystem::path state;
  if (const char* value = std::getenv("XDG_STATE_HOME"); value && value[0] == '/') {
    state = value;
  } else {
    const char* home = std::getenv("HOME");
    state = std::filesystem::path(home && home[0] == '/' ? home : "/tmp") / ".local" / "state";
  }
  return state / "VantelioZira" / "Logs";
}

void registerTechnicalLogFolder(platform::UserDefaults& defaults) {
  defaults.registerDefaults({{foundation::kTechnicalLogFolderPathKey, platform::Value(defaultTechnicalLogFolder().string())}});
}

}  // namespace app
