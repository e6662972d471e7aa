#include "foundation/imaging/CVNImageUtil.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "foundation/CVNLogController.h"
#include "foundation/imaging/TiffFile.h"
#include "platform/DispatchQueue.h"
#include "platform/media/PixelFormat.h"

namespace foundation {
namespace {
std::atomic<int> sampleCounter{0};
}

void exchangeFirstAndThirdBytes(std::uint8_t* pixels, std::size_t width, std::size_t height) {
  for (std::size_t i = 0; i < width * height; ++i) std::swap(pixels[4 * i], pixels[4 * i + 2]);
}

void copyExchangingFirstAndThirdBytes(const std::uint8_t* source, std::uint8_t* destination, std::size_t width,
                                      std::size_t height) {
  for (std::size_t i = 0; i < width * height; ++i) {
    destination[4 * i] = source[4 * i + 2];
    destination[4 * i + 1] = source[4 * i + 1];
    destination[4 * i + 2] = source[4 * i];
    destination[4 * i + 3] = source[4 * i + 3];
  }
}

int CVNImageUtil::writeImageOfSize(Size size, platform::media::FourCharCode bufferFormat, const std::uint8_t* pixels,
                                   const std::filesystem::path& folder) {
  const bool packedYCbCr = bufferFormat == platform::media::kPixelFormat422YpCbCr8;
  const auto width = static_cast<std::size_t>(std::max(0.0, size.width));
  const auto height = static_cast<std::size_t>(std::max(0.0, size.height));
  const std::size_t groups = packedYCbCr ? width / 2 : width;
  auto copy = std::make_shared<std::vector<std::uint8_t>>(pixels, pixels + groups * height * 4);
  const int number = ++sampleCounter;
  char name[64];
  std::snprintf(name, sizeof name, "Sample %i.tiff", number);
  const std::filesystem::path url = folder / name;
  platform::DispatchQueue::global(platform::DispatchQueue::Priority::Default).async([copy, groups, height, url] {
    exchangeFirstAndThirdBytes(copy->data(), groups, height);
    platform::Status written = groups && height ? detail::writeTiff(url, groups, height, copy->data(), groups * 4,
                                                                    detail::TiffSampleOrder::RGBA, detail::TiffAlpha::Straight)
                                                : platform::Status(platform::Error("foundation.TiffFile", 3, "empty image"));
    if (!written) {
      CVNLogController::sharedLogController().logMessageWithLevel(1, false, "Failed to write sample to disk at url: %s",
                                                                  written.error().describe().c_str());
    }
  });
  return number;
}

}  // namespace foundation
