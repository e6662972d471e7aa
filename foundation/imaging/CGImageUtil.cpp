#include "foundation/imaging/CGImageUtil.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/CVNLogController.h"
#include "foundation/geometry/ColorAdditions.h"
#include "platform/DispatchQueue.h"
#include "platform/media/ImageSource.h"
#include "platform/media/PixelTransferSession.h"

namespace foundation {

using platform::media::FourCharCode;
using platform::media::PixelBuffer;

namespace {

// A buffer over memory of its own with rows of exactly 4 × width bytes.
std::shared_ptr<PixelBuffer> fourBytesPerPixelBuffer(std::size_t width, std::size_t height, FourCharCode format) {
  if (!platform::media::isAcceptablePixelBufferSize(width, height)) return nullptr;
  auto* memory = new (std::nothrow) std::uint8_t[width * height * 4]();
  if (!memory) return nullptr;
  std::shared_ptr<PixelBuffer> buffer;
  if (PixelBuffer::createWithBytes(width, height, format, memory, width * 4, [memory] { delete[] memory; }, &buffer) !=
      platform::media::kCVReturnSuccess) {
    delete[] memory;
    return nullptr;
  }
  return buffer;
}

void logBufferFailure(const char* what, std::size_t width, std::size_t height) {
  CVNLogController::sharedLogController().logMessageWithLevel(1, false, "%s: cannot create a %zux%zu pixel buffer", what,
                                                              width, height);
}

ImageRef copyAsRGBA(const PixelBuffer& image) {
  auto copy = fourBytesPerPixelBuffer(image.width(), image.height(), platform::media::kPixelFormat32RGBA);
  if (!copy) return nullptr;
  for (std::size_t y = 0; y < image.height(); ++y) {
    std::memcpy(copy->baseAddress() + y * copy->bytesPerRow(), image.baseAddress() + y * image.bytesPerRow(),
                image.width() * 4);
  }
  return copy;
}

}  // namespace

void CGImageUtil::createMetalCompatibleCGImageFromURL(const std::filesystem::path& url, ImageHandler handler) {
  auto source = platform::media::ImageSource::createWithURL(url);
  if (!source) {
    handler(nullptr, "Failed to create ImageSource from URL");
    return;
  }
  auto image = (*source)->createImage();
  if (!image) {
    handler(nullptr, "Failed to create ImageRef from ImageSource");
    return;
  }
  createMetalCompatibleCGImageFromCGImage(std::move(image.value()), std::move(handler));
}

void CGImageUtil::createMetalCompatibleCGImageFromCGImage(ImageRef image, ImageHandler handler) {
  auto work = [image = std::move(image), handler] {
    ImageRef copy = image && image->pixelFormatType() == platform::media::kPixelFormat32RGBA ? copyAsRGBA(*image) : nullptr;
    if (!copy) {
      handler(nullptr, "Failed to create BitmapContext");
      return;
    }
    handler(std::move(copy), std::nullopt);
  };
  if (!platform::DispatchQueue::global(platform::DispatchQueue::Priority::High).async(work)) {
    handler(nullptr, "Failed to create BitmapContext");
  }
}

std::shared_ptr<PixelBuffer> CGImageUtil::createPixelBufferFromCGImage(const ImageRef& image) {
  if (!image || image->pixelFormatType() != platform::media::kPixelFormat32RGBA) {
    CVNLogController::sharedLogController().logMessageWithLevel(1, false, "createPixelBufferFromCGImage: no RGBA image");
    return nullptr;
  }
  // A failure here used to stop the host; answering none lets the caller carry on.
  auto buffer = fourBytesPerPixelBuffer(image->width(), image->height(), platform::media::kPixelFormat32ARGB);
  if (!buffer) {
    logBufferFailure("createPixelBufferFromCGImage", image->width(), image->height());
    return nullptr;
  }
  for (std::size_t y = 0; y < image->height(); ++y) {
    const std::uint8_t* from = image->baseAddress() + y * image->bytesPerRow();
    std::uint8_t* to = buffer->baseAddress() + y * buffer->bytesPerRow();
    for (std::size_t x = 0; x < image->width(); ++x, from += 4, to += 4) {
      to[0] = from[3], to[1] = from[0], to[2] = from[1], to[3] = from[2];
    }
  }
  return buffer;
}

std::shared_ptr<PixelBuffer> CGImageUtil::createPixelBufferColor(const Color& color, Size size, FourCharCode pixelFormat) {
  const auto width = static_cast<std::size_t>(std::max(0.0, size.width));
  const auto height = static_cast<std::size_t>(std::max(0.0, size.height));
  auto buffer = fourBytesPerPixelBuffer(width, height, pixelFormat);
  if (!buffer) {
    logBufferFailure("createPixelBufferColor", width, height);
    return nullptr;
  }
  const Color rgba = rgbaColor(color);
  const double alpha = std::clamp(rgba.alpha(), 0.0, 1.0);
  auto byte = [&](double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * alpha * 255)); };
  const std::uint8_t a = static_cast<std::uint8_t>(std::lround(alpha * 255));
  const std::uint8_t r = byte(rgba.red()), g = byte(rgba.green()), b = byte(rgba.blue());
  std::uint8_t pixel[4];
  switch (pixelFormat) {
    case platform::media::kPixelFormat32ARGB: pixel[0] = a, pixel[1] = r, pixel[2] = g, pixel[3] = b; break;
    case platform::media::kPixelFormat32BGRA: pixel[0] = b, pixel[1] = g, pixel[2] = r, pixel[3] = a; break;
    case platform::media::kPixelFormat32RGBA: pixel[0] = r, pixel[1] = g, pixel[2] = b, pixel[3] = a; break;
    case platform::media::kPixelFormat32ABGR: pixel[0] = a, pixel[1] = b, pixel[2] = g, pixel[3] = r; break;
    default:
      CVNLogController::sharedLogController().logMessageWithLevel(
          1, false, "createPixelBufferColor: cannot draw into format %s",
          platform::media::fourCCString(pixelFormat).c_str());
      return buffer;
  }
  std::uint8_t* data = buffer->baseAddress();
  for (std::size_t i = 0; i < width * height; ++i) std::memcpy(data + 4 * i, pixel, 4);
  return buffer;
}

