#pragma once
// Subtitles turned into caption samples frame by frame, and the subtitle
// records and file readers that feed it. Until the engine's output and the
// caption packetizing land, the packetizer keeps its records and answers no
// samples, and the file readers answer no records. One packetizer per queue.

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/media/SampleBuffer.h"

namespace captions {

class CVNSubtitleRecord {
 public:
  std::int32_t numberOfPacketsAsCEA608() const { return numberOfPacketsAsCEA608_; }
  void setNumberOfPacketsAsCEA608(std::int32_t count) { numberOfPacketsAsCEA608_ = count; }
  double startTimeInSeconds() const { return startTimeInSeconds_; }
  void setStartTimeInSeconds(double seconds) { startTimeInSeconds_ = seconds; }
  double endTimeInSeconds() const { return endTimeInSeconds_; }
  void setEndTimeInSeconds(double seconds) { endTimeInSeconds_ = seconds; }

 private:
  std::int32_t numberOfPacketsAsCEA608_ = 0;
  double startTimeInSeconds_ = 0;
  double endTimeInSeconds_ = 0;
};

using SubtitleRecords = std::vector<std::shared_ptr<CVNSubtitleRecord>>;

class CVNSubtitlesPacketizer {
 public:
  CVNSubtitlesPacketizer(std::int32_t subtitleMode, bool isHD) : subtitleMode_(subtitleMode), isHD_(isHD) {}

  void setSubtitleMode(std::int32_t mode) { subtitleMode_ = mode; }
  void setIsHD(bool isHD) { isHD_ = isHD; }
  void addSubtitleRecords(const SubtitleRecords& records) { records_.insert(records_.end(), records.begin(), records.end()); }
  void setSubtitleRecords(SubtitleRecords records) { records_ = std::move(records); }
  void deleteSubtitleRecords() { records_.clear(); }
  const SubtitleRecords& subtitleRecords() const { return records_; }
  void setZiraSubtitleRecordToDisplay(std::shared_ptr<CVNSubtitleRecord> record) { recordToDisplay_ = std::move(record); }
  // No caption samples yet.
  platform::media::SampleBufferRef copyNextSubtitleSampleBufferAtPTS(platform::media::MediaTime,
                                                                    platform::media::MediaTime) {
    return nullptr;
  }

 private:
  std::int32_t subtitleMode_;
  bool isHD_;
  SubtitleRecords records_;
  std::shared_ptr<CVNSubtitleRecord> recordToDisplay_;
};

using SubtitleRecordsHandler = std::function<void(SubtitleRecords records)>;

class CVNSTLFileReader {
 public:
  static void subtitleRecordsFromSTLFileAtPath(const std::filesystem::path&, const SubtitleRecordsHandler& handler) {
    handler({});
  }
};

class CVNSRTFileReader {
 public:
  static void subtitleRecordsFromSRTFileAtPath(const std::filesystem::path&, std::int32_t, platform::media::MediaTime,
                                               const SubtitleRecordsHandler& handler) {
    handler({});
  }
};

}  // namespace captions
