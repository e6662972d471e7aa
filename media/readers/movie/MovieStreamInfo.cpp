// Loading a movie's information: audio and video descriptions, captions,
// timecode, duration and points, frame-rate repair, field packets, the first
// timecode frame and the validity verdict; and the video properties.

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include "captions/CVNVANCPacket.h"
#include "foundation/CVNLogController.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/readers/movie/FFmpegText.h"
#include "media/validation/CVNEngineValidation.h"
#include "media/validation/CVNMediaInfoValidator.h"
#include "platform/DispatchQueue.h"
#include "platform/UserDefaults.h"
#include "pluginframework/CVNTimeValue.h"

namespace media {

namespace pm = platform::media;
using pm::fourCC;

namespace {

std::optional<std::string> metadataEntry(AVDictionary* dictionary, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(dictionary, key, nullptr, 0);
  if (!entry || !entry->value) return std::nullopt;
  return std::string(entry->value);
}

bool isDropFrameText(const std::string& text, double framerate) {
  return text.find(';') != std::string::npos && std::fabs(framerate - 23.98) >= 0.01;
}

double rationalValue(AVRational value) { return value.den == 0 ? 0.0 : static_cast<double>(value.num) / value.den; }

}  // namespace

void CVNFFmpegMovieAssetReader::loadInfoWithMetadata(bool withMetadata, bool validateUsingMediaInfo,
                                                     CompletionHandler handler) {
  // One queue per call; the block drops the last reference to it when done.
  auto queue = std::make_shared<platform::SerialQueue>("com.dirarovazovo.loadInfoQueue");
  auto holder = std::make_shared<std::shared_ptr<platform::SerialQueue>>(queue);
  queue->async([this, holder, withMetadata, validateUsingMediaInfo, handler = std::move(handler)] {
    loadInfo(withMetadata, validateUsingMediaInfo);
    if (handler) handler();
    holder->reset();
  });
}

void CVNFFmpegMovieAssetReader::loadInfo(bool withMetadata, bool validateUsingMediaInfo) {
  const bool validateWithMediaInfo = platform::UserDefaults::standard().boolForKey("ValidateWithMediaInfo");
  const auto& validationLog = CVNEngineValidation::engineValidationOSLog();
  validationLog.beginValidation(sourceDescription());
  const auto finish = [&] {
    validationLog.endValidation(sourceDescription(), isValid_);
    if (isValid_ && validateUsingMediaInfo && validateWithMediaInfo && mediaInfoRefuses()) {
      isValid_ = false;
      validationError_ = kValidationReasonTruncated;
    }
  };
  if (!open()) return finish();

  loadAudioDescriptions();
  AVCodecParameters& video = *videoStream_->codecpar;
  bitsPerRawSample_ = video.bits_per_raw_sample != 0 ? video.bits_per_raw_sample
                                                     : bitsPerRawSampleFromPixelFormat(video.format);
  const bool stream = isZiraStream();
  if (!stream && (videoStream_->duration == AV_NOPTS_VALUE || videoStream_->duration <= 0) &&
      (formatContext_->duration == AV_NOPTS_VALUE || formatContext_->duration <= 0)) {
    validationError_ = kValidationReasonVideoCodecNotSupported;
    return finish();
  }
  videoFormatDescription_ = createVideoFormatDescriptionFromVideoStream(videoStream_, &foundEmbeddedCaptions_);
  if (!videoFormatDescription_) {
    validationError_ = kValidationReasonVideoCodecNotSupported;
    return finish();
  }
  hasVideo_ = true;
  avcodec_free_context(&codecContext_);
  codecContext_ = avcodec_alloc_context3(nullptr);
  if (codecContext_) {
    avcodec_parameters_to_context(codecContext_, &video);
    codecContext_->pkt_timebase = videoStream_->time_base;
  }
  if (ccStream_) {
    closedCaptionFormatDescription_ = createClosedCaptionFormatDescriptionFromCCStream(ccStream_);
    if (!closedCaptionFormatDescription_) ccStream_ = nullptr;
  }
  if (tmcdStream_) timeCodeFormatDescription_ = createTimecodeFormatDescriptionFromTimecodeStream(tmcdStream_);
  if (!stream || isSeekableZiraStream()) loadDuration();
  streamTags_[videoStream_->index] = platform::Dictionary{{"isBeyondOutPoint", false}};
  repairFrameRate();
  loadFirstFrameNumber();
  if (foundEmbeddedCaptions_ && !closedCaptionFormatDescription_) createCCSampleFormatDescription();
  if (withMetadata && assetType() == kAssetTypeQuickTimeMovie) loadQuickTimeMetadata();
  isValid_ = true;
  finish();
}

void CVNFFmpegMovieAssetReader::loadAudioDescriptions() {
  audioFormatDescriptionArray_.assign(formatContext_->nb_streams, nullptr);
  for (unsigned i = 0; i < formatContext_->nb_streams; ++i) {
    AVStream* stream = formatContext_->streams[i];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    streamTags_.erase(stream->index);
    auto description = createAudioFormatDescriptionFromAudioStream(stream);
    if (!description) {
      foundation::CVNLogController::sharedLogController().logMessageWithLevel(
          1, true, "MovieAssetReader: Error: %s has an incompatible audio track", printableText(fileName()).c_str());
      continue;
    }
    audioFormatDescriptionArray_[static_cast<std::size_t>(numberOfAudioStreams_)] = std::move(description);
    streamTags_[stream->index] = platform::Dictionary{{"isBeyondOutPoint", false}, {"index", numberOfAudioStreams_}};
    ++numberOfAudioStreams_;
    numberOfAudioChannels_ += stream->codecpar->ch_layout.nb_channels;
  }
  hasAudio_ = numberOfAudioStreams_ > 0;
}

bool CVNFFmpegMovieAssetReader::loadDuration() {
  const AVRational timeBase = videoStream_->time_base;
  if (timeBase.den <= 0) return false;
  pm::MediaTime duration;
  if (videoStream_->duration != AV_NOPTS_VALUE && videoStream_->duration > 0) {
    duration = pm::MediaTime::make(av_rescale(videoStream_->duration, timeBase.num, 1), timeBase.den);
  } else if (formatContext_->duration != AV_NOPTS_VALUE && formatContext_->duration > 0) {
    duration = pm::MediaTime::make(av_rescale_rnd(formatContext_->duration, timeBase.den, AV_TIME_BASE, AV_ROUND_NEAR_INF),
                                   timeBase.den);
  } else {
    return false;
  }
  setDuration(duration);
  setInPoint(pm::MediaTime::make(0, duration.timeScale));
  setStartPosition(pm::MediaTime::make(0, duration.timeScale));
  setOutPoint(duration);
  startOffset_ = videoStream_->start_time == AV_NOPTS_VALUE
                     ? pm::MediaTime::make(0, timeBase.den)
                     : pm::MediaTime::make(av_rescale(videoStream_->start_time, timeBase.num, 1), timeBase.den);
  return true;
}

void CVNFFmpegMovieAssetReader::repairFrameRate() {
  AVStream& stream = *videoStream_;
  if (stream.avg_frame_rate.num == 0) stream.avg_frame_rate = stream.r_frame_rate;
  if (framerate() <= 10.0 && rationalValue(stream.r_frame_rate) > 10.0) stream.avg_frame_rate = stream.r_frame_rate;
  const int order = stream.codecpar->field_order;
  const double real = rationalValue(stream.r_frame_rate);
  const double average = rationalValue(stream.avg_frame_rate);
  if (order != AV_FIELD_UNKNOWN && order != AV_FIELD_PROGRESSIVE && real != 0 && average != 0 &&
      std::lround(real / average) == 2) {
    fieldBasedAVPacket_ = true;
  }
}

pm::FormatDescriptionRef CVNFFmpegMovieAssetReader::timecodeDescription(bool dropFrame) const {
  const AVRational timeBase = videoStream_->time_base;
  pm::MediaTime frameDuration;
  if (videoStream_->nb_frames > 0 && videoStream_->duration > 0 && timeBase.den > 0) {
    frameDuration =
        pm::MediaTime::make(av_rescale(videoStream_->duration, timeBase.num, videoStream_->nb_frames), timeBase.den);
  } else if (timeBase.num != 0 && timeBase.den != 0) {
    frameDuration = pm::MediaTime::make(timeBase.num, timeBase.den);
  }
  std::uint32_t quanta = 0;
  if (frameDuration.isValid() && frameDuration.value > 0) {
    quanta = static_cast<std::uint32_t>(std::ceil(static_cast<double>(frameDuration.timeScale) / frameDuration.value));
  }
  return pm::FormatDescription::createTimeCode(pm::kMediaTypeTimeCode, frameDuration, quanta,
                                               dropFrame ? pm::kTimeCodeFlagDropFrame : 0);
}

pm::FormatDescriptionRef CVNFFmpegMovieAssetReader::createTimecodeFormatDescriptionFromTimecodeStream(AVStream* stream) {
  if (!stream || stream->codecpar->codec_type != AVMEDIA_TYPE_DATA ||
      stream->codecpar->codec_tag != MKTAG('t', 'm', 'c', 'd') || !videoStream_) {
    return nullptr;
  }
  const auto text = metadataEntry(stream->metadata, "timecode");
  return timecodeDescription(text && isDropFrameText(*text, framerate()));
}

void CVNFFmpegMovieAssetReader::loadFirstFrameNumber() {
  const double rate = framerate();
  if (timeCodeFormatDescription_ && tmcdStream_) {
    if (const auto text = metadataEntry(tmcdStream_->metadata, "timecode"); text && text->size() >= 11) {
      if (const auto value = pluginframework::CVNTimeValue::initWithString(*text, rate, isDropFrameText(*text, rate))) {
        firstFrameNumber_ = static_cast<std::int32_t>(value->frameNumber());
      }
    }
  }
  if (firstFrameNumber_ != 0) return;
  const auto text = metadataEntry(formatContext_->metadata, "timecode");
  if (!text) return;
  const auto value = pluginframework::CVNTimeValue::initWithString(*text, rate, isDropFrameText(*text, rate));
  if (!value) return;
  firstFrameNumber_ = static_cast<std::int32_t>(value->frameNumber());
  timeCodeFormatDescription_ = timecodeDescription(value->isDropFrame());
}

void CVNFFmpegMovieAssetReader::loadQuickTimeMetadata() {
  platform::Dictionary metadata;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(formatContext_->metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (!entry->key || !entry->value || std::strcmp(entry->key, "meta") == 0) continue;
    metadata[entry->key] = std::string(entry->value);
  }
  metadata_ = std::move(metadata);
}

bool CVNFFmpegMovieAssetReader::mediaInfoRefuses() const {
  auto validator = CVNMediaInfoValidator::create();
  return validator && !validator->validateFileAtURL(fileURL());
}

pm::FormatDescriptionRef CVNFFmpegMovieAssetReader::createClosedCaptionFormatDescriptionFromCCStream(AVStream* stream) {
  const AVCodecParameters& parameters = *stream->codecpar;
  if (parameters.codec_type == AVMEDIA_TYPE_DATA) {
    const AVPacket* packet = packetOfStream(stream->index);
    if (!packet) return nullptr;
    captioningType_ = kCaptioningTypeNone;
    const auto packets = captions::CVNVANCPacket::VANCPacketsWithMXFBuffer(
        packet->data, static_cast<std::size_t>(std::max(packet->size, 0)), fourCC("2vuy"));
    for (const auto& vanc : packets.value_or(std::vector<std::shared_ptr<const captions::CVNVANCPacket>>{})) {
      const auto type = static_cast<std::int32_t>(vanc->packetType());
      if (type >= 1 && type <= 3) {
        captioningType_ = type;
        break;
      }
    }
    return pm::FormatDescription::create(pm::kMediaTypeMetadata, fourCC("VANC"));
  }
  if (parameters.codec_id == AV_CODEC_ID_EIA_608) {
    captioningType_ = kCaptioningTypeCEA608;
    return pm::FormatDescription::create(pm::kMediaTypeClosedCaption, fourCC("c708"));
  }
  if (parameters.codec_id == AV_CODEC_ID_NONE && parameters.codec_tag == MKTAG('c', '6', '0', '8')) {
    captioningType_ = kCaptioningTypeCEA708;
    return pm::FormatDescription::create(pm::kMediaTypeClosedCaption, fourCC("c608"));
  }
  if (parameters.codec_id == AV_CODEC_ID_DVB_SUBTITLE || parameters.codec_id == AV_CODEC_ID_DVB_TELETEXT) {
    captioningType_ = kCaptioningTypeOP47;
    return pm::FormatDescription::create(pm::kMediaTypeSubtitle, fourCC("text"));
  }
  return nullptr;
}

std::int32_t CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(int pixelFormat) {
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
  if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL)) return 0;
  int bits = 0;
  for (int i = 0; i < descriptor->nb_components; ++i) bits = std::max(bits, descriptor->comp[i].depth);
  return bits;
}

