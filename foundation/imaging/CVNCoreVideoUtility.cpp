#include "foundation/imaging/CVNCoreVideoUtility.h"

#include <cstdio>

#include "foundation/CVNLogController.h"
#include "foundation/imaging/TiffFile.h"
#include "platform/media/PixelTransferSession.h"

namespace foundation {

using namespace platform::media;

std::shared_ptr<PixelBufferPool> CVNCoreVideoUtility::createPixelBufferPoolWithFormat(FourCharCode format, Size size,
                                                                                       bool ioSurfaceGlobal,
                                                                                       std::size_t minBufferCount,
                                                                                       CVReturn* outResult) {
  PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = format;
  attributes.width = static_cast<std::size_t>(std::max(0.0, size.width));
  attributes.height = static_cast<std::size_t>(std::max(0.0, size.height));
  attributes.minimumBufferCount = minBufferCount;
  attributes.shareable = ioSurfaceGlobal;
  std::shared_ptr<PixelBufferPool> pool;
  const CVReturn result = PixelBufferPool::create(attributes, &pool);
  if (outResult) *outResult = result;
  return pool;
}

std::string CVNCoreVideoUtility::stringFromCVReturn(CVReturn code) {
  switch (code) {
    case 0: return "Success";
    case -6660: return "Error || First";
    case -6661: return "InvalidArgument";
    case -6662: return "AllocationFailed";
    case -6670: return "InvalidDisplay";
    case -6671: return "DisplayLinkAlreadyRunning";
    case -6672: return "DisplayLinkNotRunning";
    case -6673: return "DisplayLinkCallbacksNotSet";
    case -6680: return "InvalidPixelFormat";
    case -6681: return "InvalidSize";
    case -6682: return "InvalidPixelBufferAttributes";
    case -6683: return "PixelBufferNotOpenGLCompatible";
    case -6689: return "WouldExceedAllocationThreshold";
    case -6690: return "PoolAllocationFailed";
    case -6691: return "InvalidPoolAttributes";
    case -6699: return "Last";
    default: {
      char text[48];
      std::snprintf(text, sizeof text, "Missing return code (%i)", code);
      return text;
    }
  }
}

std::size_t CVNCoreVideoUtility::pixelSizeForCVPixelFormat(FourCharCode format) {
  switch (format) {
    case kPixelFormat32ARGB:
    case kPixelFormat32BGRA:
    case kPixelFormat32RGBA:
    case kPixelFormat32ABGR: return 4;
    case kPixelFormat24RGB:
    case kPixelFormat24BGR: return 3;
    case kPixelFormat422YpCbCr8: return 2;
    default:
      CVNLogController::sharedLogController().logMessageWithLevel(
          2, false, "format %i not handled in pixelSizeForCVPixelFormat", static_cast<int>(format));
      return 1;
  }
}

bool CVNCoreVideoUtility::writePixelBuffer(const PixelBuffer& buffer, const std::filesystem::path& url,
                                           std::string* errorString) {
  const PixelBuffer* argb = &buffer;
  std::shared_ptr<PixelBuffer> converted;
  if (buffer.pixelFormatType() != kPixelFormat32ARGB) {
    PixelBufferAttributes attributes;
    attributes.shareable = true;
    if (PixelBuffer::create(buffer.width(), buffer.height(), kPixelFormat32ARGB, attributes, &converted) !=
        kCVReturnSuccess) {
      return false;
    }
    if (!PixelTransferSession::supportsFormat(buffer.pixelFormatType())) {
      if (errorString) *errorString = "Failed to create TransferSession";
      return false;
    }
    PixelTransferSession session;
    if (session.transferImage(buffer, *converted) != kCVReturnSuccess) {
      if (errorString) *errorString = "Failed to convert to destination format";
      return false;
    }
    argb = converted.get();
  }
  platform::Status written = detail::writeTiff(url, argb->width(), argb->height(), argb->baseAddress(), argb->bytesPerRow(),
                                               detail::TiffSampleOrder::ARGB, detail::TiffAlpha::Premultiplied);
  if (!written) {
    if (errorString) *errorString = written.error().localizedDescription;
    return false;
  }
  if (errorString) errorString->clear();
  return true;
}

}  // namespace foundation
