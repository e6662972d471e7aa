// A movie's packets as sample buffers: video (compressed in a block over the
// packet's data, 'v210' and '2vuy' as pixel buffers over it), audio (header
// bytes skipped, packets counted per format) and captions (atoms, EIA-608
// pairs one per frame, the MXF caption rewrite). The packet's data is
// referenced, never copied, except where the packet has no reference.

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "media/readers/ReaderLog.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/readers/movie/PacketInspection.h"
#include "platform/media/PixelFormat.h"

namespace media {

namespace pm = platform::media;

namespace {

// Bytes [offset, offset + length) of the packet, kept alive by a reference
// to its data (a copy when it has none).
std::shared_ptr<pm::BlockBuffer> blockOverPacket(const AVPacket& packet, std::size_t offset, std::size_t length) {
  if (!packet.data || offset + length > static_cast<std::size_t>(std::max(packet.size, 0))) return nullptr;
  if (!packet.buf) return pm::BlockBuffer::createWithCopy({packet.data + offset, length});
  AVBufferRef* reference = av_buffer_ref(packet.buf);
  if (!reference) return nullptr;
  return pm::BlockBuffer::createWithMemory(packet.data + offset, length,
                                           [reference]() mutable { av_buffer_unref(&reference); });
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// Bytes one row of a packed uncompressed picture needs.
std::size_t minimumRowBytes(pm::FourCharCode format, std::size_t width) {
  return format == pm::kPixelFormat422YpCbCr10 ? (width + 47) / 48 * 128 : width * 2;
}

}  // namespace

std::int32_t CVNFFmpegMovieAssetReader::audioIndexOfStream(int streamIndex) const {
  const auto tags = streamTags_.find(streamIndex);
  if (tags == streamTags_.end()) return -1;
  const auto index = tags->second.find("index");
  return index == tags->second.end() ? -1 : static_cast<std::int32_t>(index->second.integerOr(-1));
}

pm::SampleBufferRef CVNFFmpegMovieAssetReader::nextSampleBufferForTrackIndex(std::int32_t* trackIndex) {
  if (!ccQueue_.empty()) {
    if (trackIndex) *trackIndex = ccStream_ ? ccStream_->index : 0;
    pm::SampleBufferRef sample = std::move(ccQueue_.front());
    ccQueue_.pop_front();
    return sample;
  }
  AVPacketPtr packet;
  while (nextPacket(packet) == 0) {
    pm::SampleBufferRef sample;
    std::int32_t index = 0;
    if (videoStream_ && packet->stream_index == videoStream_->index) {
      sample = createCMSampleBufferWithVideoPacket(*packet);
    } else if (ccStream_ && packet->stream_index == ccStream_->index) {
      if (closedCaptionFormatDescription_) sample = createCMSampleBufferWithCCPacket(*packet);
    } else {
      index = audioIndexOfStream(packet->stream_index);
      if (index >= 0 && audioFormatDescriptionForTrackIndex(index)) sample = createCMSampleBufferWithAudioPacket(*packet);
    }
    if (sample) {
      if (trackIndex) *trackIndex = index;
      return sample;
    }
  }
  return nullptr;
}

pm::SampleBufferRef CVNFFmpegMovieAssetReader::createCMSampleBufferWithVideoPacket(const AVPacket& packet) {
  if (!videoFormatDescription_ || !packet.data || packet.size <= 0) return nullptr;
  const AVRational timeBase = videoStream_->time_base;
  const std::int64_t ticks = frameDurationInTimeBase(packet.duration);
  pm::SampleTimingInfo timing;
  timing.duration = pm::MediaTime::make(timeBase.num * ticks, timeBase.den);
  if (packet.pts != AV_NOPTS_VALUE) {
    timing.presentationTimeStamp = pm::MediaTime::make(timeBase.num * packet.pts - startOffset_.value, timeBase.den);
  }
  if (packet.dts != AV_NOPTS_VALUE) {
    timing.decodeTimeStamp = pm::MediaTime::make(timeBase.num * packet.dts - startOffset_.value, timeBase.den);
  }
  if (isUncompressed_) return createUncompressedVideoSample(packet, timing);

  const auto size = static_cast<std::size_t>(packet.size);
  auto block = blockOverPacket(packet, 0, size);
  pm::SampleBufferRef sample;
  if (!block || pm::SampleBuffer::createReady(block, videoFormatDescription_, 1, {timing}, {size}, &sample) !=
                    pm::kSampleBufferNoError) {
    return nullptr;
  }
  const pm::MediaTime seekPoint = seekContext_.seekPoint;
  if (seekPoint.timeScale != 0 && packet.pts != AV_NOPTS_VALUE && packet.pts < seekPoint.value) {
    sample->createSampleAttachmentsIfNeeded();
    sample->setSampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay, true);
  }
  return sample;
}

pm::SampleBufferRef CVNFFmpegMovieAssetReader::createUncompressedVideoSample(const AVPacket& packet,
                                                                            const pm::SampleTimingInfo& timing) {
  if (packet.pts == AV_NOPTS_VALUE) logLine(0, "%s missing pts", sourceDescription().c_str());
  const pm::VideoDimensions dimensions = videoFormatDescription_->dimensions();
  const pm::FourCharCode format = videoFormatDescription_->mediaSubType();
  if (dimensions.width <= 0 || dimensions.height <= 0) return nullptr;
  const auto width = static_cast<std::size_t>(dimensions.width);
  const auto height = static_cast<std::size_t>(dimensions.height);
  const std::size_t rowBytes = static_cast<std::size_t>(packet.size) / height;
  if (rowBytes < minimumRowBytes(format, width)) {
    logLine(1, "MovieAssetReader: Warning: skipping a short uncompressed packet (%i bytes for %zux%zu)", packet.size,
            width, height);
    return nullptr;
  }
  auto block = blockOverPacket(packet, 0, static_cast<std::size_t>(packet.size));
  if (!block) return nullptr;
  std::shared_ptr<pm::PixelBuffer> image;
  // The pixel buffer keeps the block, and so the packet's data, alive.
  if (pm::PixelBuffer::createWithBytes(width, height, format, block->data(), rowBytes, [block] {}, &image) !=
      pm::kCVReturnSuccess) {
    return nullptr;
  }
  if (!uncompressedVideoFormatDescription_) {
    uncompressedVideoFormatDescription_ = pm::FormatDescription::createForPixelBuffer(*image);
  }
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createForImageBuffer(image, uncompressedVideoFormatDescription_, timing, &sample);
  return sample;
}

pm::SampleBufferRef CVNFFmpegMovieAssetReader::createCMSampleBufferWithAudioPacket(const AVPacket& packet) {
  if (!packet.data || packet.size <= 0) return nullptr;
  const AVStream* stream = formatContext_->streams[packet.stream_index];
  const std::int32_t index = audioIndexOfStream(packet.stream_index);
  const pm::FormatDescriptionRef format = index >= 0 ? audioFormatDescriptionForTrackIndex(index) : nullptr;
  const pm::AudioStreamBasicDescription* description = format ? format->audioStreamBasicDescription() : nullptr;
  if (!description) return nullptr;

  const std::span<const std::uint8_t> bytes{packet.data, static_cast<std::size_t>(packet.size)};
  std::size_t skipped = 0;
  if (stream->codecpar->codec_id == AV_CODEC_ID_PCM_DVD) skipped = std::min<std::size_t>(3, bytes.size());
  if (description->formatID == pm::fourCC("aac ")) skipped = adtsHeaderLength(bytes);
  const std::size_t size = bytes.size() - skipped;
  if (size == 0) return nullptr;
  const AudioPacketLayout layout =
      audioPacketLayout(description->formatID, size, ac3FrameSize_, description->bytesPerPacket);

  const AVRational timeBase = stream->time_base;
  pm::SampleTimingInfo timing;
  if (packet.pts != AV_NOPTS_VALUE) {
    timing.presentationTimeStamp = pm::MediaTime::make(packet.pts * timeBase.num, timeBase.den) - startOffset_;
  }
  const auto sampleRate = static_cast<std::int32_t>(description->sampleRate);
  if (layout.count == 1 && packet.duration > 0) {
    timing.duration = pm::MediaTime::make(packet.duration * timeBase.num, timeBase.den);
  } else if (sampleRate > 0) {
    timing.duration = pm::MediaTime::make(std::max<std::uint32_t>(description->framesPerPacket, 1), sampleRate);
  }
  auto block = blockOverPacket(packet, skipped, size);
  pm::SampleBufferRef sample;
  if (!block) return nullptr;
  std::vector<std::size_t> sizes;
  if (!layout.descriptions.empty()) {
    for (const auto& each : layout.descriptions) sizes.push_back(each.dataByteSize);
  } else if (description->bytesPerPacket > 0 && layout.count > 1) {
    sizes.push_back(description->bytesPerPacket);
  } else if (layout.count == 1) {
    sizes.push_back(size);
  }
  pm::SampleBuffer::createReady(block, format, layout.count, {timing}, std::move(sizes), &sample,
                                layout.descriptions);
  return sample;
}

pm::SampleBufferRef CVNFFmpegMovieAssetReader::createCaptionSample(const AVPacket& packet, std::size_t offset,
                                                                  std::size_t size,
                                                                  const pm::SampleTimingInfo& timing) {
  auto block = blockOverPacket(packet, offset, size);
  pm::SampleBufferRef sample;
  if (block) pm::SampleBuffer::createReady(block, closedCaptionFormatDescription_, 1, {timing}, {size}, &sample);
  return sample;
}

pm::SampleBufferRef CVNFFmpegMovieAssetReader::createCMSampleBufferWithCCPacket(AVPacket& packet) {
  if (!packet.data || packet.size <= 0 || !closedCaptionFormatDescription_) return nullptr;
  const auto size = static_cast<std::size_t>(packet.size);
  const AVRational timeBase = ccStream_->time_base;
  pm::SampleTimingInfo whole;
  whole.presentationTimeStamp = pm::MediaTime::make(packet.pts, timeBase.den);
  whole.duration = pm::MediaTime::make(packet.duration, timeBase.den);
  const pm::FourCharCode type = closedCaptionFormatDescription_->mediaType();
  const pm::FourCharCode subtype = closedCaptionFormatDescription_->mediaSubType();

  if (assetType() == kAssetTypeMXF) {
    if ((type == pm::kMediaTypeSubtitle && subtype == pm::fourCC("op47")) ||
        (type == pm::kMediaTypeMetadata && subtype == pm::fourCC("VANC"))) {
      return createCaptionSample(packet, 0, size, whole);
    }
    // The caption data packet becomes a 'ccdp' atom in place; its count is byte 18.
    const std::size_t count = size > 18 ? packet.data[18] : 0;
    if (size < 19 || size < count + 19 || av_packet_make_writable(&packet) < 0) {
      logLine(1, "MovieAssetReader: Warning: skipping a short caption packet (%zu bytes)", size);
      return nullptr;
    }
    const auto atomSize = static_cast<std::uint32_t>(count + 8);
    const std::uint8_t header[8] = {static_cast<std::uint8_t>(atomSize >> 24), static_cast<std::uint8_t>(atomSize >> 16),
                                    static_cast<std::uint8_t>(atomSize >> 8), static_cast<std::uint8_t>(atomSize),
                                    'c', 'c', 'd', 'p'};
    std::copy(std::begin(header), std::end(header), packet.data + 11);
    return createCaptionSample(packet, 11, count + 8, whole);
  }

  if (assetType() != kAssetTypeQuickTimeMovie && assetType() != kAssetTypeZiraInput) return nullptr;
  const bool eia608 = ccStream_->codecpar->codec_id == AV_CODEC_ID_EIA_608;
  const std::uint32_t atomSize = size >= 8 ? bigEndian32(packet.data) : 0;
  const pm::FourCharCode atomType = size >= 8 ? bigEndian32(packet.data + 4) : 0;
  const bool atom = atomSize >= 8 && atomSize <= size && (atomType == pm::fourCC("cdat") || atomType == pm::fourCC("ccdp"));
  if (atom && !eia608) return createCaptionSample(packet, 0, size, whole);
  if (!eia608) return nullptr;

  // Where the byte pairs of the first field are: after the 'cdat' header, or,
  // as the demuxer hands QuickTime 608 tracks over, in caption triplets
  // (marker, pair) whose marker says "valid, first field".
  std::vector<std::size_t> pairs;
  if (atom) {
    for (std::size_t offset = 8; offset + 2 <= atomSize; offset += 2) pairs.push_back(offset);
  } else if (size % 3 == 0) {
    constexpr std::uint8_t kMarkerBits = 0x07, kValidFirstField = 0x04;
    for (std::size_t offset = 0; offset + 3 <= size; offset += 3) {
      if ((packet.data[offset] & kMarkerBits) == kValidFirstField) pairs.push_back(offset + 1);
    }
  }
  const pm::MediaTime frame =
      frameDuration().convertScale(timeBase.den, pm::MediaTimeRoundingMethod::QuickTime);
  pm::SampleBufferRef first;
  std::int64_t pts = packet.pts;
  for (const std::size_t offset : pairs) {
    pm::SampleTimingInfo timing;
    timing.presentationTimeStamp = pm::MediaTime::make(pts, timeBase.den);
    timing.duration = frame;
    pts += frame.isValid() ? frame.value : 0;
    auto sample = createCaptionSample(packet, offset, 2, timing);
    if (!sample) continue;
    if (!first) {
      first = std::move(sample);
    } else {
      ccQueue_.push_back(std::move(sample));
    }
  }
  return first;
}

}  // namespace media
