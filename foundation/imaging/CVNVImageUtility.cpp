#include "foundation/imaging/CVNVImageUtility.h"

#include "foundation/CVNLogController.h"

namespace foundation {

using namespace platform::media;

std::optional<double> CVNVImageUtility::averageAlphaFromPixelBuffer(PixelBuffer& buffer,
                                                                    PixelHistograms& histograms) {
  // The alpha byte depends on the format; reading the fourth byte of an ARGB
  // frame would average its blue instead.
  int alphaByte;
  switch (buffer.pixelFormatType()) {
    case kPixelFormat32ARGB:
    case kPixelFormat32ABGR: alphaByte = 0; break;
    case kPixelFormat32BGRA:
    case kPixelFormat32RGBA: alphaByte = 3; break;
    default:
      CVNLogController::sharedLogController().logMessageWithLevel(1, false, "Failed to create histogram %ld",
                                                                  static_cast<long>(kCVReturnInvalidPixelFormat));
      return std::nullopt;
  }
  for (auto& histogram : histograms) histogram.fill(0);
  buffer.lockBaseAddress(PixelBufferLockFlags::ReadOnly);
  for (std::size_t y = 0; y < buffer.height(); ++y) {
    const std::uint8_t* pixel = buffer.baseAddress() + y * buffer.bytesPerRow();
    for (std::size_t x = 0; x < buffer.width(); ++x, pixel += 4) {
      ++histograms[0][pixel[0]];
      ++histograms[1][pixel[1]];
      ++histograms[2][pixel[2]];
      ++histograms[3][pixel[3]];
    }
  }
  buffer.unlockBaseAddress(PixelBufferLockFlags::ReadOnly);
  double sum = 0;
  for (int k = 0; k < 256; ++k) sum += static_cast<double>(k) * static_cast<double>(histograms[alphaByte][k]);
  return sum / static_cast<double>(buffer.width() * buffer.height()) / 255.0;
}

void CVNVImageUtility::histogramFromPixelBuffer(PixelBuffer& buffer) {
  PixelHistograms histograms;
  (void)averageAlphaFromPixelBuffer(buffer, histograms);
}

}  // namespace foundation
