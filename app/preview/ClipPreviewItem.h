#pragma once
// What the clip preview reads from and changes in the item it shows. A
// playlist item answers it through PlaylistClipPreviewItem; the in/out
// inspector's own items may answer more (mix points, overridden points).
// Answers an item may not have are optional: none means "does not answer",
// which the preview treats differently from any value.
//
// Main thread only.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/media/TiffImage.h"
#include "platform/Observable.h"

namespace app {

// Item types the preview tells apart; any other is a media file.
inline constexpr std::int32_t kClipPreviewStillImage = 2;
inline constexpr std::int32_t kClipPreviewLiveInput = 3;
inline constexpr std::int32_t kClipPreviewThumbnailOnly = 4;
inline constexpr std::int32_t kClipPreviewLiveSource = 5;
inline constexpr std::int32_t kClipPreviewNetworkStream = 6;
// Validation status of an item that cannot be played at all.
inline constexpr std::int32_t kClipPreviewUnplayable = 1;
inline constexpr std::int32_t kClipPreviewValidationFailed = 2;

class ClipPreviewItem {
 public:
  virtual ~ClipPreviewItem() = default;

  virtual std::optional<std::filesystem::path> resolvedURL() const = 0;
  virtual std::int32_t itemType() const = 0;
  virtual std::optional<std::int32_t> validationStatus() const { return std::nullopt; }
  virtual std::optional<double> framesPerSecond() const { return std::nullopt; }
  virtual std::optional<bool> dropFrame() const { return std::nullopt; }

  // -1.0 is "no point".
  virtual double inPointInSeconds() const = 0;
  virtual double outPointInSeconds() const = 0;
  virtual std::optional<double> finalInPointInSeconds() const { return std::nullopt; }
  virtual std::optional<double> finalOutPointInSeconds() const { return std::nullopt; }
  virtual double mediaItemDurationInSeconds() const = 0;
  virtual double realDurationInSeconds() const = 0;
  virtual void setInPointInSeconds(double seconds) = 0;
  virtual void setOutPointInSeconds(double seconds) = 0;
  virtual void setMediaItemDurationInSeconds(double seconds) = 0;

  virtual std::string ziraSourceName() const { return {}; }
  virtual std::shared_ptr<const nodes::RGBAImage> thumbnail() const { return nullptr; }
  virtual bool isComment() const { return false; }
  virtual bool isStreamed() const { return false; }
  virtual bool isRemote() const { return false; }
  virtual double audioVolume() const { return 1.0; }

  virtual std::optional<bool> hasOverridenInOutPoint() const { return std::nullopt; }
  virtual double overridenInPointInSeconds() const { return -1.0; }
  virtual double overridenOutPointInSeconds() const { return -1.0; }

  virtual bool hasPreviousItemMixPoint() const { return false; }
  virtual bool hasNextItemMixPoint() const { return false; }
  virtual double previousItemMixPointInSeconds() const { return 0.0; }
  virtual double nextItemMixPointInSeconds() const { return 0.0; }
  virtual void setPreviousItemMixPointInSeconds(double) {}
  virtual void setNextItemMixPointInSeconds(double) {}
  virtual void clearPreviousItemMixPoint() {}
  virtual void clearNextItemMixPoint() {}

  // Keys whose change alters the item's timing, and observation by key
  // ("isLocked", "audioVolume", "validationErrorReason" too).
  virtual std::vector<std::string> keyPathsForValueAffectingItemDuration() const = 0;
  virtual platform::ObservationToken observeKey(std::string key, platform::ObservableObject::KeyCallback callback) = 0;
};

}  // namespace app
