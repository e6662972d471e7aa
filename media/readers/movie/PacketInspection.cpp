#include "media/readers/movie/PacketInspection.h"

namespace media {

namespace pm = platform::media;

bool h264PacketIsKeyFrame(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 5 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 1) return false;
  bool sequenceSet = false;
  bool pictureSet = false;
  for (std::size_t i = 0; i + 5 < bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
    const int type = bytes[i + 3] & 0x1F;
    if (type == 5) return true;
    if (type == 7) sequenceSet = true;
    if (type == 8) pictureSet = true;
    if (type >= 1 && type <= 4 && sequenceSet && pictureSet) return true;
  }
  return false;
}

std::size_t adtsHeaderLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= 6 || bytes[0] != 0xFF) return 0;
  const std::uint8_t second = bytes[1];
  if (second != 0xF0 && second != 0xF1 && second != 0xF8 && second != 0xF9) return 0;
  const std::size_t length = (second & 1) ? 7 : 9;
  return length < bytes.size() ? length : 0;
}

AudioPacketLayout audioPacketLayout(pm::FourCharCode formatID, std::size_t size, std::uint64_t ac3FrameSize,
                                    std::uint32_t bytesPerPacket) {
  AudioPacketLayout layout;
  const auto described = [&](std::size_t count) {
    layout.count = count;
    const std::size_t each = size / count;
    for (std::size_t i = 0; i < count; ++i) {
      layout.descriptions.push_back({static_cast<std::int64_t>(i * each), 0, static_cast<std::uint32_t>(each)});
    }
  };
  switch (formatID) {
    case pm::fourCC("aac "):
    case pm::fourCC("alac"):
    case pm::fourCC("flac"):
    case pm::fourCC(".mp1"):
    case pm::fourCC(".mp2"):
    case pm::fourCC(".mp3"):
      described(1);
      break;
    case pm::fourCC("ac-3"): {
      const std::size_t count = size / (ac3FrameSize > 0 ? ac3FrameSize : 1);
      if (count > 0 && count < 10) {
        described(count);
      } else {
        layout.count = count > 0 ? count : 1;
      }
      break;
    }
    case pm::fourCC("lpcm"):
    case pm::fourCC("ulaw"):
    case pm::fourCC("alaw"):
    case pm::fourCC("ima4"):
      layout.count = bytesPerPacket > 0 ? size / bytesPerPacket : 1;
      if (layout.count == 0) layout.count = 1;
      break;
    default:
      break;
  }
  return layout;
}

}  // namespace media
