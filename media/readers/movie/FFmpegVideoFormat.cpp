// The video format description by codec row: MPEG-2 profiles (XDCAM, HDV,
// IMX and the MXF bit-rate rule), DV by frame size, the caption searches,
// the "ARES" atom of DNxHD, and the extensions every description carries.

#include <algorithm>
#include <array>
#include <atomic>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "captions/CVNCCUtilities.h"
#include "media/parsers/CVNMPEG2Utilities.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/readers/movie/FFmpegText.h"

namespace media {

namespace pm = platform::media;
using pm::fourCC;
using pm::FourCharCode;

namespace {

std::atomic<bool> createDNxHDDescriptions{false};

constexpr std::size_t kAresSize = 112;
constexpr std::size_t kAresCompressionIdOffset = 40;
constexpr std::array<std::int32_t, 5> kInterlacedDNxHDIds = {1241, 1242, 1243, 1244, 1260};

bool isOneOf(FourCharCode tag, std::initializer_list<const char*> codes) {
  return std::any_of(codes.begin(), codes.end(), [&](const char* code) {
    return tag == ((FourCharCode(static_cast<unsigned char>(code[0])) << 24) |
                   (FourCharCode(static_cast<unsigned char>(code[1])) << 16) |
                   (FourCharCode(static_cast<unsigned char>(code[2])) << 8) | static_cast<unsigned char>(code[3]));
  });
}

std::span<const std::uint8_t> bytesOf(const AVPacket& packet) {
  return {packet.data, static_cast<std::size_t>(std::max(packet.size, 0))};
}

std::uint32_t readBE32(const std::uint8_t* bytes) {
  return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) | bytes[3];
}

void writeBE32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

// Sets an unknown field order from a DNxHD compression id.
void fieldOrderFromCompressionId(AVCodecParameters& parameters, std::int32_t compressionId) {
  if (parameters.field_order != AV_FIELD_UNKNOWN) return;
  const bool interlaced =
      std::find(kInterlacedDNxHDIds.begin(), kInterlacedDNxHDIds.end(), compressionId) != kInterlacedDNxHDIds.end();
  parameters.field_order = interlaced ? AV_FIELD_TT : AV_FIELD_PROGRESSIVE;
}

void addFieldExtensions(platform::Dictionary& extensions, int fieldOrder) {
  switch (fieldOrder) {
    case AV_FIELD_PROGRESSIVE:
      extensions[pm::kFormatDescriptionExtensionFieldCount] = 1;
      break;
    case AV_FIELD_TT:
    case AV_FIELD_BB:
    case AV_FIELD_TB:
    case AV_FIELD_BT: {
      extensions[pm::kFormatDescriptionExtensionFieldCount] = 2;
      const char* detail = fieldOrder == AV_FIELD_TT   ? pm::kFieldDetailTemporalTopFirst
                           : fieldOrder == AV_FIELD_BB ? pm::kFieldDetailTemporalBottomFirst
                           : fieldOrder == AV_FIELD_TB ? pm::kFieldDetailSpatialFirstLineEarly
                                                       : pm::kFieldDetailSpatialFirstLineLate;
      extensions[pm::kFormatDescriptionExtensionFieldDetail] = detail;
      break;
    }
    default:
      break;
  }
}

platform::Data extradataOf(const AVCodecParameters& parameters) {
  if (!parameters.extradata || parameters.extradata_size <= 0) return {};
  return platform::Data(parameters.extradata, parameters.extradata + parameters.extradata_size);
}

}  // namespace

void CVNFFmpegMovieAssetReader::setShouldCreateVideoFormatDescriptionForDNxHD(bool value) {
  createDNxHDDescriptions = value;
}

bool CVNFFmpegMovieAssetReader::shouldCreateVideoFormatDescriptionForDNxHD() { return createDNxHDDescriptions; }

