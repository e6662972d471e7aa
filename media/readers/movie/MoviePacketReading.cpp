// Reading a movie's packets: the start of reading (start offset, MPEG-2
// time repair, the page ring sized from the frames), packets in file order
// with H.264 key frames and MPEG-2 times repaired, the out point with the
// packets held past it, and the end of the file.

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "media/readers/ReaderLog.h"
#include "media/parsers/CVNMPEG2Utilities.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/readers/movie/PacketInspection.h"
#include "media/readers/movie/ReadingLayout.h"

namespace media {

namespace pm = platform::media;

namespace {

constexpr int kExaminedVideoPackets = 10;
constexpr std::int64_t kSmallestBeyondOutPointCap = 4 << 20;

}  // namespace

std::int64_t CVNFFmpegMovieAssetReader::frameDurationInTimeBase(std::int64_t packetDuration) const {
  if (packetDuration > 0) return packetDuration;
  const AVRational timeBase = videoStream_->time_base;
  // The real base rate can be 0/x; the average rate, then 25 frames a second, stand in.
  AVRational rate = videoStream_->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = videoStream_->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0 || timeBase.num <= 0) return timeBase.den / 25;
  const pm::MediaTime frame = pm::MediaTime::make(rate.den, rate.num).convertScale(timeBase.den,
                                                                                   pm::MediaTimeRoundingMethod::QuickTime);
  return frame.isValid() ? frame.value / timeBase.num : timeBase.den / 25;
}

std::int64_t CVNFFmpegMovieAssetReader::averageFrameSize(std::int64_t lastPacketDuration) const {
  const pm::MediaTime total = duration();
  const AVRational timeBase = videoStream_->time_base;
  if (!total.isValid() || total.value <= 0 || timeBase.num <= 0) return 0;
  const std::int64_t frameTicks = frameDurationInTimeBase(lastPacketDuration);
  if (frameTicks <= 0) return 0;
  const std::int64_t frames =
      total.convertScale(timeBase.den, pm::MediaTimeRoundingMethod::QuickTime).value / (frameTicks * timeBase.num);
  struct stat status {};
  if (frames <= 0 || ::fstat(fileContext_.fd(), &status) != 0) return 0;
  return static_cast<std::int64_t>(status.st_size) / frames;
}

void CVNFFmpegMovieAssetReader::allocateReadingPages(std::int64_t largestPacket, std::int64_t lastPacketDuration) {
  struct stat status {};
  const std::int64_t given = ::fstat(fileContext_.fd(), &status) == 0 ? status.st_blksize : 0;
  const std::int64_t blockSize = readingBlockSize(given);
  logLine(3, "MovieAssetReader: Using block size: %i (block size given by fstat: %i)", static_cast<int>(blockSize),
          static_cast<int>(given));
  const std::int64_t average = averageFrameSize(lastPacketDuration);
  const std::int64_t readSize = readingPageSize(blockSize, average, largestPacket);
  logLine(3, "MovieAssetReader: Read size: %li (average frame size from file: %lli)", static_cast<long>(readSize),
          static_cast<long long>(average));
  fileContext_.allocateMemoryPages(readingPageCount(numberOfAudioTracks()), static_cast<std::uint64_t>(readSize));
}

void CVNFFmpegMovieAssetReader::initReading() {
  if (!formatContext_ || !videoStream_) return;
  const AVRational timeBase = videoStream_->time_base;
  const bool repairsMPEG2 =
      videoStream_->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO && assetType() != kAssetTypeQuickTimeMovie;
  std::int64_t smallestPTS = std::numeric_limits<std::int64_t>::max();
  std::int64_t largestPacket = 0;
  std::int64_t lastDuration = 0;
  int examined = 0;
  int reads = 0;
  for (std::size_t ordinal = 0; examined < kExaminedVideoPackets; ++ordinal) {
    AVPacket* packet = packetBuffer_.bufferedPacketOfStream(videoStream_->index, ordinal);
    while (!packet && reads < kFirstPacketReadBudget && !readFailed_) {
      ++reads;
      if (nextPacketAndBufferIt() < 0) {
        readFailed_ = true;
        break;
      }
      packet = packetBuffer_.bufferedPacketOfStream(videoStream_->index, ordinal);
    }
    if (!packet) break;
    if (!firstVideoDTSKnown_ && packet->dts != AV_NOPTS_VALUE) {
      firstVideoDTS_ = packet->dts;
      firstVideoDTSKnown_ = true;
    }
    if (packet->pts == AV_NOPTS_VALUE) continue;
    ++examined;
    std::int64_t frameType = 0;
    std::int32_t temporalOrder = -1;
    if (repairsMPEG2 && extractPtsFromMPEG2Header(*packet, &frameType, &temporalOrder)) {
      if (frameType == 3) hasBFrames_ = true;
      const std::int64_t expected = gopStartPTS_ + packet->duration * temporalOrder;
      if (gopStartKnown_ && expected != packet->pts) mpeg2OffsetToAddToComputePTS_ = packet->pts - expected;
    }
    smallestPTS = std::min(smallestPTS, packet->pts);
    largestPacket = std::max<std::int64_t>(largestPacket, packet->size);
    lastDuration = packet->duration;
  }
  readFailed_ = false;
  startOffset_ = pm::MediaTime::make(examined > 0 ? smallestPTS * timeBase.num : 0, timeBase.den);
  seekContext_ = SeekContext{};
  if (fileContext_.fd() >= 0) allocateReadingPages(largestPacket, lastDuration);
}

