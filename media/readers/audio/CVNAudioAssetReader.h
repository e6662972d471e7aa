#pragma once
// An audio-only file (WAVE, AIFF, CAF, MP3, ADTS AAC, MPEG-4 audio, FLAC) as
// an asset of type 9 with one audio track: one format description, packets
// handed out as audio sample buffers (1920 frames of linear PCM, one packet
// of a compressed format), seeks to the nearest packet, and the file's cover
// picture as JPEG. Protected MPEG-4 audio is refused.
//
// Threads: loading runs on its own serial queue per call; reading and seeking
// on one session thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/readers/CVNAssetReader.h"
#include "media/readers/audio/AudioFile.h"

namespace media {

class CVNAudioAssetReader : public CVNAssetReader {
 public:
  CVNAudioAssetReader(MediaURL fileURL, std::optional<std::string> sourceDescription);
  ~CVNAudioAssetReader() override;

  // YES for an audio file type that is not protected MPEG-4 audio.
  static bool canOpenAssetWithMediaURL(const MediaURL& url);
  // Adds the audio reader to the factory.
  static void registerAudioReader();

  bool open();
  void close();

  using CVNAssetReader::loadInfoWithMetadata;
  void loadInfoWithMetadata(bool withMetadata, bool validateUsingMediaInfo, CompletionHandler handler) override;
  bool setFrameDuration(platform::media::MediaTime frameDuration) override;
  bool setDesiredDimensions(std::int64_t width, std::int64_t height) override;

  bool isIFrameOnlyCodec() const override { return true; }
  std::int64_t numberOfAudioTracks() const override { return 1; }
  std::int64_t numberOfAudioChannels() const override { return asbd_.channelsPerFrame; }
  double framerate() const override;
  platform::media::MediaTime frameDuration() const override { return frameDuration_; }
  platform::media::MediaTime frameRateAsCMTime() const override;
  std::int32_t fieldOrder() const override { return 1; }

  void initReading() override;
  void seekToStartPoint() override;
  // The flags are not used: every packet is a sync point.
  void seekToTime(double seconds, bool precisely, bool backwards) override;
  platform::media::SampleBufferRef nextSampleBufferForTrackIndex(std::int32_t* trackIndex) override;

  // The cover picture as JPEG; empty when there is none.
  std::vector<std::uint8_t> artwork() const;

  const platform::media::AudioStreamBasicDescription& asbd() const { return asbd_; }
  std::int64_t nextReadStartingPacket() const { return nextReadStartingPacket_; }
  std::uint64_t packetCount() const { return packetCount_; }
  std::uint32_t maxPacketSize() const { return maxPacketSize_; }

 private:
  void loadInfo();
  bool isLinearPCM() const { return asbd_.framesPerPacket == 1; }
  bool isPastOutPoint();

  platform::media::AudioStreamBasicDescription asbd_;
  std::unique_ptr<AudioFile> audioFile_;
  platform::media::MediaTime frameDuration_ = platform::media::MediaTime::make(1, 25);
  std::int32_t desiredWidth_ = 0;
  std::int32_t desiredHeight_ = 0;
  std::int64_t nextReadStartingPacket_ = 0;
  std::uint64_t packetCount_ = 0;
  std::uint32_t maxPacketSize_ = 0;
  std::int32_t failedReads_ = 0;  // read errors in a row
};

}  // namespace media
