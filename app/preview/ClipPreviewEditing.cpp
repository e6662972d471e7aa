// The editing side of the clip preview: marking, going to and clearing the
// in and out points, typed timecodes, mix points, splitting, which controls
// are enabled, and the keyboard.

#include <algorithm>
#include <cctype>
#include <cmath>

#include "app/preview/ClipPreviewViewController.h"

namespace app {

namespace {

constexpr double kOneSecond = 1.0;
// A rate this close to 0 counts as paused.
constexpr float kPausedRate = 1.1920929e-7F;

}  // namespace

double ClipPreviewViewController::frameDurationSeconds() const {
  if (!playerView_) return 0.0;
  const double seconds = playerView_->itemFrameDuration().seconds();
  return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

void ClipPreviewViewController::markInPoint() { setInPointInSeconds(currentPosition()); }
void ClipPreviewViewController::markOutPoint() { setOutPointInSeconds(currentPosition()); }
void ClipPreviewViewController::clearInPoint() { setInPointInSeconds(-1.0); }
void ClipPreviewViewController::clearOutPoint() { setOutPointInSeconds(-1.0); }

void ClipPreviewViewController::goInPoint() {
  if (!item_) return;
  const double in = overridenInOutMode_ ? item_->overridenInPointInSeconds() : item_->inPointInSeconds();
  seekToTime(std::max(in, 0.0), true);
}

void ClipPreviewViewController::goOutPoint() {
  if (!item_) return;
  double out = 0.0;
  if (overridenInOutMode_) {
    out = std::max(item_->overridenOutPointInSeconds(), 0.0);
  } else if (item_->outPointInSeconds() > 0.0) {
    out = item_->outPointInSeconds();
  } else {
    out = item_->mediaItemDurationInSeconds() - frameDurationSeconds();
  }
  seekToTime(out, true);
}

void ClipPreviewViewController::setInPointInSeconds(double seconds) {
  if (!item_) return;
  if (!(delegate_ && delegate_->setInPointInSeconds(seconds))) {
    if (seconds > item_->outPointInSeconds() && item_->outPointInSeconds() >= 0.0) clearOutPoint();
    item_->setInPointInSeconds(seconds);
  }
  reflectTimingUIForItem();
}

void ClipPreviewViewController::setOutPointInSeconds(double seconds) {
  if (!item_) return;
  if (!(delegate_ && delegate_->setOutPointInSeconds(seconds))) {
    // Nobody else checks it here: an out point before the in point is refused.
    const double in = item_->inPointInSeconds();
    const bool beforeIn = seconds >= 0.0 && in >= 0.0 && seconds < in;
    if (!beforeIn) item_->setOutPointInSeconds(seconds);
  }
  reflectTimingUIForItem();
}

void ClipPreviewViewController::setMediaItemDuration(double seconds) {
  if (!item_) return;
  if (!(delegate_ && delegate_->setMediaItemDurationInSeconds(seconds))) item_->setMediaItemDurationInSeconds(seconds);
}

std::optional<double> ClipPreviewViewController::enteredSeconds(nodes::CVNTimeFormatter& formatter,
                                                                const std::string& text, double base) {
  // The keyboard types "=" and a key after the field's old text: the entry
  // starts at the last "=", and "=+" or "=-" is relative.
  std::string entry = text;
  if (const auto marker = entry.rfind('='); marker != std::string::npos && marker > 0) entry.erase(0, marker);
  if (entry.size() > 1 && entry[0] == '=' && (entry[1] == '+' || entry[1] == '-')) entry.erase(0, 1);
  const auto seconds = formatter.objectValueForEntry(entry);
  if (!seconds) {
    reflectTimingUIForItem();
    return std::nullopt;
  }
  if (!formatter.enteredValueIsSigned()) return seconds;
  formatter.setEnteredValueIsSigned(false);
  return base + *seconds;
}

void ClipPreviewViewController::mediaDurationFieldAction(const std::string& text) {
  if (const auto seconds = enteredSeconds(formatterWithoutOffset_, text, item_ ? item_->mediaItemDurationInSeconds() : 0.0)) {
    setMediaItemDuration(*seconds);
  }
  reflectTimingUIForItem();
}

void ClipPreviewViewController::inPointTextFieldAction(const std::string& text) {
  const double before = itemResolvedInPointInSeconds();
  const auto seconds = enteredSeconds(formatterWithOffset_, text, std::max(before, 0.0));
  if (!seconds || !item_) return;
  setInPointInSeconds(*seconds);
  if (itemResolvedInPointInSeconds() != before) goInPoint();
}

void ClipPreviewViewController::outPointTextFieldAction(const std::string& text) {
  const double before = itemResolvedOutPointInSeconds();
  const double base = before > 0.0 ? before : (item_ ? item_->mediaItemDurationInSeconds() : 0.0);
  const auto seconds = enteredSeconds(formatterWithOffset_, text, base);
  if (!seconds || !item_) return;
  setOutPointInSeconds(*seconds);
  if (itemResolvedOutPointInSeconds() != before) goOutPoint();
}

void ClipPreviewViewController::currentPositionTextFieldAction(const std::string& text) {
  const auto seconds = enteredSeconds(formatterWithOffset_, text, currentPosition());
  if (!seconds) return;
  const double duration = playerView_ ? playerView_->itemDuration() : 0.0;
  seekToTime(std::clamp(*seconds, 0.0, std::max(duration, 0.0)), true);
  if (controls_) controls_->focusPane();
}

void ClipPreviewViewController::inPointSegmentedControlPushed(int segment) {
  if (segment == 0) markInPoint();
  if (segment == 1) goInPoint();
  if (segment == 2) clearInPoint();
}

void ClipPreviewViewController::outPointSegmentedControlPushed(int segment) {
  if (segment == 0) markOutPoint();
  if (segment == 1) goOutPoint();
  if (segment == 2) clearOutPoint();
}

void ClipPreviewViewController::previousClipMixPointSegmentedButtonAction(int segment) {
  if (!item_) return;
  if (segment == 0) item_->setPreviousItemMixPointInSeconds(currentPosition());
  if (segment == 1) {
    if (item_->hasPreviousItemMixPoint()) {
      seekToTime(std::max(item_->previousItemMixPointInSeconds(), 0.0), true);
    } else {
      goInPoint();
    }
  }
  if (segment == 2) item_->clearPreviousItemMixPoint();
}

void ClipPreviewViewController::nextClipMixPointSegmentedButonAction(int segment) {
  if (!item_) return;
  if (segment == 0) item_->setNextItemMixPointInSeconds(currentPosition());
  if (segment == 1) {
    if (item_->hasNextItemMixPoint()) {
      seekToTime(std::max(item_->nextItemMixPointInSeconds(), 0.0), true);
    } else {
      goOutPoint();
    }
  }
  if (segment == 2) item_->clearNextItemMixPoint();
}

void ClipPreviewViewController::splitButtonPushed() {
  splitClipAtPosition(currentPosition());
  reflectTimingUIForItem();
}

void ClipPreviewViewController::splitClipAtPosition(double seconds) {
  if (delegate_) delegate_->splitAtTime(seconds);
}

void ClipPreviewViewController::setShowOverridenInOutPointCheckbox(bool show) {
  overridenInOutMode_ = show;
  if (controls_) controls_->setHidden(ClipPreviewControl::OverridenInOutPointCheckBox, !show);
}

void ClipPreviewViewController::inOutPointCheckBoxAction(bool checked) {
  if (delegate_) delegate_->setHasOverridenInOutPoint(checked);
}

bool ClipPreviewViewController::isLive() const {
  const std::int32_t type = item_->itemType();
  return type == kClipPreviewLiveSource || type == kClipPreviewLiveInput ||
         (type == kClipPreviewNetworkStream && item_->isStreamed());
}

bool ClipPreviewViewController::isTimed() const { return !isLive() && item_->itemType() != kClipPreviewStillImage; }

void ClipPreviewViewController::setEnabled(ClipPreviewControl control, bool enabled) {
  if (controls_) controls_->setEnabled(control, enabled);
}

void ClipPreviewViewController::updateControlsEnabledStates() {
  inOutFieldsEnabled_ = false;
  if (!item_) return;
  const bool prevent = delegate_ && delegate_->shouldPreventInOutDurationModifications();
  const bool overrideShown = delegate_ && delegate_->shouldShowOverridenInOutPointCheckbox();
  const bool overriden = item_->hasOverridenInOutPoint().value_or(false);
  const bool live = isLive();
  const bool exists = resolvedURLExists();
  const bool timed = isTimed();
  const bool editable = overrideShown ? overriden : true;
  const bool inOutEnabled = timed && editable && !prevent;
  const bool durationEnabled = !timed && editable && !prevent;
  const bool marksEnabled = inOutEnabled && exists;

  setEnabled(ClipPreviewControl::PlayPauseButton, live || exists);
  setEnabled(ClipPreviewControl::InPointField, inOutEnabled);
  setEnabled(ClipPreviewControl::OutPointField, inOutEnabled);
  setEnabled(ClipPreviewControl::MediaDurationField, durationEnabled);
  for (ClipPreviewControl control : {ClipPreviewControl::InPointMark, ClipPreviewControl::InPointClear,
                                     ClipPreviewControl::OutPointMark, ClipPreviewControl::OutPointClear,
                                     ClipPreviewControl::SplitButton}) {
    setEnabled(control, marksEnabled);
  }
  setEnabled(ClipPreviewControl::InPointGo, timed && exists);
  setEnabled(ClipPreviewControl::OutPointGo, timed && exists);
  inOutFieldsEnabled_ = inOutEnabled;
}

bool ClipPreviewViewController::handleKeyDownWithEvent(const ClipPreviewKey& key) {
  if (key.kind != ClipPreviewKey::Kind::Character) {
    const bool left = key.kind == ClipPreviewKey::Kind::LeftArrow;
    if (key.option) {
      left ? goInPoint() : goOutPoint();
      return true;
    }
    const double step = key.shift ? kOneSecond : frameDurationSeconds();
    const double target = currentPosition() + (left ? -step : step);
    seekToTime(target <= 0.0 ? 0.0 : target, true, left);
    return true;
  }
  if (key.characters.size() != 1) return false;
  const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(key.characters[0])));
  if (c == '=' || c == '+' || c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
    if (controls_) controls_->focusCurrentPositionField(std::string("=") + c);
    return true;
  }
  if (c == ' ') {
    playPauseButtonAction();
    return true;
  }
  if (c == 'i' || c == 'o') {
    const bool in = c == 'i';
    if (key.shift) {
      in ? goInPoint() : goOutPoint();
    } else if (inOutFieldsEnabled_) {
      if (key.option) {
        in ? clearInPoint() : clearOutPoint();
      } else {
        in ? markInPoint() : markOutPoint();
      }
    }
    return true;
  }
  if (c == 'x' && key.option) {
    if (inOutFieldsEnabled_) {
      clearInPoint();
      clearOutPoint();
    }
    return true;
  }
  return false;
}

void ClipPreviewViewController::playHeadTextFieldDidBecomeFirstResponder() {
  if (playerView_ && std::fabs(playerView_->rate()) > kPausedRate) playerView_->togglePlayPause();
}

}  // namespace app
