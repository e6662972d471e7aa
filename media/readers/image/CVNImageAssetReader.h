#pragma once
// One still image file as a one-track video asset of type 8 ("Image"). The
// file is read through ImageSource; the first read draws the picture, scaled
// to the desired size, into a 32-bit ARGB premultiplied buffer and hands it
// out once as a sample buffer. Pictures above ImageSource's limits are
// refused with reason 10.
//
// Threads: loading runs on its own serial queue per call; reading on the
// caller's queue (one at a time).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "media/readers/CVNAssetReader.h"
#include "platform/media/ImageSource.h"

namespace media {

class CVNImageAssetReader : public CVNAssetReader {
 public:
  CVNImageAssetReader(MediaURL fileURL, std::optional<std::string> sourceDescription);
  ~CVNImageAssetReader() override;

  // YES when the file's type is an image type.
  static bool canOpenAssetWithMediaURL(const MediaURL& url);
  // Adds the image reader to the factory.
  static void registerImageReader();
  // The codec code for an image type identifier ('img ' when not listed).
  static platform::media::FourCharCode codecTypeForTypeIdentifier(const std::string& identifier);

  bool open();
  void close();

  using CVNAssetReader::loadInfoWithMetadata;
  void loadInfoWithMetadata(bool withMetadata, bool validateUsingMediaInfo, CompletionHandler handler) override;
  bool setFrameDuration(platform::media::MediaTime frameDuration) override;
  bool setDesiredDimensions(std::int64_t width, std::int64_t height) override;

  bool isIFrameOnlyCodec() const override { return true; }
  std::int32_t fieldOrder() const override { return 1; }
  foundation::Size displaySize() const override;
  double framerate() const override;
  platform::media::MediaTime frameRateAsCMTime() const override;
  platform::media::MediaTime frameDuration() const override { return frameDuration_; }
  platform::Dictionary metadata() const override { return metadataDictionary_; }

  // The track index is left untouched.
  platform::media::SampleBufferRef nextSampleBufferForTrackIndex(std::int32_t* trackIndex) override;
  void updatePlaybackDuration(double seconds) override;

 private:
  void loadInfo(bool withMetadata);
  platform::media::SampleBufferRef makeSampleBuffer();

  std::unique_ptr<platform::media::ImageSource> imageSource_;
  platform::media::SampleBufferRef sampleBuffer_;
  platform::media::FormatDescriptionRef pixelFormatDescription_;
  platform::Dictionary metadataDictionary_;
  platform::media::MediaTime frameDuration_ = platform::media::MediaTime::make(1, 25);
  std::int32_t desiredWidth_ = 0;
  std::int32_t desiredHeight_ = 0;
  std::int32_t imageWidth_ = 0;
  std::int32_t imageHeight_ = 0;
};

}  // namespace media
