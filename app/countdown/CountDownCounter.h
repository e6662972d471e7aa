#pragma once
// The pure part of a countdown window: the counter text and colour of a clip
// for each counter type, the next clip by the node's chain and loop modes,
// the blocks of chained clips, and the largest counter font that fits.
//
// Free functions over values; any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/playlist/PlaylistItem.h"

namespace app::countdown {

// Counter types, the tags of the type pop-up.
enum class TimeCountType : std::int32_t {
  ClipRemaining = 1,
  ClipElapsed = 2,
  BlockRemaining = 3,
  BlockElapsed = 4,
  LocalClock = 5,
  NodeClock = 6,
  MediaTimeCode = 7,
};

inline constexpr const char* kNoTimeCountText = "--:--:--";
inline constexpr const char* kNoClipName = "<none>";
inline constexpr const char* kClockClipName = "-";
inline constexpr const char* kClockFormat = "HH:mm:ss";
inline constexpr std::size_t kTimeCountTextLength = 8;
inline constexpr double kTimeCountAlpha = 0.9;

enum class TimeCountColour { White = 1, Green, Orange, Red };

struct TimeCountDisplay {
  std::string text;
  TimeCountColour colour = TimeCountColour::White;
  friend bool operator==(const TimeCountDisplay&, const TimeCountDisplay&) = default;
};

// Red under 10 s, orange under 30 s, else green.
TimeCountColour colourForRemainingSeconds(double seconds);

// The counter of `clip` at `positionInSeconds` for counter types 1-4 and 7,
// cut to 8 characters; "--:--:--" in white for the clock types and unknown
// types.
TimeCountDisplay timeCountDisplay(std::int32_t type, const nodes::PlaylistItem& clip, double positionInSeconds);

// The clip after `current` in a playlist of `count` clips: chain and loop
// wrap to the first, loop alone repeats the current one, chain alone stops
// after the last; none without chain and loop.
std::optional<std::size_t> nextClipIndex(std::size_t count, std::size_t current, bool chainMode, bool loopMode);

// Each clip's start within its block and its block's duration. With the
// playlist's chain mode on the whole playlist is one block; otherwise a block
// ends after the first clip that does not chain.
void computeBlockDurations(const std::vector<std::shared_ptr<nodes::PlaylistItem>>& playlist, bool chainMode);

// The counter font: for sizes 50...999, the first whose text is wider than
// fieldWidth - 50 or higher than fieldHeight gives that size - 1; 999 when
// none is. `measure` answers the text's width and height at a size and must
// grow with it, which lets the search halve the range.
inline constexpr int kSmallestTimeCountSize = 50;
inline constexpr int kLargestTimeCountSize = 999;
struct TextSize {
  double width = 0;
  double height = 0;
};
int timeCountSize(double fieldWidth, double fieldHeight, const std::function<TextSize(int fontSize)>& measure);

}  // namespace app::countdown
