#include "media/decoders/VideoToolboxRules.h"

#include "media/decoders/CodecCodes.h"
#include "platform/media/PixelFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace media::videotoolbox {
namespace {

namespace pm = platform::media;
using pm::fourCC;
using pm::FourCharCode;

// Reads one descriptor header: tag and length (1 to 4 bytes of 7 bits).
bool readDescriptor(const std::vector<std::uint8_t>& data, std::size_t* offset, std::uint8_t* tag, std::size_t* length) {
  if (*offset >= data.size()) return false;
  *tag = data[(*offset)++];
  *length = 0;
  for (int i = 0; i < 4; ++i) {
    if (*offset >= data.size()) return false;
    const std::uint8_t byte = data[(*offset)++];
    *length = (*length << 7) | (byte & 0x7f);
    if (!(byte & 0x80)) return *length <= data.size() - *offset;
  }
  return false;
}

}  // namespace

std::int64_t framesNeededForPlayback(FourCharCode codec) {
  return isOneOf(codec, {"avc1", "hvc1", "mp4v"}) ? 5 : 3;
}

std::uint32_t imxPaddingLines(const pm::FormatDescription& description) {
  if (description.mediaSubType() != fourCC("mp2v")) return 0;
  const platform::Value profile = description.extension(pm::kFormatDescriptionExtensionMPEG2Profile);
  FourCharCode code = 0;
  if (const std::string* text = profile.string(); text && text->size() == 4) {
    code = codeOf(text->c_str());
  } else if (profile.isInteger()) {
    code = static_cast<FourCharCode>(profile.integerOr(0));
  }
  if (isOneOf(code, {"mx3n", "mx4n", "mx5n"})) return 26;
  if (isOneOf(code, {"mx3p", "mx4p", "mx5p"})) return 32;
  return 0;
}

OutputFormatChoice chooseOutputFormat(FourCharCode requested, bool metalAPIEnabled, std::int32_t sourceBits,
                                      FourCharCode codec) {
  OutputFormatChoice choice{requested, false};
  if (requested == pm::kPixelFormat422YpCbCr10) {
    if (!metalAPIEnabled) {
      choice.refused = true;
    } else if (sourceBits < 9) {
      choice.pixelFormat = pm::kPixelFormat422YpCbCr8;
    } else if (isOneOf(codec, {"apch", "apcn", "apco", "apcs"})) {
      choice.pixelFormat = pm::kPixelFormat422YpCbCr16;
    } else if (isOneOf(codec, {"ap4h", "ap4x", "aprh", "aprn", "avc1", "hvc1", "muxa"})) {
      choice.pixelFormat = pm::kPixelFormat4444AYpCbCr16;
    }
  } else if (requested == pm::kPixelFormat32RGBA) {
    choice.pixelFormat = pm::kPixelFormat32BGRA;
  }
  return choice;
}

std::optional<LinePlacement> linePlacement(std::int32_t outputHeight, std::int32_t sourceHeight, bool reverseField,
                                           bool isIMX) {
  if (outputHeight > 719 || isIMX) return std::nullopt;
  LinePlacement placement{outputHeight, 0};
  int shift = 0;
  if (reverseField) {
    const int difference = outputHeight - sourceHeight;
    if (difference == 0) {
      placement.outputHeight = outputHeight + 1;
      shift = 1;
    } else {
      shift = difference > 0 ? difference + 1 : difference - 1;
    }
  } else if (outputHeight == 486 && sourceHeight == 480) {
    shift = 6;
  } else {
    return std::nullopt;
  }
  placement.firstLine = shift / 2 + shift % 2;
  return placement;
}

int codecIdForSubtype(FourCharCode codec) {
  if (isOneOf(codec, {"apch", "apcn", "apco", "apcs", "ap4h", "ap4x"})) return AV_CODEC_ID_PRORES;
  if (codec == fourCC("avc1")) return AV_CODEC_ID_H264;
  if (codec == fourCC("hvc1")) return AV_CODEC_ID_HEVC;
  if (codec == fourCC("h263")) return AV_CODEC_ID_H263;
  if (codec == fourCC("mp1v")) return AV_CODEC_ID_MPEG1VIDEO;
  if (codec == fourCC("mp2v")) return AV_CODEC_ID_MPEG2VIDEO;
  if (codec == fourCC("mp4v")) return AV_CODEC_ID_MPEG4;
  if (codec == fourCC("cvid")) return AV_CODEC_ID_CINEPAK;
  if (codec == fourCC("rle ")) return AV_CODEC_ID_QTRLE;
  if (codec == fourCC("SVQ1")) return AV_CODEC_ID_SVQ1;
  if (codec == fourCC("SVQ3")) return AV_CODEC_ID_SVQ3;
  if (isOneOf(codec, {"dvc ", "dvcp", "dvpp", "dv5n", "dv5p"})) return AV_CODEC_ID_DVVIDEO;
  if (isOneOf(codec, {"jpeg", "dmb1"})) return AV_CODEC_ID_MJPEG;
  return AV_CODEC_ID_NONE;
}

std::optional<std::vector<std::uint8_t>> decoderSpecificInfoFromESDS(const std::vector<std::uint8_t>& esds) {
  std::size_t offset = 0;
  // The atom body may still carry its version and flags.
  if (!esds.empty() && esds[0] != 3) offset = 4;
  std::uint8_t tag = 0;
  std::size_t length = 0;
  if (!readDescriptor(esds, &offset, &tag, &length) || tag != 3 || length < 3) return std::nullopt;
  const std::uint8_t flags = esds[offset + 2];
  offset += 3;
  if (flags & 0x80) offset += 2;                                   // depends on ES_ID
  if (flags & 0x40) offset += 1 + (offset < esds.size() ? esds[offset] : 0);  // URL
  if (flags & 0x20) offset += 2;                                   // OCR ES_ID
  if (!readDescriptor(esds, &offset, &tag, &length) || tag != 4 || length < 13) return std::nullopt;
  offset += 13;
  if (!readDescriptor(esds, &offset, &tag, &length) || tag != 5) return std::nullopt;
  return std::vector<std::uint8_t>(esds.begin() + static_cast<std::ptrdiff_t>(offset),
                                   esds.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

std::vector<std::uint8_t> extradataFromDescription(const pm::FormatDescription& description) {
  for (const char* name : {"avcC", "hvcC"}) {
    if (auto atom = description.atom(name)) return *atom;
  }
  if (auto esds = description.atom("esds")) {
    if (auto info = decoderSpecificInfoFromESDS(*esds)) return *info;
  }
  return {};
}

}  // namespace media::videotoolbox
