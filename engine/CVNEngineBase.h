#pragma once
// The playout engine. For now its class services, which a host uses without
// a running engine: media information and thumbnails (through the engine's
// work queue, four jobs at once, answers on the main queue), whether a URL
// plays, the device inputs and outputs, and the texts of clip end behaviours
// and validation reasons. Class operations; any thread unless stated.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/services/EngineWorkQueue.h"
#include "media/readers/MediaURL.h"
#include "media/thumbnails/ThumbnailData.h"
#include "media/validation/CVNEngineValidation.h"
#include "pluginframework/CVNDeviceController.h"
#include "platform/Value.h"

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

class CVNEngineBase {
 public:
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
};

inline constexpr auto kSynchronousThumbnailTimeout = std::chrono::seconds(30);

}  // namespace engine
