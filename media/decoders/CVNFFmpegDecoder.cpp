#include "media/decoders/CVNFFmpegDecoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "captions/CVNCCUtilities.h"
#include "foundation/CVNLogController.h"
#include "platform/Diagnostics.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace media {
namespace {

namespace pm = platform::media;
using pm::MediaTime;
using pm::SampleBufferRef;

constexpr const char* kEndOfFileText = "FFmpegDecoder error: End of file";
constexpr const char* kNotOpenedText = "FFmpegDecoder error: codec not opened or requires flush";
// A call that gave way to newer ones fails, so the session fills the gap.
constexpr const char* kNeverCameOutText = "FFmpegDecoder error: the frame of this packet never came out of the codec";
constexpr std::size_t kPendingBase = 21;
constexpr int kMaxCodedWidth = 8192;
constexpr int kMaxCodedHeight = 4320;

foundation::CVNLogController& logController() { return foundation::CVNLogController::sharedLogController(); }

std::string formatted(const char* format, int value) {
  char text[160];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

int bitsOf(int format) {
  const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  return description ? description->comp[0].depth : 0;
}

bool isPlanarHighBitFormat(int format) {
  return format == AV_PIX_FMT_YUV422P10LE || format == AV_PIX_FMT_YUV444P10LE || format == AV_PIX_FMT_YUV422P12LE ||
         format == AV_PIX_FMT_YUV444P12LE;
}

}  // namespace

CVNFFmpegFrameToDecode::CVNFFmpegFrameToDecode(const AVPacket* packet, DecodeCompletionHandler completionBlock)
    : packet_(av_packet_alloc()), completionBlock_(std::move(completionBlock)) {
  if (packet_ && packet) av_packet_ref(packet_, packet);
}

CVNFFmpegFrameToDecode::~CVNFFmpegFrameToDecode() {
  if (shouldUnrefAndFreePacket_) av_packet_free(&packet_);
}

CVNFFmpegDecoder::CVNFFmpegDecoder(AVCodecContext* codecContext, TimeBase videoStreamTimeBase, bool reverseField,
                                   std::optional<std::string> sourceDescription, std::unique_ptr<CodecSeam> seam)
    : codecContext_(codecContext),
      seam_(seam ? std::move(seam) : makeLibavcodecSeam(codecContext)),
      lastDecodedFrame_(av_frame_alloc()),
      videoStreamTimeBase_(videoStreamTimeBase),
      reverseField_(reverseField),
      sourceDescription_(sourceDescription.value_or("")) {
  if (codecContext_) {
    outputWidth_ = codecContext_->width;
    outputHeight_ = codecContext_->height;
  }
  setPixelFormat(pm::kPixelFormat422YpCbCr8);
}

CVNFFmpegDecoder::~CVNFFmpegDecoder() {
  pendingFrames_.clear();
  seam_.reset();  // closes the codec under the shared lock
  av_frame_free(&lastDecodedFrame_);
}

std::optional<std::string> CVNFFmpegDecoder::stringFromPictureType(std::int32_t pictureType) {
  static const char* const kNames[] = {"NONE", "I", "P", "B", "S", "SI", "SP", "BI"};
  if (pictureType < 0 || pictureType > 7) return std::nullopt;
  return kNames[pictureType];
}

void CVNFFmpegDecoder::setOutputDimensions(std::int32_t width, std::int32_t height) {
  outputWidth_ = width;
  outputHeight_ = height;
}

void CVNFFmpegDecoder::setPixelFormat(pm::FourCharCode pixelFormat) {
  pixelFormat_ = pixelFormat;
  destinationFormat_ = -1;
}

std::size_t CVNFFmpegDecoder::pendingLimit() const {
  return kPendingBase + static_cast<std::size_t>(std::max(0, seam_->threadCount()));
}

std::string CVNFFmpegDecoder::errorText(const std::string& text) const {
  return sourceDescription_.empty() ? text : sourceDescription_ + ": FFmpegDecoder: Error: " + text;
}

bool CVNFFmpegDecoder::setup() {
  const char* source = sourceDescription_.c_str();
  const int codecFormat = codecContext_ ? codecContext_->pix_fmt : AV_PIX_FMT_NONE;
  // The source's depth comes from its pixel format when libavcodec knows it.
  const int sourceBits = bitsOf(codecFormat) > 0 ? bitsOf(codecFormat) : bitDepth_;
  switch (pixelFormat_) {
    case pm::kPixelFormat32ARGB: destinationFormat_ = AV_PIX_FMT_ARGB; break;
    case pm::kPixelFormat422YpCbCr8: destinationFormat_ = AV_PIX_FMT_UYVY422; break;
    case pm::kPixelFormat32BGRA: destinationFormat_ = AV_PIX_FMT_BGRA; break;
    case pm::kPixelFormat422YpCbCr10:
      if (!metalAPIEnabled_) {
        logController().logMessageWithLevel(0, true,
                                            "\"%s\": FFmpegDecoder Error: Zuvod Adoded required for Playing 10bits files.",
                                            source);
        return false;
      }
      if (sourceBits <= 8) {
        destinationFormat_ = AV_PIX_FMT_UYVY422;
        pixelFormat_ = pm::kPixelFormat422YpCbCr8;
      } else if (codecFormat == AV_PIX_FMT_YUV444P10LE || codecFormat == AV_PIX_FMT_YUV444P12LE) {
        destinationFormat_ = codecFormat;
        pixelFormat_ = pm::kPixelFormat444YpCbCr10BiPlanarFullRange;
      } else {
        destinationFormat_ = AV_PIX_FMT_YUV422P10LE;
        pixelFormat_ = pm::kPixelFormat422YpCbCr10BiPlanarVideoRange;
      }
      break;
    default:
      destinationFormat_ = -1;
      logController().logMessageWithLevel(1, false, "\"%s\": FFmpegDecoder: Error: Missing AV_PIX_FMT for %i", source,
                                          static_cast<int>(pixelFormat_));
      break;
  }
  if (codecContext_ && (codecContext_->width > kMaxCodedWidth || codecContext_->height > kMaxCodedHeight ||
                        codecContext_->coded_width > kMaxCodedWidth || codecContext_->coded_height > kMaxCodedHeight)) {
    logController().logMessageWithLevel(0, true, "\"%s\": FFmpegDecoder: Error: coded size %ix%i is above 8192x4320",
                                        source, codecContext_->width, codecContext_->height);
    return false;
  }
  if (!opened_) {
    if (seam_->open() < 0) return false;
    opened_ = true;
  }
  if (fieldBasedAVPacket_) {
    logController().logMessageWithLevel(2, false,
                                        "\"%s\": Warning: Interlaced file is using separated fields store method", source);
  }
  if (outputWidth_ <= 0 || outputHeight_ <= 0) return false;
  pm::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = pixelFormat_;
  attributes.width = static_cast<std::size_t>(outputWidth_);
  attributes.height = static_cast<std::size_t>(outputHeight_);
  attributes.minimumBufferCount = static_cast<std::size_t>(pixelBufferPoolSize_);
  attributes.shareable = shouldProduceGlobalIOSurface_;
  return pm::PixelBufferPool::create(attributes, &pixelBufferPool_) == pm::kCVReturnSuccess;
}

void CVNFFmpegDecoder::decodeSampleBuffer(const SampleBufferRef& sampleBuffer, bool /*shouldOutput*/,
                                          DecodeCompletionHandler completionHandler) {
  AVPacket* packet = av_packet_alloc();
  if (!packet) {
    completionHandler(false, std::string("FFmpegDecoder error: out of memory"), nullptr);
    return;
  }
  // The end of the stream matches no frame: its packet has no time.
  std::int64_t sentPts = AV_NOPTS_VALUE;
  if (sampleBuffer && sampleBuffer->dataBuffer()) {
    const auto bytes = sampleBuffer->dataBuffer()->bytes();
    if (av_new_packet(packet, static_cast<int>(bytes.size())) < 0) {
      av_packet_free(&packet);
      completionHandler(false, std::string("FFmpegDecoder error: out of memory"), nullptr);
      return;
    }
    std::copy(bytes.begin(), bytes.end(), packet->data);
    const MediaTime pts = sampleBuffer->presentationTimeStamp();
    const MediaTime dts = sampleBuffer->decodeTimeStamp();
    packet->pts = pts.isValid() ? pts.value : AV_NOPTS_VALUE;
    packet->dts = dts.isValid() ? dts.value : AV_NOPTS_VALUE;
    packet->duration = sampleBuffer->duration().isValid() ? sampleBuffer->duration().value : 0;
    if (pts.isValid() && pts.timeScale > 0) timescale_ = pts.timeScale;
    sentPts = packet->pts;
  } else {
    packet->pts = packet->dts = packet->duration = 0;
  }

  const int sent = seam_->sendPacket(packet);
  if (sent == AVERROR_EOF) {
    completionHandler(false, std::string(kEndOfFileText), nullptr);
    failPendingFrames(lastFrameError_);
    av_packet_free(&packet);
    return;
  }
  bool taken = sent >= 0;
  if (sent < 0) {
    // With frame threads the error is an older packet's: that call fails,
    // and this packet, taken all the same, waits for its frame.
    std::unique_ptr<CVNFFmpegFrameToDecode> erroneous;
    if (seam_->errorsComeLate() && !pendingFrames_.empty()) {
      erroneous = std::move(pendingFrames_.front());
      pendingFrames_.pop_front();
      taken = true;
    }
    const DecodeCompletionHandler& failing = erroneous ? erroneous->completionBlock() : completionHandler;
    if (sent == AVERROR(EINVAL)) {
      failing(false, std::string(kNotOpenedText), nullptr);
    } else {
      failing(false, formatted("Failed to send new frames %i", sent), nullptr);
      if (++sendFrameFailures_ == 5) failPendingFrames(lastFrameError_);
    }
  } else {
    sendFrameFailures_ = 0;
  }
  if (taken) {
    bool completed = false;
    completeFromFrame(sentPts, &completed, completionHandler);
    if (!completed) {
      if (pendingFrames_.size() >= pendingLimit()) {
        platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "need to fix this");
        const auto oldest = std::move(pendingFrames_.front());
        pendingFrames_.pop_front();
        oldest->completionBlock()(false, std::string(kNeverCameOutText), nullptr);
      }
      pendingFrames_.push_back(std::make_unique<CVNFFmpegFrameToDecode>(packet, completionHandler));
    }
  }
  av_packet_free(&packet);
}

