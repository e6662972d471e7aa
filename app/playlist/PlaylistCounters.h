#pragma once
// PlaylistCounters: the figures of a playlist window's counters and progress
// bars for the clip on air at a position: elapsed and remaining time in the
// clip and in its block (the run of chained rows it belongs to).
//
// The block's elapsed time counts from the block's first row. Row start times
// are times of day when the playlist has an absolute start time, and wrap
// once they pass midnight; the difference to the block's first row is taken
// over the day boundary, so a block that runs past midnight never shows a
// negative elapsed time.
//
// Pure functions over a document's rows; main thread (rows are read once).

#include <cstdint>

#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app {

inline constexpr double kSecondsPerDay = 86400.0;

struct ClipCounters {
  double itemElapsed = 0.0;
  double itemRemaining = 0.0;
  double blockElapsed = 0.0;
  double blockRemaining = 0.0;  // held in single precision, as the counters show it
  double itemProgress = 0.0;    // 0 when the clip has no duration
  double blockProgress = 0.0;   // 0 when the block has no duration
  friend bool operator==(const ClipCounters&, const ClipCounters&) = default;
};

// The first row of the block of row `index`: back while the row before runs
// on into the next one (its end behaviour, or chain mode). `index` itself
// when out of range.
std::int64_t blockStartIndex(const nodes::VideoPlaylistDocument::Rows& rows, std::int64_t index, bool chainMode);

// The counters of row `index` at `position` seconds into the clip; all zero
// for a row out of range.
ClipCounters countersAtPosition(const nodes::VideoPlaylistDocument& document, std::int64_t index, double position);

}  // namespace app
