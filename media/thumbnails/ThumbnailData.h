#pragma once
// What a thumbnail request hands back: JPEG bytes it owns, or the raw pixels
// of a decoded picture without a copy. The raw form keeps the picture alive
// and locked read-only until the data itself is released, so it outlives the
// generator that made it. Immutable once made; any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/media/PixelBuffer.h"

namespace media {

class ThumbnailData {
 public:
  static std::shared_ptr<const ThumbnailData> withBytes(std::vector<std::uint8_t> bytes);
  // Wraps height × bytes per row of the picture; nullptr when it cannot be locked.
  static std::shared_ptr<const ThumbnailData> wrappingPicture(std::shared_ptr<platform::media::PixelBuffer> picture);

  ~ThumbnailData();
  ThumbnailData(const ThumbnailData&) = delete;
  ThumbnailData& operator=(const ThumbnailData&) = delete;

  const std::uint8_t* bytes() const { return bytes_; }
  std::size_t length() const { return length_; }

 private:
  ThumbnailData() = default;

  std::vector<std::uint8_t> owned_;
  std::shared_ptr<platform::media::PixelBuffer> picture_;  // locked read-only while held
  const std::uint8_t* bytes_ = nullptr;
  std::size_t length_ = 0;
};

using ThumbnailDataRef = std::shared_ptr<const ThumbnailData>;

}  // namespace media