int CVNFFmpegMovieAssetReader::localReadFrame(AVPacket* packet) {
  const int result = av_read_frame(formatContext_, packet);
  if (result < 0) return result;
  ++packetsReadFromFile_;
  if (!videoStream_ || packet->stream_index != videoStream_->index) return result;
  const AVCodecID codec = videoStream_->codecpar->codec_id;
  if (codec == AV_CODEC_ID_H264) {
    checkFrameType(*packet);
  } else if (codec == AV_CODEC_ID_MPEG2VIDEO) {
    if (!firstMPEGPacket_) firstMPEGPacket_.reset(av_packet_clone(packet));
    if (assetType() != kAssetTypeQuickTimeMovie) {
      std::int64_t frameType = 0;
      std::int32_t temporalOrder = -1;
      extractPtsFromMPEG2Header(*packet, &frameType, &temporalOrder);
    }
  }
  return result;
}

void CVNFFmpegMovieAssetReader::checkFrameType(AVPacket& packet) {
  if (packet.data && packet.size > 0 &&
      h264PacketIsKeyFrame({packet.data, static_cast<std::size_t>(packet.size)})) {
    packet.flags |= AV_PKT_FLAG_KEY;
  }
}

bool CVNFFmpegMovieAssetReader::extractPtsFromMPEG2Header(AVPacket& packet, std::int64_t* frameType,
                                                          std::int32_t* temporalOrder) {
  *frameType = 0;
  *temporalOrder = -1;
  if (!packet.data || packet.size <= 0) return false;
  std::int64_t type = 0;
  std::int32_t order = 0;
  if (!CVNMPEG2Utilities::parseBufferForFrameTypeTemporalOrder({packet.data, static_cast<std::size_t>(packet.size)},
                                                              &type, &order)) {
    return false;
  }
  if (type == 1) packet.flags = AV_PKT_FLAG_KEY;
  if ((type == 1 || (packet.flags & AV_PKT_FLAG_KEY)) && packet.pts != AV_NOPTS_VALUE) {
    gopStartPTS_ = packet.pts;
    gopStartKnown_ = true;
  }
  if (packet.pts == AV_NOPTS_VALUE && gopStartKnown_) {
    packet.pts = order * packet.duration + gopStartPTS_ + mpeg2OffsetToAddToComputePTS_;
    logLine(1, "MovieAssetReader: Setting pts %" PRId64 " for dts %" PRId64, packet.pts, packet.dts);
  }
  *frameType = type;
  *temporalOrder = order;
  return true;
}

int CVNFFmpegMovieAssetReader::nextPacketAndBufferIt() {
  AVPacketPtr packet(av_packet_alloc());
  if (!packet) return AVERROR(ENOMEM);
  const int result = localReadFrame(packet.get());
  if (result < 0) return result;
  if (assetType() == kAssetTypeDV && !packet->buf) av_packet_make_refcounted(packet.get());
  packetBuffer_.bufferPacket(std::move(packet));
  return 0;
}

bool CVNFFmpegMovieAssetReader::isBeyondOutPoint(const AVPacket& packet) const {
  const pm::MediaTime out = outPoint();
  if (!out.isValid() || packet.stream_index < 0 ||
      static_cast<unsigned>(packet.stream_index) >= formatContext_->nb_streams) {
    return false;
  }
  const AVRational timeBase = formatContext_->streams[packet.stream_index]->time_base;
  const pm::MediaTime limit =
      pm::add(out, startOffset_).convertScale(timeBase.den, pm::MediaTimeRoundingMethod::QuickTime);
  const std::int64_t time = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
  return limit.isValid() && time * timeBase.num >= limit.value;
}

void CVNFFmpegMovieAssetReader::setStreamBeyondOutPoint(int streamIndex, bool beyond) {
  const auto it = streamTags_.find(streamIndex);
  if (it != streamTags_.end()) it->second["isBeyondOutPoint"] = beyond;
}

bool CVNFFmpegMovieAssetReader::allStreamsBeyondOutPoint() {
  for (const auto& [index, tags] : streamTags_) {
    const auto it = tags.find("isBeyondOutPoint");
    if (it != tags.end() && !it->second.booleanOr(false)) return false;
  }
  return true;
}

void CVNFFmpegMovieAssetReader::addBeyondOutPointPacket(AVPacketPtr packet) {
  // Past the cap the packets are dropped: an extension then seeks instead.
  const std::int64_t ring = static_cast<std::int64_t>(fileContext_.memoryPageSize()) * fileContext_.numberOfMemoryPages();
  const std::int64_t cap = std::max(ring, kSmallestBeyondOutPointCap);
  if (beyondOutPointOverflow_ || beyondOutPointBytes_ + packet->size > cap) {
    beyondOutPointOverflow_ = true;
    return;
  }
  beyondOutPointBytes_ += packet->size;
  beyondOutPointPackets_.push_back(std::move(packet));
}

