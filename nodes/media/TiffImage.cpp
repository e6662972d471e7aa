#include "nodes/media/TiffImage.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace nodes {
namespace {

using platform::Error;

// Largest single allocation libtiff may make for one picture: a damaged
// strip size must not make it reserve gigabytes.
constexpr tmsize_t kMaxSingleAllocation = 256 * 1024 * 1024;
// Seeks past this are refused: no thumbnail comes near it.
constexpr std::uint64_t kMaxStreamSize = 1ull << 30;

// The TIFF "file": a byte vector with a position, plus the first message
// libtiff reported while working on it.
struct MemoryStream {
  std::vector<std::uint8_t> bytes;
  std::uint64_t position = 0;
  std::string firstMessage;
};

MemoryStream& streamOf(thandle_t handle) { return *static_cast<MemoryStream*>(handle); }

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size) {
  MemoryStream& stream = streamOf(handle);
  if (size <= 0 || stream.position >= stream.bytes.size()) return 0;
  const std::uint64_t count =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size), stream.bytes.size() - stream.position);
  std::memcpy(buffer, stream.bytes.data() + stream.position, count);
  stream.position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t writeProc(thandle_t handle, void* buffer, tmsize_t size) {
  MemoryStream& stream = streamOf(handle);
  if (size <= 0) return 0;
  const std::uint64_t end = stream.position + static_cast<std::uint64_t>(size);
  if (end > kMaxStreamSize) return -1;
  if (end > stream.bytes.size()) stream.bytes.resize(end);
  std::memcpy(stream.bytes.data() + stream.position, buffer, static_cast<std::size_t>(size));
  stream.position = end;
  return size;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
  MemoryStream& stream = streamOf(handle);
  std::uint64_t base = 0;
  switch (whence) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = stream.position;
      break;
    case SEEK_END:
      base = stream.bytes.size();
      break;
    default:
      return static_cast<toff_t>(-1);
  }
  // toff_t is unsigned: a backward relative seek arrives as a wrapped value.
  const std::uint64_t target = base + offset;
  if (target > kMaxStreamSize) return static_cast<toff_t>(-1);
  stream.position = target;
  return target;
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t handle) { return streamOf(handle).bytes.size(); }
int mapProc(thandle_t, void**, toff_t*) { return 0; }  // never mapped: reads go through readProc
void unmapProc(thandle_t, void*, toff_t) {}

int messageHandler(TIFF*, void* userData, const char* module, const char* format, va_list arguments) {
  MemoryStream& stream = *static_cast<MemoryStream*>(userData);
  if (stream.firstMessage.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    stream.firstMessage = std::string(module ? module : "libtiff") + ": " + text;
  }
  return 1;  // handled: nothing reaches the process-wide handlers
}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openStream(MemoryStream& stream, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options, messageHandler, &stream);
  // Warnings (unknown tags and the like) are not worth a message of ours.
  TIFFOpenOptionsSetWarningHandlerExtR(
      options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; }, nullptr);
  TIFF* tiff = TIFFClientOpenExt("thumbnail", mode, &stream, readProc, writeProc, seekProc, closeProc, sizeProc,
                                 mapProc, unmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffHandle(tiff);
}

Error tiffError(TiffImageErrorCode code, const std::string& what, const MemoryStream& stream) {
  std::string description = what;
  if (!stream.firstMessage.empty()) description += " (" + stream.firstMessage + ")";
  return Error(kTiffImageErrorDomain, code, description);
}

bool withinLimits(std::uint32_t width, std::uint32_t height) {
  return width <= kMaxTiffImageSide && height <= kMaxTiffImageSide &&
         static_cast<std::uint64_t>(width) * height <= kMaxTiffImagePixels;
}

// Our own layout, read row by row without libtiff's colour conversion, which
// would premultiply the alpha.
bool isPlainRGBA(TIFF* tiff) {
  std::uint16_t bitsPerSample = 0, samplesPerPixel = 0, photometric = 0, planar = 0, orientation = 0;
  std::uint16_t extraCount = 0;
  std::uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  return bitsPerSample == 8 && samplesPerPixel == 4 && photometric == PHOTOMETRIC_RGB &&
         planar == PLANARCONFIG_CONTIG && orientation == ORIENTATION_TOPLEFT && !TIFFIsTiled(tiff) && extraCount == 1 &&
         extraTypes && extraTypes[0] == EXTRASAMPLE_UNASSALPHA;
}

bool hasAlpha(TIFF* tiff) {
  std::uint16_t extraCount = 0;
  std::uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  return extraCount > 0;
}

