#pragma once
// The caption record of one frame, as it goes into the caption file:
// big-endian size (header included), a four-character type, then the data.
// 'c708' samples and extra VANC packets become one 436M data packet
// ('VANC'); 'VANC' samples are re-packed with the extra packets; 'c608' and
// 'op47' samples are copied as they are ('cdat', 'op47'). Pure functions; any thread.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/media/SampleBuffer.h"
#include "pluginframework/CVNVideoOutput.h"

namespace engine::vudododuva {

// Line of the packet made from a 'c708' sample's atom.
inline constexpr std::uint16_t kCEA708VANCLine = 10;

// None when the frame has no record (no captions, an unknown subtype, or data
// that cannot be read).
std::optional<std::vector<std::uint8_t>> captionRecordForFrame(
    const platform::media::SampleBufferRef& closedCaptionBuffer,
    const pluginframework::VANCPackets& additionalVANCPackets);

}  // namespace engine::vudododuva
