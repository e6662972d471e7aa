// Seeking a movie: the target snapped to a near index entry and kept below
// the out point, the library's frame seek, then packets read until the key
// frame a decoder needs is found (re-seeking for indexes that point at
// non-key frames and, once, for open groups of pictures), with the frames
// before a precise target marked not to be shown.

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "foundation/CVNLogController.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"

namespace media {

namespace pm = platform::media;

std::int64_t CVNFFmpegMovieAssetReader::v2nearestTsFromAVIndexEntryForTimestamp(std::int64_t timestamp,
                                                                               bool preferNext,
                                                                               std::int64_t maxFrameDuration) const {
  if (!videoStream_ || avformat_index_get_entries_count(videoStream_) <= 0) return AV_NOPTS_VALUE;
  // The stream is not changed by the search; the library's signature is not const.
  AVStream* stream = videoStream_;
  const int keyIndex = av_index_search_timestamp(stream, timestamp, AVSEEK_FLAG_BACKWARD);
  const int anyIndex = av_index_search_timestamp(stream, timestamp, AVSEEK_FLAG_ANY);
  const AVIndexEntry* key = keyIndex >= 0 ? avformat_index_get_entry(stream, keyIndex) : nullptr;
  const AVIndexEntry* after = anyIndex >= 0 ? avformat_index_get_entry(stream, anyIndex) : nullptr;
  if (!key || !after) return AV_NOPTS_VALUE;
  if (after->timestamp - key->timestamp > maxFrameDuration) {
    return timestamp == key->timestamp || timestamp == after->timestamp ? timestamp : AV_NOPTS_VALUE;
  }
  const std::int64_t toKey = timestamp - key->timestamp;
  const std::int64_t toAfter = after->timestamp - timestamp;
  if (toKey == toAfter) return preferNext ? after->timestamp : key->timestamp;
  return toKey < toAfter ? key->timestamp : after->timestamp;
}

int CVNFFmpegMovieAssetReader::seekStep(std::int64_t timestamp, int flags) {
  const int result = av_seek_frame(formatContext_, videoStream_->index, timestamp, flags);
  ++seekContext_.seekCount;
  lastSeekFailed_ = result < 0;
  if (lastSeekFailed_) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        2, false, "MovieAssetReader: Error: Seek to requested frame failed, seeking will be made to the next key frame");
  }
  return result;
}

void CVNFFmpegMovieAssetReader::seekToTime(double seconds, bool precisely, bool backwards) {
  if (!formatContext_ || !videoStream_) return;
  const AVRational timeBase = videoStream_->time_base;
  const std::int64_t numerator = timeBase.num;
  const std::int64_t denominator = timeBase.den;
  const std::int64_t offset = startOffset_.convertScale(timeBase.den, pm::MediaTimeRoundingMethod::QuickTime).value;
  const std::int64_t frameTicks = frameDurationInTimeBase(0);

  std::int64_t target = std::llround(std::max(seconds, 0.0) * static_cast<double>(denominator)) + offset;
  const pm::MediaTime out = outPoint();
  if (out.isValid()) {
    const std::int64_t limit = out.convertScale(timeBase.den, pm::MediaTimeRoundingMethod::QuickTime).value + offset;
    if (target >= limit) {
      // One frame: from the frame count when known, else from the rate.
      const bool counted = videoStream_->nb_frames > 0 && videoStream_->duration > 0;
      const std::int64_t frame =
          counted ? videoStream_->duration * numerator / videoStream_->nb_frames : frameTicks * numerator;
      target = std::max(limit - std::max<std::int64_t>(frame, 1), offset);
    }
  }
  std::int64_t timestamp = numerator > 0 ? target / numerator : 0;
  timeToSeekTo_ = pm::MediaTime::make(timestamp, timeBase.den);
  const std::int64_t nearest = v2nearestTsFromAVIndexEntryForTimestamp(timestamp, !backwards, frameTicks);
  if (nearest != AV_NOPTS_VALUE) timestamp = nearest;

  finishedReading_ = false;
  packetBuffer_.clearPacketBuffer();
  ccQueue_.clear();
  beyondOutPointPackets_.clear();
  beyondOutPointBytes_ = 0;
  beyondOutPointOverflow_ = false;
  for (auto& [index, tags] : streamTags_) tags["isBeyondOutPoint"] = false;

  seekContext_.seekCount = 0;
  if (!isIFrameOnlyCodec_ || backwards) {
    seekStep(timestamp, AVSEEK_FLAG_BACKWARD);
  } else if (seekStep(timestamp, 0) < 0) {
    seekStep(timestamp, AVSEEK_FLAG_BACKWARD);
  }
  seekContext_.seekCount = 1;
  seekContext_.seekPoint = pm::MediaTime::make(timestamp, timeBase.den);
  seekContext_.seekingInPreviousGOP = false;
  readAfterSeek(timestamp, precisely);
}

