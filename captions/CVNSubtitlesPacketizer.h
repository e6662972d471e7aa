#pragma once
// Subtitles turned into caption samples frame by frame. Mode 1 sends each
// subtitle as CEA-608 pop-on captions, one byte pair a frame: in HD as 'c708'
// samples (a CEA-708 caption packet), in SD as 'c608' samples ("cdat" atom).
// Mode 2 sends teletext page 888 as 'op47' samples (a subtitling data packet
// of up to five teletext packets), only on frames that have some to send.
// A subtitle is queued once its start time is reached and taken off at its
// end; a record set to display (live subtitling) goes out at once. One
// packetizer per queue.

#include <cstdint>
#include <deque>
#include <memory>

#include "captions/CEA608PopOn.h"
#include "captions/CVNSubtitleRecord.h"
#include "captions/TeletextSubtitles.h"
#include "platform/media/SampleBuffer.h"

namespace captions {

inline constexpr std::uint32_t kOP47SubType = 0x6f703437;  // 'op47'

class CVNSubtitlesPacketizer {
 public:
  CVNSubtitlesPacketizer(std::int32_t subtitleMode, bool isHD) : subtitleMode_(subtitleMode), isHD_(isHD) {}

  void setSubtitleMode(std::int32_t mode);
  void setIsHD(bool isHD) { isHD_ = isHD; }
  void addSubtitleRecords(const SubtitleRecords& records);
  void setSubtitleRecords(SubtitleRecords records);
  void deleteSubtitleRecords();
  // In start order.
  const SubtitleRecords& subtitleRecords() const { return records_; }
  // Shows the record from the next frame on, until another one; none clears the screen.
  void setZiraSubtitleRecordToDisplay(SubtitleRecordRef record);
  // The caption sample for the frame at pts, or none (mode 2 with nothing to send, unknown mode).
  platform::media::SampleBufferRef copyNextSubtitleSampleBufferAtPTS(platform::media::MediaTime pts,
                                                                    platform::media::MediaTime frameDuration);

 private:
  void restart();
  void schedule(double seconds);
  void queueShow(const CVNSubtitleRecord& record);
  void queueClear();
  platform::media::SampleBufferRef cea608Sample(const platform::media::SampleTimingInfo& timing);
  platform::media::SampleBufferRef teletextSample(const platform::media::SampleTimingInfo& timing);

  std::int32_t subtitleMode_;
  bool isHD_;
  SubtitleRecords records_;
  std::size_t nextRecord_ = 0;  // first record whose start has not been reached
  SubtitleRecordRef shown_;     // the file record on screen
  bool liveChanged_ = false;
  SubtitleRecordRef live_;
  double lastSeconds_ = 0;
  std::deque<CEA608Pair> pairs_;
  std::deque<TeletextPacket> teletext_;
  std::uint16_t sequence_ = 0;
};

}  // namespace captions
