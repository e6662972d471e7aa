// Audio format descriptions by codec row, AC-3 and DVD LPCM from their first
// packet, and the AAC elementary stream descriptor.

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "foundation/CVNLogController.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/readers/movie/FFmpegText.h"

namespace media {

using platform::media::AudioStreamBasicDescription;
using platform::media::fourCC;
namespace pm = platform::media;

namespace {

constexpr std::uint32_t kSigned = pm::kAudioFormatFlagIsSignedInteger;
constexpr std::uint32_t kBig = pm::kAudioFormatFlagIsBigEndian;
constexpr std::uint32_t kFloat = pm::kAudioFormatFlagIsFloat;
constexpr std::uint32_t kPacked = pm::kAudioFormatFlagIsPacked;
constexpr std::uint32_t kAlignedHigh = pm::kAudioFormatFlagIsAlignedHigh;

// Words per frame of A/52 by frame-size code (pairs) and sample rate (48, 44.1, 32 kHz).
constexpr std::uint16_t kAC3WordsPerFrame[38][3] = {
    {64, 69, 96},       {64, 70, 96},       {80, 87, 120},      {80, 88, 120},      {96, 104, 144},
    {96, 105, 144},     {112, 121, 168},    {112, 122, 168},    {128, 139, 192},    {128, 140, 192},
    {160, 174, 240},    {160, 175, 240},    {192, 208, 288},    {192, 209, 288},    {224, 243, 336},
    {224, 244, 336},    {256, 278, 384},    {256, 279, 384},    {320, 348, 480},    {320, 349, 480},
    {384, 417, 576},    {384, 418, 576},    {448, 487, 672},    {448, 488, 672},    {512, 557, 768},
    {512, 558, 768},    {640, 696, 960},    {640, 697, 960},    {768, 835, 1152},   {768, 836, 1152},
    {896, 975, 1344},   {896, 976, 1344},   {1024, 1114, 1536}, {1024, 1115, 1536}, {1152, 1253, 1728},
    {1152, 1254, 1728}, {1280, 1393, 1920}, {1280, 1394, 1920}};
constexpr double kAC3SampleRates[3] = {48000, 44100, 32000};
constexpr std::uint32_t kAC3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr double kDVDSampleRates[4] = {48000, 96000, 44100, 32000};

struct PCMRow {
  AVCodecID codec;
  std::uint32_t flags;
};

constexpr PCMRow kIntegerPCM[] = {
    {AV_CODEC_ID_PCM_S16LE, kSigned}, {AV_CODEC_ID_PCM_S24LE, kSigned}, {AV_CODEC_ID_PCM_S32LE, kSigned},
    {AV_CODEC_ID_PCM_S8, kSigned},    {AV_CODEC_ID_PCM_S16BE, kSigned | kBig},
    {AV_CODEC_ID_PCM_S24BE, kSigned | kBig}, {AV_CODEC_ID_PCM_S32BE, kSigned | kBig},
    {AV_CODEC_ID_PCM_U8, 0},          {AV_CODEC_ID_PCM_U16LE, 0},      {AV_CODEC_ID_PCM_U24LE, 0},
    {AV_CODEC_ID_PCM_U32LE, 0},       {AV_CODEC_ID_PCM_U16BE, kBig},   {AV_CODEC_ID_PCM_U24BE, kBig},
    {AV_CODEC_ID_PCM_U32BE, kBig},
};

const PCMRow* integerPCMRow(AVCodecID codec) {
  for (const auto& row : kIntegerPCM) {
    if (row.codec == codec) return &row;
  }
  return nullptr;
}

// A/52 bit-stream information: sample rate, channels and frame size.
void readAC3Header(const AVPacket& packet, AudioStreamBasicDescription& description, std::uint64_t* frameSize) {
  const std::uint8_t* data = packet.data;
  if (packet.size < 8 || data[0] != 0x0B || data[1] != 0x77) return;
  const int rateCode = data[4] >> 6;
  const int sizeCode = data[4] & 0x3f;
  if (rateCode < 3) description.sampleRate = kAC3SampleRates[rateCode];
  const int codingMode = data[6] >> 5;
  int bit = 3;  // bits of byte 6 and on after the coding mode
  if ((codingMode & 1) && codingMode != 1) bit += 2;
  if (codingMode & 4) bit += 2;
  if (codingMode == 2) bit += 2;
  const int lfeByte = 6 + bit / 8;
  const bool lfe = (data[lfeByte] >> (7 - bit % 8)) & 1;
  description.channelsPerFrame = kAC3Channels[codingMode] + (lfe ? 1 : 0);
  if (sizeCode < 38 && rateCode < 3) *frameSize = 2u * kAC3WordsPerFrame[sizeCode][rateCode];
}

// DVD LPCM: the header's second byte.
void readDVDLPCMHeader(const AVPacket& packet, AudioStreamBasicDescription& description) {
  if (packet.size < 2) return;
  const std::uint8_t info = packet.data[1];
  description.sampleRate = kDVDSampleRates[(info >> 4) & 3];
  description.bitsPerChannel = 16 + 4 * (info >> 6);
  description.channelsPerFrame = (info & 7) + 1;
  const std::uint32_t bits = description.bitsPerChannel;
  description.formatFlags = kBig | kSigned | ((bits == 16 || bits == 24) ? kPacked : kAlignedHigh);
  description.bytesPerFrame = description.channelsPerFrame * ((bits + 7) / 8);
  description.bytesPerPacket = description.bytesPerFrame;
}

}  // namespace

void CVNFFmpegMovieAssetReader::appendDescriptorWithTag(std::uint8_t tag, std::uint32_t size,
                                                        std::vector<std::uint8_t>& data) {
  data.push_back(tag);
  for (int shift = 21; shift >= 0; shift -= 7) {
    data.push_back(static_cast<std::uint8_t>(((size >> shift) & 0x7f) | (shift > 0 ? 0x80 : 0)));
  }
}

std::vector<std::uint8_t> CVNFFmpegMovieAssetReader::audioAACMagicCookieFromExtradata(const std::uint8_t* extradata,
                                                                                      std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  std::vector<std::uint8_t> cookie;
  appendDescriptorWithTag(3, n + 26, cookie);
  cookie.insert(cookie.end(), {0, 0, 0});  // ES id, flags
  appendDescriptorWithTag(4, n + 18, cookie);
  cookie.insert(cookie.end(), {0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // type, stream, buffer, rates
  appendDescriptorWithTag(5, n, cookie);
  if (extradata) cookie.insert(cookie.end(), extradata, extradata + size);
  return cookie;
}

pm::FormatDescriptionRef CVNFFmpegMovieAssetReader::createAudioFormatDescriptionFromAudioStream(AVStream* stream) {
  const AVCodecParameters& parameters = *stream->codecpar;
  AudioStreamBasicDescription description;
  description.sampleRate = parameters.sample_rate;
  description.channelsPerFrame = static_cast<std::uint32_t>(std::max(parameters.ch_layout.nb_channels, 0));
  const std::uint32_t channels = description.channelsPerFrame;
  const int libraryBits = av_get_bits_per_sample(parameters.codec_id);
  std::vector<std::uint8_t> cookie;

  if (const PCMRow* row = integerPCMRow(parameters.codec_id)) {
    if (parameters.codec_id == AV_CODEC_ID_PCM_S16LE && assetType() == kAssetTypeQuickTimeMovie &&
        parameters.codec_tag != 0 && parameters.codec_tag != MKTAG('l', 'p', 'c', 'm') &&
        parameters.codec_tag != MKTAG('s', 'o', 'w', 't')) {
      foundation::CVNLogController::sharedLogController().logMessageWithLevel(
          0, true, "MovieAssetReader: %s: Unknown audio format (%i)", printableText(fileName()).c_str(),
          static_cast<int>(parameters.codec_tag));
      return nullptr;
    }
    const auto bits = static_cast<std::uint32_t>(libraryBits);
    description.formatID = pm::kAudioFormatLinearPCM;
    description.formatFlags = row->flags | (bits % 8 == 0 ? kPacked : kAlignedHigh);
    description.framesPerPacket = 1;
    description.bitsPerChannel = bits;
    const std::uint32_t coded = static_cast<std::uint32_t>(parameters.bits_per_coded_sample);
    description.bytesPerFrame = coded > 0 ? channels * (coded / 8) : channels * ((bits + 7) / 8);
    description.bytesPerPacket = description.bytesPerFrame;
  } else {
    switch (parameters.codec_id) {
      case AV_CODEC_ID_PCM_S16LE_PLANAR:
      case AV_CODEC_ID_PCM_F32BE:
      case AV_CODEC_ID_PCM_F64BE:
      case AV_CODEC_ID_PCM_F32LE:
      case AV_CODEC_ID_PCM_F64LE:
      case AV_CODEC_ID_PCM_MULAW:
      case AV_CODEC_ID_PCM_ALAW: {
        const auto id = parameters.codec_id;
        description.formatID = id == AV_CODEC_ID_PCM_MULAW  ? fourCC("ulaw")
                               : id == AV_CODEC_ID_PCM_ALAW ? fourCC("alaw")
                                                            : pm::kAudioFormatLinearPCM;
        if (id == AV_CODEC_ID_PCM_S16LE_PLANAR) description.formatFlags = kSigned;
        if (id == AV_CODEC_ID_PCM_F32BE || id == AV_CODEC_ID_PCM_F64BE) description.formatFlags = kFloat | kBig | kPacked;
        if (id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F64LE) description.formatFlags = kFloat | kPacked;
        description.framesPerPacket = 1;
        description.bitsPerChannel = static_cast<std::uint32_t>(libraryBits);
        description.bytesPerFrame = channels * description.bitsPerChannel / 8;
        description.bytesPerPacket = description.bytesPerFrame;
        break;
      }
      case AV_CODEC_ID_PCM_DVD: {
        const AVPacket* packet = packetOfStream(stream->index);
        if (!packet) return nullptr;
        description.formatID = pm::kAudioFormatLinearPCM;
        description.framesPerPacket = 1;
        readDVDLPCMHeader(*packet, description);
        break;
      }
      case AV_CODEC_ID_ADPCM_IMA_QT:
        description.formatID = fourCC("ima4");
        description.framesPerPacket = 64;
        description.bytesPerPacket = 68;
        break;
      case AV_CODEC_ID_MP1:
      case AV_CODEC_ID_MP2:
      case AV_CODEC_ID_MP3:
        description.formatID = parameters.codec_id == AV_CODEC_ID_MP1   ? fourCC(".mp1")
                               : parameters.codec_id == AV_CODEC_ID_MP2 ? fourCC(".mp2")
                                                                        : fourCC(".mp3");
        description.framesPerPacket = 1152;
        break;
      case AV_CODEC_ID_AAC:
        description.formatID = fourCC("aac ");
        description.framesPerPacket = 1024;
        if (parameters.extradata_size > 0) {
          cookie = audioAACMagicCookieFromExtradata(parameters.extradata,
                                                    static_cast<std::size_t>(parameters.extradata_size));
        }
        break;
      case AV_CODEC_ID_AC3: {
        description.formatID = fourCC("ac-3");
        description.framesPerPacket = 1536;
        if (const AVPacket* packet = packetOfStream(stream->index)) readAC3Header(*packet, description, &ac3FrameSize_);
        break;
      }
      case AV_CODEC_ID_FLAC:
        description.formatID = fourCC("flac");
        description.framesPerPacket = 1;
        description.bitsPerChannel = static_cast<std::uint32_t>(parameters.bits_per_raw_sample);
        break;
      case AV_CODEC_ID_ALAC:
        description.formatID = fourCC("alac");
        description.framesPerPacket = 4096;
        if (parameters.extradata_size > 0) {
          cookie.assign(parameters.extradata, parameters.extradata + parameters.extradata_size);
        }
        break;
      default:
        return nullptr;
    }
  }
  if (description.formatID == 0 || description.sampleRate == 0 || description.channelsPerFrame == 0) return nullptr;
  return pm::FormatDescription::createAudio(description, std::nullopt, std::move(cookie));
}

}  // namespace media
