#pragma once
// The queue player item that plays one clip: a movie file, a still image, an
// audio-only file, a network stream, a live event or a live input. It owns
// the session that reads and decodes ahead (and is its delegate), builds and
// configures it from the settings, follows its callbacks through the item
// states, and once per output frame hands out the picture (on the CPU path a
// pixel buffer of the output size), audio, captions, timecode and VANC
// packets. It also places the picture in the raster and scrubs.
//
// Lives on: the queue player's serial queue (the delegate's queue), which is
// also where the session calls back, so callbacks and pulls never overlap.
// The current pixel buffer is guarded by the texture lock, since the session
// preview reads it from another thread. Made with create(): the session holds
// the item weakly as its delegate.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/items/CVNFrameTextureWrapper.h"
#include "engine/items/CVNQueuePlayerItem.h"
#include "engine/items/MediaItemPlacement.h"
#include "engine/items/MediaItemSessionFactory.h"
#include "media/sessions/CVNDecompressionSessionDelegate.h"
#include "media/sessions/CVNSessionBase.h"

namespace engine::items {

enum PlaybackStatus : std::int32_t { kPlaybackStatusPlaying = 2 };

class CVNMediaQueuePlayerItem : public CVNQueuePlayerItem, public media::CVNDecompressionSessionDelegate {
 public:
  static std::shared_ptr<CVNMediaQueuePlayerItem> create(
      MediaItemSessionFactory factory = MediaItemSessionFactory::standard());
  ~CVNMediaQueuePlayerItem() override;

  static std::string stringFromQueuePlayerItemState(std::int32_t state);
  // The field dominance (0 unknown, 1 bottom first, 2 top first, 3
  // progressive) of a decoder's field order, with its text.
  static std::int32_t fieldDominanceFromAVFieldOrder(std::int32_t fieldOrder, std::string* outStringValue);

  // Settings and set-up. The delegate and the output display mode must be set first.
  void applySettingsFromDictionary(const ItemDictionary& dictionary) override;
  bool updateWithAttributes(const ItemDictionary& attributes, std::optional<std::string>* errorString) override;
  void setOutputDisplayMode(DisplayModeRef mode) override;
  void setMetalDevice(render::Device* device) override;
  void setEndBehaviour(std::int32_t behaviour) override;
  bool playForever() const override;
  void setURL(const media::MediaURL& url);
  const std::optional<media::MediaURL>& URL() const { return url_; }
  void discard() override;
  void setAllowedReadAheadDurationInSeconds(double seconds) override;
  void setAllowedBufferCompletionPercentage(double fraction);
  double readAheadBufferInSeconds() const;
  double currentReadAheadDurationInSeconds() override;
  void addSubtitleRecords(const captions::SubtitleRecords& records);
  void deleteSubtitleRecords();
  std::optional<captions::SubtitleRecords> subtitleRecords() const;
  bool isValid() const override;
  bool hasVideo() const;
  bool isInterlaced() const { return fieldOrder_ == 1 || fieldOrder_ == 2; }
  bool isZiraInput() const override { return type_ == kClipTypeLiveInput; }
  void setRequestedItemState(std::int32_t state) override;
  void setVideoFrameSize(foundation::Size size);
  foundation::Size videoFrameSize() const { return videoFrameSize_; }
  foundation::Size videoDisplaySize() const;
  void setFieldOrder(std::int32_t decoderFieldOrder);
  std::int32_t fieldOrder() const { return fieldOrder_; }
  std::string logDescription() const;
  std::string descriptionForLogs() const override;
  std::string queuePlayerTypeString() const override { return "Player Item"; }

  // Reading.
  void startReading() override;
  void stopReadingAndDecodingFrames() override;

