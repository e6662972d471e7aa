#include "foundation/CVNAudioUtility.h"

#include <cmath>
#include <limits>

namespace foundation {
namespace {

constexpr const char* kSampleRateKey = "SampleRate";
constexpr const char* kFormatIDKey = "AudioFormatID";
constexpr const char* kFormatFlagsKey = "FormatFlags";
constexpr const char* kBytesPerPacketKey = "BytesPerPacket";
constexpr const char* kFramesPerPacketKey = "FramesPerPacket";
constexpr const char* kBytesPerFrameKey = "BytesPerFrame";
constexpr const char* kChannelsPerFrameKey = "ChannelsPerFrame";
constexpr const char* kBitsPerChannelKey = "BitsPerChannel";

// The numeric fields in dictionary order, so writing and reading walk one list.
struct Field {
  const char* key;
  std::uint32_t AudioStreamBasicDescription::*member;
};
constexpr Field kFields[] = {
    {kFormatIDKey, &AudioStreamBasicDescription::formatID},
    {kFormatFlagsKey, &AudioStreamBasicDescription::formatFlags},
    {kBytesPerPacketKey, &AudioStreamBasicDescription::bytesPerPacket},
    {kFramesPerPacketKey, &AudioStreamBasicDescription::framesPerPacket},
    {kBytesPerFrameKey, &AudioStreamBasicDescription::bytesPerFrame},
    {kChannelsPerFrameKey, &AudioStreamBasicDescription::channelsPerFrame},
    {kBitsPerChannelKey, &AudioStreamBasicDescription::bitsPerChannel},
};

const platform::Value& valueFor(const platform::Dictionary& dictionary, const char* key) {
  static const platform::Value kNone;
  auto found = dictionary.find(key);
  return found == dictionary.end() ? kNone : found->second;
}

// A number read as an unsigned 32-bit value wraps like a C conversion; reals
// truncate toward zero first. Anything that is not a number is 0.
std::uint32_t unsignedValue(const platform::Value& value) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value.integer().value_or(0)));
}

std::uint64_t clampToUnsigned(double value) {
  if (!(value > 0.0)) return 0;  // negative, zero and NaN
  if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(value);
}

double sampleOffset(std::int64_t frameNumber, std::int32_t audioSampleRate, double framesPerSeconds) {
  return std::floor(static_cast<double>(audioSampleRate) * static_cast<double>(frameNumber) / framesPerSeconds);
}

}  // namespace

bool CVNAudioUtility::isAudioFormat(const AudioStreamBasicDescription& format,
                                    const AudioStreamBasicDescription& other) {
  if (format.sampleRate != other.sampleRate) return false;
  for (const Field& field : kFields) {
    if (format.*field.member != other.*field.member) return false;
  }
  return true;
}

platform::Dictionary CVNAudioUtility::dictionaryFromAudioStreamBasicDescription(
    const AudioStreamBasicDescription& format) {
  platform::Dictionary dictionary;
  dictionary[kSampleRateKey] = platform::Value(format.sampleRate);
  for (const Field& field : kFields) {
    dictionary[field.key] = platform::Value(static_cast<std::int64_t>(format.*field.member));
  }
  return dictionary;
}

AudioStreamBasicDescription CVNAudioUtility::audioStreamBasicDescriptionFromDictionary(
    const platform::Dictionary& dictionary) {
  AudioStreamBasicDescription format;
  // Read at single precision by design: the sample rate comes back as float.
  format.sampleRate = static_cast<double>(static_cast<float>(valueFor(dictionary, kSampleRateKey).realOr(0.0)));
  for (const Field& field : kFields) format.*field.member = unsignedValue(valueFor(dictionary, field.key));
  return format;
}

std::uint64_t CVNAudioUtility::audioSampleOffsetForFrameNumber(std::int32_t frameNumber, std::int32_t audioSampleRate,
                                                               double framesPerSeconds) {
  return clampToUnsigned(sampleOffset(frameNumber, audioSampleRate, framesPerSeconds));
}

std::uint32_t CVNAudioUtility::audioSamplesCountForFrameNumber(std::int32_t frameNumber, std::int32_t audioSampleRate,
                                                               double framesPerSeconds) {
  // n + 1 in 64 bits, so the last frame number does not overflow.
  const std::uint64_t next =
      clampToUnsigned(sampleOffset(std::int64_t{frameNumber} + 1, audioSampleRate, framesPerSeconds));
  const std::uint64_t current = audioSampleOffsetForFrameNumber(frameNumber, audioSampleRate, framesPerSeconds);
  return static_cast<std::uint32_t>(next - current);
}

}  // namespace foundation
