#include "node-standin/MediaProbe.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "foundation/CodecTypeDescription.h"
#include "foundation/TextEncoding.h"
#include "node-standin/FFmpegHandles.h"

namespace standin {
namespace {

using detail::FormatContextHandle;

// Property lists carry only XML text: valid UTF-8 without control characters
// other than tab, LF and CR.
bool isPropertyListText(std::string_view text) {
  if (!foundation::isValidUTF8(text)) return false;
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\t' && c != '\n' && c != '\r';
  });
}

std::string tagValue(const AVDictionary* tags, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(tags, key, nullptr, 0);
  return entry && entry->value ? std::string(entry->value) : std::string();
}

// The codec's four-character code as the media frameworks write it. FFmpeg
// keeps tags with the first character in the lowest byte; containers without
// tags (Matroska) fall back to the QuickTime tag of the codec.
std::uint32_t fourCharacterCode(const AVCodecParameters& parameters) {
  std::uint32_t tag = parameters.codec_tag;
  if (tag == 0) {
    const AVCodecTag* const tables[] = {avformat_get_mov_video_tags(), nullptr};
    tag = av_codec_get_tag(tables, parameters.codec_id);
  }
  if (tag == 0) return 0x3F3F3F3F;
  return ((tag & 0xFF) << 24) | ((tag & 0xFF00) << 8) | ((tag >> 8) & 0xFF00) | (tag >> 24);
}

double durationOf(const AVFormatContext& context, const AVStream& stream) {
  if (context.duration != AV_NOPTS_VALUE && context.duration > 0) {
    return static_cast<double>(context.duration) / AV_TIME_BASE;
  }
  if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) {
    return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
  }
  return 0;
}

double frameRateOf(const AVStream& stream) {
  for (const AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate}) {
    if (rate.num > 0 && rate.den > 0) return av_q2d(rate);
  }
  return 0;
}

std::string startTimeCodeOf(const AVFormatContext& context) {
  std::string timeCode = tagValue(context.metadata, "timecode");
  for (unsigned i = 0; timeCode.empty() && i < context.nb_streams; ++i) {
    timeCode = tagValue(context.streams[i]->metadata, "timecode");
  }
  return timeCode;
}

}  // namespace

MediaProbe probeMediaFile(const std::filesystem::path& path) {
  MediaProbe probe;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    probe.invalidReason = InvalidReason::FileNotFound;
    probe.problem = "not a readable file";
    return probe;
  }
  std::string problem;
  const FormatContextHandle context = detail::openMediaFile(path, problem);
  if (!context) {
    probe.invalidReason = InvalidReason::NotAMovieFile;
    probe.problem = problem;
    return probe;
  }
  for (const AVDictionaryEntry* entry = nullptr;
       (entry = av_dict_get(context->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr;) {
    if (isPropertyListText(entry->key) && isPropertyListText(entry->value)) {
      probe.metadata.emplace(entry->key, platform::Value(std::string(entry->value)));
    }
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream& stream = *context->streams[i];
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const std::string language = tagValue(stream.metadata, "language");
    if (!language.empty() && isPropertyListText(language) &&
        std::find(probe.languages.begin(), probe.languages.end(), language) == probe.languages.end()) {
      probe.languages.push_back(language);
    }
  }

  const int videoIndex = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (videoIndex < 0) {
    probe.invalidReason = InvalidReason::NoVideoTrack;
    probe.problem = "no video track";
    return probe;
  }
  const AVStream& video = *context->streams[videoIndex];
  const AVCodecParameters& parameters = *video.codecpar;
  probe.durationInSeconds = durationOf(*context, video);
  probe.framesPerSecond = frameRateOf(video);
  probe.width = parameters.width;
  probe.height = parameters.height;
  probe.videoCodec = fourCharacterCode(parameters);
  if (probe.videoCodec != 0x3F3F3F3F) {
    probe.videoCodecDescription =
        foundation::CodecTypeDescription::videoCodecTypeDescriptionWith(static_cast<std::int32_t>(probe.videoCodec));
  }
  if (probe.videoCodec == 0x3F3F3F3F || !isPropertyListText(probe.videoCodecDescription)) {
    if (const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters.codec_id)) {
      probe.videoCodecDescription = descriptor->long_name ? descriptor->long_name : descriptor->name;
    }
    if (!isPropertyListText(probe.videoCodecDescription)) probe.videoCodecDescription = "Unknown";
  }
  if (const std::string timeCode = startTimeCodeOf(*context); !timeCode.empty() && isPropertyListText(timeCode)) {
    probe.startTimeCode = timeCode;
    probe.dropFrame = timeCode.find(';') != std::string::npos;
  }
  if (avcodec_find_decoder(parameters.codec_id) == nullptr) {
    probe.invalidReason = InvalidReason::VideoCodecNotFound;
    probe.problem = "no decoder for " + probe.videoCodecDescription;
  }
  return probe;
}

}  // namespace standin
