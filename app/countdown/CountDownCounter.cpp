#include "app/countdown/CountDownCounter.h"

namespace app::countdown {

TimeCountColour colourForRemainingSeconds(double seconds) {
  if (seconds < 10.0) return TimeCountColour::Red;
  if (seconds < 30.0) return TimeCountColour::Orange;
  return TimeCountColour::Green;
}

TimeCountDisplay timeCountDisplay(std::int32_t type, const nodes::PlaylistItem& clip, double positionInSeconds) {
  const nodes::CVNTimeFormatter formatter = clip.timeCodeFormatter();
  const double startInBlock = clip.relativeStartTimeInSeconds() + positionInSeconds;
  double value = 0.0;
  TimeCountColour colour = TimeCountColour::White;
  switch (static_cast<TimeCountType>(type)) {
    case TimeCountType::ClipRemaining:
      value = clip.durationInSeconds() - positionInSeconds;
      colour = colourForRemainingSeconds(value);
      break;
    case TimeCountType::ClipElapsed:
      value = positionInSeconds;
      colour = TimeCountColour::Green;
      break;
    case TimeCountType::BlockRemaining:
      value = clip.blockDurationInSeconds() - startInBlock;
      colour = colourForRemainingSeconds(value);
      break;
    case TimeCountType::BlockElapsed:
      value = startInBlock;
      colour = TimeCountColour::Green;
      break;
    case TimeCountType::MediaTimeCode:
      value = formatter.doubleValueFromString(clip.mediaItemStartTimeCode(), false, false).value_or(0.0) +
              positionInSeconds;
      break;
    default:
      return {kNoTimeCountText, TimeCountColour::White};
  }
  // A timecode carries frames the counter has no room for.
  std::string text = formatter.stringForObjectValue(value);
  if (text.size() > kTimeCountTextLength) text.resize(kTimeCountTextLength);
  return {std::move(text), colour};
}

std::optional<std::size_t> nextClipIndex(std::size_t count, std::size_t current, bool chainMode, bool loopMode) {
  if (count == 0 || current >= count) return std::nullopt;
  if (chainMode && loopMode) return (current + 1) % count;
  if (loopMode) return current;
  if (chainMode && current + 1 < count) return current + 1;
  return std::nullopt;
}

void computeBlockDurations(const std::vector<std::shared_ptr<nodes::PlaylistItem>>& playlist, bool chainMode) {
  std::size_t blockBegin = 0;
  double start = 0.0;
  for (std::size_t i = 0; i < playlist.size(); ++i) {
    playlist[i]->setRelativeStartTimeInSeconds(start);
    start += playlist[i]->durationInSeconds();
    // chainsIntoNextItem(false) is the clip's own "Chain" end behaviour.
    const bool blockEnds = i + 1 == playlist.size() || !(chainMode || playlist[i]->chainsIntoNextItem(false));
    if (!blockEnds) continue;
    for (std::size_t j = blockBegin; j <= i; ++j) playlist[j]->setBlockDurationInSeconds(start);
    blockBegin = i + 1;
    start = 0.0;
  }
}

int timeCountSize(double fieldWidth, double fieldHeight, const std::function<TextSize(int fontSize)>& measure) {
  const int widthLimit = static_cast<int>(fieldWidth - 50.0);
  const auto tooBig = [&](int size) {
    const TextSize text = measure(size);
    return text.width > widthLimit || text.height > fieldHeight;
  };
  // The first size that is too big, by halving; the text grows with the size.
  int low = kSmallestTimeCountSize;
  int high = kLargestTimeCountSize + 1;  // past the end: none is too big
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (tooBig(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low > kLargestTimeCountSize ? kLargestTimeCountSize : low - 1;
}

}  // namespace app::countdown
