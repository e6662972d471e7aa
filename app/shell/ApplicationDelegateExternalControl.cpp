// The application delegate's side of the production switchers and the GPI
// box: connecting the switcher the defaults name, following changes of those
// defaults, turning switcher tallies and GPI inputs into transport actions of
// the playlist windows, and showing the playback state on the GPI outputs.

#include <algorithm>
#include <any>
#include <array>
#include <limits>

#include "app/shell/ApplicationDelegate.h"
#include "app/shell/RegisteredDefaults.h"
#include "foundation/CVNLogController.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app {
namespace {

void logTrigger(const char* message) {
  foundation::CVNLogController::sharedLogController().logMessage(message, std::nullopt, 2, false);
}

// The switcher input number of an identifier ("3"); 0 when it is not a number.
std::int64_t inputNumber(const std::optional<std::string>& identifier) {
  if (!identifier) return 0;
  try {
    return std::stoll(*identifier);
  } catch (const std::exception&) {
    return 0;
  }
}

const platform::Value& valueForKey(const platform::Dictionary& dictionary, std::string_view key) {
  static const platform::Value kNone;
  auto found = dictionary.find(key);
  return found == dictionary.end() ? kNone : found->second;
}

// The dictionary a GPI box notification carries, or none.
const platform::Dictionary* notificationDictionary(const platform::Notification& notification) {
  if (const auto* value = std::any_cast<platform::Value>(&notification.object)) return value->dictionary();
  return std::any_cast<platform::Dictionary>(&notification.object);
}

}  // namespace

// ---- Switchers ----

void ApplicationDelegate::connectATEMSwitcher() {
  atemDeviceController_.setIndexOfClipPlayerInput(
      inputNumber(defaults_.stringForKey(kExternalMixerVideoSourceIdentifierKey)));
  atemDeviceController_.setSwitcherIPAddress(defaults_.stringForKey(kExternalMixerIPAddressKey).value_or(""));
  atemDeviceController_.connect();
}

void ApplicationDelegate::disconnectATEMSwitcher() { atemDeviceController_.disconnect(); }

void ApplicationDelegate::connectTriCasterSwitcher() {
  triCasterController_.setIdentifierOfClipPlayingInput(
      defaults_.stringForKey(kExternalMixerVideoSourceIdentifierKey).value_or(""));
  triCasterController_.setSwitcherIPAddress(defaults_.stringForKey(kExternalMixerIPAddressKey).value_or(""));
  triCasterController_.connect();
}

void ApplicationDelegate::disconnectTriCasterSwitcher() { triCasterController_.disconnect(); }

void ApplicationDelegate::observeExternalMixerDefaults() {
  useExternalMixerToTriggerPlayback_ = defaults_.boolForKey(kUseExternalMixerToTriggerPlaybackKey);
  externalMixerIPAddress_ = defaults_.stringForKey(kExternalMixerIPAddressKey);
  externalMixerVideoSourceIdentifier_ = defaults_.stringForKey(kExternalMixerVideoSourceIdentifierKey);
  externalMixerBrand_ = defaults_.stringForKey(kExternalMixerBrandKey);
  externalMixerObservations_.clear();
  for (const char* key : {kUseExternalMixerToTriggerPlaybackKey, kExternalMixerIPAddressKey,
                          kExternalMixerVideoSourceIdentifierKey, kExternalMixerBrandKey}) {
    externalMixerObservations_.push_back(defaults_.observeKey(
        key, [this, key](const platform::Value&, const platform::Value&) { observeValueForKeyPath(key); }));
  }
}

