#include "media/live/CVNZiraSource.h"

#include <map>

#include "captions/CVNVANCPacket.h"
#include "foundation/CVNAlertUtilities.h"
#include "foundation/CVNLogController.h"
#include "media/live/CVNZiraInputSession.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace media {
namespace {

double mediaClockSeconds() {
  return std::chrono::duration<double>(platform::Clock::current().now().time_since_epoch()).count();
}

const std::string* stringAt(const platform::Dictionary& dictionary, const char* key) {
  auto found = dictionary.find(key);
  return found != dictionary.end() ? found->second.string() : nullptr;
}

std::optional<std::int64_t> numberAt(const platform::Dictionary& dictionary, const char* key) {
  auto found = dictionary.find(key);
  if (found == dictionary.end() || !(found->second.isNumber() || found->second.isBoolean())) return std::nullopt;
  return found->second.integer();
}

}  // namespace

CVNZiraSource::CVNZiraSource() = default;

CVNZiraSource::~CVNZiraSource() {
  connectionObservation_.reset();
  if (input_ && input_->isRunning()) {
    input_->setDelegate(nullptr);
    input_->stopCaptureWithReason("Vovi source dealloc");
  }
}

void CVNZiraSource::registerDefaults() {
  platform::UserDefaults::standard().registerDefaults(
      {{"ziraInputBufferSize", platform::Value(std::int64_t{5})}, {"actionWaitTimeout", platform::Value(1.0)}});
}

std::optional<std::string> CVNZiraSource::stringFromValidationErrorReason(std::int32_t reason) {
  switch (reason) {
    case 12: return "Vovi source is not available";
    case 13: return "Vovi source disabled";
    case 14: return "Vovi capture not started";
    case 15: return "Vovi input format is not valid";
    default: return std::nullopt;
  }
}

std::shared_ptr<CVNZiraSource> CVNZiraSource::createWithDictionary(const platform::Dictionary& dictionary) {
  auto source = std::make_shared<CVNZiraSource>();
  if (const auto* name = stringAt(dictionary, "displayName")) source->displayName_ = *name;
  if (const auto* id = stringAt(dictionary, "inputUniqueID")) source->inputUniqueID_ = *id;
  if (const auto* name = stringAt(dictionary, "inputDisplayName")) source->inputDisplayName_ = *name;
  if (auto type = numberAt(dictionary, "DeviceType")) source->deviceType_ = static_cast<std::int32_t>(*type);
  if (auto vanc = numberAt(dictionary, "shouldProcessVANCTriggers")) source->shouldProcessVANCTriggers_.store(*vanc != 0);
  if (auto found = dictionary.find("inputSettings"); found != dictionary.end() && found->second.isDictionary()) {
    source->settings_ = *found->second.dictionary();
  }
  if (const auto* connection = stringAt(dictionary, "connectionDescription")) {
    source->lastKnownConnectionDescription_ = *connection;
  }
  if (auto enabled = numberAt(dictionary, "enabled")) source->setIsEnabled(*enabled != 0);
  return source;
}

std::shared_ptr<CVNZiraSource> CVNZiraSource::createWithJSONDictionary(const platform::Dictionary& json) {
  auto source = std::make_shared<CVNZiraSource>();
  source->updateWithJSONDictionary(json);
  return source;
}

platform::Dictionary CVNZiraSource::dictionaryRepresentation() const {
  std::lock_guard guard(mutex_);
  platform::Dictionary out;
  if (!displayName_.empty()) out["displayName"] = platform::Value(displayName_);
  if (!inputUniqueID_.empty()) out["inputUniqueID"] = platform::Value(inputUniqueID_);
  if (!inputDisplayName_.empty()) out["inputDisplayName"] = platform::Value(inputDisplayName_);
  out["DeviceType"] = platform::Value(static_cast<std::int64_t>(static_cast<std::uint32_t>(deviceType_)));
  out["enabled"] = platform::Value(isEnabled_);
  out["shouldProcessVANCTriggers"] = platform::Value(shouldProcessVANCTriggers_.load());
  if (!settings_.empty()) out["inputSettings"] = platform::Value(settings_);
  if (!lastKnownConnectionDescription_.empty()) {
    out["connectionDescription"] = platform::Value(lastKnownConnectionDescription_);
  }
  return out;
}

