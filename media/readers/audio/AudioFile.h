#pragma once
// One audio file opened for reading packets by index, over libavformat: its
// data format, channel layout, magic cookie, estimated duration, packet count
// and packet-size bound, its pictures, and packets read from any index.
// Linear PCM counts one frame as a packet; ADTS frames lose their headers
// (the cookie carries their configuration). Formats with a variable number
// of frames per packet (FLAC) are indexed by one scan of the file, keeping
// each packet's first frame only.
//
// Threads: one thread at a time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/AudioFormat.h"

struct AVFormatContext;
struct AVPacket;
struct AVBSFContext;

namespace media {

// A picture stored in the file.
struct AudioFilePicture {
  std::string mime;         // "image/jpeg", "image/png", ... ("" when unknown)
  std::string pictureType;  // the tag's picture type, "Cover (front)"
  std::vector<std::uint8_t> data;
};

class AudioFile {
 public:
  enum class ReadStatus { Ok, EndOfFile, Error, PacketTooLarge };

  ~AudioFile();
  AudioFile(const AudioFile&) = delete;
  AudioFile& operator=(const AudioFile&) = delete;

  // None when the file cannot be opened or holds no audio stream.
  static std::unique_ptr<AudioFile> open(const std::filesystem::path& path);

  // None when the stream's codec has no description here.
  std::optional<platform::media::AudioStreamBasicDescription> dataFormat() const { return dataFormat_; }
  std::optional<platform::media::AudioChannelLayout> channelLayout() const;
  // Empty when the format has none.
  const std::vector<std::uint8_t>& magicCookie() const { return magicCookie_; }
  std::optional<double> estimatedDuration() const;
  std::optional<std::uint64_t> audioDataPacketCount();
  // None when the format sets no bound.
  std::optional<std::uint32_t> packetSizeUpperBound() const;

  // The artwork of an MPEG-4 file (its 'covr' picture); empty when none.
  std::vector<std::uint8_t> albumArtwork() const;
  // The pictures of the file's ID3 tag, in file order.
  std::vector<AudioFilePicture> id3Pictures() const;

  // Up to `count` packets from `startingPacket`, whole, appended to `bytes`
  // while they fit within `capacity` bytes; compressed formats describe each
  // packet in `descriptions`. EndOfFile when nothing is left;
  // PacketTooLarge when the first packet alone exceeds `capacity`.
  ReadStatus readPackets(std::int64_t startingPacket, std::uint32_t count, std::size_t capacity,
                         std::vector<std::uint8_t>& bytes,
                         std::vector<platform::media::AudioStreamPacketDescription>* descriptions,
                         std::uint32_t* packetsRead);

  // Formats with a variable number of frames per packet: the first frame of
  // a packet (none past the end) and the packet whose start is nearest to a
  // frame (half way rounds down).
  std::optional<std::int64_t> startFrameOfPacket(std::int64_t packet);
  std::int64_t packetNearestToFrame(std::int64_t frame);

 private:
  AudioFile() = default;
  bool describe();
  bool isLinearPCM() const;
  bool isVariable() const { return dataFormat_ && dataFormat_->framesPerPacket == 0; }
  // The packet's first frame at the sample rate, from its time stamps.
  std::optional<std::int64_t> frameOfPacket(const AVPacket& packet) const;
  // The next demuxed packet of the audio stream (ADTS headers removed) into
  // held_; false at the end or on an error (errorSeen_).
  bool demuxNext();
  // Places held_ on the packet holding `frame`; false when there is none.
  bool positionAt(std::int64_t frame);
  bool seekDemuxer(std::int64_t frame);
  bool indexAllPackets();
  std::int64_t packetStartFrame(std::int64_t packet) const;

  AVFormatContext* context_ = nullptr;
  AVBSFContext* adtsFilter_ = nullptr;
  AVPacket* held_ = nullptr;       // the packet at the demuxer's position, when heldValid_
  bool heldValid_ = false;
  std::int64_t heldFrame_ = 0;     // its first frame
  std::size_t heldOffset_ = 0;     // linear PCM: bytes of it already handed out
  bool errorSeen_ = false;
  int streamIndex_ = -1;
  int tableEntries_ = 0;           // packets the header's sample table lists (MPEG-4, CAF)
  std::optional<platform::media::AudioStreamBasicDescription> dataFormat_;
  std::vector<std::uint8_t> magicCookie_;
  std::int64_t originFrame_ = 0;   // the first packet's first frame
  std::optional<std::vector<std::int64_t>> packetStarts_;  // variable formats, once indexed
};

}  // namespace media
