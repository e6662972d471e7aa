#include "media/decoders/CVNVideoToolboxDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "captions/CVNCCUtilities.h"
#include "foundation/CVNLogController.h"
#include "media/decoders/CodecCodes.h"
#include "platform/UserDefaults.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
}

namespace media {
namespace {

namespace pm = platform::media;
using pm::MediaTime;
using pm::SampleBufferRef;

constexpr int kMaxCodedWidth = 8192;
constexpr int kMaxCodedHeight = 4320;
constexpr std::size_t kPendingBase = 21;
constexpr const char* kBadDataReason = "Unable to decode frame (Bad Data err), frame is corrupted.";
constexpr const char* kInvalidatedReason = "Unable to decode frame (Session invalidated)";
constexpr const char* kMalfunctionReason = "Decoder Malfunction error. File is probably damaged";
// Calls the codec never answered: failed, so the session fills the gap.
constexpr const char* kNeverCameOutReason = "Unable to decode frame (no picture came out of the decoder)";

foundation::CVNLogController& logController() { return foundation::CVNLogController::sharedLogController(); }

// Statuses that are reported at once; any other is retried once.
bool isListedStatus(int status) {
  return status == AVERROR_INVALIDDATA || status == AVERROR_EOF || status == AVERROR(EINVAL) || status == AVERROR_BUG ||
         status == AVERROR_BUG2;
}

}  // namespace

CVNVideoToolboxDecoder::CVNVideoToolboxDecoder(pm::FormatDescriptionRef videoFormatDescription,
                                               std::optional<std::string> sourceDescription)
    : videoFormatDescription_(std::move(videoFormatDescription)),
      frame_(av_frame_alloc()),
      pixelFormat_(pm::kPixelFormat422YpCbCr8),
      sourceDescription_(sourceDescription.value_or("")),
      logCaptions_(platform::UserDefaults::standard().boolForKey("LogVANCPackets")) {
  if (videoFormatDescription_) {
    codec_ = videoFormatDescription_->mediaSubType();
    sourceWidth_ = videoFormatDescription_->dimensions().width;
    sourceHeight_ = videoFormatDescription_->dimensions().height;
    topPaddingPixels_ = videotoolbox::imxPaddingLines(*videoFormatDescription_);
    outputWidth_ = sourceWidth_;
    outputHeight_ = sourceHeight_ - static_cast<std::int32_t>(topPaddingPixels_);
  }
}

CVNVideoToolboxDecoder::~CVNVideoToolboxDecoder() {
  invalidate();
  av_frame_free(&frame_);
}

std::int64_t CVNVideoToolboxDecoder::framesNeededForPlayback() const {
  return videotoolbox::framesNeededForPlayback(codec_);
}

void CVNVideoToolboxDecoder::setOutputDimensions(std::int32_t width, std::int32_t height) {
  outputWidth_ = width;
  outputHeight_ = height;
}

const std::vector<pm::FourCharCode>& CVNVideoToolboxDecoder::supportedPixelFormats() {
  static const std::vector<pm::FourCharCode> formats = {
      pm::kPixelFormat4444AYpCbCr16, pm::kPixelFormat422YpCbCr16, pm::kPixelFormat422YpCbCr10,
      pm::kPixelFormat422YpCbCr8,    pm::kPixelFormat32BGRA,      pm::kPixelFormat32ARGB};
  return formats;
}

std::optional<videotoolbox::LinePlacement> CVNVideoToolboxDecoder::pixelTransferProperties() const {
  return videotoolbox::linePlacement(outputHeight_, sourceHeight_, reverseField_, topPaddingPixels_ > 0);
}

void CVNVideoToolboxDecoder::setCodecSeamForTesting(std::unique_ptr<CodecSeam> seam) { seam_ = std::move(seam); }

std::string CVNVideoToolboxDecoder::errorText(const std::string& reason) const {
  return sourceDescription_.empty() ? reason : sourceDescription_ + ": VTDecoder: Error: " + reason;
}

std::string CVNVideoToolboxDecoder::reasonForStatus(int status) const {
  if (status == AVERROR_INVALIDDATA) {
    logController().logMessageWithLevel(
        2, false, "\"%s\": VTDecoder: Error: Unable to decode frame (Bad Data err), frame is corrupted. Sample Description: %s",
        sourceDescription_.c_str(), pm::fourCCString(codec_).c_str());
    return kBadDataReason;
  }
  if (status == AVERROR_EOF || status == AVERROR(EINVAL)) return kInvalidatedReason;
  if (status == AVERROR_BUG || status == AVERROR_BUG2) return kMalfunctionReason;
  char text[200];
  std::snprintf(text, sizeof text, "\"%s\": Error: Unable to decode frame (err %i)", sourceDescription_.c_str(), status);
  return text;
}

bool CVNVideoToolboxDecoder::setup() {
  const char* source = sourceDescription_.c_str();
  isIMX_ = topPaddingPixels_ > 0;
  const std::int32_t bits = bitDepth_ > 0 ? bitDepth_ : (isOneOf(codec_, {"apch", "apcn", "apco", "apcs", "ap4h", "ap4x"}) ? 10 : 8);
  const videotoolbox::OutputFormatChoice choice = videotoolbox::chooseOutputFormat(pixelFormat_, metalAPIEnabled_, bits, codec_);
  bool result = true;
  if (choice.refused) {
    logController().logMessageWithLevel(0, true, "Only Apple ProRes can be used in yuv-10bit without ZUVOD Adoded");
    result = false;
  }
  pixelFormat_ = choice.pixelFormat;
  const auto& supported = supportedPixelFormats();
  if (std::find(supported.begin(), supported.end(), pixelFormat_) == supported.end()) {
    if (bits >= 9) {
      pixelFormat_ = pm::kPixelFormat4444AYpCbCr16;
    } else {
      pixelFormat_ = pm::kPixelFormat422YpCbCr8;
    }
  }

  const int codecId = videotoolbox::codecIdForSubtype(codec_);
  auto creationFailed = [&](int status) {
    logController().logMessageWithLevel(0, true, "\"%s\": VTDecoder: Error creating decoder: %i (%s %dx%d)", source, status,
                                        pm::fourCCString(codec_).c_str(), sourceWidth_, sourceHeight_);
    return false;
  };
  if (sourceWidth_ > kMaxCodedWidth || sourceHeight_ > kMaxCodedHeight) return creationFailed(AVERROR(EINVAL));
  if (!seam_) {
    const AVCodec* codec = codecId != AV_CODEC_ID_NONE ? avcodec_find_decoder(static_cast<AVCodecID>(codecId)) : nullptr;
    if (!codec) return creationFailed(AVERROR_DECODER_NOT_FOUND);
    codecContext_ = avcodec_alloc_context3(codec);
    if (!codecContext_) return creationFailed(AVERROR(ENOMEM));
    codecContext_->width = sourceWidth_;
    codecContext_->height = sourceHeight_;
    codecContext_->codec_tag = static_cast<unsigned>(codec_ >> 24 | (codec_ >> 8 & 0xff00) | (codec_ << 8 & 0xff0000) | codec_ << 24);
    const std::vector<std::uint8_t> extradata = videotoolbox::extradataFromDescription(*videoFormatDescription_);
    if (!extradata.empty()) {
      codecContext_->extradata = static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!codecContext_->extradata) return creationFailed(AVERROR(ENOMEM));
      std::memcpy(codecContext_->extradata, extradata.data(), extradata.size());
      codecContext_->extradata_size = static_cast<int>(extradata.size());
    }
    seam_ = makeLibavcodecSeam(codecContext_);
  }
  if (const int status = seam_->open(); status < 0) {
    invalidate();
    return creationFailed(status);
  }
  drained_ = false;

