#pragma once
// What the reader learns from a packet's bytes before wrapping it: H.264
// key frames the container did not mark, the ADTS header in front of AAC
// data, and how many audio packets one demuxed packet holds. Pure functions
// over the caller's bytes; every read stays inside them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/media/AudioFormat.h"
#include "platform/media/FourCharCode.h"

namespace media {

// True when an Annex-B H.264 packet (starting 00 00 00 01) holds an IDR
// slice, or a slice after both a sequence and a picture parameter set.
bool h264PacketIsKeyFrame(std::span<const std::uint8_t> bytes);

// Bytes of the ADTS header at the start of an AAC packet: 7, 9 with a CRC
// (protection bit clear), 0 without a header.
std::size_t adtsHeaderLength(std::span<const std::uint8_t> bytes);

// The packets of one audio buffer: their count and, for formats that need
// them, their descriptions.
struct AudioPacketLayout {
  std::size_t count = 1;
  std::vector<platform::media::AudioStreamPacketDescription> descriptions;
};
// `size` bytes of data after any skipped header.
AudioPacketLayout audioPacketLayout(platform::media::FourCharCode formatID, std::size_t size,
                                    std::uint64_t ac3FrameSize, std::uint32_t bytesPerPacket);

}  // namespace media
