#pragma once
// Caption sample buffers built from bytes, shared by the utilities and the
// subtitles packetizer.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/media/SampleBuffer.h"

namespace captions {

platform::media::SampleBufferRef captionSampleWithBytes(std::uint32_t subType, const std::vector<std::uint8_t>& bytes,
                                                        const platform::media::SampleTimingInfo& timing);
// A "cdat" atom: 4-byte big-endian size, "cdat", then the CEA-608 byte pairs.
std::vector<std::uint8_t> cdatAtom(std::span<const std::uint8_t> pairs);
// The 7-bit character with bit 7 set when needed for an odd count of ones,
// as caption and teletext bytes are sent.
std::uint8_t withOddParity(std::uint8_t byte);
// Sets the last byte of a packet so that all its bytes add up to 0 mod 256.
void setPacketChecksum(std::vector<std::uint8_t>& packet);

}  // namespace captions