  placement_ = pixelTransferProperties();
  if (placement_) outputHeight_ = placement_->outputHeight;
  if (outputWidth_ <= 0 || outputHeight_ <= 0) return creationFailed(AVERROR(EINVAL));
  pm::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = pixelFormat_;
  attributes.width = static_cast<std::size_t>(outputWidth_);
  attributes.height = static_cast<std::size_t>(outputHeight_);
  attributes.minimumBufferCount = static_cast<std::size_t>(pixelBufferPoolSize_);
  attributes.shareable = shouldProduceGlobalIOSurface_;
  if (const pm::CVReturn status = pm::PixelBufferPool::create(attributes, &pixelBufferPool_); status != pm::kCVReturnSuccess) {
    return creationFailed(status);
  }
  if (pixelBufferPoolSize_ != 0) {
    logController().logMessageWithLevel(3, false, "\"%s\": VTDecoder: pixelBufferPoolSize %zu", source,
                                        static_cast<std::size_t>(pixelBufferPoolSize_));
  }
  logController().logMessageWithLevel(3, false, "\"%s\": VTDecoder: Codec doesn't support hardware acceleration", source);
  return result;
}

void CVNVideoToolboxDecoder::extractCaptions(const pm::SampleBuffer& sample, std::optional<std::vector<std::uint8_t>>* captions) {
  if (!extractCCFromVideoFrames_ || !sample.dataBuffer()) return;
  const MediaTime pts = sample.presentationTimeStamp();
  if (codec_ == pm::fourCC("avc1")) {
    *captions = captions::CVNCCUtilities::extractCCDataFromH264Packet(sample.dataBuffer()->bytes(), pts);
  } else if (codec_ == pm::fourCC("mp2v")) {
    *captions = captions::CVNCCUtilities::extractCCDataFromMPEG2Packet(sample.dataBuffer()->bytes(), pts);
  }
  if (!*captions) return;
  if (logCaptions_) {
    logController().logMessageWithLevel(3, false, "\"%s\": VTDecoder: A53 Captions at: %03f s.: %s",
                                        sourceDescription_.c_str(), pts.seconds(),
                                        captions::CVNCCUtilities::descriptionForCEA708Triplets(**captions).c_str());
  }
  if (delegate_) delegate_->didFindAnEmbeddedCCPacket();
}

