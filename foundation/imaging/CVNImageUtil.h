#pragma once
// Writes raw frames to TIFF files for inspection: "Sample <n>.tiff" in a
// folder, numbered by a process-wide counter from 1 (taken on the calling
// thread); the bytes are copied, then converted and written on the
// default-priority global queue.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "foundation/geometry/Geometry.h"
#include "platform/media/FourCharCode.h"

namespace foundation {

class CVNImageUtil {
 public:
  // width × height × (2 for '2vuy', else 4) bytes of `pixels`. The first and
  // third byte of every 4-byte group are exchanged (BGRA to RGBA) and the
  // groups written as straight-alpha RGBA pixels (width / 2 of them a row
  // for '2vuy'). Returns the sample number used.
  static int writeImageOfSize(Size size, platform::media::FourCharCode bufferFormat, const std::uint8_t* pixels,
                              const std::filesystem::path& folder);
};

// Exchanges the first and third byte of every 4-byte pixel of a
// width × height buffer, in place.
void exchangeFirstAndThirdBytes(std::uint8_t* pixels, std::size_t width, std::size_t height);
// The same into `destination` (width × height × 4 bytes).
void copyExchangingFirstAndThirdBytes(const std::uint8_t* source, std::uint8_t* destination, std::size_t width,
                                      std::size_t height);

}  // namespace foundation
