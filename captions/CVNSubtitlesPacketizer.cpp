#include "captions/CVNSubtitlesPacketizer.h"

#include <algorithm>

#include "captions/CVNCCUtilities.h"
#include "captions/CaptionSamples.h"

namespace captions {

using platform::media::MediaTime;
using platform::media::SampleBufferRef;
using platform::media::SampleTimingInfo;

void CVNSubtitlesPacketizer::setSubtitleMode(std::int32_t mode) {
  subtitleMode_ = mode;
  restart();
}

void CVNSubtitlesPacketizer::addSubtitleRecords(const SubtitleRecords& records) {
  for (const auto& record : records) {
    if (record) records_.push_back(record);
  }
  std::stable_sort(records_.begin(), records_.end(), [](const SubtitleRecordRef& a, const SubtitleRecordRef& b) {
    return a->startTimeInSeconds() < b->startTimeInSeconds();
  });
  restart();
}

void CVNSubtitlesPacketizer::setSubtitleRecords(SubtitleRecords records) {
  records_.clear();
  addSubtitleRecords(records);
}

void CVNSubtitlesPacketizer::deleteSubtitleRecords() {
  records_.clear();
  restart();
}

void CVNSubtitlesPacketizer::setZiraSubtitleRecordToDisplay(SubtitleRecordRef record) {
  live_ = std::move(record);
  liveChanged_ = true;
}

// Records are found again from the current time: after a change of records
// or mode, or when time went back (a seek).
void CVNSubtitlesPacketizer::restart() {
  nextRecord_ = 0;
  shown_.reset();
  pairs_.clear();
  teletext_.clear();
}

void CVNSubtitlesPacketizer::schedule(double seconds) {
  if (seconds < lastSeconds_) restart();
  lastSeconds_ = seconds;
  if (liveChanged_) {
    liveChanged_ = false;
    if (live_) {
      queueShow(*live_);
    } else {
      queueClear();
    }
  }
  // Of the records started by now only the latest still running is shown;
  // sending the others would only delay it.
  SubtitleRecordRef started;
  while (nextRecord_ < records_.size() && records_[nextRecord_]->startTimeInSeconds() <= seconds) {
    const auto& record = records_[nextRecord_++];
    if (seconds < record->endTimeInSeconds()) started = record;
  }
  if (started) {
    queueShow(*started);
    shown_ = started;
  } else if (shown_ && seconds >= shown_->endTimeInSeconds()) {
    queueClear();
    shown_.reset();
  }
}

void CVNSubtitlesPacketizer::queueShow(const CVNSubtitleRecord& record) {
  if (subtitleMode_ == 1) {
    for (const auto& pair : cea608PopOnPairs(record.text())) pairs_.push_back(pair);
  } else if (subtitleMode_ == 2) {
    for (const auto& packet : teletextSubtitlePage(record.text())) teletext_.push_back(packet);
  }
}

void CVNSubtitlesPacketizer::queueClear() {
  if (subtitleMode_ == 1) {
    for (const auto& pair : cea608ErasePairs()) pairs_.push_back(pair);
  } else if (subtitleMode_ == 2) {
    for (const auto& packet : teletextClearPage()) teletext_.push_back(packet);
  }
}

SampleBufferRef CVNSubtitlesPacketizer::copyNextSubtitleSampleBufferAtPTS(MediaTime pts, MediaTime frameDuration) {
  schedule(pts.isNumeric() ? pts.seconds() : 0.0);
  const SampleTimingInfo timing{frameDuration, pts, MediaTime::invalid()};
  if (subtitleMode_ == 1) return cea608Sample(timing);
  if (subtitleMode_ == 2) return teletextSample(timing);
  return nullptr;
}

SampleBufferRef CVNSubtitlesPacketizer::cea608Sample(const SampleTimingInfo& timing) {
  CEA608Pair pair = kCEA608NullPair;
  if (!pairs_.empty()) {
    pair = pairs_.front();
    pairs_.pop_front();
  }
  if (!isHD_) return captionSampleWithBytes(kCEA608SubType, cdatAtom(pair), timing);
  const std::uint8_t triplets[] = {0xfc, pair[0], pair[1], 0xfd, 0x80, 0x80};
  return CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo(timing, timing.duration, sequence_++, triplets);
}

SampleBufferRef CVNSubtitlesPacketizer::teletextSample(const SampleTimingInfo& timing) {
  if (teletext_.empty()) return nullptr;
  const std::size_t count = std::min(teletext_.size(), kTeletextPacketsPerSDP);
  const std::vector<TeletextPacket> packets(teletext_.begin(), teletext_.begin() + static_cast<std::ptrdiff_t>(count));
  teletext_.erase(teletext_.begin(), teletext_.begin() + static_cast<std::ptrdiff_t>(count));
  return captionSampleWithBytes(kOP47SubType, op47SubtitlingDataPacket(packets, sequence_++), timing);
}

}  // namespace captions
