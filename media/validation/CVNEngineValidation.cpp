#include "media/validation/CVNEngineValidation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/CVNLogController.h"

namespace media {

using namespace platform::media;

std::string CVNEngineValidation::stringFromValidationErrorReason(std::int32_t reason) {
  switch (reason) {
    case -1: return "Invalid Clip (reason unknown)";
    case 1: return "Invalid Clip (file not found)";
    case 2: return "Invalid Clip (not a movie file)";
    case 5: return "Invalid Clip (video codec not found)";
    case 6: return "Invalid Clip (video codec not supported)";
    case 7: return "Invalid Clip (movie does not have a video track)";
    case 10: return "Invalid Clip (format is not supported)";
    case 12: return "Invalid Vovi (input is not available)";
    case 13: return "Invalid Vovi (live is disabled)";
    case 14: return "Invalid Vovi (input not started)";
    case 15: return "Invalid Vovi (input format is invalid)";
    case 17: return "Invalid Stream Clip (Stream not found)";
    case 19: return "Invalid Stream Clip (URL not supported)";
    case 20: return "Invalid Clip (media file is too short for the in/out points)";
    case 21: return "Clip is incomplete (truncated)";
    default: return "";
  }
}

void EngineValidationLog::beginValidation(const std::string& sourceDescription) const {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      3, false, "Validation: Engine Validation begin \"%s\"", sourceDescription.c_str());
}

void EngineValidationLog::endValidation(const std::string& sourceDescription, bool valid) const {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      3, false, "Validation: Engine Validation end \"%s\" %s", sourceDescription.c_str(), valid ? "Valid" : "Invalid");
}

const EngineValidationLog& CVNEngineValidation::engineValidationOSLog() {
  static const EngineValidationLog log;
  return log;
}

namespace {

std::size_t wholePixels(double value) {
  if (!(value > 0) || value >= 1e9) return 0;
  return static_cast<std::size_t>(value);
}

void fillWithPattern(PixelBuffer& buffer, const std::uint8_t* pattern, std::size_t patternSize) {
  // The first row by doubling copies, then every other row from it. Rows are
  // whole groups of the pattern (their length is a multiple of 64).
  const std::size_t rowBytes = buffer.bytesPerRow();
  std::uint8_t* first = buffer.baseAddress();
  std::memcpy(first, pattern, std::min(patternSize, rowBytes));
  for (std::size_t filled = patternSize; filled < rowBytes; filled *= 2) {
    std::memcpy(first + filled, first, std::min(filled, rowBytes - filled));
  }
  for (std::size_t y = 1; y < buffer.height(); ++y) std::memcpy(first + y * rowBytes, first, rowBytes);
}

}  // namespace

std::shared_ptr<PixelBuffer> CVNEngineValidation::createEmptyPixelBufferWithSize(foundation::Size size,
                                                                                 FourCharCode format,
                                                                                 bool ioSurfaceBacked,
                                                                                 CVReturn* error) {
  PixelBufferAttributes attributes;
  attributes.shareable = ioSurfaceBacked;
  std::shared_ptr<PixelBuffer> buffer;
  const CVReturn status = PixelBuffer::create(wholePixels(size.width), wholePixels(size.height), format, attributes, &buffer);
  if (error) *error = status;
  if (status != kCVReturnSuccess) return nullptr;
  buffer->lockBaseAddress(PixelBufferLockFlags::None);
  switch (format) {
    case kPixelFormat24RGB:
    case kPixelFormat32ARGB:
    case kPixelFormat24BGR:
    case kPixelFormat32ABGR:
    case kPixelFormat32BGRA:
    case kPixelFormat32RGBA:
    case kPixelFormat30RGB:
      std::memset(buffer->baseAddress(), 0, buffer->bytesPerRow() * buffer->height());
      break;
    case kPixelFormat422YpCbCr8: {
      const std::uint8_t black[4] = {0x80, 0x10, 0x80, 0x10};
      fillWithPattern(*buffer, black, sizeof black);
      break;
    }
    case kPixelFormat422YpCbCr10: {
      // Little-endian words 0x20010200, 0x04080040, 0x20010200, 0x04080040: luma 64, chroma 512.
      const std::uint8_t black[16] = {0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04,
                                      0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04};
      fillWithPattern(*buffer, black, sizeof black);
      break;
    }
    default:
      break;
  }
  buffer->unlockBaseAddress(PixelBufferLockFlags::None);
  return buffer;
}

}  // namespace media
