#include "media/readers/movie/ReadingLayout.h"

#include <algorithm>

namespace media {

std::int64_t readingBlockSize(std::int64_t preferredBlockSize) {
  constexpr std::int64_t kFallback = 4096;
  constexpr std::int64_t kLargest = 33554432;
  if (preferredBlockSize < 1 || preferredBlockSize % 512 != 0 || preferredBlockSize > kLargest) return kFallback;
  return preferredBlockSize;
}

std::int64_t readingPageSize(std::int64_t blockSize, std::int64_t averageFrameSize, std::int64_t largestPacketSize) {
  const bool largeFrames = 0.75 * static_cast<double>(largestPacketSize) > static_cast<double>(averageFrameSize);
  const std::int64_t base = 10 * (largeFrames ? largestPacketSize : averageFrameSize);
  return blockSize + base / blockSize * blockSize;
}

std::int32_t readingPageCount(std::int64_t audioTracks) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(audioTracks, 2, 19)) + 1;
}

}  // namespace media