platform::Value CVNFFmpegMovieAssetReader::mpeg2Profile(AVStream* stream, bool* foundEmbeddedCaptions) {
  AVCodecParameters& parameters = *stream->codecpar;
  const FourCharCode tag = fourCCFromCodecTag(parameters.codec_tag);
  if (isOneOf(tag, {"xdv1", "xdv4", "xdv5", "xdv6", "xdv7", "xdv8", "xdv9", "xdva", "xdvd", "xdve", "xdvf",
                    "xdhd", "xdh2", "xd51", "xd54", "xd55", "xd59", "xd5a", "xd5d", "xd5e", "xd5f", "hdv1",
                    "hdv4", "hdv5", "hdv6", "hdv7", "hdv8", "hdv9", "hdva"})) {
    parameters.field_order = AV_FIELD_PROGRESSIVE;
    return static_cast<std::int64_t>(tag);
  }
  if (isOneOf(tag, {"xdv2", "xdv3", "xdvb", "xdvc", "xd5b", "xd5c", "hdv2", "hdv3"})) {
    return static_cast<std::int64_t>(tag);
  }
  if (isOneOf(tag, {"mx3n", "mx3p", "mx4n", "mx4p", "mx5n", "mx5p"})) {
    if (parameters.width != 720 || parameters.height == 512 || parameters.height == 608) return {};
    const bool ntsc = parameters.height <= 512;
    parameters.height = ntsc ? 512 : 608;
    parameters.field_order = ntsc ? AV_FIELD_BB : AV_FIELD_TT;
    decodedFrameSize_.height = ntsc ? 486 : 576;
    return static_cast<std::int64_t>(tag);
  }
  const bool mxf = assetType() == kAssetTypeMXF;
  if (!mxf && assetType() != kAssetTypeMPEG2Movie && parameters.field_order != AV_FIELD_UNKNOWN) return {};

  platform::Value profile;
  const AVPacket* packet = packetOfStream(stream->index);
  if (!packet) return profile;
  const auto bytes = bytesOf(*packet);
  const auto parseFieldOrder = [&] {
    std::int32_t order = 0;
    if (CVNMPEG2Utilities::parseBufferForFieldOrder(bytes, &order)) parameters.field_order = static_cast<AVFieldOrder>(order);
  };
  if (parameters.field_order == AV_FIELD_UNKNOWN) parseFieldOrder();
  std::int32_t width = 0, height = 0, bitrate = 0;
  if (mxf && CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(bytes, &width, &height, &bitrate) && width == 720 &&
      (height == 608 || height == 512) && (bitrate == 75000 || bitrate == 100000 || bitrate == 125000)) {
    const char rate = bitrate == 75000 ? '3' : bitrate == 100000 ? '4' : '5';
    const char lines = height == 608 ? 'p' : 'n';
    profile = static_cast<std::int64_t>((FourCharCode('m') << 24) | (FourCharCode('x') << 16) |
                                        (FourCharCode(static_cast<unsigned char>(rate)) << 8) |
                                        static_cast<unsigned char>(lines));
    decodedFrameSize_.height = height == 608 ? 576 : 486;
    parseFieldOrder();
  }
  if (foundEmbeddedCaptions && !ccStream_) {
    *foundEmbeddedCaptions = false;
    for (std::size_t ordinal = 0; ordinal < 2; ++ordinal) {
      const AVPacket* examined = ordinal == 0 ? packetOfStream(stream->index) : packetOfStream(stream->index, 1);
      if (!examined) break;
      if (captions::CVNCCUtilities::extractCCDataFromMPEG2Packet(bytesOf(*examined), pm::MediaTime::invalid())) {
        *foundEmbeddedCaptions = true;
        break;
      }
      bool hasCaptions = false;
      if (CVNMPEG2Utilities::parseBufferForCaptions(bytesOf(*examined), &hasCaptions)) {
        *foundEmbeddedCaptions = hasCaptions;
        break;
      }
    }
  }
  return profile;
}

