#include "media/audio/CVNAudioInputContext.h"

namespace media {

namespace {

// Owners feed one buffer per call and the converter drains the queue in the
// same call; the bound only guards against a converter that keeps failing.
constexpr std::size_t kQueueCapacity = 256;

}  // namespace

CVNAudioInputContext::CVNAudioInputContext(const platform::media::AudioStreamBasicDescription& format, double volume,
                                           std::uint64_t outputChannelOffset)
    : bufferQueue_(kQueueCapacity, platform::media::SampleBufferQueue::Order::Arrival),
      volume_(volume),
      outputChannelOffset_(outputChannelOffset),
      format_(format) {}

bool CVNAudioInputContext::takeAudioSyncToken() {
  if (audioSyncToken_) return false;
  audioSyncToken_ = true;
  return true;
}

bool CVNAudioInputContext::enqueue(platform::media::SampleBufferRef buffer) {
  return bufferQueue_.enqueue(std::move(buffer)) == platform::media::kSampleBufferNoError;
}

platform::media::SampleBufferRef CVNAudioInputContext::getNextSampleBufferAndReleaseLastDequeuedSampleBuffer() {
  lastDequeuedSampleBuffer_ = bufferQueue_.dequeue();
  return lastDequeuedSampleBuffer_;
}

void CVNAudioInputContext::resetQueue() {
  bufferQueue_.reset();
  lastDequeuedSampleBuffer_.reset();
}

}  // namespace media
