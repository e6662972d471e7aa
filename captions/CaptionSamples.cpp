#include "captions/CaptionSamples.h"

#include <algorithm>
#include <bit>

namespace captions {

using namespace platform::media;

SampleBufferRef captionSampleWithBytes(std::uint32_t subType, const std::vector<std::uint8_t>& bytes,
                                       const SampleTimingInfo& timing) {
  SampleBufferRef sample;
  SampleBuffer::createReady(BlockBuffer::createWithCopy(bytes), FormatDescription::create(kMediaTypeClosedCaption, subType),
                            1, {timing}, {bytes.size()}, &sample);
  return sample;
}

std::vector<std::uint8_t> cdatAtom(std::span<const std::uint8_t> pairs) {
  const auto size = static_cast<std::uint32_t>(8 + pairs.size());
  std::vector<std::uint8_t> atom(size);
  for (int i = 0; i < 4; ++i) atom[i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  std::copy_n("cdat", 4, atom.begin() + 4);
  std::copy(pairs.begin(), pairs.end(), atom.begin() + 8);
  return atom;
}

std::uint8_t withOddParity(std::uint8_t byte) {
  byte &= 0x7f;
  return std::popcount(byte) % 2 == 0 ? static_cast<std::uint8_t>(byte | 0x80) : byte;
}

void setPacketChecksum(std::vector<std::uint8_t>& packet) {
  if (packet.empty()) return;
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < packet.size(); ++i) sum += packet[i];
  packet.back() = static_cast<std::uint8_t>((256 - sum % 256) % 256);
}

}  // namespace captions
