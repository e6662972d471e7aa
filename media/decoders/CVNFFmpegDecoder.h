#pragma once
// Decodes the video packets of a libavformat reader with libavcodec's send
// and receive calls. libavcodec hands frames back later than the packets that
// made them (reordering, frame threads), so every call whose frame has not
// come out waits in a pending list, matched to frames by presentation time;
// every call's handler runs exactly once: with its frame, with an error, or,
// for the second field of one-field packets, with success and no frame.
//
// Frames are converted with swscale into buffers of the decoder's pool (or,
// for 10- and 12-bit planar YCbCr at the output size, wrapped without a
// copy). A/53 captions attached to decoded frames go to the delegate as
// caption samples.
//
// Lives on the decompression session's decoding queue. Codec opening and
// closing take the shared codec lock.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/decoders/CVNDecoderProtocol.h"
#include "media/decoders/CodecSeam.h"
#include "media/decoders/FFmpegCodecSource.h"
#include "media/decoders/FrameConverter.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBufferPool.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace media {

// One packet sent whose frame has not come out yet, with its call's handler.
class CVNFFmpegFrameToDecode {
 public:
  // References the caller's packet.
  CVNFFmpegFrameToDecode(const AVPacket* packet, DecodeCompletionHandler completionBlock);
  ~CVNFFmpegFrameToDecode();
  CVNFFmpegFrameToDecode(const CVNFFmpegFrameToDecode&) = delete;
  CVNFFmpegFrameToDecode& operator=(const CVNFFmpegFrameToDecode&) = delete;

  const AVPacket* packet() const { return packet_; }
  const DecodeCompletionHandler& completionBlock() const { return completionBlock_; }
  bool shouldUnrefAndFreePacket() const { return shouldUnrefAndFreePacket_; }

 private:
  AVPacket* packet_ = nullptr;
  DecodeCompletionHandler completionBlock_;
  bool shouldUnrefAndFreePacket_ = true;
};

class CVNFFmpegDecoder final : public CVNDecoderProtocol {
 public:
  // `codecContext` belongs to the reader and outlives the decoder. `seam`
  // replaces the libavcodec calls (nullptr: the real ones on the context).
  CVNFFmpegDecoder(AVCodecContext* codecContext, TimeBase videoStreamTimeBase, bool reverseField,
                   std::optional<std::string> sourceDescription, std::unique_ptr<CodecSeam> seam = nullptr);
  ~CVNFFmpegDecoder() override;

  // Picture type names: 0 "NONE" ... 7 "BI"; none above 7.
  static std::optional<std::string> stringFromPictureType(std::int32_t pictureType);

  std::int64_t framesNeededForPlayback() const override { return 5; }
  void setDelegate(CVNDecoderDelegateProtocol* delegate) override { delegate_ = delegate; }
  void setOutputDimensions(std::int32_t width, std::int32_t height) override;
  void setPixelFormat(platform::media::FourCharCode pixelFormat) override;
  platform::media::FourCharCode pixelFormat() const { return pixelFormat_; }
  void setPixelBufferPoolSize(std::uint64_t size) override { pixelBufferPoolSize_ = size; }
  std::uint64_t pixelBufferPoolSize() const { return pixelBufferPoolSize_; }
  void setShouldProduceGlobalIOSurface(bool value) override { shouldProduceGlobalIOSurface_ = value; }
  bool shouldProduceGlobalIOSurface() const override { return shouldProduceGlobalIOSurface_; }
  void setMetalAPIEnabled(bool value) override { metalAPIEnabled_ = value; }
  bool metalAPIEnabled() const { return metalAPIEnabled_; }
  bool extractCCFromVideoFrames() const override { return extractCCFromVideoFrames_; }
  void setExtractCCFromVideoFrames(bool value) override { extractCCFromVideoFrames_ = value; }
  bool setup() override;
  void decodeSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer, bool shouldOutput,
                          DecodeCompletionHandler completionHandler) override;
  void flush() override;
  void finish() override;
  void invalidate() override;

  bool supportsReverseFieldOrder() const override { return true; }
  bool reverseFieldOrder() const override { return reverseField_; }
  void setReverseFieldOrder(bool value) override { reverseField_ = value; }
  bool supportsBitDepth() const override { return true; }
  void setBitDepth(std::int32_t bits) override { bitDepth_ = bits; }
  std::int32_t bitDepth() const { return bitDepth_; }

  bool fieldBasedAVPacket() const { return fieldBasedAVPacket_; }
  void setFieldBasedAVPacket(bool value) { fieldBasedAVPacket_ = value; }
  const std::string& sourceDescription() const { return sourceDescription_; }
  std::size_t pendingFrameCount() const { return pendingFrames_.size(); }
  // Most calls that wait for their frame at once; the oldest gives way beyond it.
  std::size_t pendingLimit() const;
  // Threads the codec decodes with (0 before setup).
  int codecThreadCount() const { return seam_->threadCount(); }

  // The sample buffer of the frame just decoded (nullptr with `error` set).
  platform::media::SampleBufferRef createSampleBufferFromDecodedFrame(std::optional<std::string>* error);
  // The frame's planes wrapped without a copy (10- and 12-bit planar YCbCr).
  std::shared_ptr<platform::media::PixelBuffer> planarPixelBufferFromLastDecodedFrame();

 private:
  std::string errorText(const std::string& text) const;
  void failPendingFrames(const std::optional<std::string>& error);
  // Fails the calls waiting for a time before `framePts`.
  void failPassedFrames(std::int64_t framePts);
  void completeFromFrame(std::int64_t sentPts, bool* ownCompleted, const DecodeCompletionHandler& own);
  void sendCaptions(const platform::media::SampleTimingInfo& timing, platform::media::MediaTime duration);

  AVCodecContext* codecContext_;  // not owned: the reader's
  std::unique_ptr<CodecSeam> seam_;
  FrameConverter converter_;
  AVFrame* lastDecodedFrame_ = nullptr;
  std::shared_ptr<platform::media::PixelBufferPool> pixelBufferPool_;
  platform::media::FormatDescriptionRef outVideoFormatDescription_;
  std::int32_t outputWidth_ = 0;
  std::int32_t outputHeight_ = 0;
  platform::media::FourCharCode pixelFormat_ = 0;
  std::int32_t bitDepth_ = 0;
  std::int32_t timescale_ = 1;
  TimeBase videoStreamTimeBase_;
  bool reverseField_ = false;
  bool extractCCFromVideoFrames_ = true;
  std::uint64_t pixelBufferPoolSize_ = 0;
  std::deque<std::unique_ptr<CVNFFmpegFrameToDecode>> pendingFrames_;
  CVNDecoderDelegateProtocol* delegate_ = nullptr;  // not owned; the session outlives its decoder
  std::int32_t sendFrameFailures_ = 0;
  int destinationFormat_ = -1;
  bool shouldProduceGlobalIOSurface_ = false;
  std::string sourceDescription_;
  bool fieldBasedAVPacket_ = false;
  bool metalAPIEnabled_ = false;
  bool opened_ = false;
  std::optional<std::string> lastFrameError_;
};

}  // namespace media
