#pragma once
// The abstract playout engine. Its class services need no running engine:
// media information and thumbnails (through the engine's work queue, four
// jobs at once, answers on the main queue), whether a URL plays, the device
// inputs and outputs, and the texts of clip end behaviours and validation
// reasons.
//
// An instance owns what every engine shares: the auxiliary outputs (the
// frame-sharing output among them), the pending VANC packets, live
// subtitling, the engine audio format and the frame pull the selected output
// makes (captions conformed or replaced by live subtitles, audio converted to
// the output's format, a copy of each frame to every auxiliary). A concrete
// engine supplies the frames and overrides the playback operations; the
// defaults here do nothing and answer nil, 0 or false.
//
// Threads: host calls from any thread; the pull on the selected output's
// thread, one frame at a time. The auxiliary list, the VANC list, the
// subtitling state and the audio format each have a lock of their own; the
// audio conversion belongs to the pull and is made and dropped only while no
// pull can run.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "captions/CVNSubtitleRecord.h"
#include "captions/CVNSubtitlesPacketizer.h"
#include "captions/CVNVANCPacket.h"
#include "engine/CVNAuxiliaryOutput.h"
#include "engine/CVNEngineDelegate.h"
#include "engine/services/EngineWorkQueue.h"
#include "media/readers/MediaURL.h"
#include "media/thumbnails/ThumbnailData.h"
#include "media/validation/CVNEngineValidation.h"
#include "pluginframework/CVNDeviceController.h"
#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/Value.h"
#include "platform/media/FormatDescription.h"

namespace engine {

// Clip end behaviours.
enum ClipEndBehaviour : std::int32_t {
  kClipEndBehaviourNormal = 0,
  kClipEndBehaviourStop = 1,
  kClipEndBehaviourHold = 2,
  kClipEndBehaviourChain = 3,
  kClipEndBehaviourLoop = 4,
  kClipEndBehaviourColor = 5,
  kClipEndBehaviourImage = 6,
  kClipEndBehaviourCueNext = 7,
};

// Thumbnail size in pixels.
struct ThumbnailDimensions {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

class OutputAudioConversion;

// A device output that gets frames pushed, or any other auxiliary output.
using AuxiliaryOutput =
    std::variant<std::shared_ptr<pluginframework::CVNVideoOutput>, std::shared_ptr<CVNAuxiliaryOutput>>;

// Live subtitling: off, on, or sending its last frames after being switched off.
enum ZiraSubtitlingStatus : std::int32_t { kZiraSubtitlingOff = 0, kZiraSubtitlingOn = 1, kZiraSubtitlingStopping = 2 };
// Caption frames sent after live subtitling is switched off, so the screen clears.
inline constexpr std::uint64_t kZiraSubtitlingStoppingFrames = 10;

// What playbackStatus answers: "status" and the extended dictionaries of
// "fadeOutItem", "item" and "fadeInItem" (none when there is no such item).
struct EnginePlaybackStatusInfo {
  std::int32_t status = 0;
  std::optional<items::ItemDictionary> fadeOutItem;
  std::optional<items::ItemDictionary> item;
  std::optional<items::ItemDictionary> fadeInItem;
};

class CVNEngineBase : public pluginframework::CVNVideoOutputDelegate {
 public:
  explicit CVNEngineBase(std::shared_ptr<const platform::Bundle> bundle);
  ~CVNEngineBase() override;
  CVNEngineBase(const CVNEngineBase&) = delete;
  CVNEngineBase& operator=(const CVNEngineBase&) = delete;

  const std::shared_ptr<const platform::Bundle>& bundle() const { return bundle_; }
  bool ownsOutput() const { return ownsOutput_; }
  void setOwnsOutput(bool owns) { ownsOutput_ = owns; }
  const std::string& screenShotURL() const { return screenShotURL_; }
  void setScreenShotURL(std::string url) { screenShotURL_ = std::move(url); }

  // Not owned; outlives the engine (or is set to nullptr before it goes).
  virtual void setDelegate(CVNEngineDelegate* delegate) { delegate_ = delegate; }
  CVNEngineDelegate* delegate() const { return delegate_.load(); }
  virtual void setSelectedOutput(std::shared_ptr<pluginframework::CVNVideoOutput>) {}
  virtual std::shared_ptr<pluginframework::CVNVideoOutput> selectedOutput() const { return nullptr; }
  virtual void setResizeMode(std::int32_t) {}
  virtual std::int32_t resizeMode() const { return 0; }

  // The base start: empties the pending VANC packets, makes the audio
  // conversion when the output's format differs from the engine's, sets up
  // the subtitle packetizer for the output and starts every auxiliary (a
  // failing one is logged and the others still start). Always true.
  virtual bool startEngine();
  // The base stop: stops every auxiliary ("Engine stopped"), then drops the
  // audio conversion. Always true.
  virtual bool stopEngine();