  // Session callbacks (the delegate's queue).
  void decompressionSessionDidInitialize(media::CVNSessionBase& session) override;
  void decompressionSessionIsReadyForPlayback(media::CVNSessionBase& session) override;
  void decompressionSessionDidReadAllFrames(media::CVNSessionBase& session) override;
  void decompressionSessionDidDecompressAllFrames(media::CVNSessionBase& session) override;
  bool shouldInverseFieldOrder() override;
  void ziraSessionDidNotReceiveAnyFramesSince(media::CVNSessionBase& session, double seconds) override;

  // Frame rate.
  void setNaturalPlaybackRate(platform::media::MediaTime rate);
  platform::media::MediaTime naturalPlaybackRate() const { return naturalPlaybackRate_; }
  void setDesiredPlaybackRate(platform::media::MediaTime rate, bool interlaced);

  // Delivery (the CPU path).
  std::shared_ptr<platform::media::PixelBuffer> nextPixelBufferByAllowingItemToDequeue(bool allowDequeue,
                                                                                       std::int32_t playbackStatus) override;
  std::shared_ptr<platform::media::PixelBuffer> copyCurrentPixelBuffer() override;
  // The GPU path is not there yet: these log once and answer nothing.
  void prepareNextTextureUsingCommandBuffer(render::CommandBuffer* commandBuffer, bool shouldDequeue,
                                            std::int32_t playbackStatus) override;
  render::TextureRef nextTexture() override;
  const std::uint8_t* nextAudioSamples(std::uint32_t sampleCount, std::uint32_t* outSizeInBytes);
  platform::media::SampleBufferRef nextClosedCaptionSampleBuffer();
  platform::media::SampleBufferRef nextTimecodeSampleBuffer();
  platform::Array VANCPackets() const;
  // A picture of the output size from the shared pool, the given one centred in it.
  std::shared_ptr<platform::media::PixelBuffer> resizePixelBuffer(
      const std::shared_ptr<platform::media::PixelBuffer>& pixelBuffer);

  // Placement.
  void setRasterSize(foundation::Size size) override;
  foundation::Rect contentRect() const override;
  void setContentRect(foundation::Rect rect) override;
  foundation::Rect getFrameUsingResizeMode(std::int32_t mode) const;
  foundation::Size overridenDecompressionSize() const;
  bool shouldInvertFieldsOrderWithExplicitInvertion() const { return shouldInvertFieldsOrder_ != explicitFieldInversion_; }
  bool finalShouldInvertFieldsOrder() const;

  // Scrubbing.
  void scrubToTime(double seconds, bool precisely);
  bool shouldForceTextureUpdate() const override { return CVNQueuePlayerItem::shouldForceTextureUpdate(); }
  void setShouldForceTextureUpdate(bool value) override { CVNQueuePlayerItem::setShouldForceTextureUpdate(value); }

  // Plain properties.
  std::int32_t type() const { return type_; }
  std::int32_t resizeMode() const { return resizeMode_; }
  void setResizeMode(std::int32_t mode) { resizeMode_ = mode; }
  std::int32_t resizeModeOption() const { return resizeModeOption_; }
  void setResizeModeOption(std::int32_t option) { resizeModeOption_ = option; }
  const std::optional<media::MediaURL>& staticOverlayLogoURL() const { return staticOverlayLogoURL_; }
  bool shouldInvertFieldsOrder() const { return shouldInvertFieldsOrder_; }
  void setShouldInvertFieldsOrder(bool value) { shouldInvertFieldsOrder_ = value; }
  bool allowDeinterlace() const { return allowDeinterlace_; }
  void setAllowDeinterlace(bool value) { allowDeinterlace_ = value; }
  bool explicitFieldInversion() const { return explicitFieldInversion_; }
  void setExplicitFieldInversion(bool value) { explicitFieldInversion_ = value; }
  // The transition holds this item as its next one: the queue player breaks
  // that cycle when it detaches the transition (setPlayerItemAfterTransition).
  const std::shared_ptr<CVNQueuePlayerItem>& startTransition() const { return startTransition_; }
  // The queue player forgets a start transition that turned out invalid.
  void setStartTransition(std::shared_ptr<CVNQueuePlayerItem> transition) { startTransition_ = std::move(transition); }
  const std::shared_ptr<media::CVNSessionBase>& decompressionSession() const { return session_; }
  bool shouldUseTextureTwice() const { return shouldUseTextureTwice_; }
  std::int32_t duplicatedFramesCount() const { return duplicatedFramesCount_; }
  platform::media::MediaTime lastDequeuedFramePTS() const { return lastDequeuedFramePTS_; }
  std::uint32_t decodedPixelFormat() const { return decodedPixelFormat_; }

