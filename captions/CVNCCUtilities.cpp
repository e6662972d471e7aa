#include "captions/CVNCCUtilities.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "captions/CaptionSamples.h"

namespace captions {

using platform::media::MediaTime;
using platform::media::SampleBuffer;
using platform::media::SampleBufferRef;
using platform::media::SampleTimingInfo;
using Bytes = std::span<const std::uint8_t>;

namespace {

constexpr std::uint8_t kGA94[] = {'G', 'A', '9', '4'};
constexpr std::size_t kMaxCDPTriplets = 31;

// The caption triplets after a "GA94" identifier: type code 3, then the
// flags byte (process flag 0x40, count in the low 5 bits), one reserved byte
// and the triplets. False when the data is shorter than it says.
bool appendA53CaptionData(Bytes data, Triplets& out, bool* found) {
  if (data.size() < 5 || std::memcmp(data.data(), kGA94, 4) != 0 || data[4] != 0x03) return true;
  if (data.size() < 7) return false;
  const std::uint8_t flags = data[5];
  const std::size_t count = flags & 0x1f;
  if (data.size() < 7 + 3 * count) return false;
  if ((flags & 0x40) == 0) return true;  // captions not to be processed
  out.insert(out.end(), data.begin() + 7, data.begin() + 7 + 3 * count);
  *found = true;
  return true;
}

// RBSP of a NAL unit: emulation-prevention bytes (00 00 03) removed.
std::vector<std::uint8_t> unescape(Bytes unit) {
  std::vector<std::uint8_t> rbsp;
  rbsp.reserve(unit.size());
  int zeros = 0;
  for (std::uint8_t byte : unit) {
    if (zeros >= 2 && byte == 0x03) {
      zeros = 0;
      continue;
    }
    zeros = byte == 0 ? zeros + 1 : 0;
    rbsp.push_back(byte);
  }
  return rbsp;
}

// SEI messages of one SEI NAL unit (without its header byte).
bool parseSEI(Bytes rbsp, Triplets& out, bool* found) {
  std::size_t offset = 0;
  while (offset + 2 <= rbsp.size() && rbsp[offset] != 0x80) {
    std::size_t type = 0, size = 0;
    while (offset < rbsp.size() && rbsp[offset] == 0xff) type += 255, ++offset;
    if (offset >= rbsp.size()) return false;
    type += rbsp[offset++];
    while (offset < rbsp.size() && rbsp[offset] == 0xff) size += 255, ++offset;
    if (offset >= rbsp.size()) return false;
    size += rbsp[offset++];
    if (size > rbsp.size() - offset) return false;
    Bytes payload = rbsp.subspan(offset, size);
    // Registered user data: country 0xb5 (United States), provider 0x0031.
    if (type == 4 && payload.size() >= 3 && payload[0] == 0xb5 && payload[1] == 0x00 && payload[2] == 0x31) {
      if (!appendA53CaptionData(payload.subspan(3), out, found)) return false;
    }
    offset += size;
  }
  return true;
}

// Positions of 00 00 01 start codes at or after `from`.
std::size_t findStartCode(Bytes data, std::size_t from) {
  for (std::size_t i = from; i + 3 <= data.size(); ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  }
  return data.size();
}

bool startsWithStartCode(Bytes data) {
  return (data.size() >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) ||
         (data.size() >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1);
}

// The NAL units of an access unit; false when a length prefix lies.
bool nalUnits(Bytes packet, std::vector<Bytes>& units) {
  if (startsWithStartCode(packet)) {
    std::size_t start = findStartCode(packet, 0);
    while (start < packet.size()) {
      const std::size_t begin = start + 3;
      std::size_t next = findStartCode(packet, begin);
      std::size_t end = next;
      while (end > begin && packet[end - 1] == 0) --end;  // trailing zeros and 4-byte start codes
      units.push_back(packet.subspan(begin, end - begin));
      start = next;
    }
    return true;
  }
  std::size_t offset = 0;
  while (offset < packet.size()) {
    if (packet.size() - offset < 4) return false;
    const std::size_t length = (std::size_t{packet[offset]} << 24) | (std::size_t{packet[offset + 1]} << 16) |
                               (std::size_t{packet[offset + 2]} << 8) | packet[offset + 3];
    offset += 4;
    if (length > packet.size() - offset) return false;
    units.push_back(packet.subspan(offset, length));
    offset += length;
  }
  return true;
}

Triplets paddingTriplets(std::size_t count) {
  Triplets triplets;
  for (std::size_t i = 0; i < count; ++i) triplets.insert(triplets.end(), {0xfa, 0x00, 0x00});
  return triplets;
}

std::vector<std::uint8_t> makeCDP(std::uint8_t rateCode, std::uint16_t sequence, Bytes triplets) {
  const std::size_t count = std::min(triplets.size() / 3, kMaxCDPTriplets);
  std::vector<std::uint8_t> cdp = {0x96, 0x69, 0, static_cast<std::uint8_t>((rateCode << 4) | 0x0f), 0x43,
                                   static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence), 0x72,
                                   static_cast<std::uint8_t>(0xe0 | count)};
  cdp.insert(cdp.end(), triplets.begin(), triplets.begin() + 3 * count);
  cdp.insert(cdp.end(), {0x74, static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence), 0});
  cdp[2] = static_cast<std::uint8_t>(cdp.size());
  setPacketChecksum(cdp);
  return cdp;
}

