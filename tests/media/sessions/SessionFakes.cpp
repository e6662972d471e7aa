#include "tests/media/sessions/SessionFakes.h"

#include <algorithm>
#include <cstring>

#include "platform/media/BlockBuffer.h"
#include "platform/media/PixelBuffer.h"
#include "pluginframework/CVNTimeValue.h"

namespace session_fakes {

pm::AudioStreamBasicDescription pcm16Stereo() {
  pm::AudioStreamBasicDescription format;
  format.sampleRate = 48000;
  format.formatID = pm::fourCC("lpcm");
  format.formatFlags = 12;
  format.bytesPerPacket = 4;
  format.framesPerPacket = 1;
  format.bytesPerFrame = 4;
  format.channelsPerFrame = 2;
  format.bitsPerChannel = 16;
  return format;
}

pm::SampleBufferRef videoSample(std::int64_t index, double fps, bool doNotDisplay) {
  const auto rate = static_cast<std::int32_t>(fps * 1000);
  const pm::SampleTimingInfo timing{pm::MediaTime::make(1000, rate), pm::MediaTime::make(index * 1000, rate),
                                    pm::MediaTime::invalid()};
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(pm::BlockBuffer::create(16), pm::FormatDescription::createVideo(pm::fourCC("avc1"), {64, 36}),
                                1, {timing}, {16}, &sample);
  if (doNotDisplay) sample->createSampleAttachmentsIfNeeded();
  if (doNotDisplay) sample->setSampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay, true);
  return sample;
}

pm::SampleBufferRef audioSample(std::int64_t start, std::uint32_t frames) {
  const auto block = pm::BlockBuffer::create(static_cast<std::size_t>(frames) * 4);
  auto* values = reinterpret_cast<std::int16_t*>(block->data());
  for (std::uint32_t i = 0; i < frames * 2; ++i) values[i] = static_cast<std::int16_t>((start * 2 + i) & 0x7fff);
  const pm::SampleTimingInfo timing{pm::MediaTime::make(1, 48000), pm::MediaTime::make(start, 48000),
                                    pm::MediaTime::invalid()};
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(block, pm::FormatDescription::createAudio(pcm16Stereo()), frames, {timing}, {4}, &sample);
  return sample;
}

pm::SampleBufferRef timecodeSample(std::int64_t index, double fps) {
  const auto value = pluginframework::CVNTimeValue::initWithFrameNumber(index, fps, false);
  const auto rate = static_cast<std::int32_t>(fps * 1000);
  return value.createTimecodeSampleBufferWithPTS(pm::MediaTime::make(index * 1000, rate),
                                                 value.createTimecodeFormatDescription());
}

pm::SampleBufferRef decodedFrame(pm::MediaTime pts, pm::MediaTime duration, pm::MediaTime dts) {
  std::shared_ptr<pm::PixelBuffer> picture;
  pm::PixelBuffer::create(16, 16, pm::fourCC("2vuy"), {}, &picture);
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createForImageBuffer(picture, pm::FormatDescription::createForPixelBuffer(*picture),
                                         {duration, pts, dts}, &sample);
  return sample;
}

FakeReader::FakeReader(Setup setup)
    : CVNAssetReader(media::MediaURL::fileURLWithPath("/nonexistent/fake.mov"), std::string("fake clip")),
      setup_(std::move(setup)) {
  setAssetType(setup_.assetType);
  isValid_ = setup_.valid;
  validationError_ = setup_.valid ? 0 : 6;
  for (std::int64_t i = 0; i < setup_.audioTracks; ++i) {
    audioFormatDescriptionArray_.push_back(pm::FormatDescription::createAudio(pcm16Stereo()));
  }
  setDuration(pm::MediaTime::make(60, 1));
}

pm::MediaTime FakeReader::frameRateAsCMTime() const {
  if (!(setup_.fps > 0) || setup_.fps > 1e6) return pm::MediaTime::make(0, 1);
  return pm::MediaTime::makeWithSeconds(setup_.fps, 1000);
}

pm::MediaTime FakeReader::frameDuration() const {
  if (!(setup_.fps > 0) || setup_.fps > 1e6) return pm::MediaTime::invalid();
  return pm::MediaTime::make(1000, static_cast<std::int32_t>(setup_.fps * 1000));
}

pm::SampleBufferRef FakeReader::nextSampleBufferForTrackIndex(std::int32_t* trackIndex) {
  const auto index = next_.load();
  if (index < setup_.samples.size()) {
    next_.store(index + 1);
    *trackIndex = setup_.samples[index].track;
    return setup_.samples[index].sample;
  }
  if (setup_.endsAfterScript) finishedReading_ = true;
  emptyAnswers_.fetch_add(1);
  return nullptr;
}

void FakeReader::seekToTime(double seconds, bool precisely, bool) {
  std::lock_guard guard(seeksMutex_);
  seeks_.push_back({seconds, precisely});
}

std::vector<FakeReader::Seek> FakeReader::seeks() const {
  std::lock_guard guard(seeksMutex_);
  return seeks_;
}

void FakeReader::updateOutPoint(double seconds) {
  setOutPoint(pm::MediaTime::makeWithSeconds(seconds, 1000));
  if (!finishedReading_) return;
  // One more frame up to the later out point.
  finishedReading_ = false;
  setup_.samples.push_back({videoSample(100000, setup_.fps), 0});
}

void FakeDecoder::decodeSampleBuffer(const pm::SampleBufferRef& sample, bool, media::DecodeCompletionHandler handler) {
  if (record_->echoes.load()) handler(true, std::nullopt, decodedFrame(sample->presentationTimeStamp(), sample->duration()));
}

void PassThroughAudio::processBuffer(const pm::SampleBufferRef& buffer, std::size_t, bool) {
  if (callback_ && buffer && buffer->dataBuffer()) {
    callback_(buffer->dataBuffer()->data(), buffer->dataBuffer()->dataLength());
  }
}

std::vector<std::string> RecordingDelegate::calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

std::size_t RecordingDelegate::count(const std::string& call) const {
  std::lock_guard guard(mutex_);
  return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), call));
}

void RecordingDelegate::add(std::string call) {
  std::lock_guard guard(mutex_);
  calls_.push_back(std::move(call));
}

media::DecompressionSessionServices fakeServices(std::shared_ptr<FakeDecoder::Record> record, std::int64_t framesNeeded,
                                                 bool audioStarts) {
  media::DecompressionSessionServices services;
  services.makeDecoder = [record, framesNeeded](const media::CVNAssetReader&) -> std::unique_ptr<media::CVNDecoderProtocol> {
    if (framesNeeded < 0) return nullptr;
    return std::make_unique<FakeDecoder>(record, framesNeeded);
  };
  services.makeAudio = [audioStarts](const std::string&) -> std::unique_ptr<media::SessionAudio> {
    return std::make_unique<PassThroughAudio>(audioStarts);
  };
  return services;
}

}  // namespace session_fakes
