#pragma once
// Closed-caption extraction and conversion. Captions travel as A/53 caption
// data: triplets of (marker and type, byte 1, byte 2) as carried in H.264 SEI
// messages and MPEG-2 picture user data registered as "GA94". A 'c708'
// sample holds one CEA-708 caption distribution packet (CDP) for one frame;
// a 'c608' sample holds a "cdat" atom of CEA-608 byte pairs.
//
// Parsers check every length against the packet: a truncated or lying
// packet gives none, never a read past its end. Class operations; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/media/SampleBuffer.h"

namespace captions {

using Triplets = std::vector<std::uint8_t>;  // 3 bytes per caption triplet

inline constexpr std::uint32_t kCEA608SubType = 0x63363038;  // 'c608'
inline constexpr std::uint32_t kCEA708SubType = 0x63373038;  // 'c708'

class CVNCCUtilities {
 public:
  // The caption triplets of every "GA94" caption message in an H.264 access
  // unit (NAL units after 3- or 4-byte start codes, or behind 4-byte
  // big-endian lengths); none when it has none.
  static std::optional<Triplets> extractCCDataFromH264Packet(std::span<const std::uint8_t> packet,
                                                             platform::media::MediaTime pts);
  // The same for the user data of an MPEG-2 video packet.
  static std::optional<Triplets> extractCCDataFromMPEG2Packet(std::span<const std::uint8_t> packet,
                                                              platform::media::MediaTime pts);

  // A 'c708' sample holding one CDP of the triplets (padded to the count the
  // frame rate carries), with the sample's timing.
  static platform::media::SampleBufferRef createCEA708SampleBufferWithSampleTimingInfo(
      const platform::media::SampleTimingInfo& timing, platform::media::MediaTime frameDuration,
      std::uint16_t sequenceCounter, std::span<const std::uint8_t> a53Data);
  static platform::media::SampleBufferRef createEmptyCEA608SampleBufferWithPTS(platform::media::MediaTime pts,
                                                                             platform::media::MediaTime frameDuration,
                                                                             std::uint16_t sequenceCounter);
  static platform::media::SampleBufferRef createEmptyCEA708SampleBufferWithPTS(platform::media::MediaTime pts,
                                                                             platform::media::MediaTime frameDuration,
                                                                             std::uint16_t sequenceCounter);
  // Two frames' captions in one sample of two frame durations (same kind only).
  static platform::media::SampleBufferRef createConcatenatedSampleBufferWithSampleBuffer(
      const platform::media::SampleBufferRef& first, const platform::media::SampleBufferRef& second,
      platform::media::MediaTime frameDuration);
  // One sample's captions in two samples of one frame duration each: the
  // first half of its data in the first, the rest in the second.
  static bool splitSampleBuffer(const platform::media::SampleBufferRef& sample,
                                platform::media::SampleBufferRef* first, platform::media::SampleBufferRef* second,
                                platform::media::MediaTime frameDuration);
  // A 'c608' sample as a 'c708' one (its pairs as field 1 triplets); a 'c708' sample as it is.
  static platform::media::SampleBufferRef conformSampleBufferToCEA708(const platform::media::SampleBufferRef& sample,
                                                                    platform::media::MediaTime frameDuration);

  // The triplets of a CDP; none when it is not a well-formed CDP (identifier,
  // length, footer and checksum are checked).
  static std::optional<Triplets> tripletsFromCDP(std::span<const std::uint8_t> cdp);
  static std::optional<Triplets> tripletsFromCEA708SampleBuffer(const platform::media::SampleBuffer& sample);
  // "fc 94 20, fd 80 80, ..." with the type named ("608 f1", "608 f2", "708 start", "708 data", "pad").
  static std::string descriptionForCEA708Triplets(std::span<const std::uint8_t> triplets);

  // The CDP frame-rate code (1 23.976 ... 8 60) and caption count of a frame duration; 0 when unknown.
  static std::uint8_t cdpFrameRateCode(platform::media::MediaTime frameDuration);
  static std::size_t cdpTripletCount(std::uint8_t frameRateCode);
};

}  // namespace captions