platform::Dictionary CVNZiraSource::JSONDictionary() const {
  std::lock_guard guard(mutex_);
  platform::Dictionary out;
  if (!displayName_.empty()) out["display_name"] = platform::Value(displayName_);
  if (!inputDescription_.empty()) out["input_description"] = platform::Value(inputDescription_);
  return out;
}

void CVNZiraSource::updateWithJSONDictionary(const platform::Dictionary& json) {
  std::lock_guard guard(mutex_);
  if (const auto* name = stringAt(json, "display_name")) displayName_ = *name;
  if (const auto* description = stringAt(json, "input_description")) inputDescription_ = *description;
}

void CVNZiraSource::setInput(std::shared_ptr<pluginframework::CVNVideoInput> input) {
  std::lock_guard change(changeMutex_);
  auto old = read(input_);
  if (input == old) return;
  {
    std::lock_guard guard(mutex_);
    if (input) {
      inputDisplayName_ = input->name();
      if (input->uniqueID() != inputUniqueID_) {
        lastKnownConnectionDescription_.clear();
        inputUniqueID_ = input->uniqueID();
      }
      deviceType_ = input->deviceType();
    }
    warningMessages_.clear();
  }
  if (isEnabled() && old && old->isRunning()) stopCaptureWithReason("Changing selected input");
  std::optional<platform::ObservationToken> observation;
  if (input) {
    std::weak_ptr<CVNZiraSource> weakSelf = weak_from_this();
    observation.emplace(input->connectionDescription().observe([weakSelf](const auto&, const auto&) {
      platform::DispatchQueue::main().async([weakSelf] {
        if (auto self = weakSelf.lock()) self->checkIfConnectionDescriptionChanged();
      });
    }));
  }
  {
    std::lock_guard guard(mutex_);
    connectionObservation_ = std::move(observation);
    input_ = input;
  }
  if (input) {
    bool sessions;
    {
      std::lock_guard sessionsGuard(sessionsMutex_);
      sessions = !inputSessions_.empty();
    }
    if (!sessions) input->setIgnoreLogs(true);
    if (isEnabled() && !input->isRunning()) startCapture();
  }
  updateInputDescription();
}

std::shared_ptr<pluginframework::CVNVideoInput> CVNZiraSource::input() const { return read(input_); }

void CVNZiraSource::setIsEnabled(bool enabled) {
  {
    std::lock_guard change(changeMutex_);
    bool changed;
    {
      std::lock_guard guard(mutex_);
      warningMessages_.clear();
      changed = enabled != isEnabled_;
      isEnabled_ = enabled;
    }
    auto current = input();
    if (changed && current) {
      if (enabled && !current->isRunning()) startCapture();
      if (!enabled && current->isRunning()) stopCaptureWithReason("Vovi source disabled");
    }
  }
  checkIfConnectionDescriptionChanged();
}

bool CVNZiraSource::isEnabled() const {
  std::lock_guard guard(mutex_);
  return isEnabled_;
}

void CVNZiraSource::restartCapture() {
  std::lock_guard change(changeMutex_);
  auto current = input();
  if (!current) return;
  if (isEnabled() && current->isRunning()) stopCaptureWithReason("Restart capture requested");
  removeAllWarnings();
  if (isEnabled() && !current->isRunning()) startCapture();
}

bool CVNZiraSource::startCapture() {
  std::lock_guard change(changeMutex_);
  auto current = input();
  if (!current) return false;
  const auto settings = this->settings();
  current->setDelegate(this);
  current->setSettings(settings);
  logMessage("Start capture: " + platform::Value(settings).describe(), 2, false);
  platform::Error error;
  if (current->startCapture(&error)) {
    updateInputDescription();
    return true;
  }
  logMessage(error.localizedDescription, 0, true);
  return false;
}

