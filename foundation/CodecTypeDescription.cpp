#include "foundation/CodecTypeDescription.h"

#include <algorithm>
#include <array>

#include "platform/Utf8.h"

namespace foundation {
namespace {

struct CodecName {
  std::uint32_t code;
  std::string_view name;
};

// Sorted by code, for binary search.
constexpr std::array<CodecName, 99> kVideoCodecNames = {{
    {fourCharCode("2vuy"), "YUV 8 bits"},
    {fourCharCode("AVdn"), "DNxHD"},
    {fourCharCode("AVj2"), "JPEG 2000"},
    {fourCharCode("FFVH"), "FFV1"},
    {fourCharCode("SHQ2"), "NewTek SpeedHQ"},
    {fourCharCode("SVQ1"), "Sorenson Video"},
    {fourCharCode("SVQ3"), "Sorenson Video3"},
    {fourCharCode("ai12"), "AVC-Intra 100M 1080p"},
    {fourCharCode("ai13"), "AVC-Intra 100M 1080p"},
    {fourCharCode("ai15"), "AVC-Intra 100M 1080i"},
    {fourCharCode("ai16"), "AVC-Intra 100M 1080i"},
    {fourCharCode("ai1p"), "AVC-Intra 100M 720p"},
    {fourCharCode("ai1q"), "AVC-Intra 100M 720p"},
    {fourCharCode("ai22"), "AVC-Intra 200M 1080p"},
    {fourCharCode("ai23"), "AVC-Intra 200M 1080p"},
    {fourCharCode("ai25"), "AVC-Intra 200M 1080i"},
    {fourCharCode("ai26"), "AVC-Intra 200M 1080i"},
    {fourCharCode("ai2p"), "AVC-Intra 200M 720p"},
    {fourCharCode("ai2q"), "AVC-Intra 200M 720p"},
    {fourCharCode("ai52"), "AVC-Intra 50M 1080p"},
    {fourCharCode("ai53"), "AVC-Intra 50M 1080p"},
    {fourCharCode("ai55"), "AVC-Intra 50M 1080i"},
    {fourCharCode("ai56"), "AVC-Intra 50M 1080i"},
    {fourCharCode("ai5p"), "AVC-Intra 50M 720p"},
    {fourCharCode("ai5q"), "AVC-Intra 50M 720p"},
    {fourCharCode("ap4h"), "Apple ProRes 4444"},
    {fourCharCode("ap4x"), "Apple ProRes XQ"},
    {fourCharCode("apch"), "Apple ProRes 422 (HQ)"},
    {fourCharCode("apcn"), "Apple ProRes 422"},
    {fourCharCode("apco"), "Apple ProRes 422 (Proxy)"},
    {fourCharCode("apcs"), "Apple ProRes 422 (LT)"},
    {fourCharCode("avc1"), "H.264"},
    {fourCharCode("bmp "), "Bitmap Image"},
    {fourCharCode("cvid"), "Cinepak"},
    {fourCharCode("dmb1"), "Motion JPEG OpenDML"},
    {fourCharCode("dv5n"), "DVCPRO50 - NTSC"},
    {fourCharCode("dv5p"), "DVCPRO50 - PAL"},
    {fourCharCode("dvc "), "DV/DVCPRO NTSC"},
    {fourCharCode("dvcp"), "DV - PAL"},
    {fourCharCode("dvh2"), "DVCPRO HD (1080p25)"},
    {fourCharCode("dvh3"), "DVCPRO HD (1080p30)"},
    {fourCharCode("dvh5"), "DVCPRO HD (1080i50)"},
    {fourCharCode("dvh6"), "DVCPRO HD (1080i60)"},
    {fourCharCode("dvhp"), "DVCPRO HD (720p60)"},
    {fourCharCode("dvhq"), "DVCPRO HD (720p50)"},
    {fourCharCode("dvpp"), "DVCPRO - PAL"},
    {fourCharCode("gif "), "GIF Image"},
    {fourCharCode("h263"), "H.263"},
    {fourCharCode("hdv1"), "HDV 720p30"},
    {fourCharCode("hdv2"), "HDV 1080i60"},
    {fourCharCode("hdv3"), "HVD 1080i50"},
    {fourCharCode("hdv4"), "HDV 720p24"},
    {fourCharCode("hdv5"), "HDV 720p25"},
    {fourCharCode("hdv6"), "HDV 1080p24"},
    {fourCharCode("hdv7"), "HDV 1080p25"},
    {fourCharCode("hdv8"), "HDV 1080p30"},
    {fourCharCode("hdv9"), "HDV 720p60"},
    {fourCharCode("hdva"), "HDV 720p50"},
    {fourCharCode("hvc1"), "HEVC Video"},
    {fourCharCode("img "), "Image"},
    {fourCharCode("jpeg"), "Photo - JPEG"},
    {fourCharCode("mp1v"), "MPEG-1 Video"},
    {fourCharCode("mp2v"), "MPEG-2 Video"},
    {fourCharCode("mp4v"), "MPEG-4 Video"},
    {fourCharCode("mx3n"), "MPEG IMX 525/60 (30 Mb/s)"},
    {fourCharCode("mx3p"), "MPEG IMX 625/50 (30 Mb/s)"},
    {fourCharCode("mx4n"), "MPEG IMX 525/60 (40 Mb/s)"},
    {fourCharCode("mx4p"), "MPEG IMX 625/50 (40 Mb/s)"},
    {fourCharCode("mx5n"), "MPEG IMX 525/60 (50 Mb/s)"},
    {fourCharCode("mx5p"), "MPEG IMX 625/50 (50 Mb/s)"},
    {fourCharCode("png "), "PNG Image"},
    {fourCharCode("rle "), "Animation"},
    {fourCharCode("tiff"), "TIFF"},
    {fourCharCode("vp09"), "VP9"},
    {fourCharCode("xd51"), "XDCAM HD422 720p30 (50Mb/s CBR)"},
    {fourCharCode("xd54"), "XDCAM HD422 720p24 (50Mb/s CBR)"},
    {fourCharCode("xd55"), "XDCAM HD422 720p25 (50Mb/s CBR)"},
    {fourCharCode("xd59"), "XDCAM HD422 720p60 (50Mb/s CBR)"},
    {fourCharCode("xd5a"), "XDCAM HD422 720p50 (50Mb/s CBR)"},
    {fourCharCode("xd5b"), "XDCAM HD422 1080i60 (50Mb/s CBR)"},
    {fourCharCode("xd5c"), "XDCAM HD422 1080i50 (50Mb/s CBR)"},
    {fourCharCode("xd5d"), "XDCAM HD422 1080p24 (50Mb/s CBR)"},
    {fourCharCode("xd5e"), "XDCAM HD422 1080p25 (50Mb/s CBR)"},
    {fourCharCode("xd5f"), "XDCAM HD422 1080p30 (50Mb/s CBR)"},
    {fourCharCode("xdv1"), "XDCAM EX 720p30 (35Mb/s VBR)"},
    {fourCharCode("xdv2"), "XDCAM HD 1080i60 (35Mb/s VBR)"},
    {fourCharCode("xdv3"), "XDCAM HD 1080i50 (35Mb/s VBR)"},
    {fourCharCode("xdv4"), "XDCAM EX 720p24 (35Mb/s VBR)"},
    {fourCharCode("xdv5"), "XDCAM EX 720p25 (35Mb/s VBR)"},
    {fourCharCode("xdv6"), "XDCAM HD 1080p24 (35Mb/s VBR)"},
    {fourCharCode("xdv7"), "XDCAM HD 1080p25 (35Mb/s VBR)"},
    {fourCharCode("xdv8"), "XDCAM HD 1080p30 (35Mb/s VBR)"},
    {fourCharCode("xdv9"), "XDCAM EX 720p60 (35Mb/s VBR)"},
    {fourCharCode("xdva"), "XDCAM EX 720p50 (35Mb/s VBR)"},
    {fourCharCode("xdvb"), "XDCAM EX 1080i60 (35Mb/s VBR)"},
    {fourCharCode("xdvc"), "XDCAM EX 1080i50 (35Mb/s VBR)"},
    {fourCharCode("xdvd"), "XDCAM EX 1080p24 (35Mb/s VBR)"},
    {fourCharCode("xdve"), "XDCAM EX 1080p25 (35Mb/s VBR)"},
    {fourCharCode("xdvf"), "XDCAM EX 1080p30 (35Mb/s VBR)"},
}};

constexpr std::array<CodecName, 8> kAudioCodecNames = {{
    {fourCharCode(".mp2"), "MP2"},
    {fourCharCode(".mp3"), "MP3"},
    {fourCharCode("aac "), "AAC"},
    {fourCharCode("alac"), "Apple Lossless"},
    {fourCharCode("alaw"), "aLaw"},
    {fourCharCode("flac"), "FLAC"},
    {fourCharCode("lpcm"), "PCM"},
    {fourCharCode("ulaw"), "\u00B5Law"},
}};

constexpr std::array<std::uint32_t, 6> kImageCodes = {
    fourCharCode("bmp "), fourCharCode("gif "), fourCharCode("img "),
    fourCharCode("jpeg"), fourCharCode("png "), fourCharCode("tiff"),
};

template <std::size_t N>
constexpr bool isSortedByCode(const std::array<CodecName, N>& names) {
  for (std::size_t i = 1; i < N; ++i) {
    if (names[i - 1].code >= names[i].code) return false;
  }
  return true;
}
static_assert(isSortedByCode(kVideoCodecNames), "video codec names must stay sorted by code");
static_assert(isSortedByCode(kAudioCodecNames), "audio codec names must stay sorted by code");

template <std::size_t N>
const CodecName* findName(const std::array<CodecName, N>& names, std::uint32_t code) {
  auto found = std::lower_bound(names.begin(), names.end(), code,
                                [](const CodecName& entry, std::uint32_t value) { return entry.code < value; });
  return (found != names.end() && found->code == code) ? &*found : nullptr;
}

std::uint32_t bitsOf(std::int32_t code) { return static_cast<std::uint32_t>(code); }

}  // namespace

std::string CodecTypeDescription::codecTypeDescriptionWith(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    // Each byte is a Latin-1 character, whose code point is the byte itself.
    platform::appendUtf8(text, static_cast<std::uint8_t>(code >> shift));
  }
  return text;
}

std::string CodecTypeDescription::videoCodecTypeDescriptionWith(std::int32_t code) {
  if (const CodecName* entry = findName(kVideoCodecNames, bitsOf(code))) return std::string(entry->name);
  return codecTypeDescriptionWith(bitsOf(code));
}

std::string CodecTypeDescription::audioCodecTypeDescriptionWith(std::int32_t code) {
  if (const CodecName* entry = findName(kAudioCodecNames, bitsOf(code))) return std::string(entry->name);
  return codecTypeDescriptionWith(bitsOf(code));
}

bool CodecTypeDescription::isImageFormatDescription(std::int32_t code) {
  return std::find(kImageCodes.begin(), kImageCodes.end(), bitsOf(code)) != kImageCodes.end();
}

bool CodecTypeDescription::isSoundFileFormatDescription(std::int32_t code) {
  return findName(kAudioCodecNames, bitsOf(code)) != nullptr;
}

}  // namespace foundation