void CVNFFmpegMovieAssetReader::readAfterSeek(std::int64_t timestamp, bool precisely) {
  std::int64_t& seekPoint = seekContext_.seekPoint.value;
  bool useBackward = true;
  bool first = true;
  int result = 0;
  for (;;) {
    AVPacketPtr packet(av_packet_alloc());
    if (!packet) return;
    if ((result = localReadFrame(packet.get())) < 0) break;
    if (packet->stream_index != videoStream_->index) {
      const bool caption = ccStream_ && packet->stream_index == ccStream_->index;
      if (caption || audioIndexOfStream(packet->stream_index) >= 0) packetBuffer_.bufferPacket(std::move(packet));
      continue;
    }
    const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    const bool hasPTS = packet->pts != AV_NOPTS_VALUE;
    const bool hasDTS = packet->dts != AV_NOPTS_VALUE;
    // After a failed seek, or once the re-seeks are spent, the first key frame met is where reading resumes.
    if (lastSeekFailed_ || seekContext_.seekCount > kMaxSeekCount) {
      if (!key) {
        packetBuffer_.clearPacketBuffer();
        continue;
      }
      if (hasPTS) seekPoint = std::max(seekPoint, packet->pts);
      packetBuffer_.bufferPacket(std::move(packet));
      return;
    }
    const std::int64_t retry = (hasDTS && packet->dts < timestamp ? packet->dts : timestamp) - 1;
    if (first) {
      if (!key) {
        // Indexes built while seeking (MPEG-TS) mark every entry a key frame:
        // step back further each time, so a long group is left within the re-seeks allowed.
        const std::int64_t back = frameDurationInTimeBase(0) * ((std::int64_t{1} << (seekContext_.seekCount - 1)) - 1);
        seekStep(retry - back, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        packetBuffer_.clearPacketBuffer();
        useBackward = false;
        continue;
      }
      if (precisely) {
        const int flags = useBackward ? AVSEEK_FLAG_BACKWARD : AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY;
        if (hasDTS && packet->dts > seekPoint) {
          seekStep(retry, flags);
          packetBuffer_.clearPacketBuffer();
          continue;
        }
        if (!isIFrameOnlyCodec_ && !seekContext_.seekingInPreviousGOP && hasPTS && packet->pts > seekPoint &&
            packet->dts >= 1) {
          seekContext_.seekingInPreviousGOP = true;
          seekStep(retry, flags);
          packetBuffer_.clearPacketBuffer();
          continue;
        }
      } else if (hasPTS) {
        seekPoint = packet->pts;
      }
    }
    const bool nothingDependsOnIt = isIFrameOnlyCodec_ || (hasBFrames_ && packet->pts == packet->dts);
    if (hasPTS && packet->pts >= 0 && packet->pts < seekPoint && nothingDependsOnIt) {
      first = false;
      continue;
    }
    const bool reached = hasDTS && packet->dts >= seekPoint;
    const std::int64_t dts = packet->dts;
    packetBuffer_.bufferPacket(std::move(packet));
    if (reached && precisely) seekPoint = dts;
    if (reached || !precisely) return;
    first = false;
  }
  if (result != AVERROR_EOF || packetBuffer_.empty()) return;
  // The end came first. A frame at or after the seek point is shown from
  // there; otherwise the last frame (in presentation order) is.
  std::int64_t last = AV_NOPTS_VALUE;
  for (std::size_t ordinal = 0;; ++ordinal) {
    const AVPacket* video = packetBuffer_.bufferedPacketOfStream(videoStream_->index, ordinal);
    if (!video) break;
    if (video->pts != AV_NOPTS_VALUE) last = std::max(last, video->pts);
  }
  if (last != AV_NOPTS_VALUE && last < seekPoint) seekPoint = last;
}

void CVNFFmpegMovieAssetReader::seekToStartPoint() {
  const double start = (inPoint() + startPosition()).seconds();
  if (!(start > 0) || !(start < duration().seconds()) || !videoStream_) return;
  const AVCodecID codec = videoStream_->codecpar->codec_id;
  AVPacketPtr sequenceHeader;
  if (codec == AV_CODEC_ID_MPEG1VIDEO || codec == AV_CODEC_ID_MPEG2VIDEO) {
    sequenceHeader = packetBuffer_.nextBufferedVideoPacket(videoStream_->index);
    if (!sequenceHeader && firstMPEGPacket_) sequenceHeader.reset(av_packet_clone(firstMPEGPacket_.get()));
  }
  seekToTime(start, true, false);
  // The decoder needs the sequence header before the packets of the new position.
  packetBuffer_.pushFront(std::move(sequenceHeader));
}

pm::MediaTime CVNFFmpegMovieAssetReader::syncPTS() const {
  if (!videoStream_) return pm::MediaTime::zero();
  const AVRational timeBase = videoStream_->time_base;
  const pm::MediaTime seekPoint = seekContext_.seekPoint;
  if (seekPoint.timeScale == 0 || !seekPoint.isValid()) return pm::MediaTime::make(0, timeBase.den);
  return pm::MediaTime::make(seekPoint.value * timeBase.num, timeBase.den) - startOffset_;
}

}  // namespace media