// The byte pairs of a "cdat" atom sample; none when it is not one.
std::optional<std::vector<std::uint8_t>> cea608Pairs(const SampleBuffer& sample) {
  const auto& block = sample.dataBuffer();
  if (!block || block->dataLength() < 8) return std::nullopt;
  Bytes data = block->bytes();
  const std::size_t size = (std::size_t{data[0]} << 24) | (std::size_t{data[1]} << 16) | (std::size_t{data[2]} << 8) | data[3];
  if (size < 8 || size > data.size() || std::memcmp(data.data() + 4, "cdat", 4) != 0) return std::nullopt;
  return std::vector<std::uint8_t>(data.begin() + 8, data.begin() + size);
}

// Triplets that carry captions (cc_valid set), padding dropped.
Triplets validTriplets(Bytes triplets) {
  Triplets valid;
  for (std::size_t i = 0; i + 3 <= triplets.size(); i += 3) {
    if (triplets[i] & 0x04) valid.insert(valid.end(), triplets.begin() + i, triplets.begin() + i + 3);
  }
  return valid;
}

bool isKind(const SampleBufferRef& sample, std::uint32_t subType) {
  return sample && sample->formatDescription() && sample->formatDescription()->mediaSubType() == subType;
}

}  // namespace

std::optional<Triplets> CVNCCUtilities::extractCCDataFromH264Packet(Bytes packet, MediaTime) {
  std::vector<Bytes> units;
  if (!nalUnits(packet, units)) return std::nullopt;
  Triplets triplets;
  bool found = false;
  for (Bytes unit : units) {
    if (unit.empty() || (unit[0] & 0x1f) != 6) continue;
    const std::vector<std::uint8_t> rbsp = unescape(unit.subspan(1));
    if (!parseSEI(rbsp, triplets, &found)) return std::nullopt;
  }
  if (!found) return std::nullopt;
  return triplets;
}

std::optional<Triplets> CVNCCUtilities::extractCCDataFromMPEG2Packet(Bytes packet, MediaTime) {
  Triplets triplets;
  bool found = false;
  std::size_t start = findStartCode(packet, 0);
  while (start < packet.size()) {
    const std::size_t next = findStartCode(packet, start + 3);
    if (start + 3 < packet.size() && packet[start + 3] == 0xb2) {
      if (!appendA53CaptionData(packet.subspan(start + 4, next - (start + 4)), triplets, &found)) return std::nullopt;
    }
    start = next;
  }
  if (!found) return std::nullopt;
  return triplets;
}

