#include "media/preview/CVNAudioPreview.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "media/preview/PulseAudioPreviewStream.h"
#include "platform/Diagnostics.h"

namespace media {

platform::media::AudioStreamBasicDescription previewAudioFormat(std::uint32_t channels) {
  platform::media::AudioStreamBasicDescription format;
  format.sampleRate = 48000.0;
  format.formatID = 0x6C70636D;  // 'lpcm'
  format.formatFlags = 0xC;      // signed integer, packed
  format.bytesPerPacket = 2 * channels;
  format.framesPerPacket = 1;
  format.bytesPerFrame = 2 * channels;
  format.channelsPerFrame = channels;
  format.bitsPerChannel = 16;
  return format;
}

CVNAudioPreview::CVNAudioPreview() : CVNAudioPreview(PulseAudioPreviewStream::factory()) {}

CVNAudioPreview::CVNAudioPreview(AudioPreviewStreamFactory streamFactory) : streamFactory_(std::move(streamFactory)) {}

CVNAudioPreview::~CVNAudioPreview() { destroyAudioPreviewQueue(); }

void CVNAudioPreview::configureAudioPreviewWithAudioStreamBasicDescription(
    const platform::media::AudioStreamBasicDescription& format) {
  destroyAudioPreviewQueue();
  if (samplesPerBuffer_ <= 0 || format.bytesPerPacket == 0) return;
  const std::size_t capacity = static_cast<std::size_t>(samplesPerBuffer_) * format.bytesPerPacket;
  for (auto& buffer : buffers_) buffer.assign(capacity, 0);
  nextBuffer_ = 0;
  {
    const std::lock_guard lock(mutex_);
    bufferBytes_ = capacity;
    for (auto& block : blocks_) {
      block.bytes.assign(capacity, 0);
      block.size = 0;
    }
    oldest_ = 0;
    pending_ = 0;
  }
  auto stream = streamFactory_ ? streamFactory_(format, capacity,
                                                [this](AudioPreviewStream& s) { audioQueueOutputCallbackWithAvailableBuffer(s); })
                               : nullptr;
  if (!stream) {
    const std::lock_guard lock(mutex_);
    bufferBytes_ = 0;
    return;
  }
  for (std::size_t i = 0; i < kBufferCount; ++i) audioQueueOutputCallbackWithAvailableBuffer(*stream);
  stream->start();
  stream_ = std::move(stream);
}

bool CVNAudioPreview::isConfigured() const { return stream_ != nullptr; }

void CVNAudioPreview::addPointer(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0 || bytes == nullptr) return;
  const std::lock_guard lock(mutex_);
  if (bufferBytes_ == 0) return;  // unconfigured: no blocks
  if (pending_ == kMaximumPendingBlocks) {
    oldest_ = (oldest_ + 1) % kMaximumPendingBlocks;
    --pending_;
  }
  auto& block = blocks_[(oldest_ + pending_) % kMaximumPendingBlocks];
  // A block larger than a buffer would be cut at refill anyway.
  block.size = std::min(size, bufferBytes_);
  std::memcpy(block.bytes.data(), bytes, block.size);
  ++pending_;
}

void CVNAudioPreview::audioQueueOutputCallbackWithAvailableBuffer(AudioPreviewStream& stream) {
  auto& buffer = buffers_[nextBuffer_];
  nextBuffer_ = (nextBuffer_ + 1) % kBufferCount;
  std::size_t byteSize = buffer.size();
  {
    const std::lock_guard lock(mutex_);
    if (pending_ > 0) {
      const auto& block = blocks_[oldest_];
      byteSize = std::min(block.size, buffer.size());
      std::memcpy(buffer.data(), block.bytes.data(), byteSize);
      oldest_ = (oldest_ + 1) % kMaximumPendingBlocks;
      --pending_;
    } else {
      std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    }
  }
  const int error = stream.enqueue(buffer.data(), byteSize);
  if (error != 0 && error != AudioPreviewStream::kEnqueueDuringReset) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, "Enqueue error: " + std::to_string(error));
  }
}

void CVNAudioPreview::start() {
  if (stream_) stream_->start();
}

void CVNAudioPreview::pause() {
  if (stream_) stream_->pause();
}

void CVNAudioPreview::stop() {
  if (stream_) stream_->stop();
}

void CVNAudioPreview::destroyAudioPreviewQueue() {
  // The stream's destructor returns only once no write request runs.
  stream_.reset();
  const std::lock_guard lock(mutex_);
  bufferBytes_ = 0;
  oldest_ = 0;
  pending_ = 0;
}

void CVNAudioPreview::setVolume(double volume) {
  const double clamped = std::clamp(std::isnan(volume) ? 0.0 : volume, 0.0, 1.0);
  if (std::fabs(clamped - volume_) <= 0.01 || !stream_) return;
  volume_ = clamped;
  if (!stream_->setVolume(clamped)) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error, "Failed to update preview volume");
  }
}

}  // namespace media
