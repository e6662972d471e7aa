#include "app/browser/OfflineClipSheet.h"

#include <cmath>

namespace app::browser {

namespace {

bool isForbidden(char c) { return c == ':' || c == '/' || c == '\\' || c == '\0'; }

}  // namespace

const std::vector<double>& OfflineClipSheet::frameRates() {
  static const std::vector<double> rates = {23.976, 24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0};
  return rates;
}

std::vector<std::string> OfflineClipSheet::frameRateTitles() {
  return {"23.976", "24", "25", "29.97", "30", "50", "59.94", "60"};
}

OfflineClipSheet::NameChange OfflineClipSheet::cleanName(std::string_view text) {
  NameChange change;
  bool forbidden = false;
  for (const char c : text) {
    if (isForbidden(c)) {
      forbidden = true;
    } else {
      change.text.push_back(c);
    }
  }
  change.beep = forbidden || text.size() > kOfflineNameBeepLength;
  return change;
}

void OfflineClipSheet::open(std::string folder, double durationInSeconds) {
  fileName_ = kUntitledOfflineClipName;
  folder_ = std::move(folder);
  durationInSeconds_ = durationInSeconds;
  formatter_.setFormat(nodes::kTimeFormatHoursMinutesSeconds);
  frameRateChanged(rateIndex_);
}

OfflineClipSheetState OfflineClipSheet::state() const {
  OfflineClipSheetState state;
  state.fileName = fileName_;
  state.selectedCharacters = fileName_.size() > kUntitledSelectedCharacters ? kUntitledSelectedCharacters : 0;
  state.folder = folder_;
  state.durationInSeconds = durationInSeconds_;
  state.frameRateTitles = frameRateTitles();
  state.frameRateIndex = rateIndex_;
  state.dropFrameEnabled = dropFrameEnabled_;
  state.dropFrame = dropFrame_;
  return state;
}

OfflineClipSheet::NameChange OfflineClipSheet::nameDidChange(std::string_view text) {
  NameChange change = cleanName(text);
  fileName_ = change.text;
  return change;
}

void OfflineClipSheet::setDurationText(std::string_view text) {
  if (const auto seconds = formatter_.doubleValueFromString(text, false, false)) durationInSeconds_ = *seconds;
}

void OfflineClipSheet::frameRateChanged(std::size_t index) {
  if (index >= frameRates().size()) return;
  rateIndex_ = index;
  const double rate = frameRates()[index];
  dropFrameEnabled_ = rate != std::floor(rate);
  if (!dropFrameEnabled_) dropFrame_ = false;
  formatter_.setFramesPerSeconds(rate);
  formatter_.setDropFrame(dropFrame_);
}

void OfflineClipSheet::dropFrameChanged(bool on) {
  dropFrame_ = on && dropFrameEnabled_;
  formatter_.setDropFrame(dropFrame_);
}

}  // namespace app::browser