bool CVNFFmpegMovieAssetReader::hasEmbeddedCaptions() const {
  return closedCaptionFormatDescription_ != nullptr && ccStream_ == nullptr;
}

foundation::Size CVNFFmpegMovieAssetReader::decodedFrameSize() const {
  return videoFormatDescription_ ? decodedFrameSize_ : CVNAssetReader::decodedFrameSize();
}

foundation::Size CVNFFmpegMovieAssetReader::displaySize() const {
  foundation::Size size = decodedFrameSize_;
  if (!videoStream_) return size;
  const AVCodecParameters& parameters = *videoStream_->codecpar;
  if (videoStream_->sample_aspect_ratio.num >= 2) {
    size.width = decodedFrameSize_.width * rationalValue(videoStream_->sample_aspect_ratio);
  } else if (parameters.sample_aspect_ratio.num >= 2) {
    size.width = decodedFrameSize_.width * rationalValue(parameters.sample_aspect_ratio);
  } else if (parameters.codec_id == AV_CODEC_ID_MPEG2VIDEO && parameters.extradata && parameters.extradata_size >= 8) {
    const std::uint8_t* header = parameters.extradata;
    const bool sequence = header[0] == 0 && header[1] == 0 && header[2] == 1 && header[3] == 0xB3;
    if (sequence && (header[7] >> 4) == 3 && parameters.height != std::int64_t{parameters.width} * 9 / 16) {
      size.width = static_cast<double>(std::int64_t{parameters.height} * 16 / 9);
    }
  }
  return size;
}

double CVNFFmpegMovieAssetReader::framerate() const {
  return videoStream_ ? rationalValue(videoStream_->avg_frame_rate) : 0.0;
}

pm::MediaTime CVNFFmpegMovieAssetReader::frameRateAsCMTime() const {
  if (!videoStream_) return pm::MediaTime::make(1, 1);
  return pm::MediaTime::make(videoStream_->avg_frame_rate.num, videoStream_->avg_frame_rate.den);
}

pm::MediaTime CVNFFmpegMovieAssetReader::frameDuration() const {
  if (!videoStream_) return CVNAssetReader::frameDuration();
  return pm::MediaTime::make(videoStream_->avg_frame_rate.den, videoStream_->avg_frame_rate.num);
}

std::int32_t CVNFFmpegMovieAssetReader::fieldOrder() const {
  return videoStream_ ? static_cast<std::int32_t>(videoStream_->codecpar->field_order) : CVNAssetReader::fieldOrder();
}

TimeBase CVNFFmpegMovieAssetReader::videoStreamTimeBase() const {
  if (!videoStream_) return {};
  return {videoStream_->time_base.num, videoStream_->time_base.den};
}

}  // namespace media
