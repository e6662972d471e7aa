#include "app/preview/PlaylistClipPreviewItem.h"

namespace app {

PlaylistClipPreviewItem::PlaylistClipPreviewItem(std::shared_ptr<nodes::PlaylistItem> item,
                                                 const platform::UserDefaults& defaults)
    : item_(std::move(item)), defaults_(defaults) {}

std::optional<std::filesystem::path> PlaylistClipPreviewItem::resolvedURL() const {
  return item_->resolvedURL(defaults_);
}

std::int32_t PlaylistClipPreviewItem::itemType() const { return static_cast<std::int32_t>(item_->itemType()); }

platform::ObservationToken PlaylistClipPreviewItem::observeKey(std::string key,
                                                               platform::ObservableObject::KeyCallback callback) {
  // The item's lock is its "locked" property; it has no validation error reason.
  if (key == "isLocked") key = "locked";
  if (key == "validationErrorReason") return {};
  return item_->observeKey(std::move(key), std::move(callback));
}

}  // namespace app