void CVNFFmpegDecoder::completeFromFrame(std::int64_t sentPts, bool* ownCompleted, const DecodeCompletionHandler& own) {
  for (;;) {
    const int received = seam_->receiveFrame(lastDecodedFrame_);
    if (received == AVERROR_EOF) {
      if (!*ownCompleted) own(false, std::string(kEndOfFileText), nullptr);
      *ownCompleted = true;
      failPendingFrames(lastFrameError_);
      return;
    }
    if (received < 0) return;
    std::optional<std::string> error;
    const SampleBufferRef output = createSampleBufferFromDecodedFrame(&error);
    lastFrameError_ = error;
    const std::int64_t framePts = lastDecodedFrame_->pts;
    av_frame_unref(lastDecodedFrame_);
    if (!*ownCompleted && framePts != AV_NOPTS_VALUE && framePts == sentPts) {
      *ownCompleted = true;
      own(!error, error, output);
      failPassedFrames(framePts);
      continue;
    }
    auto match = std::find_if(pendingFrames_.begin(), pendingFrames_.end(), [&](const auto& entry) {
      return framePts != AV_NOPTS_VALUE && entry->packet()->pts == framePts;
    });
    if (match == pendingFrames_.end()) continue;  // a frame nobody waits for
    std::unique_ptr<CVNFFmpegFrameToDecode> entry = std::move(*match);
    match = pendingFrames_.erase(match);
    entry->completionBlock()(!error, error, output);
    if (fieldBasedAVPacket_) {
      // The other field's packet made no picture of its own.
      if (match != pendingFrames_.end()) {
        std::unique_ptr<CVNFFmpegFrameToDecode> other = std::move(*match);
        pendingFrames_.erase(match);
        other->completionBlock()(!error, error, nullptr);
      } else if (!*ownCompleted) {
        *ownCompleted = true;
        own(!error, error, nullptr);
      }
    }
    failPassedFrames(framePts);
  }
}