std::optional<FourCharCode> CVNFFmpegMovieAssetReader::dvFormatType(AVStream* stream) {
  AVCodecParameters& parameters = *stream->codecpar;
  const FourCharCode tag = fourCCFromCodecTag(parameters.codec_tag);
  if (isOneOf(tag, {"dvc ", "dvcp", "dvpp", "dv5n", "dv5p"})) {
    parameters.field_order = AV_FIELD_BB;
    return tag;
  }
  if (isOneOf(tag, {"dvh2", "dvh3", "dvh5", "dvh6", "dvhp", "dvhq"})) return tag;
  const AVPacket* packet = packetOfStream(stream->index);
  if (!packet) return std::nullopt;
  const bool hd720 = parameters.height == 720;
  std::optional<FourCharCode> type;
  bool bottomFirst = true;
  switch (packet->size) {
    case 120000:
      type = fourCC("dvc ");
      break;
    case 144000: {
      const std::uint8_t* d = packet->data;
      type = ((d[3] & 0x80) && (d[451] & 0x1f) == 0 && (d[4] & 0x07)) ? fourCC("dvcp") : fourCC("dvpp");
      break;
    }
    case 240000:
      type = hd720 ? fourCC("dvhp") : fourCC("dv5n");
      bottomFirst = !hd720;
      break;
    case 288000:
      type = hd720 ? fourCC("dvhq") : fourCC("dv5p");
      bottomFirst = !hd720;
      break;
    case 480000:
      type = fourCC("dvh6");
      bottomFirst = false;
      break;
    case 576000:
      type = fourCC("dvh5");
      bottomFirst = false;
      break;
    default:
      return std::nullopt;
  }
  if (bottomFirst) parameters.field_order = AV_FIELD_BB;
  return type;
}

void CVNFFmpegMovieAssetReader::searchH264Captions(AVStream* stream, bool* foundEmbeddedCaptions) {
  const AVPacket* first = packetOfStream(stream->index);
  if (!first) return;
  *foundEmbeddedCaptions =
      captions::CVNCCUtilities::extractCCDataFromH264Packet(bytesOf(*first), pm::MediaTime::invalid()).has_value();
  // The next video packet decides; the search for it is bounded by its budget.
  const AVPacket* next = packetOfStream(stream->index, 1);
  if (!next) return;
  const auto triplets = captions::CVNCCUtilities::extractCCDataFromH264Packet(bytesOf(*next), pm::MediaTime::invalid());
  *foundEmbeddedCaptions = triplets && !triplets->empty();
}

std::optional<std::vector<std::uint8_t>> CVNFFmpegMovieAssetReader::aresAtom(AVStream* stream) {
  AVCodecParameters& parameters = *stream->codecpar;
  if (assetType() == kAssetTypeOther) {
    // Walk the extradata's atoms; sizes are checked against what is left.
    std::optional<std::vector<std::uint8_t>> atom;
    const std::uint8_t* data = parameters.extradata;
    const std::size_t size = parameters.extradata ? static_cast<std::size_t>(std::max(parameters.extradata_size, 0)) : 0;
    for (std::size_t offset = 0; offset + 8 <= size;) {
      const std::uint32_t atomSize = readBE32(data + offset);
      if (atomSize < 8 || atomSize > size - offset) break;
      if (std::equal(data + offset + 4, data + offset + 8, "ARES")) {
        atom = std::vector<std::uint8_t>(data + offset + 8, data + offset + atomSize);
        if (atom->size() >= 12) fieldOrderFromCompressionId(parameters, static_cast<std::int32_t>(readBE32(atom->data() + 8)));
      }
      offset += atomSize;
    }
    return atom;
  }
  std::int32_t compressionId = 0;
  if (const AVPacket* packet = packetOfStream(stream->index);
      packet && static_cast<std::size_t>(packet->size) >= kAresCompressionIdOffset + 4) {
    compressionId = static_cast<std::int32_t>(readBE32(packet->data + kAresCompressionIdOffset));
  }
  fieldOrderFromCompressionId(parameters, compressionId);
  const bool interlaced = parameters.field_order == AV_FIELD_TT;
  std::vector<std::uint8_t> atom(kAresSize, 0);
  std::copy_n("ARES0001", 8, atom.begin());
  writeBE32(&atom[8], static_cast<std::uint32_t>(compressionId));
  writeBE32(&atom[12], static_cast<std::uint32_t>(parameters.width));
  writeBE32(&atom[16], static_cast<std::uint32_t>(interlaced ? parameters.height / 2 : parameters.height));
  writeBE32(&atom[20], interlaced ? 2 : 1);
  writeBE32(&atom[28], interlaced ? 4 : (parameters.height == 1080 ? 5 : 6));
  return atom;
}