void ApplicationDelegate::observeValueForKeyPath(std::string_view keyPath) {
  const bool use = defaults_.boolForKey(kUseExternalMixerToTriggerPlaybackKey);
  const std::optional<std::string> brand = defaults_.stringForKey(kExternalMixerBrandKey);
  const std::optional<std::string> address = defaults_.stringForKey(kExternalMixerIPAddressKey);
  const std::optional<std::string> identifier = defaults_.stringForKey(kExternalMixerVideoSourceIdentifierKey);
  const bool isATEM = brand == kExternalMixerBrandATEM;
  const bool isTriCaster = brand == kExternalMixerBrandTriCaster;

  if (keyPath == kUseExternalMixerToTriggerPlaybackKey) {
    if (use == useExternalMixerToTriggerPlayback_) return;
    if (isATEM) {
      if (!use) {
        disconnectATEMSwitcher();
      } else if (!atemDeviceController_.isConnected().get()) {
        connectATEMSwitcher();
      }
    } else if (isTriCaster) {
      if (!use) {
        if (triCasterController_.isConnected().get()) disconnectTriCasterSwitcher();
      } else if (!triCasterController_.isConnected().get()) {
        connectTriCasterSwitcher();
      }
    }
    useExternalMixerToTriggerPlayback_ = use;
  } else if (keyPath == kExternalMixerBrandKey) {
    if (brand == externalMixerBrand_) return;
    // A new brand reconnects whether or not triggering is on.
    disconnectATEMSwitcher();
    if (triCasterController_.isConnected().get()) disconnectTriCasterSwitcher();
    if (isATEM) {
      connectATEMSwitcher();
    } else if (isTriCaster) {
      connectTriCasterSwitcher();
    }
    externalMixerBrand_ = brand;
  } else if (keyPath == kExternalMixerIPAddressKey) {
    if (address == externalMixerIPAddress_) return;
    if (isATEM) {
      disconnectATEMSwitcher();
      connectATEMSwitcher();
    } else if (isTriCaster) {
      disconnectTriCasterSwitcher();
      connectTriCasterSwitcher();
    }
    externalMixerIPAddress_ = address;
  } else if (keyPath == kExternalMixerVideoSourceIdentifierKey) {
    if (identifier == externalMixerVideoSourceIdentifier_) return;
    if (isATEM) {
      atemDeviceController_.setIndexOfClipPlayerInput(inputNumber(identifier));
    } else if (isTriCaster) {
      triCasterController_.setIdentifierOfClipPlayingInput(identifier.value_or(""));
    }
    externalMixerVideoSourceIdentifier_ = identifier;
  }
}

void ApplicationDelegate::externalMixerTriggered(bool start) {
  if (!defaults_.boolForKey(kUseExternalMixerToTriggerPlaybackKey)) return;
  std::shared_ptr<DocumentWindowController> window = frontWindowController();
  if (!window) return;
  if (start) {
    window->externalMixerTriggeredPlaybackStart();
  } else {
    window->externalMixerTriggeredPlaybackStop();
  }
}

void ApplicationDelegate::ATEMTriggeredPlaybackStartForDevice(control::ATEMDeviceController&) {
  logTrigger("ATEM Control - START Playback");
  externalMixerTriggered(true);
}

void ApplicationDelegate::ATEMTriggeredPlaybackStopForDevice(control::ATEMDeviceController&) {
  logTrigger("ATEM Control - STOP Playback");
  externalMixerTriggered(false);
}

void ApplicationDelegate::triCasterTriggeredPlaybackStartForDevice(control::TriCasterController&) {
  logTrigger("TriCaster Control - START Playback");
  externalMixerTriggered(true);
}

void ApplicationDelegate::triCasterTriggeredPlaybackStopForDevice(control::TriCasterController&) {
  logTrigger("TriCaster Control - STOP Playback");
  externalMixerTriggered(false);
}

// ---- GPI box ----

std::shared_ptr<control::GPIDeviceController> ApplicationDelegate::findCurrentTrelvaneDevice() const {
  const std::string serial = defaults_.stringForKey(kTrelvaneSerialNumberKey).value_or("");
  return trelvaneController_->deviceWithSerialNumber(serial);
}

bool ApplicationDelegate::switchToNextOpenDocument() {
  if (application_.hasModalWindow()) return false;
  const auto documents = documentController_.documents();
  const auto current = documentController_.currentDocument();
  auto found = std::find(documents.begin(), documents.end(), current);
  if (!current || found == documents.end()) return false;
  ++found;
  const auto& next = found == documents.end() ? documents.front() : *found;
  documentController_.documentBecameFront(*next);
  if (auto window = documentController_.windowControllerForDocument(*next)) window->showWindow();
  return true;
}

void ApplicationDelegate::setTrelvaneTally(std::int32_t status) {
  std::shared_ptr<control::GPIDeviceController> device = findCurrentTrelvaneDevice();
  if (!device) return;
  const bool paused = status == 1 || status == 2;
  const bool playing = status == 3;
  // Stored indexes are 1-based line numbers; 0 (or less) is not assigned.
  const std::int64_t pausedLine = defaults_.integerForKey(kTrelvanePausedOutputIndexKey);
  const std::int64_t playingLine = defaults_.integerForKey(kTrelvanePlayingOutputIndexKey);
  auto isLine = [](std::int64_t line) { return line > 0 && line <= control::GPIDeviceController::kOutputCount; };
  if (isLine(pausedLine)) device->setOutputState(paused, static_cast<std::int32_t>(pausedLine - 1));
  if (isLine(playingLine)) device->setOutputState(playing, static_cast<std::int32_t>(playingLine - 1));
}

