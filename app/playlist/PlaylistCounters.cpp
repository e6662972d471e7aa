#include "app/playlist/PlaylistCounters.h"

namespace app {

std::int64_t blockStartIndex(const nodes::VideoPlaylistDocument::Rows& rows, std::int64_t index, bool chainMode) {
  if (index < 0 || index >= static_cast<std::int64_t>(rows.size())) return index;
  std::int64_t start = index;
  while (start > 0 && rows[static_cast<std::size_t>(start - 1)]->chainsIntoNextItem(chainMode)) --start;
  return start;
}

ClipCounters countersAtPosition(const nodes::VideoPlaylistDocument& document, std::int64_t index, double position) {
  const auto rows = document.playlist();
  if (index < 0 || index >= static_cast<std::int64_t>(rows.size())) return {};
  const auto& clip = *rows[static_cast<std::size_t>(index)];
  const auto& first = *rows[static_cast<std::size_t>(blockStartIndex(rows, index, document.chain()))];

  double offsetInBlock = clip.relativeStartTimeInSeconds() - first.relativeStartTimeInSeconds();
  if (offsetInBlock < 0.0) offsetInBlock += kSecondsPerDay;  // the start times wrapped at midnight

  const double duration = clip.durationInSeconds();
  const double blockDuration = clip.blockDurationInSeconds();
  ClipCounters counters;
  counters.itemElapsed = position;
  counters.itemRemaining = duration - position;
  counters.blockElapsed = position + offsetInBlock;
  counters.blockRemaining = static_cast<float>(blockDuration - counters.blockElapsed);
  counters.itemProgress = duration != 0.0 ? position / duration : 0.0;
  counters.blockProgress = blockDuration != 0.0 ? counters.blockElapsed / blockDuration : 0.0;
  return counters;
}

}  // namespace app
