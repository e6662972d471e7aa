#pragma once
// How a clip's frame rate and field structure are fitted to the output's.
// Pure functions; rates are frames per second written value / timescale.

#include <optional>

#include "platform/media/MediaTime.h"

namespace engine::items {

// The standard rate within 0.01 of `rate` (29.971 gives 30000/1001); none for
// any other rate.
std::optional<platform::media::MediaTime> snappedPlaybackRate(platform::media::MediaTime rate);

// value and timescale swapped: a rate becomes a frame duration and back.
platform::media::MediaTime reciprocalTime(platform::media::MediaTime time);

// The GPU path's conform decision for one clip on one output.
struct ConformDecision {
  platform::media::MediaTime rate;  // handed to the session as its output rate
  bool twoFramesDecodedToOne = false;
  bool oneFrameDecodedToTwo = false;
  bool turnAlternateFieldsOff = false;
  bool useTextureTwice = false;
};
ConformDecision gpuConformDecision(bool clipInterlaced, bool outputInterlaced, platform::media::MediaTime naturalRate,
                                   platform::media::MediaTime desiredRate, bool alternateFields);

}  // namespace engine::items