  virtual bool startPlayback() { return false; }
  virtual void pausePlayback(bool /*pause*/) {}
  virtual bool stopPlayback() { return false; }
  virtual void stepForward() {}
  virtual bool forceNextItem() { return false; }
  virtual void clearQueuedItemsAndAskForNextItem(bool /*askForNextItem*/) {}
  virtual bool setCurrentItemTime(double /*seconds*/) { return false; }
  virtual void updateItemWithUniqueID(const std::string& /*uniqueID*/, const items::ItemDictionary& /*attributes*/,
                                      std::function<void(const std::optional<std::string>&)> /*completionHandler*/) {}
  virtual std::vector<items::ItemDictionary> lockedItems() const { return {}; }
  virtual std::optional<EnginePlaybackStatusInfo> playbackStatus() { return std::nullopt; }
  virtual std::int32_t enginePlaybackStatus() const { return 0; }
  virtual double diskPerformanceRatio() { return 0.0; }
  virtual double decompressionPerformanceRatio() { return 0.0; }
  virtual double renderingPerformanceRatio() { return 0.0; }
  virtual double transferPerformanceRatio() { return 0.0; }

  void addAuxiliaryOuput(AuxiliaryOutput output);
  void removeAuxiliaryOutput(const AuxiliaryOutput& output);
  // Under the list's lock, in list order; setting `stop` ends the walk.
  void enumerateAuxiliaryOutputUsingBlock(
      const std::function<void(const AuxiliaryOutput& output, std::size_t index, bool* stop)>& block);

  void setEngineASBD(const platform::media::AudioStreamBasicDescription& asbd);
  platform::media::AudioStreamBasicDescription engineASBD() const;
  platform::media::FormatDescriptionRef engineAudioFormatDescription() const;

  void addVANCPacket(captions::VANCPacketRef packet);
  // The pending packets, taken: the list is empty afterwards.
  pluginframework::VANCPackets VANCPacketsToInsertInOutputStream();

  bool ziraSubtitlingEnabled() const;
  void setZiraSubtitlingEnabled(bool enabled);
  // Shown only while live subtitling is on; false otherwise.
  bool displaySubtitleRecord(captions::SubtitleRecordRef record);

  // Passed to the shared technical log unchanged (outputs log through their engine).
  void logMessage(const std::string& message, std::int32_t level, bool show);

  // The frame pull (on the output's thread). Every out argument may be null:
  // the engine then drops that buffer itself. The pixel buffer, captions and
  // timecode are handed over; the audio is borrowed until the next pull (in
  // the output's format when it differs from the engine's). False when no
  // frame could be had.
  bool copyNextPixelBufferV2(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                             const std::uint8_t** audioSamples, std::uint32_t numberOfSamples,
                             platform::media::SampleBufferRef* closedCaptionBuffer,
                             platform::media::SampleBufferRef* timecodeSampleBuffer,
                             pluginframework::VANCPackets* additionalVANCPackets, bool preroll, std::int64_t outputPTS);
  // The older form: no timecode, no VANC packets, time stamp 0.
  bool copyNextPixelBufferV2(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                             const std::uint8_t** audioSamples, std::uint32_t numberOfSamples,
                             platform::media::SampleBufferRef* closedCaptionBuffer, bool preroll);
  // The concrete engine's frame source; all out arguments are non-null.
  virtual bool copyNextPixelBuffer(std::shared_ptr<platform::media::PixelBuffer>* pixelBuffer,
                                   const std::uint8_t** audioSamples, std::uint32_t numberOfSamples,
                                   platform::media::SampleBufferRef* closedCaptionBuffer,
                                   platform::media::SampleBufferRef* timecodeSampleBuffer, bool preroll,
                                   std::int64_t outputPTS);
  void forwardToAuxiliaryOutputsPixelBuffer(const std::shared_ptr<platform::media::PixelBuffer>& pixelBuffer,
                                            const std::uint8_t* audioBuffer, std::uint32_t audioSampleCount,
                                            const platform::media::SampleBufferRef& ccSampleBuffer,
                                            const platform::media::SampleBufferRef& timecodeSampleBuffer,
                                            const pluginframework::VANCPackets& additionalVANCPackets,
                                            std::int64_t outputPTS);
  // A sample buffer over the caller's audio (not copied), presented at
  // `outputPTS` nanoseconds; none with the reason in `outError`.
  static platform::media::SampleBufferRef createAudioSampleBufferFromAudioPtr(
      const std::uint8_t* audio, std::uint32_t samplesCount, const platform::media::FormatDescriptionRef& format,
      std::int64_t outputPTS, std::string* outError);

  // A device output's pull: the next frame, its audio copied into the
  // output's buffer in the output's format.
  bool outputWantsFrame(std::int64_t frameIndex, std::uint32_t audioFrames,
                        std::shared_ptr<platform::media::PixelBuffer>* picture, std::int16_t* audio) override;

