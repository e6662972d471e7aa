#include "media/audio/CVNAudioUtilities.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace media {

namespace {

constexpr double kSingleEpsilon = 1.1920928955078125e-07;

}  // namespace

std::string CVNAudioUtilities::stringFromAudioStreamBasicDescription(
    const platform::media::AudioStreamBasicDescription& asbd) {
  char text[256];
  std::snprintf(text, sizeof text, "%2i ch, %f Hz, '%s' (0x%x) %u bits %s", static_cast<int>(asbd.channelsPerFrame),
                asbd.sampleRate, stringFromFourCharCode(asbd.formatID).c_str(), asbd.formatFlags,
                asbd.bitsPerChannel, stringFromAsbdFlags(asbd.formatFlags).c_str());
  return text;
}

std::string CVNAudioUtilities::stringFromFourCharCode(std::uint32_t code) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xff);
  // "%4.4s" stops at a zero byte and pads on the left to four characters.
  const std::size_t end = text.find('\0');
  if (end != std::string::npos) text = std::string(4 - end, ' ') + text.substr(0, end);
  return text;
}

std::string CVNAudioUtilities::stringFromAsbdFlags(std::uint32_t flags) {
  static const std::pair<std::uint32_t, const char*> kNames[] = {
      {1u << 0, "float"},         {1u << 1, "big-endian"},      {1u << 2, "signed integer"},
      {1u << 3, "packed"},        {1u << 4, "aligned high"},    {1u << 5, "non-interleaved"},
      {1u << 6, "non-mixable"},   {1u << 31, "all clear"},
  };
  std::string text;
  for (const auto& [bit, name] : kNames) {
    if ((flags & bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

bool CVNAudioUtilities::isAsbd(const platform::media::AudioStreamBasicDescription& a,
                                          const platform::media::AudioStreamBasicDescription& b) {
  return a.formatID == b.formatID && a.formatFlags == b.formatFlags && a.bytesPerPacket == b.bytesPerPacket &&
         a.framesPerPacket == b.framesPerPacket && a.bytesPerFrame == b.bytesPerFrame &&
         a.channelsPerFrame == b.channelsPerFrame && a.bitsPerChannel == b.bitsPerChannel &&
         std::fabs(a.sampleRate - b.sampleRate) < kSingleEpsilon;
}

}  // namespace media
