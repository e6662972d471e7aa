#pragma once
// One ancillary data packet of the vertical blanking: line number, data
// identifiers (DID, SDID) and user data words (8-bit). Read from SMPTE 436M
// ANC data as MXF files carry it (in a data track's samples), and written
// back to that form. Parsers check every count and length against the
// buffer: a truncated or lying element gives none. Immutable; any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/media/SampleBuffer.h"

namespace captions {

enum class VANCPacketType { Other = 0, CEA608 = 1, CEA708 = 2, OP47 = 3, SCTE104 = 4 };

// Buffer formats VANCPacketsWithMXFBuffer reads.
inline constexpr std::uint32_t kVANCBufferFormatSMPTE436M = 0x3433364d;  // '436M'

class CVNVANCPacket {
 public:
  CVNVANCPacket(std::uint16_t lineNumber, std::uint8_t did, std::uint8_t sdid, std::vector<std::uint8_t> userData);

  // Every packet of a 436M ANC element; none when the element is malformed or
  // the format is not 436M.
  static std::optional<std::vector<std::shared_ptr<const CVNVANCPacket>>> VANCPacketsWithMXFBuffer(
      const std::uint8_t* buffer, std::size_t size, std::uint32_t bufferFormat);
  // The packets of a sample whose data is a 436M ANC element.
  static std::optional<std::vector<std::shared_ptr<const CVNVANCPacket>>> VANCPacketsWithCMSampleBuffer(
      const platform::media::SampleBuffer& sample);
  // A packet from a movie's ancillary atom: DID, SDID, data count, user data words.
  static std::shared_ptr<const CVNVANCPacket> VANCPacketWithQuickTimeAtomBuffer(const std::uint8_t* buffer,
                                                                               std::size_t size,
                                                                               std::uint16_t lineNumber);
  // The 436M ANC element of the packets (8-bit luma samples, VANC frame wrapping).
  static std::vector<std::uint8_t> MXFDataPacketWithVANCPackets(
      const std::vector<std::shared_ptr<const CVNVANCPacket>>& packets);

  // The packet as SMPTE 291 10-bit words: data flag 000 3FF 3FF, DID, SDID,
  // data count and user data (bit 8 even parity, bit 9 its inverse), then the
  // checksum (9-bit sum of DID to the last user word, bit 9 the inverse of bit 8).
  std::vector<std::uint16_t> SMPTE291Words() const;
  // A packet from words that start with the data flag; none when a parity, the
  // checksum or the data count is wrong.
  static std::shared_ptr<const CVNVANCPacket> VANCPacketWithSMPTE291Words(std::span<const std::uint16_t> words,
                                                                         std::uint16_t lineNumber);

  std::uint16_t lineNumber() const { return lineNumber_; }
  std::uint8_t did() const { return did_; }
  std::uint8_t sdid() const { return sdid_; }
  const std::vector<std::uint8_t>& userData() const { return userData_; }
  // 1 CEA-608 (0x61, 0x02), 2 CEA-708 (0x61, 0x01), 3 OP-47 (0x43, 0x02), 4 SCTE-104 (0x41, 0x07).
  VANCPacketType packetType() const;

 private:
  std::uint16_t lineNumber_;
  std::uint8_t did_;
  std::uint8_t sdid_;
  std::vector<std::uint8_t> userData_;
};

using VANCPacketRef = std::shared_ptr<const CVNVANCPacket>;

}  // namespace captions
