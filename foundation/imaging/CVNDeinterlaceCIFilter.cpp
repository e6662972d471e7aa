#include "foundation/imaging/CVNDeinterlaceCIFilter.h"

#include <cstring>

#include "foundation/CVNLogController.h"

namespace foundation {

using namespace platform::media;

std::unique_ptr<CVNDeinterlaceCIFilter> CVNDeinterlaceCIFilter::filterWithName(const std::string&) {
  return std::make_unique<CVNDeinterlaceCIFilter>();
}

ImageRef CVNDeinterlaceCIFilter::outputImage() const {
  if (!inputImage_) return nullptr;
  return deinterlace(inputImage_, 0.0);
}

void CVNDeinterlaceCIFilter::setValueForKey(const ImageRef& value, const std::string& key) {
  if (key == "inputImage") setInputImage(value);
  CVNLogController::sharedLogController().logMessageWithLevel(3, false, "setting value %s forKey %s",
                                                              value ? "<image>" : "(null)", key.c_str());
}

ImageRef CVNDeinterlaceCIFilter::valueForKey(const std::string& key) const {
  if (key == "outputImage") return outputImage();
  CVNLogController::sharedLogController().logMessageWithLevel(3, false, "asking for value for key %s", key.c_str());
  return key == "inputImage" ? inputImage_ : nullptr;
}

void CVNDeinterlaceCIFilter::setNilValueForKey(const std::string& key) {
  CVNLogController::sharedLogController().logMessageWithLevel(3, false, "setting nil value for key %s", key.c_str());
}

ImageRef CVNDeinterlaceCIFilter::deinterlace(const ImageRef& image, double field) {
  if (!image || image->pixelFormatType() != kPixelFormat32RGBA) return nullptr;
  std::shared_ptr<PixelBuffer> output;
  if (PixelBuffer::create(image->width(), image->height(), kPixelFormat32RGBA, {}, &output) != kCVReturnSuccess) {
    return nullptr;
  }
  const std::size_t kept = field >= 0.5 ? 1 : 0;
  const std::size_t height = image->height();
  const std::size_t rowBytes = image->width() * 4;
  auto row = [&](std::size_t y) { return image->baseAddress() + y * image->bytesPerRow(); };
  for (std::size_t y = 0; y < height; ++y) {
    std::uint8_t* to = output->baseAddress() + y * output->bytesPerRow();
    if (y % 2 == kept) {
      std::memcpy(to, row(y), rowBytes);
      continue;
    }
    // The kept rows above and below (only one of them at the picture's edges).
    const bool hasAbove = y >= 1;
    const bool hasBelow = y + 1 < height;
    const std::uint8_t* above = row(hasAbove ? y - 1 : y + 1);
    const std::uint8_t* below = row(hasBelow ? y + 1 : y - 1);
    if (!hasAbove && !hasBelow) {
      std::memcpy(to, row(y), rowBytes);
      continue;
    }
    for (std::size_t i = 0; i < rowBytes; ++i) to[i] = static_cast<std::uint8_t>((above[i] + below[i] + 1) / 2);
  }
  return output;
}

}  // namespace foundation
