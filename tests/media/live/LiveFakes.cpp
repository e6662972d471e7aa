#include "tests/media/live/LiveFakes.h"

#include <algorithm>

#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/PixelFormat.h"

namespace media::testing {

namespace pm = platform::media;

std::shared_ptr<const pluginframework::CVNDisplayMode> ScriptedInput::selectedDisplayMode() const {
  std::lock_guard guard(mutex_);
  return mode_;
}

void ScriptedInput::setSelectedDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode) {
  std::lock_guard guard(mutex_);
  mode_ = std::move(mode);
}

bool ScriptedInput::startCapture(platform::Error*) {
  running_.store(true);
  return true;
}

void CountingDelegate::ziraSessionDidNotReceiveAnyFramesSince(CVNSessionBase&, double seconds) {
  std::lock_guard guard(mutex_);
  outages_.push_back(seconds);
}

void CountingDelegate::add(std::string call) {
  std::lock_guard guard(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<std::string> CountingDelegate::calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

std::size_t CountingDelegate::count(const std::string& call) const {
  std::lock_guard guard(mutex_);
  return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), call));
}

std::vector<double> CountingDelegate::outages() const {
  std::lock_guard guard(mutex_);
  return outages_;
}

pm::SampleBufferRef videoFrame(std::int64_t index, std::int64_t frameDuration, std::int32_t timeScale,
                               std::size_t width, std::size_t height) {
  std::shared_ptr<pm::PixelBuffer> picture;
  pm::PixelBuffer::create(width, height, pm::kPixelFormat422YpCbCr8, {}, &picture);
  const pm::MediaTime pts = pm::MediaTime::make(index * frameDuration, timeScale);
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createForImageBuffer(picture, pm::FormatDescription::createForPixelBuffer(*picture),
                                         {pm::MediaTime::make(frameDuration, timeScale), pts, pts}, &sample);
  return sample;
}

pm::SampleBufferRef audioSamples(std::uint32_t frames, double rate, std::uint32_t channels) {
  pm::AudioStreamBasicDescription format;
  format.sampleRate = rate;
  format.formatID = pm::fourCC("lpcm");
  format.formatFlags = pm::kAudioFormatFlagIsSignedInteger | pm::kAudioFormatFlagIsPacked;
  format.bytesPerFrame = 2 * channels;
  format.bytesPerPacket = format.bytesPerFrame;
  format.framesPerPacket = 1;
  format.channelsPerFrame = channels;
  format.bitsPerChannel = 16;
  auto block = pm::BlockBuffer::create(std::size_t{frames} * format.bytesPerFrame);
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(block, pm::FormatDescription::createAudio(format), frames,
                                {{pm::MediaTime::make(1, static_cast<std::int32_t>(rate)), pm::MediaTime::zero(),
                                  pm::MediaTime::zero()}},
                                {format.bytesPerFrame}, &sample);
  return sample;
}

}  // namespace media::testing
