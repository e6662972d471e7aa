#include "media/readers/audio/AudioFileFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"

namespace media {

namespace pm = platform::media;
using pm::fourCC;

namespace {

constexpr std::uint32_t kSigned = pm::kAudioFormatFlagIsSignedInteger;
constexpr std::uint32_t kBig = pm::kAudioFormatFlagIsBigEndian;
constexpr std::uint32_t kFloat = pm::kAudioFormatFlagIsFloat;
constexpr std::uint32_t kPacked = pm::kAudioFormatFlagIsPacked;

struct PCMRow {
  AVCodecID codec;
  pm::FourCharCode formatID;
  std::uint32_t flags;
};

constexpr PCMRow kPCMRows[] = {
    {AV_CODEC_ID_PCM_U8, pm::kAudioFormatLinearPCM, kPacked},
    {AV_CODEC_ID_PCM_S8, pm::kAudioFormatLinearPCM, kSigned | kPacked},
    {AV_CODEC_ID_PCM_S16LE, pm::kAudioFormatLinearPCM, kSigned | kPacked},
    {AV_CODEC_ID_PCM_S16BE, pm::kAudioFormatLinearPCM, kSigned | kBig | kPacked},
    {AV_CODEC_ID_PCM_S24LE, pm::kAudioFormatLinearPCM, kSigned | kPacked},
    {AV_CODEC_ID_PCM_S24BE, pm::kAudioFormatLinearPCM, kSigned | kBig | kPacked},
    {AV_CODEC_ID_PCM_S32LE, pm::kAudioFormatLinearPCM, kSigned | kPacked},
    {AV_CODEC_ID_PCM_S32BE, pm::kAudioFormatLinearPCM, kSigned | kBig | kPacked},
    {AV_CODEC_ID_PCM_F32LE, pm::kAudioFormatLinearPCM, kFloat | kPacked},
    {AV_CODEC_ID_PCM_F32BE, pm::kAudioFormatLinearPCM, kFloat | kBig | kPacked},
    {AV_CODEC_ID_PCM_F64LE, pm::kAudioFormatLinearPCM, kFloat | kPacked},
    {AV_CODEC_ID_PCM_F64BE, pm::kAudioFormatLinearPCM, kFloat | kBig | kPacked},
    {AV_CODEC_ID_PCM_MULAW, fourCC("ulaw"), 0},
    {AV_CODEC_ID_PCM_ALAW, fourCC("alaw"), 0},
};

// 6144 bits per channel is the most one AAC frame may carry.
constexpr std::uint32_t kAACBytesPerChannel = 768;
// Room for free-format MPEG audio frames at twice the largest standard rate.
constexpr std::uint32_t kMPEGAudioPacketBound = 2881;
// The configuration's maximum frame size, 12 bytes in; MPEG-4 files put a
// 12-byte atom header (size, 'alac', version) in front of the configuration.
constexpr std::size_t kALACMaxFrameBytesOffset = 12;
constexpr std::size_t kALACAtomHeaderSize = 12;
constexpr std::size_t kALACConfigurationSize = 24;
// Room for the frame and channel headers in front of samples stored verbatim.
constexpr std::uint32_t kFrameHeaderBytes = 64;
// STREAMINFO's maximum block length (16 bits) and frame size (24 bits; 0 when unknown).
constexpr std::size_t kFLACMaxBlockSizeOffset = 2;
constexpr std::size_t kFLACMaxFrameSizeOffset = 7;

std::uint32_t bigEndian(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t length) {
  if (bytes.size() < offset + length) return 0;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < length; ++i) value = (value << 8) | bytes[offset + i];
  return value;
}

}  // namespace

