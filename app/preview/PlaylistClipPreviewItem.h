#pragma once
// A playlist item as the clip preview sees it: its file (resolved with the
// local media folder equivalents), timing, rate and volume. A playlist item
// is never live or remote and carries no mix points or overridden points.
//
// Main thread only.

#include <memory>

#include "app/preview/ClipPreviewItem.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/UserDefaults.h"

namespace app {

class PlaylistClipPreviewItem final : public ClipPreviewItem {
 public:
  // `defaults` outlives the item.
  PlaylistClipPreviewItem(std::shared_ptr<nodes::PlaylistItem> item, const platform::UserDefaults& defaults);

  const std::shared_ptr<nodes::PlaylistItem>& playlistItem() const { return item_; }

  std::optional<std::filesystem::path> resolvedURL() const override;
  std::int32_t itemType() const override;
  std::optional<std::int32_t> validationStatus() const override { return item_->validationStatus(); }
  std::optional<double> framesPerSecond() const override { return item_->framesPerSecond(); }
  std::optional<bool> dropFrame() const override { return item_->dropFrame(); }
  double inPointInSeconds() const override { return item_->inPointInSeconds(); }
  double outPointInSeconds() const override { return item_->outPointInSeconds(); }
  std::optional<double> finalInPointInSeconds() const override { return item_->finalInPointInSeconds(); }
  std::optional<double> finalOutPointInSeconds() const override { return item_->finalOutPointInSeconds(); }
  double mediaItemDurationInSeconds() const override { return item_->mediaItemDurationInSeconds(); }
  double realDurationInSeconds() const override { return item_->realDurationInSeconds(); }
  void setInPointInSeconds(double seconds) override { item_->setInPointInSeconds(seconds); }
  void setOutPointInSeconds(double seconds) override { item_->setOutPointInSeconds(seconds); }
  void setMediaItemDurationInSeconds(double seconds) override { item_->setMediaItemDurationInSeconds(seconds); }
  std::shared_ptr<const nodes::RGBAImage> thumbnail() const override { return item_->thumbnail(); }
  double audioVolume() const override { return item_->audioVolume(); }
  std::vector<std::string> keyPathsForValueAffectingItemDuration() const override {
    return item_->keyPathsForValueAffectingItemDuration();
  }
  platform::ObservationToken observeKey(std::string key, platform::ObservableObject::KeyCallback callback) override;

 private:
  std::shared_ptr<nodes::PlaylistItem> item_;
  const platform::UserDefaults& defaults_;
};

}  // namespace app
