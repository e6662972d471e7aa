#include "media/readers/audio/AudioFile.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include "media/readers/audio/AudioFileFormat.h"

namespace media {

namespace pm = platform::media;

namespace {

// Reading on from the demuxer's position beats a seek for targets this close.
constexpr std::int64_t kForwardPCMFrames = 48000 * 5;
constexpr std::int64_t kForwardPackets = 64;

bool isMPEG4Family(const AVFormatContext& context) {
  return std::strstr(context.iformat->name, "mp4") != nullptr || std::strstr(context.iformat->name, "mov") != nullptr;
}

const char* mimeForPicture(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_MJPEG:
      return "image/jpeg";
    case AV_CODEC_ID_PNG:
      return "image/png";
    case AV_CODEC_ID_BMP:
      return "image/bmp";
    case AV_CODEC_ID_GIF:
      return "image/gif";
    case AV_CODEC_ID_TIFF:
      return "image/tiff";
    case AV_CODEC_ID_WEBP:
      return "image/webp";
    default:
      return "";
  }
}

bool isAttachedPicture(const AVStream& stream) {
  return (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 && stream.attached_pic.size > 0;
}

}  // namespace

AudioFile::~AudioFile() {
  av_packet_free(&held_);
  av_bsf_free(&adtsFilter_);
  avformat_close_input(&context_);
}

std::unique_ptr<AudioFile> AudioFile::open(const std::filesystem::path& path) {
  std::unique_ptr<AudioFile> file(new AudioFile);
  if (avformat_open_input(&file->context_, path.c_str(), nullptr, nullptr) < 0) return nullptr;
  // What the header's sample table lists, before probing reads packets into the index.
  std::vector<int> tableEntries;
  for (unsigned i = 0; i < file->context_->nb_streams; ++i) {
    tableEntries.push_back(avformat_index_get_entries_count(file->context_->streams[i]));
  }
  if (avformat_find_stream_info(file->context_, nullptr) < 0) return nullptr;
  file->streamIndex_ = av_find_best_stream(file->context_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (file->streamIndex_ < 0) return nullptr;
  if (static_cast<std::size_t>(file->streamIndex_) < tableEntries.size()) {
    file->tableEntries_ = tableEntries[static_cast<std::size_t>(file->streamIndex_)];
  }
  for (unsigned i = 0; i < file->context_->nb_streams; ++i) {
    if (static_cast<int>(i) != file->streamIndex_) file->context_->streams[i]->discard = AVDISCARD_ALL;
  }
  file->held_ = av_packet_alloc();
  if (!file->held_ || !file->describe()) return nullptr;
  return file;
}

bool AudioFile::describe() {
  AVStream* stream = context_->streams[streamIndex_];
  if (std::strcmp(context_->iformat->name, "aac") == 0) {
    // Raw AAC access units, as in an MPEG-4 file; the filter makes the configuration.
    const AVBitStreamFilter* filter = av_bsf_get_by_name("aac_adtstoasc");
    if (!filter || av_bsf_alloc(filter, &adtsFilter_) < 0) return false;
    if (avcodec_parameters_copy(adtsFilter_->par_in, stream->codecpar) < 0) return false;
    adtsFilter_->time_base_in = stream->time_base;
    if (av_bsf_init(adtsFilter_) < 0) return false;
  }
  AudioFileFormat format = audioFileFormatForParameters(*stream->codecpar);
  dataFormat_ = format.description;
  magicCookie_ = std::move(format.magicCookie);
  if (!dataFormat_) return true;
  // The first packet gives the time origin (and, for ADTS, the configuration).
  if (demuxNext()) originFrame_ = heldFrame_;
  if (adtsFilter_ && heldValid_) {
    // The filter hands the configuration it made from the first header along with the packet.
    std::size_t size = 0;
    if (const std::uint8_t* configuration = av_packet_get_side_data(held_, AV_PKT_DATA_NEW_EXTRADATA, &size)) {
      magicCookie_ = aacMagicCookieFromConfiguration({configuration, size});
    }
  }
  return true;
}

bool AudioFile::isLinearPCM() const {
  return dataFormat_ && dataFormat_->framesPerPacket == 1 && dataFormat_->bytesPerFrame > 0;
}

std::optional<pm::AudioChannelLayout> AudioFile::channelLayout() const {
  const AVChannelLayout& layout = context_->streams[streamIndex_]->codecpar->ch_layout;
  if (layout.order != AV_CHANNEL_ORDER_NATIVE || layout.u.mask == 0 || layout.u.mask >= (1u << 18)) return std::nullopt;
  // The first 18 channel bits are the same in both worlds (left 1, right 2, centre 4, ...).
  constexpr std::uint32_t kUseChannelBitmap = 1u << 16;
  pm::AudioChannelLayout result;
  result.channelLayoutTag = kUseChannelBitmap;
  result.channelBitmap = static_cast<std::uint32_t>(layout.u.mask);
  return result;
}

std::optional<double> AudioFile::estimatedDuration() const {
  const AVStream* stream = context_->streams[streamIndex_];
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) return stream->duration * av_q2d(stream->time_base);
  if (context_->duration != AV_NOPTS_VALUE && context_->duration > 0) {
    return static_cast<double>(context_->duration) / AV_TIME_BASE;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> AudioFile::audioDataPacketCount() {
  if (!dataFormat_) return std::nullopt;
  if (isVariable()) {
    if (!indexAllPackets()) return std::nullopt;
    return packetStarts_->size();
  }
  if (!isLinearPCM() && tableEntries_ > 0) return static_cast<std::uint64_t>(tableEntries_);
  const auto seconds = estimatedDuration();
  if (!seconds) return std::nullopt;
  const double frames = *seconds * dataFormat_->sampleRate;
  const double perPacket = dataFormat_->framesPerPacket;
  return static_cast<std::uint64_t>(isLinearPCM() ? std::llround(frames) : std::ceil(frames / perPacket - 1e-9));
}

std::optional<std::uint32_t> AudioFile::packetSizeUpperBound() const {
  if (!dataFormat_) return std::nullopt;
  if (isLinearPCM()) return dataFormat_->bytesPerFrame;
  AVStream* stream = context_->streams[streamIndex_];
  // A sample table (MPEG-4, CAF) knows every packet's size.
  if (tableEntries_ > 0 && avformat_index_get_entries_count(stream) >= tableEntries_) {
    std::uint32_t largest = 0;
    for (int i = 0; i < tableEntries_; ++i) {
      largest = std::max(largest, static_cast<std::uint32_t>(avformat_index_get_entry(stream, i)->size));
    }
    if (largest > 0) return largest;  // CAF's table gives places, not sizes
  }
  return audioFilePacketSizeBound(*dataFormat_, magicCookie_);
}

std::vector<std::uint8_t> AudioFile::albumArtwork() const {
  if (!isMPEG4Family(*context_)) return {};
  for (unsigned i = 0; i < context_->nb_streams; ++i) {
    const AVStream& stream = *context_->streams[i];
    if (isAttachedPicture(stream)) return {stream.attached_pic.data, stream.attached_pic.data + stream.attached_pic.size};
  }
  return {};
}

std::vector<AudioFilePicture> AudioFile::id3Pictures() const {
  std::vector<AudioFilePicture> pictures;
  if (isMPEG4Family(*context_)) return pictures;
  for (unsigned i = 0; i < context_->nb_streams; ++i) {
    const AVStream& stream = *context_->streams[i];
    if (!isAttachedPicture(stream)) continue;
    AudioFilePicture picture;
    picture.mime = mimeForPicture(stream.codecpar->codec_id);
    if (const AVDictionaryEntry* type = av_dict_get(stream.metadata, "comment", nullptr, 0)) {
      picture.pictureType = type->value;
    }
    picture.data.assign(stream.attached_pic.data, stream.attached_pic.data + stream.attached_pic.size);
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

std::optional<std::int64_t> AudioFile::frameOfPacket(const AVPacket& packet) const {
  const std::int64_t stamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
  if (stamp == AV_NOPTS_VALUE || !dataFormat_ || dataFormat_->sampleRate <= 0) return std::nullopt;
  const AVRational frames{1, static_cast<int>(dataFormat_->sampleRate)};
  return av_rescale_q_rnd(stamp, context_->streams[streamIndex_]->time_base, frames,
                          static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

bool AudioFile::demuxNext() {
  // Frames of the packet held before, for packets without time stamps.
  std::int64_t expected = heldFrame_;
  if (heldValid_ && dataFormat_) {
    expected += isLinearPCM() ? held_->size / dataFormat_->bytesPerFrame
                              : std::max<std::int64_t>(dataFormat_->framesPerPacket, 1);
  }
  av_packet_unref(held_);
  heldValid_ = false;
  heldOffset_ = 0;
  while (true) {
    if (adtsFilter_) {
      const int received = av_bsf_receive_packet(adtsFilter_, held_);
      if (received == 0) break;
      if (received == AVERROR_EOF) return false;
      // Anything else is a damaged frame: it is dropped and the next one read.
    }
    const int status = av_read_frame(context_, held_);
    if (status < 0) {
      errorSeen_ = status != AVERROR_EOF;
      if (adtsFilter_ && status == AVERROR_EOF) av_bsf_send_packet(adtsFilter_, nullptr);
      return false;
    }
    if (held_->stream_index != streamIndex_) {
      av_packet_unref(held_);
      continue;
    }
    if (!adtsFilter_) break;
    if (av_bsf_send_packet(adtsFilter_, held_) < 0) {
      // A damaged header: the frame is dropped, the next one may be sound.
      av_packet_unref(held_);
    }
  }
  heldFrame_ = frameOfPacket(*held_).value_or(expected);
  heldValid_ = true;
  return true;
}

std::int64_t AudioFile::packetStartFrame(std::int64_t packet) const {
  if (isVariable()) return (*packetStarts_)[static_cast<std::size_t>(packet)];
  return originFrame_ + packet * static_cast<std::int64_t>(dataFormat_->framesPerPacket);
}

bool AudioFile::seekDemuxer(std::int64_t frame) {
  const AVStream* stream = context_->streams[streamIndex_];
  const AVRational frames{1, static_cast<int>(dataFormat_->sampleRate)};
  const std::int64_t stamp = av_rescale_q(frame, frames, stream->time_base);
  if (av_seek_frame(context_, streamIndex_, stamp, AVSEEK_FLAG_BACKWARD) < 0) return false;
  if (adtsFilter_) av_bsf_flush(adtsFilter_);
  heldValid_ = false;
  return demuxNext();
}

bool AudioFile::positionAt(std::int64_t packet) {
  const bool pcm = isLinearPCM();
  const std::int64_t bytesPerFrame = pcm ? dataFormat_->bytesPerFrame : 1;
  // The packet range [first, end) the held packet covers.
  const auto heldRange = [&]() -> std::pair<std::int64_t, std::int64_t> {
    if (pcm) {
      const std::int64_t first = heldFrame_ - originFrame_;
      return {first, first + held_->size / bytesPerFrame};
    }
    if (isVariable()) {
      const auto found = std::lower_bound(packetStarts_->begin(), packetStarts_->end(), heldFrame_);
      const std::int64_t index = found - packetStarts_->begin();
      return {index, index + 1};
    }
    const double perPacket = dataFormat_->framesPerPacket;
    const auto index = static_cast<std::int64_t>(std::llround((heldFrame_ - originFrame_) / perPacket));
    return {index, index + 1};
  };
  const auto readUntilCovered = [&](std::int64_t limit) {
    for (std::int64_t steps = 0; heldValid_ && steps <= limit; ++steps) {
      const auto [first, end] = heldRange();
      if (packet < end) {
        if (pcm && packet >= first) heldOffset_ = static_cast<std::size_t>((packet - first) * bytesPerFrame);
        // A packet that starts past the target is the nearest one there is.
        return packet >= first || steps > 0;
      }
      if (!demuxNext()) return false;
    }
    return false;
  };
  const std::int64_t window = pcm ? kForwardPCMFrames : kForwardPackets;
  if (heldValid_) {
    const auto [first, end] = heldRange();
    if (packet >= first && packet - end <= window && readUntilCovered(window + 1)) return true;
  }
  if (errorSeen_) return false;
  const std::int64_t unlimited = INT64_MAX - 1;
  if (!seekDemuxer(packetStartFrame(packet))) return false;
  if (heldRange().first <= packet) return readUntilCovered(unlimited);
  // The demuxer landed past the target (an inexact index): read on from the start.
  return seekDemuxer(originFrame_) && readUntilCovered(unlimited);
}

bool AudioFile::indexAllPackets() {
  if (packetStarts_) return true;
  if (!seekDemuxer(originFrame_) && errorSeen_) return false;
  std::vector<std::int64_t> starts;
  for (bool more = heldValid_; more; more = demuxNext()) {
    if (!starts.empty() && heldFrame_ <= starts.back()) continue;  // out of order: not a new packet
    starts.push_back(heldFrame_);
  }
  if (errorSeen_) return false;
  packetStarts_ = std::move(starts);
  return true;
}

std::optional<std::int64_t> AudioFile::startFrameOfPacket(std::int64_t packet) {
  if (!indexAllPackets() || packet < 0 || packet >= static_cast<std::int64_t>(packetStarts_->size())) {
    return std::nullopt;
  }
  return (*packetStarts_)[static_cast<std::size_t>(packet)];
}

std::int64_t AudioFile::packetNearestToFrame(std::int64_t frame) {
  if (!indexAllPackets() || packetStarts_->empty()) return 0;
  const auto& starts = *packetStarts_;
  const auto after = std::upper_bound(starts.begin(), starts.end(), frame);
  if (after == starts.begin()) return 0;
  const std::int64_t before = (after - starts.begin()) - 1;
  if (after == starts.end()) return before;
  return frame - starts[before] > *after - frame ? before + 1 : before;
}

AudioFile::ReadStatus AudioFile::readPackets(std::int64_t startingPacket, std::uint32_t count, std::size_t capacity,
                                             std::vector<std::uint8_t>& bytes,
                                             std::vector<pm::AudioStreamPacketDescription>* descriptions,
                                             std::uint32_t* packetsRead) {
  *packetsRead = 0;
  bytes.clear();
  if (descriptions) descriptions->clear();
  if (!dataFormat_ || startingPacket < 0) return ReadStatus::Error;
  if (isVariable() && !indexAllPackets()) return ReadStatus::Error;
  if (isVariable() && startingPacket >= static_cast<std::int64_t>(packetStarts_->size())) return ReadStatus::EndOfFile;
  errorSeen_ = false;
  if (!positionAt(startingPacket)) return errorSeen_ ? ReadStatus::Error : ReadStatus::EndOfFile;

  if (isLinearPCM()) {
    const std::size_t bytesPerFrame = dataFormat_->bytesPerFrame;
    const std::size_t wanted =
        std::min<std::size_t>(std::size_t{count} * bytesPerFrame, capacity / bytesPerFrame * bytesPerFrame);
    if (wanted == 0) return ReadStatus::PacketTooLarge;
    while (bytes.size() < wanted && heldValid_) {
      // Whole frames only: a truncated last packet loses its partial frame.
      const std::size_t available = (static_cast<std::size_t>(held_->size) - heldOffset_) / bytesPerFrame * bytesPerFrame;
      const std::size_t taken = std::min(available, wanted - bytes.size());
      bytes.insert(bytes.end(), held_->data + heldOffset_, held_->data + heldOffset_ + taken);
      heldOffset_ += taken;
      if (heldOffset_ + bytesPerFrame > static_cast<std::size_t>(held_->size)) demuxNext();
    }
    *packetsRead = static_cast<std::uint32_t>(bytes.size() / bytesPerFrame);
  } else {
    const AVRational frames{1, static_cast<int>(dataFormat_->sampleRate)};
    while (*packetsRead < count && heldValid_) {
      const auto size = static_cast<std::size_t>(held_->size);
      if (size > capacity - bytes.size()) {
        if (*packetsRead > 0) break;
        demuxNext();  // hand out the packets after it next time
        return ReadStatus::PacketTooLarge;
      }
      pm::AudioStreamPacketDescription description;
      description.startOffset = static_cast<std::int64_t>(bytes.size());
      description.dataByteSize = static_cast<std::uint32_t>(size);
      if (isVariable() && held_->duration > 0) {
        description.variableFramesInPacket = static_cast<std::uint32_t>(
            av_rescale_q(held_->duration, context_->streams[streamIndex_]->time_base, frames));
      }
      bytes.insert(bytes.end(), held_->data, held_->data + size);
      if (descriptions) descriptions->push_back(description);
      ++*packetsRead;
      demuxNext();
    }
  }
  if (*packetsRead == 0) return errorSeen_ ? ReadStatus::Error : ReadStatus::EndOfFile;
  return ReadStatus::Ok;
}

}  // namespace media
