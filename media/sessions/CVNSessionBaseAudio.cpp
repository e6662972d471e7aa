// Audio hand-out: straight from the ring when it holds enough, else the ring's
// remainder plus silence from the session's own block. Silence handed out is
// owed: once more than three requests' worth is buffered, that much audio is
// skipped so the sound catches up with the picture.

#include <cmath>
#include <cstring>

#include "foundation/CVNLogController.h"
#include "media/sessions/CVNSessionBase.h"

namespace media {

namespace {

void logAudio(const std::string& text, std::uint32_t level, bool show) {
  foundation::CVNLogController::sharedLogController().logMessage(text, static_cast<std::int32_t>(level), show);
}

}  // namespace

void CVNSessionBase::createAudioOutput(const std::string& ringName, std::uint64_t ringBytes) {
  const auto format = outputAudioStreamBasicDescription();
  // One output frame's samples; at least 2002 so the slowest rates fit.
  std::uint32_t samples = kMinimumAudioScratchSamples;
  const auto frame = outputFrameDuration();
  if (frame.isValid() && frame.value > 0) {
    const double needed = std::ceil(frame.seconds() * format.sampleRate);
    if (needed > samples && needed < 48000.0 * 10) samples = static_cast<std::uint32_t>(needed);
  }
  audioScratchSamples_ = samples;
  audioScratch_.assign(static_cast<std::size_t>(samples) * format.bytesPerPacket, 0);
  circularAudioBuffer_ = std::make_shared<CVNCircularBuffer>(ringName, ringBytes);
  resetAudioCounters();
}

void CVNSessionBase::dropAudioOutput() { circularAudioBuffer_.reset(); }

void CVNSessionBase::resetAudioCounters() {
  audioSamplesBuffered_.store(0);
  audioBytesToDiscard_ = 0;
  audioSamplesLateToLog_ = 0;
  lastAudioReadSize_ = 0;
}

void CVNSessionBase::resetAudioHandOut() {
  if (circularAudioBuffer_) circularAudioBuffer_->reset();
  audioSamplesBuffered_.store(0);
  audioHandOutResetRequested_.store(true);
}

void CVNSessionBase::subtractBufferedSamples(std::uint64_t samples) {
  // Saturating: the producer adds only after writing, so the count never owes.
  auto current = audioSamplesBuffered_.load();
  std::uint32_t next;
  do {
    next = samples >= current ? 0 : current - static_cast<std::uint32_t>(samples);
  } while (!audioSamplesBuffered_.compare_exchange_weak(current, next));
}

void CVNSessionBase::logLateAudio() {
  logAudio("Warning: Audio was late by " + std::to_string(audioSamplesLateToLog_) + " samples", 1, false);
  audioSamplesLateToLog_ = 0;
}

const std::uint8_t* CVNSessionBase::nextAudioSamples(std::uint32_t n) {
  const auto ring = circularAudioBuffer_;
  const std::uint64_t b = outputAudioStreamBasicDescription().bytesPerPacket;
  if (!ring || b == 0 || audioScratch_.empty()) return nullptr;
  if (n > audioScratchSamples_) {
    logAudio("Warning: Audio request of " + std::to_string(n) + " samples cut to " +
                 std::to_string(audioScratchSamples_),
             1, false);
    n = audioScratchSamples_;
  }
  const std::uint64_t a = static_cast<std::uint64_t>(n) * b;
  if (audioHandOutResetRequested_.exchange(false)) {
    // The ring was emptied: nothing read before may be skipped now.
    audioBytesToDiscard_ = 0;
    audioSamplesLateToLog_ = 0;
    lastAudioReadSize_ = 0;
  }

  if (lastAudioReadSize_ != 0) {
    ring->advanceReadPointer(static_cast<std::uint64_t>(lastAudioReadSize_));
    lastAudioReadSize_ = 0;
  }
  const std::uint64_t avail = ring->availableBytesForReading();

  if (audioBytesToDiscard_ != 0 && avail > 3 * a) {
    const std::uint64_t d = std::min(avail - 3 * a, audioBytesToDiscard_);
    if (audioSamplesLateToLog_ != 0) logLateAudio();
    logAudio("Warning: Dropped " + std::to_string(d / b) + " audio samples to keep sync", 1, false);
    ring->advanceReadPointer(d);
    audioBytesToDiscard_ -= d;
    subtractBufferedSamples(d / b);
    // avail keeps its earlier value: it still exceeds a.
  }

  if (a <= avail) {
    if (audioSamplesLateToLog_ != 0) logLateAudio();
    subtractBufferedSamples(n);
    lastAudioReadSize_ = static_cast<std::int64_t>(a);
    return ring->getReadPointer();
  }

  const std::uint64_t missing = a - avail;
  if (avail > 0) {
    std::memcpy(audioScratch_.data(), ring->getReadPointer(), avail);
    lastAudioReadSize_ = static_cast<std::int64_t>(avail);
    subtractBufferedSamples(avail / b);
  } else if (audioSamplesLateToLog_ >= 48001) {
    logLateAudio();
  }
  std::memset(audioScratch_.data() + avail, 0, missing);
  audioBytesToDiscard_ += missing;
  audioSamplesLateToLog_ += missing / b;
  return audioScratch_.data();
}

}  // namespace media