void CVNFFmpegDecoder::failPassedFrames(std::int64_t framePts) {
  // Frames come out in presentation order: a call waiting for an earlier
  // time gets nothing more (its packet made no picture).
  std::vector<std::unique_ptr<CVNFFmpegFrameToDecode>> passed;
  for (auto entry = pendingFrames_.begin(); entry != pendingFrames_.end();) {
    const std::int64_t pts = (*entry)->packet()->pts;
    if (pts != AV_NOPTS_VALUE && pts < framePts) {
      passed.push_back(std::move(*entry));
      entry = pendingFrames_.erase(entry);
    } else {
      ++entry;
    }
  }
  for (const auto& entry : passed) entry->completionBlock()(false, std::string(kNeverCameOutText), nullptr);
}

void CVNFFmpegDecoder::failPendingFrames(const std::optional<std::string>& error) {
  std::deque<std::unique_ptr<CVNFFmpegFrameToDecode>> pending = std::move(pendingFrames_);
  pendingFrames_.clear();
  for (const auto& entry : pending) entry->completionBlock()(false, error, nullptr);
}

void CVNFFmpegDecoder::finish() {
  decodeSampleBuffer(nullptr, false, [](bool, const std::optional<std::string>&, const SampleBufferRef&) {});
}

void CVNFFmpegDecoder::flush() {
  finish();
  seam_->flushBuffers();
}