void CVNFFmpegMovieAssetReader::finishReadingAtEnd() {
  finishedReading_ = true;
  if (!lastDTSKnown_ || !shouldUpdateDurationWhenReadingAfterEOF() || !firstVideoDTSKnown_) return;
  // Measured to the end of the last picture shown: where the first pictures
  // carry no decode time (Matroska), decode times fall short by the reorder delay.
  const AVRational timeBase = videoStream_->time_base;
  const pm::MediaTime read = lastPresentationEndKnown_
                                 ? pm::MediaTime::make(lastPresentationEnd_ * timeBase.num, timeBase.den) - startOffset_
                                 : pm::MediaTime::make((lastDTS_ - firstVideoDTS_) * timeBase.num, timeBase.den);
  setDuration(read);
  setOutPoint(pm::minimum(outPoint(), read));
}

int CVNFFmpegMovieAssetReader::nextPacket(AVPacketPtr& packet) {
  packet.reset();
  if (finishedReading_ || !formatContext_) return -1;
  while (!finishedReading_) {
    AVPacketPtr next = packetBuffer_.nextBufferedPacket();
    if (!next) {
      next.reset(av_packet_alloc());
      if (!next || localReadFrame(next.get()) < 0) {
        finishReadingAtEnd();
        return -1;
      }
    }
    const bool video = videoStream_ && next->stream_index == videoStream_->index;
    // Matroska leaves the first pictures before B-frames without a decode
    // time; the key frame among them must still reach the decoder.
    const bool timedVideo = video && next->pts != AV_NOPTS_VALUE;
    if (next->dts == AV_NOPTS_VALUE && !timedVideo) {
      if (ccStream_ && next->stream_index == ccStream_->index) {
        packet = std::move(next);
        return 0;
      }
      if (!next->data || next->size == 0) {
        logLine(3, "MovieAssetReader: av_read_frame was successfull but returned an empty packet");
        finishReadingAtEnd();
        return -1;
      }
      continue;
    }
    if (timedVideo) {
      lastPresentationEnd_ = std::max(lastPresentationEndKnown_ ? lastPresentationEnd_ : next->pts,
                                      next->pts + std::max<std::int64_t>(next->duration, 0));
      lastPresentationEndKnown_ = true;
    }
    if (video && next->dts != AV_NOPTS_VALUE) {
      if (!firstVideoDTSKnown_) {
        firstVideoDTS_ = next->dts;
        firstVideoDTSKnown_ = true;
      }
      lastDTS_ = next->dts + next->duration;
      lastDTSKnown_ = true;
    }
    if (!isBeyondOutPoint(*next)) {
      packet = std::move(next);
      return 0;
    }
    if (assetType() == kAssetTypeZiraStream) {
      // Every stream is measured against the same limit: a live stream ends here.
      finishedReading_ = true;
    } else {
      setStreamBeyondOutPoint(next->stream_index, true);
      finishedReading_ = allStreamsBeyondOutPoint();
    }
    addBeyondOutPointPacket(std::move(next));
  }
  return -1;
}

void CVNFFmpegMovieAssetReader::updateOutPoint(double seconds) {
  const pm::MediaTime current = outPoint();
  const std::int32_t scale = current.isValid() ? current.timeScale : duration().timeScale;
  const pm::MediaTime extended = pm::MediaTime::makeWithSeconds(seconds, scale > 0 ? scale : 1);
  const bool extends = current.isValid() && pm::compare(extended, current) > 0;
  const bool dropped = beyondOutPointOverflow_;
  if (extends) {
    for (auto& [index, tags] : streamTags_) tags["isBeyondOutPoint"] = false;
    while (!beyondOutPointPackets_.empty()) {
      packetBuffer_.bufferPacket(std::move(beyondOutPointPackets_.front()));
      beyondOutPointPackets_.pop_front();
    }
    beyondOutPointBytes_ = 0;
    beyondOutPointOverflow_ = false;
    finishedReading_ = false;
  }
  setOutPointInSeconds(seconds);
  if (!extends || !dropped) return;
  // Some held packets were dropped: read the file again from the old out
  // point, without repeating what was already delivered before it.
  packetBuffer_.clearPacketBuffer();
  seekToTime(current.seconds(), true, false);
  const pm::MediaTime resume = pm::add(current, startOffset_);
  packetBuffer_.removePacketsIf([&](const AVPacket& packet) {
    if (videoStream_ && packet.stream_index == videoStream_->index) return false;
    if (packet.pts == AV_NOPTS_VALUE) return false;
    const AVRational timeBase = formatContext_->streams[packet.stream_index]->time_base;
    return pm::compare(pm::MediaTime::make(packet.pts * timeBase.num, timeBase.den), resume) < 0;
  });
}

}  // namespace media
