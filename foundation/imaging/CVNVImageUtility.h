#pragma once
// The average alpha of a frame of 4-byte pixels, from per-byte histograms.
// Class operations; any thread (the histograms are the caller's).

#include <array>
#include <cstdint>
#include <optional>

#include "platform/media/PixelBuffer.h"

namespace foundation {

using PixelHistograms = std::array<std::array<std::uint64_t, 256>, 4>;

class CVNVImageUtility {
 public:
  // Fills the four per-byte histograms of the buffer (locked read-only) and
  // answers the mean alpha between 0 and 1. The alpha byte is chosen by
  // format: the first for 32 (ARGB) and 'ABGR', the fourth for 'BGRA' and
  // 'RGBA'; other formats log "Failed to create histogram %ld" and give none.
  static std::optional<double> averageAlphaFromPixelBuffer(platform::media::PixelBuffer& buffer,
                                                           PixelHistograms& preallocatedPixelCount);
  // The same with histograms of its own; the result is dropped.
  static void histogramFromPixelBuffer(platform::media::PixelBuffer& buffer);
};

}  // namespace foundation