pm::FormatDescriptionRef CVNFFmpegMovieAssetReader::createVideoFormatDescriptionFromVideoStream(
    AVStream* stream, bool* foundEmbeddedCaptions) {
  AVCodecParameters& parameters = *stream->codecpar;
  decodedFrameSize_ = {static_cast<double>(parameters.width), static_cast<double>(parameters.height)};
  const FourCharCode tag = fourCCFromCodecTag(parameters.codec_tag);
  std::optional<FourCharCode> formatType;
  platform::Value profile;
  platform::Dictionary atoms;
  bool needsAtoms = false;
  const platform::Data extradata = extradataOf(parameters);

  switch (parameters.codec_id) {
    case AV_CODEC_ID_MPEG1VIDEO:
      formatType = fourCC("mp1v");
      break;
    case AV_CODEC_ID_MPEG2VIDEO:
      formatType = fourCC("mp2v");
      profile = mpeg2Profile(stream, foundEmbeddedCaptions);
      break;
    case AV_CODEC_ID_MJPEG:
      formatType = fourCC("jpeg");
      isIFrameOnlyCodec_ = true;
      break;
    case AV_CODEC_ID_MPEG4:
      formatType = fourCC("mp4v");
      if (extradata.empty()) return nullptr;
      atoms["esds"] = extradata;
      break;
    case AV_CODEC_ID_RAWVIDEO:
    case AV_CODEC_ID_V210:
      if (!isOneOf(tag, {"v210", "2vuy"})) return nullptr;
      formatType = tag;
      isUncompressed_ = isIFrameOnlyCodec_ = true;
      break;
    case AV_CODEC_ID_DVVIDEO:
      formatType = dvFormatType(stream);
      if (!formatType) return nullptr;
      isIFrameOnlyCodec_ = true;
      break;
    case AV_CODEC_ID_H264:
      if (isOneOf(tag, {"ai12", "ai13", "ai15", "ai16", "ai1p", "ai1q", "ai22", "ai23", "ai25", "ai26", "ai2p", "ai2q",
                        "ai52", "ai53", "ai55", "ai56", "ai5p", "ai5q"})) {
        formatType = tag;
        isIFrameOnlyCodec_ = true;
      } else {
        formatType = fourCC("avc1");
        if (tag == fourCC("avc1") && !extradata.empty()) atoms["avcC"] = extradata;
      }
      if (foundEmbeddedCaptions && !ccStream_) searchH264Captions(stream, foundEmbeddedCaptions);
      break;
    case AV_CODEC_ID_FFV1:
      formatType = fourCC("FFVH");
      break;
    case AV_CODEC_ID_JPEG2000:
      formatType = fourCC("AVj2");
      isIFrameOnlyCodec_ = true;
      break;
    case AV_CODEC_ID_DNXHD: {
      if (!shouldCreateVideoFormatDescriptionForDNxHD()) return nullptr;
      formatType = fourCC("AVdn");
      isIFrameOnlyCodec_ = true;
      needsAtoms = true;
      if (auto ares = aresAtom(stream)) atoms["ARES"] = platform::Data(std::move(*ares));
      break;
    }
    case AV_CODEC_ID_PRORES:
      if (!isOneOf(tag, {"apch", "apcn", "apco", "apcs", "ap4h", "ap4x"})) return nullptr;
      formatType = tag;
      isIFrameOnlyCodec_ = true;
      break;
    case AV_CODEC_ID_VP9:
      formatType = fourCC("vp09");
      isIFrameOnlyCodec_ = true;
      break;
    case AV_CODEC_ID_HEVC:
      formatType = fourCC("hvc1");
      if (extradata.empty()) return nullptr;
      atoms["hvcC"] = extradata;
      break;
    case AV_CODEC_ID_SPEEDHQ:
      formatType = fourCC("SHQ2");
      isUncompressed_ = false;
      break;
    default:
      return nullptr;
  }
  if (needsAtoms && atoms.empty()) return nullptr;

  platform::Dictionary extensions;
  if (*formatType == fourCC("mp2v") && !profile.isNone()) extensions[pm::kFormatDescriptionExtensionMPEG2Profile] = profile;
  if (stream->sample_aspect_ratio.num >= 2) {
    extensions[pm::kFormatDescriptionExtensionPixelAspectRatio] =
        platform::Dictionary{{"HorizontalSpacing", stream->sample_aspect_ratio.num},
                             {"VerticalSpacing", stream->sample_aspect_ratio.den}};
  }
  addFieldExtensions(extensions, parameters.field_order);
  if (!atoms.empty()) extensions[pm::kFormatDescriptionExtensionAtoms] = std::move(atoms);
  return pm::FormatDescription::createVideo(*formatType, {parameters.width, parameters.height}, std::move(extensions));
}

}  // namespace media
