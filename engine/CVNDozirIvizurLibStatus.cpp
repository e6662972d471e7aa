// The engine playback status, its names, the host's status calls and the
// output connection alert.

#include <array>

#include "engine/CVNDozirIvizurLib.h"
#include "foundation/CVNAlertUtilities.h"
#include "foundation/CVNLogController.h"

namespace engine {
namespace {

constexpr std::array<const char*, 8> kEngineStatusNames = {
    "Closed", "Stopped", "Playing", "Paused", "Hold Last Frame", "Hold First Frame", "External Input",
    "External Input Paused"};

std::optional<items::ItemDictionary> copyOf(const items::ItemDictionary* item) {
  return item ? std::optional<items::ItemDictionary>(*item) : std::nullopt;
}

const items::ItemDictionary* pointerTo(const std::optional<items::ItemDictionary>& item) {
  return item ? &*item : nullptr;
}

}  // namespace

std::string CVNDozirIvizurLib::stringFromEnginePlaybackStatus(std::int32_t status) {
  const auto index = static_cast<std::uint32_t>(status);
  return index < kEngineStatusNames.size() ? kEngineStatusNames[index] : "Undefined";
}

std::int32_t CVNDozirIvizurLib::enginePlaybackStatusFromString(const std::string& name) {
  for (std::size_t i = 0; i < kEngineStatusNames.size(); ++i)
    if (name == kEngineStatusNames[i]) return static_cast<std::int32_t>(i);
  return mixer::kEngineUndefined;
}

std::optional<platform::Error> CVNDozirIvizurLib::errorFromClass(const std::string& className,
                                                                 const std::string& description) {
  if (className.empty() || description.empty()) return std::nullopt;
  foundation::CVNLogController::sharedLogController().logMessage(description, 0, true);
  platform::Dictionary userInfo;
  userInfo["Description"] = platform::Value(description);
  return platform::Error(className, 0, description, std::move(userInfo));
}

std::int32_t CVNDozirIvizurLib::enginePlaybackStatus() const {
  const std::lock_guard lock(enginePlaybackStatusLock_);
  return enginePlaybackStatus_;
}

void CVNDozirIvizurLib::setEnginePlaybackStatus(std::int32_t status) {
  const std::lock_guard lock(enginePlaybackStatusLock_);
  if (status == enginePlaybackStatus_) return;
  const auto old = stringFromEnginePlaybackStatus(enginePlaybackStatus_);
  enginePlaybackStatus_ = status;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      2, false, "DozirIvizur status changed from '%s' to '%s'", old.c_str(),
      stringFromEnginePlaybackStatus(status).c_str());
  if (delegateVersion2_) return;
  const auto timestamp = platform::Clock::current().wallNow();
  platform::DispatchQueue::main().async([weak = weak_from_this(), timestamp] {
    const auto self = weak.lock();
    auto* host = self ? self->delegate() : nullptr;
    if (!host) return;
    host->playbackStatusDidChange(self->enginePlaybackStatus(),
                                  host->answersTimestamps() ? CVNEngineDelegate::Timestamp(timestamp) : std::nullopt);
  });
}

void CVNDozirIvizurLib::itemsOrStatusChanged(std::int32_t engineStatus, const items::ItemDictionary* fadeOutItem,
                                             const items::ItemDictionary* currentItem,
                                             const items::ItemDictionary* fadeInItem) {
  setEnginePlaybackStatus(engineStatus);
  if (!delegateVersion2_) return;
  if (platform::DispatchQueue::main().isCurrent()) {
    if (auto* host = delegate()) host->itemsOrStatusChanged(enginePlaybackStatus(), fadeOutItem, currentItem, fadeInItem);
    return;
  }
  platform::DispatchQueue::main().async([weak = weak_from_this(), fadeOut = copyOf(fadeOutItem),
                                         current = copyOf(currentItem), fadeIn = copyOf(fadeInItem)] {
    const auto self = weak.lock();
    auto* host = self ? self->delegate() : nullptr;
    if (host)
      host->itemsOrStatusChanged(self->enginePlaybackStatus(), pointerTo(fadeOut), pointerTo(current),
                                 pointerTo(fadeIn));
  });
}

void CVNDozirIvizurLib::videoMixerStatusDidChange(std::uint64_t queuePlayerStatus) {
  // Waiting (1) and unknown statuses leave the engine status as it is.
  if (queuePlayerStatus == 1 || queuePlayerStatus > 5) return;
  setEnginePlaybackStatus(mixer::engineStatusFromCVNPlaybackStatus(queuePlayerStatus));
}

void CVNDozirIvizurLib::connectionDescriptionChanged(const std::string& old, const std::string& now) {
  if (old == now) return;
  const auto output = selectedOutput();
  foundation::CVNAlertUtilities::runCriticalAlertPanelWithTitle(output ? output->name() : std::string(),
                                                                "Ouput Connection changed from: " + old + " to " + now);
}

}  // namespace engine
