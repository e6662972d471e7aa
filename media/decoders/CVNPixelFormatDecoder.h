#pragma once
// The decoder of samples that already hold a picture (stills, uncompressed
// movie tracks): each picture is converted to the requested size and pixel
// format in one step and handed back with the input's timing. RGB pictures
// are first scaled in their own format into a kept intermediate picture,
// then converted. One frame is enough to start playback.
//
// Lives on the decompression session's decoding queue.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "media/decoders/CVNDecoderProtocol.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBufferPool.h"
#include "platform/media/PixelTransferSession.h"

namespace media {

class CVNPixelFormatDecoder final : public CVNDecoderProtocol {
 public:
  CVNPixelFormatDecoder(platform::media::FormatDescriptionRef videoFormatDescription,
                        std::optional<std::string> sourceDescription);
  ~CVNPixelFormatDecoder() override;

  std::int64_t framesNeededForPlayback() const override { return 1; }
  void setDelegate(CVNDecoderDelegateProtocol* delegate) override { delegate_ = delegate; }
  void setOutputDimensions(std::int32_t width, std::int32_t height) override;
  void setPixelFormat(platform::media::FourCharCode pixelFormat) override { pixelFormat_ = pixelFormat; }
  void setPixelBufferPoolSize(std::uint64_t size) override { pixelBufferPoolSize_ = size; }
  void setShouldProduceGlobalIOSurface(bool value) override { shouldProduceGlobalIOSurface_ = value; }
  bool shouldProduceGlobalIOSurface() const override { return shouldProduceGlobalIOSurface_; }
  void setMetalAPIEnabled(bool value) override { metalAPIEnabled_ = value; }
  bool extractCCFromVideoFrames() const override { return extractCCFromVideoFrames_; }
  void setExtractCCFromVideoFrames(bool value) override { extractCCFromVideoFrames_ = value; }
  bool setup() override;
  void decodeSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer, bool shouldOutput,
                          DecodeCompletionHandler completionHandler) override;
  void flush() override {}
  void finish() override {}
  void invalidate() override {}

  // The kept intermediate picture in `pixelFormat` at the output size, made
  // (and kept) when missing or of another format. When it cannot be made the
  // previous one (possibly none) is answered. The decoder keeps ownership.
  std::shared_ptr<platform::media::PixelBuffer> resizedPixelBufferRGBAWithPixelFormat(
      platform::media::FourCharCode pixelFormat);

 private:
  platform::media::SampleBufferRef decode(const platform::media::SampleBufferRef& sampleBuffer, std::string* error);

  std::unique_ptr<platform::media::PixelTransferSession> pixelTransferSession_;
  std::shared_ptr<platform::media::PixelBufferPool> pixelBufferPool_;
  platform::media::FormatDescriptionRef videoFormatDescription_;
  platform::media::FormatDescriptionRef outVideoFormatDescription_;
  std::int32_t outputWidth_ = 0;
  std::int32_t outputHeight_ = 0;
  platform::media::FourCharCode pixelFormat_;
  std::shared_ptr<platform::media::PixelBuffer> resizedPixelBufferRGBA_;
  std::uint64_t pixelBufferPoolSize_ = 0;
  CVNDecoderDelegateProtocol* delegate_ = nullptr;  // not owned; kept only
  std::string sourceDescription_;
  bool shouldProduceGlobalIOSurface_ = false;
  bool metalAPIEnabled_ = false;
  bool extractCCFromVideoFrames_ = false;
};

}  // namespace media