int CVNVideoToolboxDecoder::sendWithRetry(const AVPacket* packet) {
  int status = seam_->sendPacket(packet);
  // An error that comes late is an older packet's: this one was taken, and
  // sending it again would decode it twice.
  if (status < 0 && status != AVERROR(EAGAIN) && !isListedStatus(status) && !seam_->errorsComeLate()) {
    status = seam_->sendPacket(packet);
  }
  return status;
}

void CVNVideoToolboxDecoder::decodeSampleBuffer(const SampleBufferRef& sampleBuffer, bool /*shouldOutput*/,
                                                DecodeCompletionHandler completionHandler) {
  if (!seam_) {
    completionHandler(false, errorText(kInvalidatedReason), nullptr);
    return;
  }
  if (!sampleBuffer || !sampleBuffer->dataBuffer()) {
    completionHandler(false, errorText(kBadDataReason), nullptr);
    return;
  }
  Pending own;
  own.handler = std::move(completionHandler);
  extractCaptions(*sampleBuffer, &own.captions);

  AVPacket* packet = av_packet_alloc();
  const auto bytes = sampleBuffer->dataBuffer()->bytes();
  if (!packet || av_new_packet(packet, static_cast<int>(bytes.size())) < 0) {
    av_packet_free(&packet);
    own.handler(false, errorText(kMalfunctionReason), nullptr);
    return;
  }
  std::copy(bytes.begin(), bytes.end(), packet->data);
  const MediaTime pts = sampleBuffer->presentationTimeStamp();
  const MediaTime dts = sampleBuffer->decodeTimeStamp();
  packet->pts = pts.isValid() ? pts.value : AV_NOPTS_VALUE;
  packet->dts = dts.isValid() ? dts.value : AV_NOPTS_VALUE;
  packet->duration = sampleBuffer->duration().isValid() ? sampleBuffer->duration().value : 0;
  if (pts.isValid()) timescale_ = pts.timeScale;
  own.pts = packet->pts;
  if (drained_) {
    seam_->flushBuffers();
    drained_ = false;
  }

  const int status = sendWithRetry(packet);
  av_packet_free(&packet);
  bool completed = false;
  if (status < 0) {
    logController().logMessageWithLevel(0, true, "\"%s\": VTDecoder: Decoding failed with error %i",
                                        sourceDescription_.c_str(), status);
    if (!failOlderPacket(status)) {
      own.handler(false, errorText(reasonForStatus(status)), nullptr);
      return;
    }
  }
  receiveFrames(own.pts, &own, &completed, false);
  if (completed) return;
  if (pending_.size() >= kPendingBase + static_cast<std::size_t>(std::max(0, seam_->threadCount()))) {
    Pending oldest = std::move(pending_.front());
    pending_.pop_front();
    oldest.handler(false, errorText(kNeverCameOutReason), nullptr);
  }
  pending_.push_back(std::move(own));
}

