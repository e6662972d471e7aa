// Captions, timecode and subtitles of a session.

#include <algorithm>
#include <cctype>

#include "captions/CVNCCUtilities.h"
#include "media/sessions/CVNSessionBase.h"

namespace media {

namespace pm = platform::media;

void CVNSessionBase::enqueueClosedCaptionSampleBuffer(const pm::SampleBufferRef& sample) {
  if (!sample || !closedCaptionQueue_) return;
  const auto mode = outputDisplayMode();
  const double outputRate = mode ? mode->frameRateAsCMTime().seconds() : 0.0;
  const double ratio = outputRate > 0 ? frameRateAsCMTime().seconds() / outputRate : 1.0;
  const auto fd = mode ? mode->frameDurationAsCMTime() : pm::MediaTime::invalid();
  if (ratio > 1.999 && ratio < 2.001) {
    if (!pendingCaption_) {
      pendingCaption_ = sample;
      return;
    }
    if (auto joined = captions::CVNCCUtilities::createConcatenatedSampleBufferWithSampleBuffer(pendingCaption_, sample, fd)) {
      closedCaptionQueue_->enqueue(std::move(joined));
    }
    pendingCaption_.reset();
  } else if (ratio > 0.499 && ratio < 0.501) {
    pm::SampleBufferRef first;
    pm::SampleBufferRef second;
    if (!captions::CVNCCUtilities::splitSampleBuffer(sample, &first, &second, fd)) return;
    if (first) closedCaptionQueue_->enqueue(std::move(first));
    if (second) closedCaptionQueue_->enqueue(std::move(second));
  } else {
    closedCaptionQueue_->enqueue(sample);
  }
}

pm::SampleBufferRef CVNSessionBase::nextClosedCaptionSampleBufferWithPTS(pm::MediaTime pts) {
  {
    std::lock_guard guard(propertiesMutex_);
    if (subtitlesPacketizer_) return subtitlesPacketizer_->copyNextSubtitleSampleBufferAtPTS(pts, outputFrameDuration_);
  }
  const auto format = closedCaptionFormatDescription();
  if (!format) return nullptr;
  if (!closedCaptionQueue_ || closedCaptionQueue_->isEmpty()) {
    if (format->mediaSubType() == pm::fourCC("c708")) {
      return captions::CVNCCUtilities::createEmptyCEA708SampleBufferWithPTS(pts, outputFrameDuration(), 0);
    }
    if (format->mediaSubType() == pm::fourCC("c608")) {
      return captions::CVNCCUtilities::createEmptyCEA608SampleBufferWithPTS(pts, outputFrameDuration(), 0);
    }
    return nullptr;
  }
  const auto head = closedCaptionQueue_->head();
  if (head && pm::compare(head->presentationTimeStamp(), pts) <= 0) return closedCaptionQueue_->dequeue();
  return nullptr;
}

pm::SampleBufferRef CVNSessionBase::nextTimecodeSampleBufferWithPTS(pm::MediaTime pts) {
  if (timecodeQueue_) {
    const auto head = timecodeQueue_->head();
    if (head && pm::compare(head->presentationTimeStamp(), pts) <= 0) {
      auto sample = timecodeQueue_->dequeue();
      setLastReturnedTimecode(pluginframework::CVNTimeValue::timeValueWithTimecodeSampleBuffer(*sample));
      return sample;
    }
  }
  const auto last = lastReturnedTimecode();
  const auto next = last ? pluginframework::CVNTimeValue::initWithFrameNumber(last->frameNumber() + 1,
                                                                             last->framesPerSecond(), last->isDropFrame())
                         : pluginframework::CVNTimeValue::initWithFrameNumber(0, frameRateAsCMTime().seconds(), false);
  setLastReturnedTimecode(next);
  // Described by the value itself, so the sample carries its rate and drop-frame flag.
  return next.createTimecodeSampleBufferWithPTS(pts, next.createTimecodeFormatDescription());
}

std::int32_t CVNSessionBase::subtitleMode() const {
  const auto mode = outputDisplayMode();
  return mode && mode->isPAL() ? 2 : 1;
}

namespace {

std::unique_ptr<captions::CVNSubtitlesPacketizer> newPacketizer(std::int32_t mode,
                                                                const pluginframework::CVNDisplayMode* display) {
  return std::make_unique<captions::CVNSubtitlesPacketizer>(mode, display && display->height() >= 577);
}

}  // namespace

void CVNSessionBase::addSubtitleRecords(const captions::SubtitleRecords& records) {
  const std::int32_t mode = subtitleMode();
  const auto display = outputDisplayMode();
  const double frameSeconds = outputFrameDuration().isValid() ? outputFrameDuration().seconds() : 0.0;
  if (mode == 1) {
    // CEA-608 sends a caption over several frames: start it that much earlier.
    for (const auto& record : records) {
      if (!record) continue;
      const double offset = record->numberOfPacketsAsCEA608() * frameSeconds;
      const double start = record->startTimeInSeconds();
      const double end = record->endTimeInSeconds();
      record->setStartTimeInSeconds(start < offset ? 0.0 : start - offset);
      record->setEndTimeInSeconds(end < offset ? 0.0 : end - offset);
    }
  }
  std::lock_guard guard(propertiesMutex_);
  if (!subtitlesPacketizer_) subtitlesPacketizer_ = newPacketizer(mode, display.get());
  subtitlesPacketizer_->addSubtitleRecords(records);
}

void CVNSessionBase::deleteSubtitleRecords() {
  std::lock_guard guard(propertiesMutex_);
  if (subtitlesPacketizer_) subtitlesPacketizer_->deleteSubtitleRecords();
}

std::optional<captions::SubtitleRecords> CVNSessionBase::subtitleRecords() const {
  std::lock_guard guard(propertiesMutex_);
  if (!subtitlesPacketizer_) return std::nullopt;
  return subtitlesPacketizer_->subtitleRecords();
}

void CVNSessionBase::setSubtitleFilePath(const std::filesystem::path& path) {
  const std::int32_t mode = subtitleMode();
  const auto display = outputDisplayMode();
  auto packetizer = newPacketizer(mode, display.get());
  std::string extension = path.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto keep = [&packetizer](captions::SubtitleRecords records) {
    packetizer->setSubtitleRecords(std::move(records));
  };
  if (extension == "stl") {
    captions::CVNSTLFileReader::subtitleRecordsFromSTLFileAtPath(path, keep);
  } else if (extension == "srt") {
    captions::CVNSRTFileReader::subtitleRecordsFromSRTFileAtPath(
        path, mode, display ? display->frameDurationAsCMTime() : pm::MediaTime::invalid(), keep);
  }
  std::lock_guard guard(propertiesMutex_);
  subtitlesPacketizer_ = std::move(packetizer);
}

}  // namespace media
