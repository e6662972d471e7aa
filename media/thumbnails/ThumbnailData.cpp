#include "media/thumbnails/ThumbnailData.h"

namespace media {

namespace pm = platform::media;

std::shared_ptr<const ThumbnailData> ThumbnailData::withBytes(std::vector<std::uint8_t> bytes) {
  std::shared_ptr<ThumbnailData> data(new ThumbnailData());
  data->owned_ = std::move(bytes);
  data->bytes_ = data->owned_.data();
  data->length_ = data->owned_.size();
  return data;
}

std::shared_ptr<const ThumbnailData> ThumbnailData::wrappingPicture(std::shared_ptr<pm::PixelBuffer> picture) {
  if (!picture || picture->lockBaseAddress(pm::PixelBufferLockFlags::ReadOnly) != pm::kCVReturnSuccess) return nullptr;
  std::shared_ptr<ThumbnailData> data(new ThumbnailData());
  data->bytes_ = picture->baseAddress();
  data->length_ = picture->height() * picture->bytesPerRow();
  data->picture_ = std::move(picture);
  return data;
}

ThumbnailData::~ThumbnailData() {
  if (picture_) picture_->unlockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
}

}  // namespace media