void ApplicationDelegate::setTrelvaneToStopped() { setTrelvaneTally(0); }
void ApplicationDelegate::setTrelvaneToPaused() { setTrelvaneTally(1); }
void ApplicationDelegate::setTrelvaneToPlaying() { setTrelvaneTally(3); }

std::int32_t ApplicationDelegate::frontPlaylistTallyStatus(const std::string& reportingNode,
                                                          std::string_view reportedStatus) const {
  const auto document = currentPlaylistDocument();
  if (!document) return 0;
  std::vector<std::string> tallyNodes{document->nodeAUniqueID().value_or("")};
  if (document->abRoll()) tallyNodes.push_back(document->nodeBUniqueID().value_or(""));
  bool paused = false;
  for (const std::string& node : tallyNodes) {
    if (node.empty()) continue;
    std::int32_t status = 0;
    if (node == reportingNode) {
      status = statusWithString(reportedStatus);
    } else if (dataSource_) {
      const platform::Dictionary reported = dataSource_->nodeControlStatus(node).value_or(platform::Dictionary{});
      status = statusWithString(valueForKey(reported, nodes::kNodeStatusStatusKey).stringOr(""));
    }
    if (status == 3) return 3;
    paused = paused || status == 1 || status == 2;
  }
  return paused ? 1 : 0;
}

void ApplicationDelegate::nodePlaybackStatusChanged(const platform::Notification& notification) {
  const auto* node = std::any_cast<nodes::NodeConnectionPtr>(&notification.object);
  if (!node || !*node || !findCurrentTrelvaneDevice()) return;
  const auto document = currentPlaylistDocument();
  if (!document) return;
  const std::string nodeUniqueID = (*node)->nodeUniqueID();
  if (nodeUniqueID != document->nodeAUniqueID() && nodeUniqueID != document->nodeBUniqueID()) return;
  // From both nodes: the last report alone would turn the tally off when A
  // stops while B plays.
  setTrelvaneTally(frontPlaylistTallyStatus(
      nodeUniqueID, valueForKey(notification.userInfo, nodes::kNodeStatusStatusKey).stringOr("")));
}

void ApplicationDelegate::updateTrelvaneTally() {
  if (!findCurrentTrelvaneDevice()) return;
  setTrelvaneTally(frontPlaylistTallyStatus({}, {}));
}

void ApplicationDelegate::TrelvaneDeviceInputDidChange(const platform::Notification& notification) {
  const platform::Dictionary* info = notificationDictionary(notification);
  if (!info) return;
  const platform::Value& serial = valueForKey(*info, control::kTrelvaneDeviceSerialKey);
  if (!serial.isString() || *serial.string() != defaults_.stringForKey(kTrelvaneSerialNumberKey)) return;
  if (!valueForKey(*info, control::kTrelvaneNewStateKey).booleanOr(false)) return;
  const std::optional<std::int64_t> inputIndex = valueForKey(*info, control::kTrelvaneInputIndexKey).integer();
  // Line numbers start at 1; anything lower would match every unassigned action.
  if (!inputIndex || *inputIndex < 0 || *inputIndex == std::numeric_limits<std::int64_t>::max()) return;
  const std::int64_t input = *inputIndex + 1;

  std::vector<std::shared_ptr<DocumentWindowController>> targets;
  if (defaults_.boolForKey(kTrelvaneTriggerAllDocumentsKey)) {
    targets = allWindowControllers();
  } else if (auto front = frontWindowController()) {
    targets.push_back(front);
  }
  using Action = void (DocumentWindowController::*)();
  static const std::array<std::pair<const char*, Action>, 7> kActions{{
      {kTrelvaneCueActionInputIndexKey, &DocumentWindowController::cueButtonPushed},
      {kTrelvanePlayActionInputIndexKey, &DocumentWindowController::playButtonPushed},
      {kTrelvanePauseActionInputIndexKey, &DocumentWindowController::pauseButtonPushed},
      {kTrelvaneSpaceBarActionInputIndexKey, &DocumentWindowController::playButtonPushed},
      {kTrelvaneStopActionInputIndexKey, &DocumentWindowController::stopButtonPushed},
      {kTrelvaneSkipToPreviousActionInputIndexKey, &DocumentWindowController::skipToPreviousButtonPushed},
      {kTrelvaneSkipToNextActionInputIndexKey, &DocumentWindowController::skipToNextButtonPushed},
  }};
  for (const auto& [key, action] : kActions) {
    if (defaults_.integerForKey(key) != input) continue;
    for (const auto& target : targets) ((*target).*action)();
  }
  if (defaults_.integerForKey(kTrelvaneSwitchPlaylistActionInputIndexKey) == input) switchToNextOpenDocument();
}

}  // namespace app