void CVNVideoToolboxDecoder::receiveFrames(std::int64_t sentPts, Pending* own, bool* ownCompleted, bool draining) {
  for (;;) {
    const int status = seam_->receiveFrame(frame_);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
    if (status < 0) {
      // A decoding error belongs to the packet just sent, or with frame
      // threads to the oldest one inside.
      if (failOlderPacket(status)) {
        if (!draining) return;
        continue;
      }
      if (own && !*ownCompleted) {
        *ownCompleted = true;
        own->handler(false, errorText(reasonForStatus(status)), nullptr);
      }
      if (!draining) return;
      continue;
    }
    const std::int64_t framePts = frame_->pts;
    Pending entry;
    bool found = false;
    if (own && !*ownCompleted && framePts != AV_NOPTS_VALUE && framePts == sentPts) {
      entry = std::move(*own);
      *ownCompleted = true;
      found = true;
    } else {
      auto match = std::find_if(pending_.begin(), pending_.end(),
                                [&](const Pending& p) { return framePts != AV_NOPTS_VALUE && p.pts == framePts; });
      if (match != pending_.end()) {
        entry = std::move(*match);
        pending_.erase(match);
        found = true;
      }
    }
    if (!found) {
      av_frame_unref(frame_);
      continue;
    }
    failPassedPackets(framePts);
    if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT)) {
      av_frame_unref(frame_);
      entry.handler(false, errorText(reasonForStatus(AVERROR_INVALIDDATA)), nullptr);
      continue;
    }
    std::string error;
    const SampleBufferRef output = createSampleBufferFromFrame(*frame_, entry.captions, &error);
    av_frame_unref(frame_);
    if (output) {
      entry.handler(true, std::nullopt, output);
    } else {
      entry.handler(false, errorText(error), nullptr);
    }
  }
}

// Decoding restarts elsewhere: pictures still inside the codec's threads
// would come out after the new packets' and, being later, fail them.
void CVNVideoToolboxDecoder::flush() {
  if (seam_) seam_->flushBuffers();
  drained_ = false;
  failAll(errorText(kNeverCameOutReason));
}

void CVNVideoToolboxDecoder::finish() {
  if (!seam_ || drained_) return;
  seam_->sendPacket(nullptr);
  bool completed = true;
  receiveFrames(AV_NOPTS_VALUE, nullptr, &completed, true);
  drained_ = true;
  failAll(errorText(kNeverCameOutReason));
}

bool CVNVideoToolboxDecoder::failOlderPacket(int status) {
  if (!seam_->errorsComeLate() || pending_.empty()) return false;
  Pending oldest = std::move(pending_.front());
  pending_.pop_front();
  oldest.handler(false, errorText(reasonForStatus(status)), nullptr);
  return true;
}

void CVNVideoToolboxDecoder::failPassedPackets(std::int64_t framePts) {
  // Pictures come out in presentation order: a call waiting for an earlier
  // time gets nothing more (its packet made no picture).
  std::vector<Pending> passed;
  for (auto entry = pending_.begin(); entry != pending_.end();) {
    if (entry->pts != AV_NOPTS_VALUE && entry->pts < framePts) {
      passed.push_back(std::move(*entry));
      entry = pending_.erase(entry);
    } else {
      ++entry;
    }
  }
  for (Pending& entry : passed) entry.handler(false, errorText(kNeverCameOutReason), nullptr);
}