std::uint8_t CVNCCUtilities::cdpFrameRateCode(MediaTime frameDuration) {
  const double fps = frameDuration.isNumeric() && frameDuration.value > 0
                         ? frameDuration.timeScale / static_cast<double>(frameDuration.value)
                         : 0;
  const double rates[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
  for (int i = 0; i < 8; ++i) {
    if (std::fabs(fps - rates[i]) < 0.005) return static_cast<std::uint8_t>(i + 1);
  }
  return 0;
}

std::size_t CVNCCUtilities::cdpTripletCount(std::uint8_t frameRateCode) {
  static const std::size_t kCounts[] = {0, 25, 25, 24, 20, 20, 12, 10, 10};
  return frameRateCode <= 8 ? kCounts[frameRateCode] : 0;
}

SampleBufferRef CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo(const SampleTimingInfo& timing,
                                                                           MediaTime frameDuration,
                                                                           std::uint16_t sequenceCounter,
                                                                           Bytes a53Data) {
  const std::uint8_t rate = cdpFrameRateCode(frameDuration);
  const std::size_t wanted = std::max(cdpTripletCount(rate), a53Data.size() / 3);
  Triplets triplets(a53Data.begin(), a53Data.begin() + a53Data.size() / 3 * 3);
  if (triplets.size() / 3 < wanted) {
    const Triplets padding = paddingTriplets(wanted - triplets.size() / 3);
    triplets.insert(triplets.end(), padding.begin(), padding.end());
  }
  return captionSampleWithBytes(kCEA708SubType, makeCDP(rate, sequenceCounter, triplets), timing);
}

SampleBufferRef CVNCCUtilities::createEmptyCEA608SampleBufferWithPTS(MediaTime pts, MediaTime frameDuration,
                                                                   std::uint16_t) {
  const std::uint8_t nullPair[] = {0x80, 0x80};
  return captionSampleWithBytes(kCEA608SubType, cdatAtom(nullPair), {frameDuration, pts, MediaTime::invalid()});
}

SampleBufferRef CVNCCUtilities::createEmptyCEA708SampleBufferWithPTS(MediaTime pts, MediaTime frameDuration,
                                                                   std::uint16_t sequenceCounter) {
  // Null CEA-608 pairs for both fields, then padding.
  const std::uint8_t nullPairs[] = {0xfc, 0x80, 0x80, 0xfd, 0x80, 0x80};
  return createCEA708SampleBufferWithSampleTimingInfo({frameDuration, pts, MediaTime::invalid()}, frameDuration,
                                                      sequenceCounter, nullPairs);
}

std::optional<Triplets> CVNCCUtilities::tripletsFromCDP(Bytes cdp) {
  if (cdp.size() < 11 || cdp[0] != 0x96 || cdp[1] != 0x69) return std::nullopt;
  const std::size_t length = cdp[2];
  if (length < 11 || length > cdp.size()) return std::nullopt;
  cdp = cdp.first(length);
  unsigned sum = 0;
  for (std::uint8_t b : cdp) sum += b;
  if (sum % 256 != 0) return std::nullopt;
  const std::uint8_t flags = cdp[4];
  std::size_t offset = 7;
  if (flags & 0x80) {  // time code section: 0x71 and four bytes
    if (offset + 5 > length || cdp[offset] != 0x71) return std::nullopt;
    offset += 5;
  }
  Triplets triplets;
  if (flags & 0x40) {
    if (offset + 2 > length || cdp[offset] != 0x72) return std::nullopt;
    const std::size_t count = cdp[offset + 1] & 0x1f;
    offset += 2;
    if (offset + 3 * count > length) return std::nullopt;
    triplets.assign(cdp.begin() + offset, cdp.begin() + offset + 3 * count);
    offset += 3 * count;
  }
  // Service information and future sections end at the footer.
  while (offset < length && cdp[offset] != 0x74) {
    if (offset + 2 > length) return std::nullopt;
    offset += 2 + (cdp[offset] == 0x73 ? 3 * (cdp[offset + 1] & 0x0f) : cdp[offset + 1]);
  }
  if (offset + 4 != length) return std::nullopt;
  return triplets;
}

std::optional<Triplets> CVNCCUtilities::tripletsFromCEA708SampleBuffer(const SampleBuffer& sample) {
  if (!sample.formatDescription() || sample.formatDescription()->mediaSubType() != kCEA708SubType || !sample.dataBuffer()) {
    return std::nullopt;
  }
  return tripletsFromCDP(sample.dataBuffer()->bytes());
}

SampleBufferRef CVNCCUtilities::createConcatenatedSampleBufferWithSampleBuffer(const SampleBufferRef& first,
                                                                             const SampleBufferRef& second,
                                                                             MediaTime frameDuration) {
  if (!first || !second) return nullptr;
  const MediaTime doubled = multiply(frameDuration, 2);
  const SampleTimingInfo timing{doubled, first->presentationTimeStamp(), MediaTime::invalid()};
  if (isKind(first, kCEA708SubType) && isKind(second, kCEA708SubType)) {
    auto a = tripletsFromCEA708SampleBuffer(*first);
    auto b = tripletsFromCEA708SampleBuffer(*second);
    if (!a || !b) return nullptr;
    Triplets joined = validTriplets(*a);
    const Triplets more = validTriplets(*b);
    joined.insert(joined.end(), more.begin(), more.end());
    return createCEA708SampleBufferWithSampleTimingInfo(timing, doubled, 0, joined);
  }
  if (isKind(first, kCEA608SubType) && isKind(second, kCEA608SubType)) {
    auto a = cea608Pairs(*first);
    auto b = cea608Pairs(*second);
    if (!a || !b) return nullptr;
    a->insert(a->end(), b->begin(), b->end());
    return captionSampleWithBytes(kCEA608SubType, cdatAtom(*a), timing);
  }
  return nullptr;
}

bool CVNCCUtilities::splitSampleBuffer(const SampleBufferRef& sample, SampleBufferRef* first, SampleBufferRef* second,
                                       MediaTime frameDuration) {
  if (!sample || !first || !second) return false;
  const MediaTime pts = sample->presentationTimeStamp();
  const SampleTimingInfo firstTiming{frameDuration, pts, MediaTime::invalid()};
  const SampleTimingInfo secondTiming{frameDuration, add(pts, frameDuration), MediaTime::invalid()};
  if (isKind(sample, kCEA708SubType)) {
    auto triplets = tripletsFromCEA708SampleBuffer(*sample);
    if (!triplets) return false;
    const Triplets valid = validTriplets(*triplets);
    const std::size_t half = (valid.size() / 3 + 1) / 2 * 3;
    *first = createCEA708SampleBufferWithSampleTimingInfo(firstTiming, frameDuration, 0, Bytes(valid).first(half));
    *second = createCEA708SampleBufferWithSampleTimingInfo(secondTiming, frameDuration, 1, Bytes(valid).subspan(half));
    return *first && *second;
  }
  if (isKind(sample, kCEA608SubType)) {
    auto pairs = cea608Pairs(*sample);
    if (!pairs) return false;
    const std::size_t half = (pairs->size() / 2 + 1) / 2 * 2;
    *first = captionSampleWithBytes(kCEA608SubType, cdatAtom(Bytes(*pairs).first(half)), firstTiming);
    *second = captionSampleWithBytes(kCEA608SubType, cdatAtom(Bytes(*pairs).subspan(half)), secondTiming);
    return *first && *second;
  }
  return false;
}

SampleBufferRef CVNCCUtilities::conformSampleBufferToCEA708(const SampleBufferRef& sample, MediaTime frameDuration) {
  if (isKind(sample, kCEA708SubType)) return sample;
  if (!isKind(sample, kCEA608SubType)) return nullptr;
  auto pairs = cea608Pairs(*sample);
  if (!pairs) return nullptr;
  Triplets triplets;
  for (std::size_t i = 0; i + 2 <= pairs->size(); i += 2) triplets.insert(triplets.end(), {0xfc, (*pairs)[i], (*pairs)[i + 1]});
  return createCEA708SampleBufferWithSampleTimingInfo({frameDuration, sample->presentationTimeStamp(), MediaTime::invalid()},
                                                      frameDuration, 0, triplets);
}

std::string CVNCCUtilities::descriptionForCEA708Triplets(Bytes triplets) {
  std::string text;
  for (std::size_t i = 0; i + 3 <= triplets.size(); i += 3) {
    const std::uint8_t marker = triplets[i];
    const char* kind = "pad";
    if (marker & 0x04) {
      static const char* const kKinds[] = {"608 f1", "608 f2", "708 data", "708 start"};
      kind = kKinds[marker & 0x03];
    }
    char item[40];
    std::snprintf(item, sizeof item, "%s%02x %02x %02x (%s)", text.empty() ? "" : ", ", marker, triplets[i + 1],
                  triplets[i + 2], kind);
    text += item;
  }
  return text;
}

}  // namespace captions