  static bool canPlayItemWithURL(const media::MediaURL& url);
  // Also tells what kind of reader would play it.
  static bool canPlayItemWithURL(const media::MediaURL& url, bool* isImage, bool* isAudioOnly);

  // The media information dictionary ("item…" keys) of the URL, on the main queue.
  static void loadInfoDictionaryForURL(const media::MediaURL& url, InfoCompletionHandler completionHandler);
  static void loadInfoDictionaryForURL(const media::MediaURL& url, const std::string& sourceDescription,
                                       InfoCompletionHandler completionHandler);

  // A thumbnail on the main queue: the data (nil on failure) and the bytes
  // per row of raw formats. Format 0 is JPEG, 1 ARGB, 2 BGRA.
  static void thumbnailForURL(const media::MediaURL& url, ThumbnailDimensions dimensions, double seconds,
                              bool precisely, std::uint32_t format, ThumbnailCompletionHandler completionHandler);
  static void thumbnailForURL(const media::MediaURL& url, ThumbnailDimensions dimensions, double seconds,
                              bool precisely, ThumbnailCompletionHandler completionHandler);
  // A JPEG thumbnail made outside the work queue. Blocks the caller for at
  // most kSynchronousThumbnailTimeout (then nil); never call it on the main queue.
  static media::ThumbnailDataRef thumbnailForURL(const media::MediaURL& url, ThumbnailDimensions dimensions,
                                                 double seconds, bool precisely);

  static pluginframework::InputList availableInputs();
  static std::shared_ptr<pluginframework::CVNVideoInput> inputWithUniqueID(const std::string& uniqueID);
  static std::shared_ptr<pluginframework::CVNVideoInput> inputWithName(const std::string& name);
  static pluginframework::OutputList availableOutputs();
  // The outputs of devices: the virtual output left out.
  static pluginframework::OutputList availableDeviceOutputs();

  // An image file of a type the platform reads, which loads.
  static bool isValidOverlayLogoFileAtURL(const media::MediaURL& url);
  static void printTimecodesFromFileAtURL(const media::MediaURL& url);

  // The name of a behaviour; none (with a log line) for values without one.
  static std::optional<std::string> stringFromClipEndBehaviour(std::int32_t behaviour);

  static std::string stringFromValidationErrorReason(std::int32_t reason) {
    return media::CVNEngineValidation::stringFromValidationErrorReason(reason);
  }
  static const media::EngineValidationLog& engineValidationOSLog() {
    return media::CVNEngineValidation::engineValidationOSLog();
  }
  static std::shared_ptr<platform::media::PixelBuffer> createEmptyPixelBufferWithSize(
      foundation::Size size, platform::media::FourCharCode format, bool ioSurfaceBacked,
      platform::media::CVReturn* error) {
    return media::CVNEngineValidation::createEmptyPixelBufferWithSize(size, format, ioSurfaceBacked, error);
  }

 protected:
  // Only while no pull can run: the pull uses the conversion without a lock.
  void freeAudioConverterAndBuffer();

 private:
  platform::media::SampleBufferRef subtitleSampleForFrame(platform::media::SampleBufferRef pulled,
                                                         platform::media::MediaTime frameDuration);

  const std::shared_ptr<const platform::Bundle> bundle_;
  std::atomic<CVNEngineDelegate*> delegate_{nullptr};  // not owned
  bool ownsOutput_ = true;
  std::string screenShotURL_;

  std::mutex auxiliaryOutputsLock_;
  std::vector<AuxiliaryOutput> auxiliaryOutputs_;  // guarded by auxiliaryOutputsLock_

  std::mutex additionalVANCPacketsLock_;
  pluginframework::VANCPackets additionalVANCPackets_;  // guarded by additionalVANCPacketsLock_

  mutable std::mutex subtitlingLock_;
  captions::CVNSubtitlesPacketizer ziraSubtitlesPacketizer_{2, true};  // guarded by subtitlingLock_
  std::int32_t ziraSubtitlingStatus_ = kZiraSubtitlingOff;            // guarded by subtitlingLock_
  std::uint64_t ziraSubtitlingStoppingCounter_ = 0;                   // guarded by subtitlingLock_

  mutable std::mutex audioFormatLock_;
  platform::media::AudioStreamBasicDescription engineASBD_{};       // guarded by audioFormatLock_
  platform::media::FormatDescriptionRef engineAudioFormatDescription_;  // guarded by audioFormatLock_

  // The pull's: made by the base start, dropped by the base stop, both while
  // the output does not pull.
  std::unique_ptr<OutputAudioConversion> videoOutputConversion_;
  bool outputAudioMatchesEngine_ = true;
};

inline constexpr auto kSynchronousThumbnailTimeout = std::chrono::seconds(30);

}  // namespace engine