void unpremultiply(std::vector<std::uint8_t>& rgba) {
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
    const unsigned alpha = rgba[i + 3];
    if (alpha == 0 || alpha == 255) continue;
    for (std::size_t c = 0; c < 3; ++c) {
      rgba[i + c] = static_cast<std::uint8_t>(std::min(255u, (rgba[i + c] * 255u + alpha / 2) / alpha));
    }
  }
}

}  // namespace

platform::Result<platform::Data> tiffDataFromImage(const RGBAImage& image) {
  MemoryStream stream;
  if (image.width == 0 || image.height == 0 || !withinLimits(image.width, image.height)) {
    return tiffError(
        TiffImageErrorCode::InvalidImage,
        "Cannot encode a picture of " + std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels",
        stream);
  }
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4;
  if (image.rgba.size() != rowBytes * image.height) {
    return tiffError(TiffImageErrorCode::InvalidImage,
                     "Picture of " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                         " pixels has " + std::to_string(image.rgba.size()) + " bytes, not " +
                         std::to_string(rowBytes * image.height),
                     stream);
  }

  {
    TiffHandle tiff = openStream(stream, "w");
    if (!tiff) return tiffError(TiffImageErrorCode::EncodingFailed, "Cannot start a TIFF image", stream);
    const std::uint16_t extraSamples[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff.get(), TIFFTAG_EXTRASAMPLES, 1, extraSamples);
    TIFFSetField(tiff.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff.get(), TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff.get(), 0));

    // The encoder may scribble on the row it is given.
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; y < image.height; ++y) {
      std::memcpy(row.data(), image.rgba.data() + y * rowBytes, rowBytes);
      if (TIFFWriteScanline(tiff.get(), row.data(), y, 0) < 0) {
        return tiffError(TiffImageErrorCode::EncodingFailed, "Cannot write row " + std::to_string(y), stream);
      }
    }
    if (!TIFFFlush(tiff.get()))
      return tiffError(TiffImageErrorCode::EncodingFailed, "Cannot finish the TIFF image", stream);
  }
  if (!stream.firstMessage.empty())
    return tiffError(TiffImageErrorCode::EncodingFailed, "Cannot write the TIFF image", stream);
  return std::move(stream.bytes);
}

platform::Result<RGBAImage> imageFromTiffData(const platform::Data& data) {
  MemoryStream stream;
  stream.bytes = data;
  TiffHandle tiff = openStream(stream, "r");
  if (!tiff) return tiffError(TiffImageErrorCode::Malformed, "Not a TIFF image", stream);

  RGBAImage image;
  if (!TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &image.width) ||
      !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &image.height) || image.width == 0 || image.height == 0) {
    return tiffError(TiffImageErrorCode::Malformed, "TIFF image without a size", stream);
  }
  if (!withinLimits(image.width, image.height)) {
    return tiffError(TiffImageErrorCode::TooLarge,
                     "TIFF image of " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                         " pixels is larger than allowed",
                     stream);
  }
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4;
  image.rgba.resize(rowBytes * image.height);

  if (isPlainRGBA(tiff.get()) && TIFFScanlineSize64(tiff.get()) == rowBytes) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
      if (TIFFReadScanline(tiff.get(), image.rgba.data() + y * rowBytes, y, 0) < 0) {
        return tiffError(TiffImageErrorCode::Malformed, "Cannot read row " + std::to_string(y), stream);
      }
    }
    return image;
  }

  char reason[1024] = {};
  if (!TIFFRGBAImageOK(tiff.get(), reason)) {
    return tiffError(TiffImageErrorCode::Malformed, std::string("Unsupported TIFF image: ") + reason, stream);
  }
  std::vector<std::uint32_t> raster(static_cast<std::size_t>(image.width) * image.height);
  if (!TIFFReadRGBAImageOriented(tiff.get(), image.width, image.height, raster.data(), ORIENTATION_TOPLEFT, 1)) {
    return tiffError(TiffImageErrorCode::Malformed, "Cannot read the TIFF image", stream);
  }
  for (std::size_t i = 0; i < raster.size(); ++i) {
    image.rgba[i * 4 + 0] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
    image.rgba[i * 4 + 1] = static_cast<std::uint8_t>(TIFFGetG(raster[i]));
    image.rgba[i * 4 + 2] = static_cast<std::uint8_t>(TIFFGetB(raster[i]));
    image.rgba[i * 4 + 3] = static_cast<std::uint8_t>(TIFFGetA(raster[i]));
  }
  // libtiff hands colour with alpha back premultiplied.
  if (hasAlpha(tiff.get())) unpremultiply(image.rgba);
  return image;
}

}  // namespace nodes
