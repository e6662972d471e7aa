#pragma once
// Still images for drawing and textures: an image is a pixel buffer of
// premultiplied 8-bit RGBA ('RGBA', rows of 4 × width bytes) — the form the
// GPU path takes. Loads images from files, makes 32-bit ARGB pixel buffers
// from images and colours, reads image sizes, scales and encodes JPEG.
// Class operations; the redraw of createMetalCompatibleCGImage... runs on
// the high-priority global queue and calls its handler there.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/geometry/Color.h"
#include "foundation/geometry/Geometry.h"
#include "platform/Error.h"
#include "platform/media/PixelBuffer.h"

namespace foundation {

using ImageRef = std::shared_ptr<platform::media::PixelBuffer>;

inline constexpr const char* kImageLoadingErrorDomain = "Image Loading Error";

class CGImageUtil {
 public:
  using ImageHandler = std::function<void(ImageRef image, std::optional<std::string> errorText)>;

  // The first failures ("Failed to create ImageSource from URL", "Failed to
  // create ImageRef from ImageSource") call the handler on the caller's
  // thread; otherwise as createMetalCompatibleCGImageFromCGImage.
  static void createMetalCompatibleCGImageFromURL(const std::filesystem::path& url, ImageHandler handler);
  // A new premultiplied RGBA copy (rows of 4 × width bytes), made on the
  // high-priority global queue; the handler runs there.
  static void createMetalCompatibleCGImageFromCGImage(ImageRef image, ImageHandler handler);

  // A 32-bit ARGB buffer (rows of 4 × width bytes) with the image drawn in,
  // premultiplied alpha first. None, with a log line, when it cannot be made.
  static std::shared_ptr<platform::media::PixelBuffer> createPixelBufferFromCGImage(const ImageRef& image);
  // The same kind of buffer in `pixelFormat`, filled with the colour when the
  // format is one of the 4-byte RGB orders (32, 'BGRA', 'RGBA', 'ABGR'); other
  // formats are left zeroed with a log line. None, with a log line, when the
  // buffer cannot be made.
  static std::shared_ptr<platform::media::PixelBuffer> createPixelBufferColor(const Color& color, Size size,
                                                                              platform::media::FourCharCode pixelFormat);

  // Width and height from the file's properties; (0, 0) when unreadable.
  static Size sizeOfImageAtURL(const std::optional<std::filesystem::path>& url);
  // The first image; errors in "Image Loading Error": 1000 no URL, 1001 no
  // image source, 1002 no image.
  static ImageRef newImageRefFromURL(const std::optional<std::filesystem::path>& url, platform::Error* error);

  // The image scaled to `size`.
  static ImageRef bitmapImageRepForImage(const ImageRef& image, Size size);
  // That scaled image as JPEG at the compression factor (0 to 1); empty when
  // it cannot be encoded. The error text is not written.
  static std::vector<std::uint8_t> bitmapImageDataForImage(const ImageRef& image, Size size, double compressionFactor,
                                                           std::string* errorString);
};

}  // namespace foundation
