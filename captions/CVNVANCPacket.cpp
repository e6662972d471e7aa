#include "captions/CVNVANCPacket.h"

#include <algorithm>
#include <bit>

namespace captions {
namespace {

constexpr std::uint8_t kWrappingVANCFrame = 1;
constexpr std::uint8_t kCoding8BitLuma = 4;

std::uint32_t readBigEndian(const std::uint8_t* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint16_t withParity(std::uint8_t byte) {
  const std::uint16_t even = std::popcount(byte) % 2 ? 0x100 : 0;
  return static_cast<std::uint16_t>(byte | even | (even ? 0 : 0x200));
}

std::uint16_t checksumWord(std::span<const std::uint16_t> words) {
  unsigned sum = 0;
  for (std::uint16_t word : words) sum += word & 0x1ff;
  sum &= 0x1ff;
  return static_cast<std::uint16_t>(sum | ((sum & 0x100) ? 0 : 0x200));
}

constexpr std::uint16_t kDataFlag[] = {0x000, 0x3ff, 0x3ff};

}  // namespace

CVNVANCPacket::CVNVANCPacket(std::uint16_t lineNumber, std::uint8_t did, std::uint8_t sdid,
                             std::vector<std::uint8_t> userData)
    : lineNumber_(lineNumber), did_(did), sdid_(sdid), userData_(std::move(userData)) {}

VANCPacketType CVNVANCPacket::packetType() const {
  if (did_ == 0x61 && sdid_ == 0x02) return VANCPacketType::CEA608;
  if (did_ == 0x61 && sdid_ == 0x01) return VANCPacketType::CEA708;
  if (did_ == 0x43 && sdid_ == 0x02) return VANCPacketType::OP47;
  if (did_ == 0x41 && sdid_ == 0x07) return VANCPacketType::SCTE104;
  return VANCPacketType::Other;
}

std::optional<std::vector<VANCPacketRef>> CVNVANCPacket::VANCPacketsWithMXFBuffer(const std::uint8_t* buffer,
                                                                                 std::size_t size,
                                                                                 std::uint32_t bufferFormat) {
  if (bufferFormat != kVANCBufferFormatSMPTE436M || !buffer || size < 2) return std::nullopt;
  const std::size_t count = readBigEndian(buffer, 2);
  std::size_t offset = 2;
  std::vector<VANCPacketRef> packets;
  for (std::size_t i = 0; i < count; ++i) {
    // Line number (2), wrapping type (1), sample coding (1), sample count (2),
    // then the payload array: element count (4), element size (4), elements.
    if (size - offset < 14) return std::nullopt;
    const auto line = static_cast<std::uint16_t>(readBigEndian(buffer + offset, 2));
    const std::uint8_t coding = buffer[offset + 3];
    const std::size_t samples = readBigEndian(buffer + offset + 4, 2);
    const std::size_t arrayCount = readBigEndian(buffer + offset + 6, 4);
    const std::size_t elementSize = readBigEndian(buffer + offset + 10, 4);
    offset += 14;
    if (elementSize != 1 || arrayCount > size - offset || samples > arrayCount) return std::nullopt;
    const std::uint8_t* payload = buffer + offset;
    offset += arrayCount;
    // Only 8-bit samples carry DID, SDID, DC and user data words byte by byte.
    if (coding != kCoding8BitLuma && coding != 5 && coding != 6) continue;
    if (samples < 3) return std::nullopt;
    const std::size_t dataCount = payload[2];
    if (3 + dataCount > samples) return std::nullopt;
    packets.push_back(std::make_shared<CVNVANCPacket>(line, payload[0], payload[1],
                                                      std::vector<std::uint8_t>(payload + 3, payload + 3 + dataCount)));
  }
  return packets;
}

std::optional<std::vector<VANCPacketRef>> CVNVANCPacket::VANCPacketsWithCMSampleBuffer(
    const platform::media::SampleBuffer& sample) {
  const auto& block = sample.dataBuffer();
  if (!block) return std::nullopt;
  return VANCPacketsWithMXFBuffer(block->data(), block->dataLength(), kVANCBufferFormatSMPTE436M);
}

VANCPacketRef CVNVANCPacket::VANCPacketWithQuickTimeAtomBuffer(const std::uint8_t* buffer, std::size_t size,
                                                              std::uint16_t lineNumber) {
  if (!buffer || size < 3 || size - 3 < buffer[2]) return nullptr;
  return std::make_shared<CVNVANCPacket>(lineNumber, buffer[0], buffer[1],
                                         std::vector<std::uint8_t>(buffer + 3, buffer + 3 + buffer[2]));
}

std::vector<std::uint8_t> CVNVANCPacket::MXFDataPacketWithVANCPackets(const std::vector<VANCPacketRef>& packets) {
  std::vector<std::uint8_t> out;
  putBigEndian(out, static_cast<std::uint32_t>(packets.size()), 2);
  for (const auto& packet : packets) {
    const std::size_t dataCount = std::min<std::size_t>(packet->userData().size(), 255);
    const std::size_t samples = 3 + dataCount;
    const std::size_t padded = (samples + 3) / 4 * 4;  // arrays are whole 32-bit words
    putBigEndian(out, packet->lineNumber(), 2);
    out.push_back(kWrappingVANCFrame);
    out.push_back(kCoding8BitLuma);
    putBigEndian(out, static_cast<std::uint32_t>(samples), 2);
    putBigEndian(out, static_cast<std::uint32_t>(padded), 4);
    putBigEndian(out, 1, 4);
    out.push_back(packet->did());
    out.push_back(packet->sdid());
    out.push_back(static_cast<std::uint8_t>(dataCount));
    out.insert(out.end(), packet->userData().begin(), packet->userData().begin() + dataCount);
    out.insert(out.end(), padded - samples, 0);
  }
  return out;
}

std::vector<std::uint16_t> CVNVANCPacket::SMPTE291Words() const {
  const std::size_t dataCount = std::min<std::size_t>(userData_.size(), 255);
  std::vector<std::uint16_t> words(std::begin(kDataFlag), std::end(kDataFlag));
  for (std::uint8_t byte : {did_, sdid_, static_cast<std::uint8_t>(dataCount)}) words.push_back(withParity(byte));
  for (std::size_t i = 0; i < dataCount; ++i) words.push_back(withParity(userData_[i]));
  words.push_back(checksumWord(std::span(words).subspan(3)));
  return words;
}

VANCPacketRef CVNVANCPacket::VANCPacketWithSMPTE291Words(std::span<const std::uint16_t> words, std::uint16_t lineNumber) {
  if (words.size() < 7 || !std::equal(std::begin(kDataFlag), std::end(kDataFlag), words.begin())) return nullptr;
  const std::size_t dataCount = words[5] & 0xff;
  if (words.size() < 7 + dataCount) return nullptr;
  const auto body = words.subspan(3, 3 + dataCount);
  for (std::uint16_t word : body) {
    if (word != withParity(static_cast<std::uint8_t>(word))) return nullptr;
  }
  if (words[6 + dataCount] != checksumWord(body)) return nullptr;
  std::vector<std::uint8_t> userData;
  for (std::uint16_t word : body.subspan(3)) userData.push_back(static_cast<std::uint8_t>(word));
  return std::make_shared<CVNVANCPacket>(lineNumber, static_cast<std::uint8_t>(body[0]), static_cast<std::uint8_t>(body[1]),
                                         std::move(userData));
}

}  // namespace captions
