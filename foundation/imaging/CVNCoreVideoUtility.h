#pragma once
// Pixel-buffer pools, names of pixel-buffer return codes, bytes per pixel of
// the packed formats, and writing a pixel buffer to a TIFF file (converted
// to 32-bit ARGB first when needed). Class operations; any thread.

#include <filesystem>
#include <memory>
#include <string>

#include "foundation/geometry/Geometry.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/PixelBufferPool.h"

namespace foundation {

class CVNCoreVideoUtility {
 public:
  // A pool of `format` buffers of `size`; `ioSurfaceGlobal` makes them
  // shareable. The creation status goes to `outResult`.
  static std::shared_ptr<platform::media::PixelBufferPool> createPixelBufferPoolWithFormat(
      platform::media::FourCharCode format, Size size, bool ioSurfaceGlobal, std::size_t minBufferCount,
      platform::media::CVReturn* outResult);
  // "Success", "InvalidSize", ..., or "Missing return code (%i)".
  static std::string stringFromCVReturn(platform::media::CVReturn code);
  // 4 for 32, 'BGRA', 'RGBA', 'ABGR'; 3 for 24 and '24BG'; 2 for '2vuy';
  // other formats log "format %i not handled in pixelSizeForCVPixelFormat" and give 1.
  static std::size_t pixelSizeForCVPixelFormat(platform::media::FourCharCode format);
  // Writes the buffer as TIFF (8 bits, 4 samples, premultiplied alpha). A
  // buffer that is not 32-bit ARGB is converted first: "Failed to create
  // TransferSession" or "Failed to convert to destination format" on failure.
  static bool writePixelBuffer(const platform::media::PixelBuffer& buffer, const std::filesystem::path& url,
                               std::string* errorString);
};

}  // namespace foundation