void CVNFFmpegDecoder::invalidate() { pendingFrames_.clear(); }

std::shared_ptr<pm::PixelBuffer> CVNFFmpegDecoder::planarPixelBufferFromLastDecodedFrame() {
  const AVFrame* frame = lastDecodedFrame_;
  auto failure = [&](const std::string& text) -> std::shared_ptr<pm::PixelBuffer> {
    logController().logMessageWithLevel(0, true, "\"%s\": FFmpegDecoder: Error: %s", sourceDescription_.c_str(),
                                        text.c_str());
    return nullptr;
  };
  if (!isPlanarHighBitFormat(frame->format)) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
    char text[96];
    std::snprintf(text, sizeof text, "Format not handled. %s", name ? name : "none");
    return failure(text);
  }
  int planes = 0;
  while (planes < AV_NUM_DATA_POINTERS && frame->data[planes]) ++planes;
  if (planes != 3) return failure("Plane count mismatch");
  AVFrame* reference = av_frame_clone(frame);
  if (!reference) return failure("Failed to create pixel buffer with err -1");
  const bool halfWidth = frame->format == AV_PIX_FMT_YUV422P10LE || frame->format == AV_PIX_FMT_YUV422P12LE;
  const auto width = static_cast<std::size_t>(frame->width);
  const auto height = static_cast<std::size_t>(frame->height);
  std::vector<pm::PixelBufferPlane> planeList;
  for (int i = 0; i < 3; ++i) {
    const std::size_t planeWidth = i > 0 && halfWidth ? (width + 1) / 2 : width;
    planeList.push_back({reference->data[i], static_cast<std::size_t>(reference->linesize[i]), planeWidth, height});
  }
  std::shared_ptr<pm::PixelBuffer> buffer;
  const pm::CVReturn status = pm::PixelBuffer::createWithPlanarBytes(
      width, height, pixelFormat_, planeList, [reference]() mutable { av_frame_free(&reference); }, &buffer);
  if (status != pm::kCVReturnSuccess) {
    av_frame_free(&reference);
    return failure(formatted("Failed to create pixel buffer with err %i", status));
  }
  const bool twelveBits = frame->format == AV_PIX_FMT_YUV422P12LE || frame->format == AV_PIX_FMT_YUV444P12LE;
  buffer->setAttachment("ColorMultiplier", platform::Value(static_cast<std::int64_t>(twelveBits ? 16 : 64)));
  return buffer;
}