void CVNZiraSource::stopCaptureWithReason(const std::string& reason) {
  std::lock_guard change(changeMutex_);
  auto current = input();
  if (!current) return;
  logMessage("Stop capture (" + reason + ")", 2, false);
  // Waits for a frame being handed on; the capture thread takes no lock of ours but mutex_ briefly.
  current->setDelegate(nullptr);
  current->stopCaptureWithReason(reason);
}


void CVNZiraSource::addZiraSession(const std::shared_ptr<CVNZiraInputSession>& session) {
  std::size_t count;
  {
    std::lock_guard guard(sessionsMutex_);
    if (inputSessions_.empty()) {
      if (auto current = input()) current->setIgnoreLogs(false);
    }
    inputSessions_.push_back(session);
    count = inputSessions_.size();
  }
  logMessage("ZiraSource (" + displayName() + "): New session added (count: " + std::to_string(count) + ")", 2, false);
}

void CVNZiraSource::removeZiraSession(const CVNZiraInputSession* session) {
  std::size_t count;
  {
    std::lock_guard guard(sessionsMutex_);
    std::erase_if(inputSessions_, [session](const auto& weak) {
      auto held = weak.lock();
      return !held || held.get() == session;
    });
    count = inputSessions_.size();
    if (inputSessions_.empty()) {
      if (auto current = input()) current->setIgnoreLogs(true);
    }
  }
  logMessage("ZiraSource (" + displayName() + "): Session removed (count: " + std::to_string(count) + ")", 2, false);
}

void CVNZiraSource::inputDidProduceFrame(const pluginframework::CVNInputFrame& frame) {
  if (shouldProcessVANCTriggers() && frame.vanc) {
    if (auto packets = captions::CVNVANCPacket::VANCPacketsWithCMSampleBuffer(*frame.vanc)) {
      for (const auto& packet : *packets) {
        if (packet->packetType() != captions::VANCPacketType::SCTE104) continue;
        platform::NotificationCenter::defaultCenter().post(
            platform::Notification{kZiraSourceDidReceiveSCTEPacketNotification, this, packet, {}});
      }
    }
  }
  lastReceivedFrameTime_.store(mediaClockSeconds());
  std::lock_guard guard(sessionsMutex_);
  for (const auto& weak : inputSessions_) {
    if (auto session = weak.lock()) session->inputDidProduceVideoBuffer(frame.video, frame.audio, frame.closedCaption);
  }
}

void CVNZiraSource::inputFormatDidChange() {
  logMessage("ZiraSource (" + displayName() + "): Input format did change", 2, false);
}

std::optional<std::string> CVNZiraSource::inputDeviceLogoImage() const {
  static const std::map<std::int32_t, const char*> logos = {
      {0, "Source_AJA"},  {1, "Source_DeckLink"}, {2, "Source_Deltacast"}, {3, "Source_ZRXV"}, {4, "Source_ZRXV"},
      {5, "Source_ZRXN"}, {6, "Source_ZRXCGS"},   {7, "Source_ZRXCG"},     {9, "Source_NDI"}};
  auto found = logos.find(deviceType());
  if (found == logos.end()) return std::nullopt;
  return found->second;
}

bool CVNZiraSource::hasWarning() const {
  std::lock_guard guard(mutex_);
  return !warningMessages_.empty();
}

std::optional<std::string> CVNZiraSource::warningToolTip() const {
  std::lock_guard guard(mutex_);
  if (warningMessages_.empty()) return std::nullopt;
  return warningMessages_.front();
}

std::vector<std::string> CVNZiraSource::warningMessages() const {
  std::lock_guard guard(mutex_);
  return warningMessages_;
}

void CVNZiraSource::addWarning(const std::string& warning) {
  std::lock_guard guard(mutex_);
  warningMessages_.push_back(warning);
}

void CVNZiraSource::removeAllWarnings() {
  std::lock_guard guard(mutex_);
  warningMessages_.clear();
}