void CVNVideoToolboxDecoder::failAll(const std::string& text) {
  std::deque<Pending> pending = std::move(pending_);
  pending_.clear();
  for (Pending& entry : pending) entry.handler(false, text, nullptr);
}

void CVNVideoToolboxDecoder::invalidate() {
  pending_.clear();
  seam_.reset();  // closes the codec under the shared lock
  avcodec_free_context(&codecContext_);
  pixelBufferPool_.reset();
}

SampleBufferRef CVNVideoToolboxDecoder::createSampleBufferFromFrame(const AVFrame& frame,
                                                                    const std::optional<std::vector<std::uint8_t>>& captions,
                                                                    std::string* error) {
  std::shared_ptr<pm::PixelBuffer> buffer;
  if (!pixelBufferPool_ || pixelBufferPool_->createPixelBuffer(&buffer) != pm::kCVReturnSuccess) {
    *error = isIMX_ ? "Failed to create IMX PixelBuffer (pool error)" : "failed to create pixel buffer";
    return nullptr;
  }
  buffer->lockBaseAddress(pm::PixelBufferLockFlags::None);
  const auto frameHeight = static_cast<std::size_t>(frame.height);
  const auto height = static_cast<std::size_t>(outputHeight_);
  RowBand source{0, frameHeight};
  RowBand destination{0, height};
  if (isIMX_) {
    // The picture starts below the padding, a line earlier for the other field first.
    const std::size_t first = topPaddingPixels_ - (reverseField_ && topPaddingPixels_ > 0 ? 1 : 0);
    source = {first, frameHeight > first ? std::min(frameHeight - first, height) : 0};
  } else if (placement_) {
    // A negative first line drops the picture's top lines instead.
    const std::size_t skipped = placement_->firstLine < 0 ? static_cast<std::size_t>(-placement_->firstLine) : 0;
    const std::size_t firstLine = placement_->firstLine > 0 ? static_cast<std::size_t>(placement_->firstLine) : 0;
    const std::size_t available = frameHeight > skipped ? frameHeight - skipped : 0;
    const std::size_t rows = firstLine < height ? std::min(available, height - firstLine) : 0;
    source = {skipped, rows};
    destination = {firstLine, rows};
  }
  std::string conversionError;
  const bool converted = converter_.convert(frame, source, *buffer, destination, &conversionError);
  buffer->unlockBaseAddress(pm::PixelBufferLockFlags::None);
  if (!converted) {
    *error = isIMX_ ? "Failed to create IMX PixelBuffer" : conversionError;
    return nullptr;
  }
  const pm::FormatDescriptionRef description = pm::FormatDescription::createForPixelBuffer(*buffer);
  if (!description) {
    *error = "failed to create VideoFormatDescription";
    return nullptr;
  }
  pm::SampleTimingInfo timing;
  timing.duration = MediaTime::make(frame.pkt_duration, timescale_);
  timing.presentationTimeStamp =
      MediaTime::make(frame.best_effort_timestamp == AV_NOPTS_VALUE ? 0 : frame.best_effort_timestamp, timescale_);
  // See the FFmpeg decoder: the catch-up of missing frames runs on it.
  timing.decodeTimeStamp = frame.pkt_dts == AV_NOPTS_VALUE ? MediaTime::invalid() : MediaTime::make(frame.pkt_dts, timescale_);
  SampleBufferRef sample;
  if (pm::SampleBuffer::createForImageBuffer(buffer, description, timing, &sample) != pm::kSampleBufferNoError) {
    *error = "failed to create SampleBuffer from pixelBuffer";
    return nullptr;
  }
  if (captions) {
    sample->createSampleAttachmentsIfNeeded();
    sample->setSampleAttachment(0, "a53CCData", platform::Value(platform::Data(*captions)));
    sample->setSampleAttachment(0, "a53CCPTS", platform::Value(static_cast<std::int64_t>(timing.presentationTimeStamp.value)));
  }
  return sample;
}

}  // namespace media