SampleBufferRef CVNFFmpegDecoder::createSampleBufferFromDecodedFrame(std::optional<std::string>* error) {
  const AVFrame* frame = lastDecodedFrame_;
  auto failure = [&](const std::string& text) -> SampleBufferRef {
    *error = errorText(text);
    return nullptr;
  };
  const bool biPlanar = pixelFormat_ == pm::kPixelFormat422YpCbCr10BiPlanarVideoRange ||
                        pixelFormat_ == pm::kPixelFormat444YpCbCr10BiPlanarFullRange ||
                        pixelFormat_ == pm::kPixelFormat422YpCbCr10BiPlanarFullRange;
  std::shared_ptr<pm::PixelBuffer> pixelBuffer;
  // A wrap cannot scale: only frames already at the output size qualify.
  const bool sameSize = frame->width == outputWidth_ && frame->height == outputHeight_;
  if (sameSize && ((frame->format == AV_PIX_FMT_YUV422P10LE && pixelFormat_ == pm::kPixelFormat422YpCbCr10BiPlanarVideoRange) ||
                   ((frame->format == AV_PIX_FMT_YUV444P12LE || frame->format == AV_PIX_FMT_YUV444P10LE) &&
                    pixelFormat_ == pm::kPixelFormat444YpCbCr10BiPlanarFullRange))) {
    pixelBuffer = planarPixelBufferFromLastDecodedFrame();
  }
  if (!pixelBuffer) {
    if (!pixelBufferPool_) return failure("Failed to create pixelBuffer from pixelBufferPool err: -6661");
    const pm::CVReturn status = pixelBufferPool_->createPixelBuffer(&pixelBuffer);
    if (status != pm::kCVReturnSuccess) return failure(formatted("Failed to create pixelBuffer from pixelBufferPool err: %i", status));
    if (pixelBuffer->lockBaseAddress(pm::PixelBufferLockFlags::None) != pm::kCVReturnSuccess) {
      return failure("Failed to lock pixelBuffer");
    }
    std::string conversionError;
    bool converted = false;
    if (biPlanar) {
      const auto start = std::chrono::steady_clock::now();
      converted = converter_.copyToBiPlanar(*frame, destinationFormat_, *pixelBuffer, &conversionError);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      logController().logMessageWithLevel(3, false, "\"%s\": FFmpegDecoder: Y %0.6f CbCR %0.6f total %0.6f",
                                          sourceDescription_.c_str(), seconds / 2, seconds / 2, seconds);
    } else if (reverseField_ && frame->height > 1 && outputHeight_ > 1) {
      converted = converter_.convert(*frame, {0, static_cast<std::size_t>(frame->height - 1)}, *pixelBuffer,
                                     {1, static_cast<std::size_t>(outputHeight_ - 1)}, &conversionError);
    } else {
      converted = converter_.convert(*frame, {0, static_cast<std::size_t>(frame->height)}, *pixelBuffer,
                                     {0, static_cast<std::size_t>(outputHeight_)}, &conversionError);
    }
    pixelBuffer->unlockBaseAddress(pm::PixelBufferLockFlags::None);
    if (!converted) return failure(conversionError);
  }
  if (!outVideoFormatDescription_) outVideoFormatDescription_ = pm::FormatDescription::createForPixelBuffer(*pixelBuffer);

  std::int64_t duration = frame->pkt_duration;
  if (fieldBasedAVPacket_) duration *= 2;
  const std::int64_t pts = frame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : frame->best_effort_timestamp;
  pm::SampleTimingInfo timing;
  timing.duration = MediaTime::make(duration, timescale_);
  timing.presentationTimeStamp = MediaTime::make(pts, timescale_);
  // The decode time of the packet that gave the frame: the session's catch-up
  // needs it to stand in for frames the file lacks.
  timing.decodeTimeStamp = frame->pkt_dts == AV_NOPTS_VALUE ? MediaTime::invalid() : MediaTime::make(frame->pkt_dts, timescale_);
  if (const AVFrameSideData* captions = av_frame_get_side_data(frame, AV_FRAME_DATA_A53_CC); captions && delegate_) {
    const SampleBufferRef captionSample = captions::CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo(
        timing, timing.duration, 0, {captions->data, captions->size});
    if (captionSample) delegate_->didReceiveCCSampleBuffer(captionSample);
  }
  SampleBufferRef sample;
  const pm::OSStatus status = pm::SampleBuffer::createForImageBuffer(pixelBuffer, outVideoFormatDescription_, timing, &sample);
  if (status != pm::kSampleBufferNoError) return failure(formatted("Failed to create sampleBuffer err: %i", status));
  return sample;
}

}  // namespace media
