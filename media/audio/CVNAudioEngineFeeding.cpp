// The audio engine's data path: feeding inputs, conversion into the rings,
// alignment to the sync time and offline rendering.

#include <algorithm>
#include <cstring>

#include "media/audio/AudioEngineSupport.h"
#include "media/audio/CVNAudioEngine.h"

namespace media {

namespace pm = platform::media;
using pm::MediaTime;
using pm::MediaTimeRoundingMethod;

namespace {

constexpr std::uint32_t kRenderSliceFrames = 2048;

// Bytes of one frame in one ring of the input.
std::uint64_t ringFrameBytes(const CVNAudioInputContext& input) { return input.outputFormat().bytesPerPacket; }

std::uint64_t ringFrames(const CVNAudioInputContext& input, const CVNCircularBuffer& ring) {
  return ring.availableBytesForReading() / ringFrameBytes(input);
}

}  // namespace

void CVNAudioEngine::setSyncTime(MediaTime time) {
  const auto rate = static_cast<std::int32_t>(outputFormat().sampleRate);
  syncTime_ = rate > 0 ? time.convertScale(rate, MediaTimeRoundingMethod::QuickTime) : time;
  finishing_ = false;  // audio flows again from the new time
  for (const auto& input : inputs_) {
    input->clearAudioSyncToken();
    input->setRateConversionRemainder(0);
    input->setSamplesToDrop(0);
    input->resetQueue();
    if (input->audioConverter()) input->audioConverter()->reset();
    for (const auto& ring : input->circularBuffers()) ring->reset();
  }
}

void CVNAudioEngine::processAudioBuffer(const void* bytes, std::uint32_t samples, std::size_t trackIndex) {
  if (trackIndex >= inputs_.size() || !bytes || samples == 0) return;
  const pm::AudioStreamBasicDescription& format = inputs_[trackIndex]->format();
  const std::size_t length = std::size_t{outputFrameBytes(format)} * samples;
  auto block = pm::BlockBuffer::createWithMemory(static_cast<std::uint8_t*>(const_cast<void*>(bytes)), length, {});
  if (!block) {
    audioEngineLog(1, true, "Audio Engine could not create blockBuffer (Error: %i)", pm::kSampleBufferErrorRequiredParameterMissing);
    return;
  }
  const auto rate = static_cast<std::int32_t>(format.sampleRate);
  const pm::SampleTimingInfo timing{MediaTime::make(1, rate), MediaTime::invalid(), MediaTime::invalid()};
  pm::SampleBufferRef buffer;
  const pm::OSStatus status = pm::SampleBuffer::createReady(block, nullptr, samples, {timing}, {length / samples}, &buffer);
  if (status != pm::kSampleBufferNoError) {
    audioEngineLog(1, true, "Audio Engine could not create sampleBuffer (Error: %i)", static_cast<int>(status));
    return;
  }
  processBuffer(buffer, trackIndex, false);
}

void CVNAudioEngine::processBuffer(const pm::SampleBufferRef& buffer, std::size_t index, bool sync) {
  if (!buffer || index >= inputs_.size() || !started_) return;
  CVNAudioInputContext& input = *inputs_[index];
  if (input.circularBuffers().empty()) return;  // added after start
  if (sync && !alignToSyncTime(input, *buffer)) return;
  if (input.audioConverter()) {
    feedThroughConverter(input, buffer);
  } else {
    feedWithoutConverter(input, *buffer);
  }
}

bool CVNAudioEngine::alignToSyncTime(CVNAudioInputContext& input, const pm::SampleBuffer& buffer) {
  const auto rate = static_cast<std::int32_t>(outputFormat().sampleRate);
  const MediaTime t = buffer.presentationTimeStamp().convertScale(rate, MediaTimeRoundingMethod::QuickTime);
  if (!t.isNumeric() || !syncTime_.isNumeric()) return true;
  if (input.takeAudioSyncToken() && t.value > syncTime_.value) {
    const auto late = static_cast<std::uint64_t>(t.value - syncTime_.value);
    if ((input.audioConverter() || shouldUseGraph_) && inputs_.size() > 1) {
      if (!writeSilence(input, late)) {
        audioEngineLog(0, true,
                       "Error: Audio sync issue. Asked to sync to time %lli/%i and received audio with time %lli/%i",
                       static_cast<long long>(syncTime_.value), syncTime_.timeScale, static_cast<long long>(t.value),
                       t.timeScale);
      }
    } else {
      handOutSilence(late);
    }
  }
  if (t.value >= syncTime_.value) return true;
  if (AudioConverter* converter = input.audioConverter()) {
    // Decoded, then cut at the input's own rate: a decoder needs the packets
    // before the sync time for the audio after it, and a cut rounded to
    // output frames would shift the audio by a fraction of a frame. AAC too:
    // libavcodec hands out the encoder's priming as the packets carry it, and
    // no decoder here trims priming that silence would have to replace.
    const auto inputRate = static_cast<std::int32_t>(input.format().sampleRate);
    const MediaTime from = buffer.presentationTimeStamp().convertScale(inputRate, MediaTimeRoundingMethod::QuickTime);
    const MediaTime to = syncTime_.convertScale(inputRate, MediaTimeRoundingMethod::QuickTime);
    converter->skipInputFrames(to.value > from.value ? static_cast<std::uint64_t>(to.value - from.value) : 0);
    return true;
  }
  const auto early = static_cast<std::uint64_t>(syncTime_.value - t.value);
  const MediaTime duration = buffer.duration().convertScale(rate, MediaTimeRoundingMethod::QuickTime);
  if (!duration.isNumeric() || duration.value <= 0 || static_cast<std::uint64_t>(duration.value) <= early) {
    return false;
  }
  input.setSamplesToDrop(early);
  return true;
}

bool CVNAudioEngine::writeSilence(CVNAudioInputContext& input, std::uint64_t frames) {
  bool fitted = true;
  for (const auto& ring : input.circularBuffers()) {
    std::uint64_t bytes = frames * ringFrameBytes(input);
    if (bytes > ring->availableBytesForWriting()) {
      bytes = ring->availableBytesForWriting() / ringFrameBytes(input) * ringFrameBytes(input);
      fitted = false;
    }
    std::memset(ring->getWritePointer(), 0, bytes);
    ring->advanceWritePointer(bytes);
  }
  return fitted;
}

void CVNAudioEngine::handOutSilence(std::uint64_t frames) {
  const std::uint64_t frameBytes = outputFrameBytes(outputFormat());
  if (frameBytes == 0 || zeroBytes_.empty()) return;
  std::uint64_t bytes = frames * frameBytes;
  while (bytes > 0) {
    const std::uint64_t piece = std::min<std::uint64_t>(bytes, zeroBytes_.size());
    deliver(zeroBytes_.data(), piece);
    bytes -= piece;
  }
}

void CVNAudioEngine::feedWithoutConverter(CVNAudioInputContext& input, const pm::SampleBuffer& buffer) {
  const auto& block = buffer.dataBuffer();
  if (!block) return;
  const std::uint64_t frameBytes = outputFrameBytes(input.format());
  const std::uint64_t frames = frameBytes ? block->dataLength() / frameBytes : 0;
  if (!shouldUseGraph_) {
    const std::uint64_t dropped = std::min(frames, input.samplesToDrop());
    input.setSamplesToDrop(input.samplesToDrop() - dropped);
    deliver(block->data() + dropped * frameBytes, (frames - dropped) * frameBytes);
    return;
  }
  // Float planes one after the other: plane k goes to ring k.
  const auto& rings = input.circularBuffers();
  const std::uint64_t planeBytes = frames * ringFrameBytes(input);
  for (std::size_t k = 0; k < rings.size(); ++k) {
    std::uint64_t bytes = planeBytes;
    if (bytes > rings[k]->availableBytesForWriting()) {
      bytes = rings[k]->availableBytesForWriting() / ringFrameBytes(input) * ringFrameBytes(input);
      audioEngineLog(1, true, "%s: %llu frames of input audio did not fit its ring", name().c_str(),
                     static_cast<unsigned long long>((planeBytes - bytes) / ringFrameBytes(input)));
    }
    std::memcpy(rings[k]->getWritePointer(), block->data() + k * planeBytes, bytes);
    rings[k]->advanceWritePointer(bytes);
  }
  dropSamples(input, frames);
  processGraph();
}

void CVNAudioEngine::feedThroughConverter(CVNAudioInputContext& input, const pm::SampleBufferRef& buffer) {
  if (!input.enqueue(buffer)) {
    audioEngineLog(1, true, "%s: audio buffer dropped: too many waiting for the converter", name().c_str());
    return;
  }
  MediaTime duration = buffer->duration();
  if (!duration.isNumeric()) {
    const auto frames = static_cast<std::int64_t>(buffer->numSamples() * std::max(input.format().framesPerPacket, 1u));
    duration = MediaTime::make(frames, static_cast<std::int32_t>(input.format().sampleRate));
  }
  std::uint64_t remainder = input.rateConversionRemainder();
  std::uint32_t frames =
      outputFramesForDuration(duration, static_cast<std::int64_t>(input.outputFormat().sampleRate), &remainder);
  input.setRateConversionRemainder(remainder);
  const std::uint64_t frameBytes = ringFrameBytes(input);
  const auto& rings = input.circularBuffers();
  std::uint64_t room = UINT64_MAX;
  for (const auto& ring : rings) room = std::min(room, ring->availableBytesForWriting() / frameBytes);
  if (frames > room) {
    audioEngineLog(1, true, "%s: converted audio larger than the free space of its ring: %u frames wait", name().c_str(),
                   static_cast<unsigned>(frames - room));
    frames = static_cast<std::uint32_t>(room);
  }
  pm::AudioBufferList list;
  const bool planar = (input.outputFormat().formatFlags & pm::kAudioFormatFlagIsNonInterleaved) != 0;
  for (const auto& ring : rings) {
    list.buffers.push_back({planar ? 1 : input.outputFormat().channelsPerFrame,
                            static_cast<std::uint32_t>(frames * frameBytes), ring->getWritePointer()});
  }
  const AudioConverter::InputCallback supply = [&input](AudioConverterInput* data) {
    const pm::SampleBufferRef next = input.getNextSampleBufferAndReleaseLastDequeuedSampleBuffer();
    if (!next || !next->dataBuffer()) return kAudioConverterInputRanDry;
    data->data = next->dataBuffer()->data();
    data->byteSize = next->totalSampleSize() ? next->totalSampleSize() : next->dataBuffer()->dataLength();
    data->byteSize = std::min(data->byteSize, next->dataBuffer()->dataLength());
    data->packets = static_cast<std::uint32_t>(next->numSamples());
    data->packetDescriptions = &next->packetDescriptions();
    return kAudioNoError;
  };
  std::uint32_t produced = frames;
  const AudioStatus status = input.audioConverter()->fillComplexBuffer(supply, list, &produced);
  if (status == kAudioNoError || status == kAudioConverterInputRanDry) {
    for (const auto& ring : rings) ring->advanceWritePointer(produced * frameBytes);
    dropSamples(input, produced);
  } else {
    audioEngineLog(1, true, "Could not convert audio to output format. AudioConverter error: %i", status);
  }
  if (shouldUseGraph_) {
    processGraph();
  } else {
    handOutFirstRing(input);
  }
}

void CVNAudioEngine::dropSamples(CVNAudioInputContext& input, std::uint64_t produced) {
  const std::uint64_t dropped = std::min(produced, input.samplesToDrop());
  if (dropped == 0) return;
  for (const auto& ring : input.circularBuffers()) ring->advanceReadPointer(dropped * ringFrameBytes(input));
  input.setSamplesToDrop(input.samplesToDrop() - dropped);
}

void CVNAudioEngine::handOutFirstRing(CVNAudioInputContext& input) {
  CVNCircularBuffer& ring = *input.circularBuffers().front();
  const std::uint64_t bytes = ring.availableBytesForReading();
  if (bytes == 0) return;
  deliver(ring.getReadPointer(), bytes);
  ring.advanceReadPointer(bytes);
}

void CVNAudioEngine::deliver(const std::uint8_t* bytes, std::size_t count) {
  const OutputCallback callback = outputCallback();
  if (callback && count > 0) callback(bytes, count);
}

std::int32_t CVNAudioEngine::feedAudioBufferList(pm::AudioBufferList& list, std::uint32_t numSamples,
                                                 std::uint32_t* flags, std::uint32_t bus) {
  (void)flags;  // only device mode marks silence
  if (bus >= inputs_.size()) return kAudioConverterErrFormatNotSupported;
  CVNAudioInputContext& input = *inputs_[bus];
  const auto& rings = input.circularBuffers();
  const std::uint64_t frameBytes = ringFrameBytes(input);
  for (std::size_t k = 0; k < rings.size() && k < list.buffers.size(); ++k) {
    CVNCircularBuffer& ring = *rings[k];
    std::uint64_t frames = std::min<std::uint64_t>(numSamples, ringFrames(input, ring));
    if (finishing_ && frames < numSamples) {
      const std::uint64_t padding = (numSamples - frames) * frameBytes;
      std::memset(ring.getWritePointer(), 0, padding);
      ring.advanceWritePointer(padding);
      frames = numSamples;
    }
    // The bytes stay in place until the producer's next write, which comes after this render.
    list.buffers[k] = {1, static_cast<std::uint32_t>(frames * frameBytes), ring.getReadPointer()};
    ring.advanceReadPointer(frames * frameBytes);
  }
  return 0;
}

std::uint64_t CVNAudioEngine::samplesAvailableForProcessing() const {
  if (inputs_.empty()) return 0;
  std::uint64_t least = UINT64_MAX;
  std::uint64_t most = 0;
  for (const auto& input : inputs_) {
    const std::uint64_t frames =
        input->circularBuffers().empty() ? 0 : ringFrames(*input, *input->circularBuffers().front());
    least = std::min(least, frames);
    most = std::max(most, frames);
  }
  // Finishing renders everything buffered: the shorter inputs are padded.
  return finishing_ ? most : least;
}

void CVNAudioEngine::processGraph() {
  if (!shouldUseGraph_ || !mixer_ || !outputStage_) return;
  const pm::AudioStreamBasicDescription output = outputFormat();
  const std::uint32_t channels = mixer_->outputChannelCount();
  const std::uint32_t frameBytes = outputFrameBytes(output);
  const bool planar = (output.formatFlags & pm::kAudioFormatFlagIsNonInterleaved) != 0;
  const std::uint32_t sampleBytes = planar ? output.bytesPerFrame : frameBytes;
  const MatrixMixer::PullBus pull = [this](std::uint32_t bus, std::uint32_t frames, pm::AudioBufferList& list) {
    return feedAudioBufferList(list, frames, nullptr, bus);
  };
  while (true) {
    std::uint64_t available = samplesAvailableForProcessing();
    if (available == 0) break;
    const auto frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(available, kRenderSliceFrames));
    for (std::uint32_t c = 0; c < channels; ++c) mixerPlanePointers_[c] = mixerPlanes_.data() + std::size_t{c} * frames;
    mixer_->render(frames, pull, mixerPlanePointers_.data());

    const std::uint32_t room = outputRoomFrames(frames, output);
    pm::AudioBufferList list;
    for (std::uint32_t p = 0; p < (planar ? channels : 1); ++p) {
      list.buffers.push_back({planar ? 1 : channels, room * sampleBytes, renderedOutput_.data() + std::size_t{p} * room * sampleBytes});
    }
    bool supplied = false;
    const AudioConverter::InputCallback supply = [&](AudioConverterInput* data) {
      if (supplied) return kAudioConverterInputRanDry;
      supplied = true;
      data->data = reinterpret_cast<const std::uint8_t*>(mixerPlanes_.data());
      data->byteSize = std::size_t{frames} * channels * sizeof(float);
      data->packets = frames;
      return kAudioNoError;
    };
    std::uint32_t produced = room;
    const AudioStatus status = outputStage_->fillComplexBuffer(supply, list, &produced);
    if (status != kAudioNoError && status != kAudioConverterInputRanDry) {
      audioEngineLog(0, true, "AudioUnit rendering failed. Error: %i", status);
      produced = 0;
    }
    if (planar) {  // planes one after the other for the callback
      for (std::uint32_t p = 1; p < channels; ++p) {
        std::memmove(renderedOutput_.data() + std::size_t{p} * produced * sampleBytes,
                     renderedOutput_.data() + std::size_t{p} * room * sampleBytes, std::size_t{produced} * sampleBytes);
      }
    }
    deliver(renderedOutput_.data(), std::size_t{produced} * frameBytes);
  }
}

}  // namespace media
