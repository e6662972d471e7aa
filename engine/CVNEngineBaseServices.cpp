// CVNEngineBase's class services: media information and thumbnails through
// the engine's work queue, playability, devices and texts.

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include "engine/CVNEngineBase.h"
#include "engine/services/EngineWorkPerformers.h"
#include "foundation/CVNLogController.h"
#include "media/readers/CVNAssetReader.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/thumbnails/CVNAssetThumbnailGenerator.h"
#include "platform/Clock.h"
#include "platform/media/ImageSource.h"
#include "platform/media/TypeIdentifiers.h"

namespace engine {

namespace {

constexpr std::array<const char*, 8> kClipEndBehaviourNames = {"Normal", "Stop",  "Hold",  "Chain",
                                                               "Loop",   "Color", "Image", "Cue Next"};

// The types the platform's image class reads.
constexpr std::array<std::string_view, 6> kReadableImageTypes = {"public.png", "public.jpeg", "public.tiff",
                                                                 "public.bmp", "public.gif",  "public.webp"};

std::shared_ptr<pluginframework::CVNDeviceController> devices() {
  return pluginframework::CVNDeviceController::sharedDeviceController();
}

}  // namespace

bool CVNEngineBase::canPlayItemWithURL(const media::MediaURL& url) {
  return media::CVNAssetReader::mediaURLIsValidAsset(url);
}

bool CVNEngineBase::canPlayItemWithURL(const media::MediaURL& url, bool* isImage, bool* isAudioOnly) {
  return media::CVNAssetReader::mediaURLIsValidAsset(url, isImage, isAudioOnly);
}

void CVNEngineBase::loadInfoDictionaryForURL(const media::MediaURL& url, InfoCompletionHandler completionHandler) {
  loadInfoDictionaryForURL(url, "", std::move(completionHandler));
}

void CVNEngineBase::loadInfoDictionaryForURL(const media::MediaURL& url, const std::string& sourceDescription,
                                             InfoCompletionHandler completionHandler) {
  EngineWorkJob job;
  job.keys = {{kWorkTypeKey, static_cast<std::int64_t>(kEngineWorkTypeLoadInformation)},
              {kWorkURLKey, url.absoluteString()},
              {kWorkSourceDescriptionKey, sourceDescription}};
  job.workCompletionHandler = std::move(completionHandler);
  sharedEngineWorkQueue().enqueue(std::move(job));
}

void CVNEngineBase::thumbnailForURL(const media::MediaURL& url, ThumbnailDimensions dimensions, double seconds,
                                    bool precisely, std::uint32_t format,
                                    ThumbnailCompletionHandler completionHandler) {
  EngineWorkJob job;
  job.keys = {{kWorkTypeKey, static_cast<std::int64_t>(kEngineWorkTypeThumbnail)},
              {kWorkURLKey, url.absoluteString()},
              {kWorkThumbnailSizeKey, platform::Array{dimensions.width, dimensions.height}},
              {kWorkThumbnailTimeKey, seconds},
              {kWorkThumbnailPrecisionKey, precisely},
              {kWorkThumbnailFormatKey, static_cast<std::int64_t>(format)}};
  job.workCompletionHandler = std::move(completionHandler);
  sharedEngineWorkQueue().enqueue(std::move(job));
}

void CVNEngineBase::thumbnailForURL(const media::MediaURL& url, ThumbnailDimensions dimensions, double seconds,
                                    bool precisely, ThumbnailCompletionHandler completionHandler) {
  thumbnailForURL(url, dimensions, seconds, precisely, media::kThumbnailFormatJPEG, std::move(completionHandler));
}

media::ThumbnailDataRef CVNEngineBase::thumbnailForURL(const media::MediaURL& url, ThumbnailDimensions dimensions,
                                                       double seconds, bool precisely) {
  const auto generator = media::CVNAssetThumbnailGenerator::createWithMediaURL(url);
  if (!generator) return nullptr;
  // Shared with the handler, which may come after this call gave up.
  struct Answer {
    std::mutex mutex;
    std::condition_variable arrived;
    bool done = false;             // guarded by mutex
    media::ThumbnailDataRef data;  // guarded by mutex
  };
  const auto answer = std::make_shared<Answer>();
  generator->thumbnailWithDimensions(dimensions.width, dimensions.height, seconds, precisely,
                                     media::kThumbnailFormatJPEG,
                                     [answer](media::ThumbnailDataRef data, std::int64_t) {
                                       std::lock_guard guard(answer->mutex);
                                       answer->data = std::move(data);
                                       answer->done = true;
                                       answer->arrived.notify_all();
                                     });
  std::unique_lock lock(answer->mutex);
  if (!platform::waitOnCurrentClock(lock, answer->arrived, kSynchronousThumbnailTimeout,
                                    [&] { return answer->done; })) {
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(
        1, false, "Engine: Error: no thumbnail of '" + url.absoluteString() + "' within 30 seconds");
    return nullptr;
  }
  return answer->data;
}

pluginframework::InputList CVNEngineBase::availableInputs() { return devices()->availableInputs(); }

std::shared_ptr<pluginframework::CVNVideoInput> CVNEngineBase::inputWithUniqueID(const std::string& uniqueID) {
  return devices()->inputWithUniqueID(uniqueID);
}

std::shared_ptr<pluginframework::CVNVideoInput> CVNEngineBase::inputWithName(const std::string& name) {
  return devices()->inputWithName(name);
}

pluginframework::OutputList CVNEngineBase::availableOutputs() { return devices()->availableOutputs(); }

pluginframework::OutputList CVNEngineBase::availableDeviceOutputs() { return devices()->availableDeviceOutputs(); }

bool CVNEngineBase::isValidOverlayLogoFileAtURL(const media::MediaURL& url) {
  if (!url.isFileURL()) return false;
  const auto* type = platform::media::fileTypeForPath(url.path());
  if (!type || std::find(kReadableImageTypes.begin(), kReadableImageTypes.end(), type->identifier) ==
                   kReadableImageTypes.end()) {
    return false;
  }
  auto source = platform::media::ImageSource::createWithURL(url.path());
  return source.ok() && (*source)->createImage().ok();
}

void CVNEngineBase::printTimecodesFromFileAtURL(const media::MediaURL& url) {
  media::CVNFFmpegMovieAssetReader::printTimecodesFromFileAtURL(url);
}

std::optional<std::string> CVNEngineBase::stringFromClipEndBehaviour(std::int32_t behaviour) {
  if (behaviour >= 0 && behaviour < static_cast<std::int32_t>(kClipEndBehaviourNames.size())) {
    return kClipEndBehaviourNames[static_cast<std::size_t>(behaviour)];
  }
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      2, false, "Missing string for clip End Behaviour %i", behaviour);
  return std::nullopt;
}

}  // namespace engine
