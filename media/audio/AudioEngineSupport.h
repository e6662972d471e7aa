#pragma once
// Helpers the audio engine's files share: its log lines and the byte sizes
// of the formats it moves.

#include <cstdint>

#include "platform/media/AudioFormat.h"
#include "platform/media/MediaTime.h"

namespace media {

// One line through the technical log, printf-style.
void audioEngineLog(std::uint32_t level, bool show, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Linear PCM whose packet is exactly its samples gets the packed flag.
platform::media::AudioStreamBasicDescription markPackedIfLinearPCM(platform::media::AudioStreamBasicDescription format);

// Bytes of one frame of all channels (planes one after the other when non-interleaved).
std::uint32_t outputFrameBytes(const platform::media::AudioStreamBasicDescription& format);

// Room in frames of the output format for `mixerFrames` frames at 48000 Hz.
std::uint32_t outputRoomFrames(std::uint32_t mixerFrames, const platform::media::AudioStreamBasicDescription& format);

// Output frames for one buffer's duration at `outputRate`: exact when the
// rates match, else rounded toward zero with the fraction carried in
// `*remainder` (units: output rate x the duration's time scale) until it
// exceeds a whole frame.
std::uint32_t outputFramesForDuration(const platform::media::MediaTime& duration, std::int64_t outputRate,
                                      std::uint64_t* remainder);

}  // namespace media
