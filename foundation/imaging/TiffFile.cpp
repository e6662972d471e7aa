#include "foundation/imaging/TiffFile.h"

#include <tiffio.h>

#include <system_error>
#include <vector>

namespace foundation::detail {
namespace {
constexpr const char* kDomain = "foundation.TiffFile";
}

platform::Status writeTiff(const std::filesystem::path& path, std::size_t width, std::size_t height,
                           const std::uint8_t* pixels, std::size_t bytesPerRow, TiffSampleOrder order, TiffAlpha alpha) {
  std::filesystem::path partial = path;
  partial += ".partial";
  TIFF* tiff = TIFFOpen(partial.c_str(), "w");
  if (!tiff) return platform::Error(kDomain, 1, "The file \"" + path.filename().string() + "\" couldn't be saved.");
  const std::uint16_t extra[] = {alpha == TiffAlpha::Premultiplied ? std::uint16_t{EXTRASAMPLE_ASSOCALPHA}
                                                                   : std::uint16_t{EXTRASAMPLE_UNASSALPHA}};
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
  std::vector<std::uint8_t> row(width * 4);
  bool ok = true;
  for (std::size_t y = 0; y < height && ok; ++y) {
    const std::uint8_t* source = pixels + y * bytesPerRow;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* p = source + 4 * x;
      std::uint8_t* q = row.data() + 4 * x;
      if (order == TiffSampleOrder::ARGB) {
        q[0] = p[1], q[1] = p[2], q[2] = p[3], q[3] = p[0];
      } else {
        q[0] = p[0], q[1] = p[1], q[2] = p[2], q[3] = p[3];
      }
    }
    ok = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
  }
  TIFFClose(tiff);
  std::error_code error;
  if (ok) std::filesystem::rename(partial, path, error);
  if (!ok || error) {
    std::filesystem::remove(partial, error);
    return platform::Error(kDomain, 2, "The file \"" + path.filename().string() + "\" couldn't be saved.");
  }
  return platform::Status::success();
}

}  // namespace foundation::detail