void CVNZiraSource::updateInputDescription() {
  const auto current = input();
  const auto settings = this->settings();
  const std::string name = inputDisplayName();
  std::string description;
  if (!name.empty()) {
    description = name;
    const auto autoDetect = settings.find("autoDetectInputFormat");
    if (autoDetect != settings.end() && autoDetect->second.booleanOr(false)) {
      if (auto mode = current ? current->selectedDisplayMode() : nullptr) description += " (" + mode->name() + ")";
    } else if (const auto* modeName = stringAt(settings, "displayModeName")) {
      description += " (" + *modeName + ")";
    }
    if (!current) description += " <Missing>";
  }
  std::lock_guard guard(mutex_);
  inputDescription_ = description;
}

void CVNZiraSource::checkIfConnectionDescriptionChanged() {
  const auto current = input();
  if (!isEnabled() || !current) return;
  const std::string now = current->connectionDescription().get();
  std::string before;
  CVNZiraSourceDelegate* delegate;
  {
    std::lock_guard guard(mutex_);
    if (now.empty() || now == lastKnownConnectionDescription_) return;
    before = lastKnownConnectionDescription_;
    lastKnownConnectionDescription_ = now;
    delegate = delegate_;
  }
  const std::string title = current->name();
  if (!before.empty()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               "!!!!! starting alert runModal \"" + title + ": " + now);
    platform::DispatchQueue::main().async([title, before, now] {
      foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
          title, "Input connection changed from last time you use this live source. Chaging from: " + before + " to " +
                     now);
    });
  }
  if (delegate) delegate->ziraSourceDidUpdateLastKnownConnectionDescriptionTo(*this, now);
}

void CVNZiraSource::logMessage(const std::string& message, std::int32_t level, bool show) {
  if (level <= 1) {
    std::weak_ptr<CVNZiraSource> weakSelf = weak_from_this();
    platform::DispatchQueue::main().async([weakSelf, message] {
      if (auto self = weakSelf.lock()) self->addWarning(message);
    });
  }
  foundation::CVNLogController::sharedLogController().logMessage(
      "Vovi Source \"" + displayName() + "\" using " + inputDisplayName() + ": " + message, level, show);
}

std::string CVNZiraSource::displayName() const {
  std::lock_guard guard(mutex_);
  return displayName_;
}
void CVNZiraSource::setDisplayName(const std::string& name) {
  std::lock_guard guard(mutex_);
  displayName_ = name;
}
std::string CVNZiraSource::inputUniqueID() const {
  std::lock_guard guard(mutex_);
  return inputUniqueID_;
}
std::string CVNZiraSource::inputDisplayName() const {
  std::lock_guard guard(mutex_);
  return inputDisplayName_;
}
void CVNZiraSource::setInputDisplayName(const std::string& name) {
  std::lock_guard guard(mutex_);
  inputDisplayName_ = name;
}
std::int32_t CVNZiraSource::deviceType() const {
  std::lock_guard guard(mutex_);
  return deviceType_;
}
void CVNZiraSource::setDeviceType(std::int32_t type) {
  std::lock_guard guard(mutex_);
  deviceType_ = type;
}
platform::Dictionary CVNZiraSource::settings() const {
  std::lock_guard guard(mutex_);
  return settings_;
}
void CVNZiraSource::setSettings(const platform::Dictionary& settings) {
  {
    std::lock_guard guard(mutex_);
    settings_ = settings;
  }
  updateInputDescription();
}
bool CVNZiraSource::shouldProcessVANCTriggers() const { return shouldProcessVANCTriggers_.load(); }
void CVNZiraSource::setShouldProcessVANCTriggers(bool value) { shouldProcessVANCTriggers_.store(value); }
std::string CVNZiraSource::inputDescription() const {
  std::lock_guard guard(mutex_);
  return inputDescription_;
}
std::string CVNZiraSource::lastKnownConnectionDescription() const {
  std::lock_guard guard(mutex_);
  return lastKnownConnectionDescription_;
}
double CVNZiraSource::lastReceivedFrameTime() const { return lastReceivedFrameTime_.load(); }
void CVNZiraSource::setDelegate(CVNZiraSourceDelegate* delegate) {
  std::lock_guard guard(mutex_);
  delegate_ = delegate;
}

}  // namespace media
