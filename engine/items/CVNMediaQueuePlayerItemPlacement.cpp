// Where the picture goes in the raster, and scrubbing.
#include <cmath>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "foundation/CVNLogController.h"
#include "foundation/geometry/GeometryUtil.h"

namespace engine::items {

void CVNMediaQueuePlayerItem::setRasterSize(foundation::Size size) {
  if (size == rasterSize()) return;
  CVNQueuePlayerItem::setRasterSize(size);
  setContentRect(getFrameUsingResizeMode(resizeMode_));
}

foundation::Rect CVNMediaQueuePlayerItem::contentRect() const { return storedContentRect(); }

void CVNMediaQueuePlayerItem::setContentRect(foundation::Rect rect) {
  auto even = foundation::GeometryUtil::x2Rect(rect);
  // Moving the picture one line down swaps which field its lines fall in.
  const bool deinterlacedResize = isInterlaced() && even.size.height != videoFrameSize_.height && allowDeinterlace_;
  if (shouldInvertFieldsOrderWithExplicitInvertion() && !deinterlacedResize) even.origin.y += 1.0;
  storeContentRect(even);
  setTextureRect(textureRectForContentRect(even, rasterSize()));
}

foundation::Rect CVNMediaQueuePlayerItem::getFrameUsingResizeMode(std::int32_t mode) const {
  const auto& output = outputDisplayMode();
  const PlacementInput input{rasterSize(), videoDisplaySize(), output ? output->displayWidth() : 0, resizeModeOption_};
  return frameUsingResizeMode(mode, input, contentRect());
}

foundation::Size CVNMediaQueuePlayerItem::overridenDecompressionSize() const {
  const auto& mode = outputDisplayMode();
  if (!mode) return {};
  return engine::items::overridenDecompressionSize({double(mode->width()), double(mode->height())}, videoDisplaySize(),
                                                   resizeMode_, integerForKey(itemDictionary(), "itemSDAspectRatio") == 1);
}

bool CVNMediaQueuePlayerItem::finalShouldInvertFieldsOrder() const {
  const bool invert = shouldInvertFieldsOrderWithExplicitInvertion();
  const auto wholeY = static_cast<std::int64_t>(std::floor(contentRect().origin.y));
  return wholeY % 2 != 0 ? !invert : invert;
}

void CVNMediaQueuePlayerItem::scrubToTime(double seconds, bool precisely) {
  if (!session_) return;
  if (isZiraInput()) {
    session_->scrubToTime(seconds, false, precisely);
    return;
  }
  auto& log = foundation::CVNLogController::sharedLogController();
  const std::string description = descriptionForLogs();
  const std::string url = url_ ? url_->absoluteString() : "(null)";
  if (scrubRequested_ || shouldForceTextureUpdate()) {
    log.logMessageWithLevel(3, false, "Scrub requested while already scrubbing '%s' - URL: '%s'", description.c_str(),
                            url.c_str());
    return;
  }
  const double difference = seconds - session_->elapsedTime().seconds();
  const double frameSeconds = session_->naturalFrameDuration().seconds();
  if (seconds <= playbackDuration() && std::fabs(difference) > frameSeconds - 0.01) {
    setIsFinished(false);
    scrubRequested_ = true;
    setShouldForceTextureUpdate(false);
    setReadyForPlayback(false);
    returnToReadingState();
    session_->scrubToTime(seconds, false, precisely);
    log.logMessageWithLevel(3, false, "Scrub to time: %f '%s' - URL: '%s'", seconds, description.c_str(), url.c_str());
    return;
  }
  log.logMessageWithLevel(3, false, "Scrub at %f diff %f '%s' - URL: '%s'", seconds, difference, description.c_str(),
                          url.c_str());
}

}  // namespace engine::items
