#pragma once
// Audio descriptions and buffers: the stream description (sample rate and the
// layout of packets, frames and channels), channel layouts, packet
// descriptions of compressed audio and buffer lists over caller memory.
// Plain values, copied freely; an all-zero description means "no format".

#include <cstdint>
#include <vector>

#include "platform/media/FourCharCode.h"

namespace platform::media {

inline constexpr FourCharCode kAudioFormatLinearPCM = fourCC("lpcm");

// formatFlags bits of linear PCM.
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsBigEndian = 1u << 1;
inline constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 1u << 2;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr std::uint32_t kAudioFormatFlagIsAlignedHigh = 1u << 4;
inline constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

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

  friend bool operator==(const AudioStreamBasicDescription&, const AudioStreamBasicDescription&) = default;
};

// One channel of a layout: its label (1 left, 2 right, 3 centre, ...).
struct AudioChannelDescription {
  std::uint32_t channelLabel = 0;
  std::uint32_t channelFlags = 0;
  float coordinates[3] = {0, 0, 0};
  friend bool operator==(const AudioChannelDescription&, const AudioChannelDescription&) = default;
};

struct AudioChannelLayout {
  std::uint32_t channelLayoutTag = 0;  // 0: described channel by channel
  std::uint32_t channelBitmap = 0;
  std::vector<AudioChannelDescription> channelDescriptions;
  friend bool operator==(const AudioChannelLayout&, const AudioChannelLayout&) = default;
};

// Where one packet of compressed audio lies in its block.
struct AudioStreamPacketDescription {
  std::int64_t startOffset = 0;
  std::uint32_t variableFramesInPacket = 0;
  std::uint32_t dataByteSize = 0;
  friend bool operator==(const AudioStreamPacketDescription&, const AudioStreamPacketDescription&) = default;
};

// One buffer of an audio buffer list: memory not owned by the list.
struct AudioBuffer {
  std::uint32_t numberChannels = 0;
  std::uint32_t dataByteSize = 0;
  void* data = nullptr;  // not owned
};

// Interleaved audio has one buffer; non-interleaved one per channel.
struct AudioBufferList {
  std::vector<AudioBuffer> buffers;
};

}  // namespace platform::media