Size CGImageUtil::sizeOfImageAtURL(const std::optional<std::filesystem::path>& url) {
  if (!url) return {};
  auto source = platform::media::ImageSource::createWithURL(*url);
  if (!source) return {};
  auto properties = (*source)->properties();
  if (!properties) return {};
  const auto width = (*properties)[platform::media::kImagePropertyPixelWidth].real();
  const auto height = (*properties)[platform::media::kImagePropertyPixelHeight].real();
  if (!width || !height) return {};
  return {static_cast<float>(*width), static_cast<float>(*height)};
}

ImageRef CGImageUtil::newImageRefFromURL(const std::optional<std::filesystem::path>& url, platform::Error* error) {
  auto fail = [&](int code, std::string text) -> ImageRef {
    if (error) *error = platform::Error(kImageLoadingErrorDomain, code, std::move(text));
    return nullptr;
  };
  if (!url) return fail(1000, "Image Loading Error no URL");
  auto source = platform::media::ImageSource::createWithURL(*url);
  if (!source) return fail(1001, "Image Loading Error (" + url->string() + ")");
  auto image = (*source)->createImage();
  if (!image) return fail(1002, "Image Loading Error can't create imageRef from Source (" + url->string() + ")");
  if (error) *error = platform::Error();
  return image.value();
}

ImageRef CGImageUtil::bitmapImageRepForImage(const ImageRef& image, Size size) {
  const auto width = static_cast<std::size_t>(std::max(0.0, size.width));
  const auto height = static_cast<std::size_t>(std::max(0.0, size.height));
  if (!image) return nullptr;
  auto scaled = fourBytesPerPixelBuffer(width, height, platform::media::kPixelFormat32RGBA);
  if (!scaled) return nullptr;
  platform::media::PixelTransferSession session;
  session.setScaling(platform::media::PixelTransferScaling::Bicubic);
  if (session.transferImage(*image, *scaled) != platform::media::kCVReturnSuccess) return nullptr;
  return scaled;
}

std::vector<std::uint8_t> CGImageUtil::bitmapImageDataForImage(const ImageRef& image, Size size,
                                                               double compressionFactor, std::string*) {
  ImageRef scaled = bitmapImageRepForImage(image, size);
  if (!scaled) return {};
  tjhandle encoder = tjInitCompress();
  if (!encoder) return {};
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  const int quality = std::clamp(static_cast<int>(std::lround(compressionFactor * 100)), 1, 100);
  std::vector<std::uint8_t> data;
  if (tjCompress2(encoder, scaled->baseAddress(), static_cast<int>(scaled->width()),
                  static_cast<int>(scaled->bytesPerRow()), static_cast<int>(scaled->height()), TJPF_RGBA, &jpeg,
                  &jpegSize, TJSAMP_420, quality, TJFLAG_ACCURATEDCT) == 0) {
    data.assign(jpeg, jpeg + jpegSize);
  }
  tjFree(jpeg);
  tjDestroy(encoder);
  return data;
}

}  // namespace foundation
