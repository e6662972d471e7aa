#pragma once
// The stand-in reader of a live event that has no source yet: it answers as
// a 1920 x 1080 still of type 8 and gives one transparent frame.
//
// Threads: as the image reader (reading on the caller's queue, one at a time).

#include <cstdint>
#include <optional>
#include <string>

#include "media/readers/CVNAssetReader.h"

namespace media {

class CVNZiraAssetReader final : public CVNAssetReader {
 public:
  explicit CVNZiraAssetReader(std::optional<std::string> sourceDescription = std::nullopt);

  using CVNAssetReader::loadInfoWithMetadata;
  // Answers at once on the caller's thread.
  void loadInfoWithMetadata(bool withMetadata, bool validateUsingMediaInfo, CompletionHandler handler) override;
  bool setFrameDuration(platform::media::MediaTime frameDuration) override;
  bool setDesiredDimensions(std::int64_t width, std::int64_t height) override;
  bool isIFrameOnlyCodec() const override { return true; }
  std::int32_t fieldOrder() const override { return 1; }
  foundation::Size displaySize() const override;
  double framerate() const override;
  platform::media::MediaTime frameRateAsCMTime() const override;
  platform::media::MediaTime frameDuration() const override { return frameDuration_; }
  platform::media::SampleBufferRef nextSampleBufferForTrackIndex(std::int32_t* trackIndex) override;
  void updateOutPoint(double /*seconds*/) override {}
  void updatePlaybackDuration(double seconds) override;

 private:
  platform::media::MediaTime frameDuration_ = platform::media::MediaTime::make(1, 25);
  std::int64_t desiredWidth_ = 0;
  std::int64_t desiredHeight_ = 0;
};

}  // namespace media
