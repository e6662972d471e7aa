#pragma once
// What an audio file's stream is in our terms: the stream description and
// magic cookie for a libavformat stream, and the largest packet its format
// allows. Class-free functions; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/media/AudioFormat.h"

struct AVCodecParameters;

namespace media {

struct AudioFileFormat {
  // None for a codec without a description here.
  std::optional<platform::media::AudioStreamBasicDescription> description;
  std::vector<std::uint8_t> magicCookie;
};

// Linear PCM (integer, float, µ-law, A-law), MPEG audio, AAC, ALAC and FLAC.
// FLAC's blocks may vary in length: 0 frames per packet.
AudioFileFormat audioFileFormatForParameters(const AVCodecParameters& parameters);

// The cookie of AAC: its configuration in an elementary stream descriptor.
std::vector<std::uint8_t> aacMagicCookieFromConfiguration(std::span<const std::uint8_t> configuration);

// The largest packet of a compressed format, from the format's limits or
// its cookie; none when neither bounds it.
std::optional<std::uint32_t> audioFilePacketSizeBound(const platform::media::AudioStreamBasicDescription& description,
                                                      const std::vector<std::uint8_t>& magicCookie);

}  // namespace media
