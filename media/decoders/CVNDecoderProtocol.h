#pragma once
// What every decoder offers the decompression session, and what it tells its
// delegate. The session drives a decoder in this order: the settings
// (Metal path, shared surfaces, caption extraction, reversed fields when
// supportsReverseFieldOrder()), then on its decoding queue the output size,
// pixel format, delegate, pool size, bit depth (when supportsBitDepth()) and
// setup(); then one decodeSampleBuffer per compressed frame, flush() when
// decoding restarts elsewhere, finish() at the end of the media and
// invalidate() before release.
//
// Decoded frames come back through each call's completion handler, which is
// called exactly once per call (possibly during a later call, when the codec
// returns the frame late). Lives on the session's decoding queue.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/media/FourCharCode.h"
#include "platform/media/SampleBuffer.h"

namespace media {

class CVNDecoderDelegateProtocol {
 public:
  virtual ~CVNDecoderDelegateProtocol() = default;
  // A caption sample taken from a decoded frame (FFmpeg decoder).
  virtual void didReceiveCCSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer) = 0;
  // Captions were found inside a compressed frame (VideoToolbox-rule decoder).
  virtual void didFindAnEmbeddedCCPacket() = 0;
  // The decoder sends a frame again after a failure it may recover from.
  virtual void decoderWillRetryDecodingSampleBuffer(const platform::media::SampleBufferRef& /*sampleBuffer*/) {}
};

// (success, error text or none, decoded picture or nullptr). A handler that
// keeps the buffer holds its own reference.
using DecodeCompletionHandler =
    std::function<void(bool success, const std::optional<std::string>& error, const platform::media::SampleBufferRef&)>;

class CVNDecoderProtocol {
 public:
  virtual ~CVNDecoderProtocol() = default;

  virtual std::int64_t framesNeededForPlayback() const = 0;
  // Not owned; the session outlives the decoder it drives.
  virtual void setDelegate(CVNDecoderDelegateProtocol* delegate) = 0;
  virtual void setOutputDimensions(std::int32_t width, std::int32_t height) = 0;
  virtual void setPixelFormat(platform::media::FourCharCode pixelFormat) = 0;
  virtual void setPixelBufferPoolSize(std::uint64_t size) = 0;
  virtual void setShouldProduceGlobalIOSurface(bool value) = 0;
  virtual bool shouldProduceGlobalIOSurface() const = 0;
  virtual void setMetalAPIEnabled(bool value) = 0;
  virtual bool extractCCFromVideoFrames() const = 0;
  virtual void setExtractCCFromVideoFrames(bool value) = 0;
  virtual bool setup() = 0;
  virtual void decodeSampleBuffer(const platform::media::SampleBufferRef& sampleBuffer, bool shouldOutput,
                                  DecodeCompletionHandler completionHandler) = 0;
  virtual void flush() = 0;
  virtual void finish() = 0;
  virtual void invalidate() = 0;

  // Optional operations: callers ask first.
  virtual bool supportsReverseFieldOrder() const { return false; }
  virtual bool reverseFieldOrder() const { return false; }
  virtual void setReverseFieldOrder(bool) {}
  virtual bool supportsBitDepth() const { return false; }
  virtual void setBitDepth(std::int32_t) {}
};

}  // namespace media
