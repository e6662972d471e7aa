#pragma once
// The description of a linear or compressed audio stream: sample rate and the
// layout of packets, frames and channels. A plain value type, copied freely;
// all zero means "no format".

#include <cstdint>

namespace foundation {

struct AudioStreamBasicDescription {
  double sampleRate = 0.0;
  std::uint32_t formatID = 0;  // four-character code, e.g. 'lpcm'
  std::uint32_t formatFlags = 0;
  std::uint32_t bytesPerPacket = 0;
  std::uint32_t framesPerPacket = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t channelsPerFrame = 0;
  std::uint32_t bitsPerChannel = 0;
  std::uint32_t reserved = 0;
};

}  // namespace foundation
