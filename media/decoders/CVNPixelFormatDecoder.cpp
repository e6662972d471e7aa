#include "media/decoders/CVNPixelFormatDecoder.h"

#include <cstdio>

#include "platform/Diagnostics.h"

namespace media {
namespace {

namespace pm = platform::media;

std::string formatted(const char* format, int value) {
  char text[160];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

bool isRGB(pm::FourCharCode format) {
  return format == pm::kPixelFormat32ARGB || format == pm::kPixelFormat32ABGR || format == pm::kPixelFormat32RGBA ||
         format == pm::kPixelFormat32BGRA;
}

}  // namespace

CVNPixelFormatDecoder::CVNPixelFormatDecoder(pm::FormatDescriptionRef videoFormatDescription,
                                             std::optional<std::string> sourceDescription)
    : pixelTransferSession_(std::make_unique<pm::PixelTransferSession>()),
      videoFormatDescription_(std::move(videoFormatDescription)),
      pixelFormat_(pm::kPixelFormat422YpCbCr8),
      sourceDescription_(sourceDescription.value_or("")) {
  if (videoFormatDescription_) {
    outputWidth_ = videoFormatDescription_->dimensions().width;
    outputHeight_ = videoFormatDescription_->dimensions().height;
  }
}

CVNPixelFormatDecoder::~CVNPixelFormatDecoder() = default;

void CVNPixelFormatDecoder::setOutputDimensions(std::int32_t width, std::int32_t height) {
  outputWidth_ = width;
  outputHeight_ = height;
}

bool CVNPixelFormatDecoder::setup() {
  if (!pixelTransferSession_ || outputWidth_ <= 0 || outputHeight_ <= 0) return false;
  pm::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = pixelFormat_;
  attributes.width = static_cast<std::size_t>(outputWidth_);
  attributes.height = static_cast<std::size_t>(outputHeight_);
  attributes.bytesPerRowAlignment = 16;
  attributes.minimumBufferCount = static_cast<std::size_t>(pixelBufferPoolSize_);
  attributes.shareable = shouldProduceGlobalIOSurface_;
  return pm::PixelBufferPool::create(attributes, &pixelBufferPool_) == pm::kCVReturnSuccess;
}

std::shared_ptr<pm::PixelBuffer> CVNPixelFormatDecoder::resizedPixelBufferRGBAWithPixelFormat(pm::FourCharCode format) {
  if (resizedPixelBufferRGBA_ && resizedPixelBufferRGBA_->pixelFormatType() == format &&
      resizedPixelBufferRGBA_->width() == static_cast<std::size_t>(outputWidth_) &&
      resizedPixelBufferRGBA_->height() == static_cast<std::size_t>(outputHeight_)) {
    return resizedPixelBufferRGBA_;
  }
  pm::PixelBufferAttributes attributes;
  attributes.bytesPerRowAlignment = 16;
  attributes.shareable = true;
  std::shared_ptr<pm::PixelBuffer> picture;
  if (outputWidth_ <= 0 || outputHeight_ <= 0 ||
      pm::PixelBuffer::create(static_cast<std::size_t>(outputWidth_), static_cast<std::size_t>(outputHeight_), format,
                              attributes, &picture) != pm::kCVReturnSuccess) {
    char text[120];
    std::snprintf(text, sizeof text, "Failed to create RGBA pixelFormat with dimension %ix%i", outputWidth_, outputHeight_);
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, text);
    return resizedPixelBufferRGBA_;
  }
  resizedPixelBufferRGBA_ = std::move(picture);
  return resizedPixelBufferRGBA_;
}

pm::SampleBufferRef CVNPixelFormatDecoder::decode(const pm::SampleBufferRef& sampleBuffer, std::string* error) {
  if (!sampleBuffer) {
    *error = "Can't decode nil SampleBuffer";
    return nullptr;
  }
  std::shared_ptr<pm::PixelBuffer> input = sampleBuffer->imageBuffer();
  if (!input) {
    *error = "Can't get imageBuffer from sampleBuffer " + pm::fourCCString(sampleBuffer->formatDescription()
                                                                               ? sampleBuffer->formatDescription()->mediaSubType()
                                                                               : 0);
    return nullptr;
  }
  if (isRGB(input->pixelFormatType())) {
    std::shared_ptr<pm::PixelBuffer> resized = resizedPixelBufferRGBAWithPixelFormat(input->pixelFormatType());
    if (!resized) {
      *error = "Failed to create pixel buffer to resize in RGBA";
      return nullptr;
    }
    const pm::CVReturn status = pixelTransferSession_->transferImage(*input, *resized);
    if (status != pm::kCVReturnSuccess) {
      *error = formatted("rgba resize failed with error %i", status);
      return nullptr;
    }
    input = resized;
  }
  std::shared_ptr<pm::PixelBuffer> output;
  pm::CVReturn status = pixelBufferPool_ ? pixelBufferPool_->createPixelBuffer(&output) : pm::kCVReturnInvalidArgument;
  if (status != pm::kCVReturnSuccess) {
    *error = formatted("Could not create pixel buffer for PixelFormatDecoder (%i)", status);
    return nullptr;
  }
  status = pixelTransferSession_->transferImage(*input, *output);
  if (status != pm::kCVReturnSuccess) {
    *error = formatted("Could not resize and/or convert pixel buffer (%i)", status);
    return nullptr;
  }
  if (!outVideoFormatDescription_) {
    outVideoFormatDescription_ = pm::FormatDescription::createForPixelBuffer(*output);
    if (!outVideoFormatDescription_) {
      *error = "Failed to create VideoFormatDescription from pixelBuffer " + pm::fourCCString(output->pixelFormatType());
      return nullptr;
    }
  }
  pm::SampleTimingInfo timing;
  sampleBuffer->sampleTimingInfo(0, &timing);
  timing.decodeTimeStamp = pm::MediaTime::invalid();
  pm::SampleBufferRef sample;
  if (pm::SampleBuffer::createForImageBuffer(output, outVideoFormatDescription_, timing, &sample) != pm::kSampleBufferNoError) {
    char text[160];
    std::snprintf(text, sizeof text, "Failed to create sampleBuffer from imageBuffer (%ix%i) %s", outputWidth_,
                  outputHeight_, pm::fourCCString(output->pixelFormatType()).c_str());
    *error = text;
    return nullptr;
  }
  return sample;
}

void CVNPixelFormatDecoder::decodeSampleBuffer(const pm::SampleBufferRef& sampleBuffer, bool /*shouldOutput*/,
                                               DecodeCompletionHandler completionHandler) {
  std::string error;
  const pm::SampleBufferRef output = decode(sampleBuffer, &error);
  completionHandler(error.empty(), error.empty() ? std::nullopt : std::optional<std::string>(error), output);
}

}  // namespace media