AudioFileFormat audioFileFormatForParameters(const AVCodecParameters& parameters) {
  AudioFileFormat result;
  pm::AudioStreamBasicDescription description;
  description.sampleRate = parameters.sample_rate;
  description.channelsPerFrame = static_cast<std::uint32_t>(std::max(parameters.ch_layout.nb_channels, 0));
  if (description.sampleRate <= 0 || description.channelsPerFrame == 0) return result;
  const std::vector<std::uint8_t> extradata(parameters.extradata, parameters.extradata + std::max(parameters.extradata_size, 0));
  const auto frameSize = static_cast<std::uint32_t>(std::max(parameters.frame_size, 0));

  for (const auto& row : kPCMRows) {
    if (row.codec != parameters.codec_id) continue;
    description.formatID = row.formatID;
    description.formatFlags = row.flags;
    description.bitsPerChannel = static_cast<std::uint32_t>(av_get_bits_per_sample(row.codec));
    description.framesPerPacket = 1;
    description.bytesPerFrame = description.channelsPerFrame * description.bitsPerChannel / 8;
    description.bytesPerPacket = description.bytesPerFrame;
    result.description = description;
    return result;
  }
  switch (parameters.codec_id) {
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
      description.formatID = parameters.codec_id == AV_CODEC_ID_MP2 ? fourCC(".mp2") : fourCC(".mp3");
      description.framesPerPacket = frameSize > 0 ? frameSize : 1152;
      break;
    case AV_CODEC_ID_AAC:
      description.formatID = fourCC("aac ");
      description.framesPerPacket = frameSize > 0 ? frameSize : 1024;
      if (!extradata.empty()) result.magicCookie = aacMagicCookieFromConfiguration(extradata);
      break;
    case AV_CODEC_ID_ALAC:
      description.formatID = fourCC("alac");
      description.framesPerPacket = frameSize > 0 ? frameSize : 4096;
      description.bitsPerChannel = static_cast<std::uint32_t>(std::max(parameters.bits_per_raw_sample, 0));
      result.magicCookie = extradata;
      break;
    case AV_CODEC_ID_FLAC:
      description.formatID = fourCC("flac");
      description.framesPerPacket = 0;
      description.bitsPerChannel = static_cast<std::uint32_t>(std::max(parameters.bits_per_raw_sample, 0));
      result.magicCookie = extradata;
      break;
    default:
      return result;
  }
  result.description = description;
  return result;
}

std::vector<std::uint8_t> aacMagicCookieFromConfiguration(std::span<const std::uint8_t> configuration) {
  return CVNFFmpegMovieAssetReader::audioAACMagicCookieFromExtradata(configuration.data(), configuration.size());
}

std::optional<std::uint32_t> audioFilePacketSizeBound(const pm::AudioStreamBasicDescription& description,
                                                      const std::vector<std::uint8_t>& magicCookie) {
  std::uint32_t bound = 0;
  if (description.formatID == fourCC("aac ")) bound = kAACBytesPerChannel * description.channelsPerFrame;
  if (description.formatID == fourCC(".mp3") || description.formatID == fourCC(".mp2")) bound = kMPEGAudioPacketBound;
  if (description.formatID == fourCC("alac")) {
    const std::size_t header = magicCookie.size() >= kALACAtomHeaderSize + kALACConfigurationSize ? kALACAtomHeaderSize : 0;
    bound = bigEndian(magicCookie, header + kALACMaxFrameBytesOffset, 4);
    // Unset: a frame stored uncompressed, the most the encoder may write.
    if (bound == 0 && description.bitsPerChannel > 0) {
      bound = kFrameHeaderBytes +
              description.framesPerPacket * description.channelsPerFrame * ((description.bitsPerChannel + 7) / 8);
    }
  }
  if (description.formatID == fourCC("flac")) {
    bound = bigEndian(magicCookie, kFLACMaxFrameSizeOffset, 3);
    // Unknown to the encoder: the largest block stored verbatim.
    const std::uint32_t largestBlock = bigEndian(magicCookie, kFLACMaxBlockSizeOffset, 2);
    if (bound == 0 && largestBlock > 0 && description.bitsPerChannel > 0) {
      bound = kFrameHeaderBytes + largestBlock * description.channelsPerFrame * ((description.bitsPerChannel + 7) / 8);
    }
  }
  if (bound == 0) return std::nullopt;
  return bound;
}

}  // namespace media
