#pragma once
// The decoder for ProRes, H.264 in QuickTime movies, HEVC, DV, MPEG-1/2
// outside transport streams and the other codes the selection gives it. It
// opens its own libavcodec context from the track's format description
// (codec by media subtype, configuration from the "avcC", "hvcC" or "esds"
// atom) and keeps the rules of the hardware decoder it stands in for: the
// output-format choice ('v216', 'y416', '2vuy', 'BGRA'), IMX frames cropped
// of their 26 or 32 padding lines into its own pool, standard-definition
// pictures moved by a line for the field order (or placed 3 lines down in a
// 486-line output), one retry of a frame that fails with an unlisted error,
// and A/53 captions found in the compressed frame before decoding and
// attached to its picture ("a53CCData", "a53CCPTS").
//
// Every codec decodes in software; there is no hardware decoder and no
// reduced-resolution decoding here, so smaller outputs come from scaling.
//
// Lives on the decompression session's decoding queue.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/decoders/CVNDecoderProtocol.h"
#include "media/decoders/CodecSeam.h"
#include "media/decoders/FrameConverter.h"
#include "media/decoders/VideoToolboxRules.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBufferPool.h"

struct AVCodecContext;
struct AVFrame;

namespace media {

class CVNVideoToolboxDecoder final : public CVNDecoderProtocol {
 public:
  // `logCaptions` starts as the user-defaults boolean "LogVANCPackets".
  CVNVideoToolboxDecoder(platform::media::FormatDescriptionRef videoFormatDescription,
                         std::optional<std::string> sourceDescription);
  ~CVNVideoToolboxDecoder() override;

  std::int64_t framesNeededForPlayback() const override;
  void setDelegate(CVNDecoderDelegateProtocol* delegate) override { delegate_ = delegate; }
  void setOutputDimensions(std::int32_t width, std::int32_t height) override;
  void setPixelFormat(platform::media::FourCharCode pixelFormat) override { pixelFormat_ = pixelFormat; }
  platform::media::FourCharCode pixelFormat() const { return pixelFormat_; }
  void setPixelBufferPoolSize(std::uint64_t size) override { pixelBufferPoolSize_ = size; }
  std::uint64_t pixelBufferPoolSize() const { return pixelBufferPoolSize_; }
  void setShouldProduceGlobalIOSurface(bool value) override { shouldProduceGlobalIOSurface_ = value; }
  bool shouldProduceGlobalIOSurface() const override { return shouldProduceGlobalIOSurface_; }
  void setMetalAPIEnabled(bool value) override { metalAPIEnabled_ = value; }
  bool metalAPIEnabled() const { return metalAPIEnabled_; }
  bool extractCCFromVideoFrames() const override { return extractCCFromVideoFrames_; }
  void setExtractCCFromVideoFrames(bool value) override { extractCCFromVideoFrames_ = value; }
  // Opens the codec; answers NO for a refused 'v210' request (decoding still
  // works), a codec that cannot be opened or a coded size above 8192x4320.
  bool setup() override;
  void decodeSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer, bool shouldOutput,
                          DecodeCompletionHandler completionHandler) override;
  void flush() override;
  // Delivers every frame still inside the codec.
  void finish() override;
  void invalidate() override;

  bool supportsReverseFieldOrder() const override { return true; }
  bool reverseFieldOrder() const override { return reverseField_; }
  void setReverseFieldOrder(bool value) override { reverseField_ = value; }
  bool supportsBitDepth() const override { return true; }
  void setBitDepth(std::int32_t bits) override { bitDepth_ = bits; }
  std::int32_t bitDepth() const { return bitDepth_; }
  bool logCaptions() const { return logCaptions_; }
  void setLogCaptions(bool value) { logCaptions_ = value; }
  const std::string& sourceDescription() const { return sourceDescription_; }
  bool isIMX() const { return isIMX_; }
  // The output size in effect after setup (IMX padding off, a grown line).
  std::int32_t outputWidth() const { return outputWidth_; }
  std::int32_t outputHeight() const { return outputHeight_; }
  // Threads the codec decodes with (0 before setup).
  int codecThreadCount() const { return seam_ ? seam_->threadCount() : 0; }

  // Output formats this decoder writes, best quality first.
  static const std::vector<platform::media::FourCharCode>& supportedPixelFormats();
  // Where a standard-definition picture goes; none: it fills the output.
  std::optional<videotoolbox::LinePlacement> pixelTransferProperties() const;

  // Replaces the libavcodec calls for tests of the retry and error paths;
  // call before setup().
  void setCodecSeamForTesting(std::unique_ptr<CodecSeam> seam);

 private:
  struct Pending {
    std::int64_t pts = 0;
    DecodeCompletionHandler handler;
    std::optional<std::vector<std::uint8_t>> captions;
  };

  void extractCaptions(const platform::media::SampleBuffer& sample, std::optional<std::vector<std::uint8_t>>* captions);
  int sendWithRetry(const struct AVPacket* packet);
  void receiveFrames(std::int64_t sentPts, Pending* own, bool* ownCompleted, bool draining);
  platform::media::SampleBufferRef createSampleBufferFromFrame(const AVFrame& frame,
                                                              const std::optional<std::vector<std::uint8_t>>& captions,
                                                              std::string* error);
  std::string errorText(const std::string& reason) const;
  std::string reasonForStatus(int status) const;
  void failAll(const std::string& text);
  // With frame threads an error surfaces later than its packet: fails the
  // oldest waiting call with it. False when the error is this call's own.
  bool failOlderPacket(int status);
  // Fails the calls waiting for a time before `framePts`.
  void failPassedPackets(std::int64_t framePts);

  platform::media::FormatDescriptionRef videoFormatDescription_;
  platform::media::FourCharCode codec_ = 0;
  AVCodecContext* codecContext_ = nullptr;  // ours
  std::unique_ptr<CodecSeam> seam_;
  AVFrame* frame_ = nullptr;
  FrameConverter converter_;
  std::shared_ptr<platform::media::PixelBufferPool> pixelBufferPool_;
  std::deque<Pending> pending_;
  std::int32_t outputWidth_ = 0;
  std::int32_t outputHeight_ = 0;
  std::int32_t sourceWidth_ = 0;
  std::int32_t sourceHeight_ = 0;
  std::optional<videotoolbox::LinePlacement> placement_;
  platform::media::FourCharCode pixelFormat_;
  std::uint32_t topPaddingPixels_ = 0;
  CVNDecoderDelegateProtocol* delegate_ = nullptr;  // not owned; the session outlives its decoder
  bool reverseField_ = false;
  bool isIMX_ = false;
  bool extractCCFromVideoFrames_ = true;
  std::uint64_t pixelBufferPoolSize_ = 0;
  std::string sourceDescription_;
  bool shouldProduceGlobalIOSurface_ = true;
  std::int32_t bitDepth_ = 0;
  bool metalAPIEnabled_ = false;
  bool logCaptions_ = false;
  std::int32_t timescale_ = 1;
  bool drained_ = false;
};

}  // namespace media
