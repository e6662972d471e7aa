#include "engine/vudododuva/CaptionRecord.h"

#include "captions/CVNCCUtilities.h"
#include "captions/CVNSubtitlesPacketizer.h"
#include "captions/CVNVANCPacket.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"

namespace engine::vudododuva {
namespace {

inline constexpr std::uint32_t kVANCSubType = 0x56414e43;         // 'VANC'

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> record(std::uint32_t type, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> out;
  out.reserve(kCaptionRecordHeaderSize + data.size());
  appendBigEndian(out, static_cast<std::uint32_t>(kCaptionRecordHeaderSize + data.size()));
  appendBigEndian(out, type);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<std::uint8_t> vancRecord(pluginframework::VANCPackets packets, const pluginframework::VANCPackets& extra) {
  packets.insert(packets.end(), extra.begin(), extra.end());
  return record(kVANCRecordType, captions::CVNVANCPacket::MXFDataPacketWithVANCPackets(packets));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> captionRecordForFrame(
    const platform::media::SampleBufferRef& closedCaptionBuffer,
    const pluginframework::VANCPackets& additionalVANCPackets) {
  if (!closedCaptionBuffer) {
    if (additionalVANCPackets.empty()) return std::nullopt;
    return vancRecord({}, additionalVANCPackets);
  }
  const auto& format = closedCaptionBuffer->formatDescription();
  const auto& block = closedCaptionBuffer->dataBuffer();
  if (!format || !block) return std::nullopt;
  const std::span<const std::uint8_t> data = block->bytes();
  switch (format->mediaSubType()) {
    case captions::kCEA708SubType: {
      auto packet = captions::CVNVANCPacket::VANCPacketWithQuickTimeAtomBuffer(data.data(), data.size(), kCEA708VANCLine);
      if (!packet) return std::nullopt;
      return vancRecord({packet}, additionalVANCPackets);
    }
    case kVANCSubType: {
      // Our 'VANC' samples carry 436M elements, whatever the picture's format.
      auto packets = captions::CVNVANCPacket::VANCPacketsWithMXFBuffer(data.data(), data.size(),
                                                                      captions::kVANCBufferFormatSMPTE436M);
      if (!packets) return std::nullopt;
      return vancRecord(*packets, additionalVANCPackets);
    }
    case captions::kCEA608SubType:
      return record(kCdatRecordType, data);
    case captions::kOP47SubType:
      return record(kOP47RecordType, data);
    default:
      return std::nullopt;
  }
}

}  // namespace engine::vudododuva
