#include "media/parsers/CVNMPEG2Utilities.h"

#include <cstring>

#include "platform/Diagnostics.h"

namespace media {
namespace {

using Bytes = std::span<const std::uint8_t>;

bool isStartCode(Bytes buffer, std::size_t i) {
  return buffer[i] == 0 && buffer[i + 1] == 0 && buffer[i + 2] == 1;
}

// Start codes are looked for up to 4 bytes before the end, as the scan of
// the stream always could read the code byte and the one after it.
std::size_t nextStartCode(Bytes buffer, std::size_t from) {
  for (std::size_t i = from; i + 4 < buffer.size(); ++i) {
    if (isStartCode(buffer, i)) return i;
  }
  return buffer.size();
}

bool matches(Bytes buffer, std::size_t at, MPEG2HeaderType type) {
  const std::uint8_t code = buffer[at + 3];
  switch (type) {
    case MPEG2HeaderType::Picture: return code == 0x00;
    case MPEG2HeaderType::Sequence: return code == 0xb3;
    case MPEG2HeaderType::SequenceExtension:
    case MPEG2HeaderType::SequenceDisplayExtension:
    case MPEG2HeaderType::PictureCodingExtension: {
      if (code != 0xb5) return false;
      // The whole 4-bit identifier: quantisation-matrix and other extensions
      // are not sequence extensions.
      const std::uint8_t identifier = buffer[at + 4] >> 4;
      if (identifier == 1) return type == MPEG2HeaderType::SequenceExtension;
      if (identifier == 2) return type == MPEG2HeaderType::SequenceDisplayExtension;
      if (identifier == 8) return type == MPEG2HeaderType::PictureCodingExtension;
      const bool defined = identifier == 3 || identifier == 4 || identifier == 5 || identifier == 7 ||
                           identifier == 9 || identifier == 10;
      if (!defined) platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "Weird MPEG2 extension header");
      return false;
    }
    case MPEG2HeaderType::ATSCUserData:
      return code == 0xb2 && at + 8 <= buffer.size() && std::memcmp(buffer.data() + at + 4, "GA94", 4) == 0;
  }
  return false;
}

}  // namespace

std::optional<Bytes> CVNMPEG2Utilities::mpeg2HeaderDataFromBuffer(Bytes buffer, MPEG2HeaderType type) {
  if (buffer.size() < 5) return std::nullopt;
  std::size_t start = nextStartCode(buffer, 0);
  while (start < buffer.size()) {
    const std::size_t next = nextStartCode(buffer, start + 4);
    if (matches(buffer, start, type)) return buffer.subspan(start, next - start);
    start = next;
  }
  return std::nullopt;
}

bool CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(Bytes buffer, std::int32_t* width, std::int32_t* height,
                                                         std::int32_t* bitrate) {
  auto header = mpeg2HeaderDataFromBuffer(buffer, MPEG2HeaderType::Sequence);
  // Byte 10 is read, so the header needs 11 bytes.
  if (!header || header->size() < 11) return false;
  const Bytes h = *header;
  if (width) *width = h[4] * 16 + (h[5] >> 4);
  if (height) *height = (h[5] & 0x0f) * 256 + h[6];
  if (bitrate) *bitrate = h[8] * 1024 + h[9] * 4 + (h[10] >> 6);
  return true;
}

bool CVNMPEG2Utilities::parseBufferForFrameDuration(Bytes buffer, platform::media::MediaTime* frameDuration) {
  auto header = mpeg2HeaderDataFromBuffer(buffer, MPEG2HeaderType::Sequence);
  if (!header || header->size() < 8) return false;
  static const std::int64_t kDurations[][2] = {{1001, 24000}, {1000, 24000}, {1000, 25000}, {1001, 30000},
                                               {1000, 30000}, {1000, 50000}, {1001, 60000}, {1000, 60000}};
  const int code = (*header)[7] & 0x0f;
  if (code < 1 || code > 8) return false;
  if (frameDuration) {
    *frameDuration = platform::media::MediaTime::make(kDurations[code - 1][0], static_cast<std::int32_t>(kDurations[code - 1][1]));
  }
  return true;
}

bool CVNMPEG2Utilities::parseBufferForFieldOrder(Bytes buffer, std::int32_t* fieldOrder) {
  auto header = mpeg2HeaderDataFromBuffer(buffer, MPEG2HeaderType::PictureCodingExtension);
  if (!header || header->size() < 9) return false;
  const Bytes h = *header;
  std::int32_t order = 3;
  if (h[8] & 0x80) {
    order = 1;
  } else if (h[7] & 0x80) {
    order = 2;
  }
  if (fieldOrder) *fieldOrder = order;
  return true;
}

bool CVNMPEG2Utilities::parseBufferForFrameTypeTemporalOrder(Bytes buffer, std::int64_t* frameType,
                                                             std::int32_t* temporalOrder) {
  auto header = mpeg2HeaderDataFromBuffer(buffer, MPEG2HeaderType::Picture);
  if (!header || header->size() < 6) return false;
  const Bytes h = *header;
  const std::int32_t reference = h[4] * 4 + (h[5] >> 6);
  if (reference >= 21) {
    if (temporalOrder) *temporalOrder = 0;
    return false;
  }
  if (temporalOrder) *temporalOrder = reference;
  if (frameType) *frameType = (h[5] >> 3) & 7;
  return true;
}

bool CVNMPEG2Utilities::parseBufferForCaptions(Bytes buffer, bool* hasCaptions) {
  auto header = mpeg2HeaderDataFromBuffer(buffer, MPEG2HeaderType::ATSCUserData);
  if (!header) {
    if (hasCaptions) *hasCaptions = false;
    return false;
  }
  if (hasCaptions) *hasCaptions = header->size() >= 10 && (*header)[8] == 3;
  return true;
}

std::optional<std::vector<std::uint8_t>> CVNMPEG2Utilities::getCaptionsFromBuffer(Bytes buffer) {
  static const std::uint8_t kPattern[] = {0, 0, 0, 1, 0xb2, 'G', 'A', '9', '4'};
  for (std::size_t i = 0; i + sizeof kPattern <= buffer.size(); ++i) {
    if (std::memcmp(buffer.data() + i, kPattern, sizeof kPattern) != 0) continue;
    // All 60 bytes after the match must be there.
    if (i + 10 > buffer.size() || buffer[i + 9] != 3 || buffer.size() < i + 12 + 60) return std::nullopt;
    return std::vector<std::uint8_t>(buffer.begin() + static_cast<std::ptrdiff_t>(i + 12),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(i + 72));
  }
  return std::nullopt;
}

std::string CVNMPEG2Utilities::stringFromFrameType(std::int64_t frameType) {
  switch (frameType) {
    case 1: return "I";
    case 2: return "P";
    case 3: return "B";
    case 4: return "D";
    default: return "Unknown";
  }
}

}  // namespace media