 protected:
  explicit CVNMediaQueuePlayerItem(MediaItemSessionFactory factory);

 private:

  // Settings steps.
  bool refuseSettingsOutOfOrder();
  void createSession();
  void configureSession(const ItemDictionary& dictionary);
  void applyDuration(const ItemDictionary& dictionary);
  void setSessionDuration(double seconds, platform::media::MediaTime frameDuration);
  void buildStartTransition(const platform::Dictionary& dictionary);
  void invalidate(const std::string& reason);
  std::string urlText() const;

  // Delivery steps.
  bool getNextSampleBufferAndUpdateTexture(bool* mayTake, std::int32_t playbackStatus);
  bool takePicture(bool* mayTake);
  void setCurrentSampleBuffer(platform::media::SampleBufferRef sample);
  // False when the picture is refused (the previous one stays).
  bool setCurrentPixelBuffer(const std::shared_ptr<platform::media::PixelBuffer>& pixelBuffer);
  void logDuplicatedFrames() const;
  void copyTimesFromSession();
  void logGPUPathMissingOnce();

  const MediaItemSessionFactory factory_;
  std::int32_t type_ = kClipTypeUnknown;
  std::shared_ptr<media::CVNSessionBase> session_;
  // The read-ahead last allowed, given again once buffering starts: a session
  // ignores it before then.
  double allowedReadAheadSeconds_ = 0;
  std::shared_ptr<LiveInputControls> liveInput_;  // set for a live input session
  std::optional<media::MediaURL> url_;
  std::shared_ptr<CVNQueuePlayerItem> startTransition_;
  std::uint32_t decodedPixelFormat_ = 0;
  platform::media::SampleBufferRef currentSampleBuffer_;
  std::shared_ptr<CVNFrameTextureWrapper> currentFrameTextureWrapper_;
  foundation::Size videoFrameSize_{};
  platform::media::MediaTime naturalPlaybackRate_ = platform::media::MediaTime::make(1, 1);
  std::int32_t fieldOrder_ = 0;
  bool shouldInvertFieldsOrder_ = false;
  bool allowDeinterlace_ = false;
  bool explicitFieldInversion_ = false;
  bool dequeueOneFrameRequested_ = false;
  std::int32_t resizeMode_ = kResizeModeLetterbox;
  std::int32_t resizeModeOption_ = 0;
  platform::media::MediaTime lastDequeuedFramePTS_ = platform::media::MediaTime::invalid();
  bool ignoreOutputFrameRate_ = false;
  std::optional<media::MediaURL> staticOverlayLogoURL_;
  bool scrubRequested_ = false;
  std::int32_t acceptableAudioSampleRequestsCount_ = 0;
  bool twoFramesDecodedUsedToOuputOneFrame_ = false;
  bool oneFrameDecodedUsedToOuputTwoFrames_ = false;
  bool shouldSendCloseCaption_ = false;
  std::int32_t duplicatedFramesCount_ = 0;
  bool shouldAlternateFields_ = true;
  bool shouldUseTextureTwice_ = false;
  // A duration that waits for the session's own frame duration.
  std::optional<double> durationAwaitingFrameDuration_;
  bool loggedGPUPathMissing_ = false;

  mutable std::mutex textureLock_;
  std::shared_ptr<platform::media::PixelBuffer> currentPixelBuffer_;  // guarded by textureLock_
};

}  // namespace engine::items
