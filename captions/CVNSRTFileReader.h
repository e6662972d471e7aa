#pragma once
// Subtitle records of a SubRip file (".srt"): blocks of an optional number,
// a "start --> end" line (hours:minutes:seconds,milliseconds, a '.' also
// taken) and text lines up to a blank line. Tags ("<i>", "{\an8}") are
// dropped; a block without a readable time line is skipped. Any line ending,
// a leading byte order mark.

#include <string_view>

#include "captions/SubtitleFileReading.h"
#include "platform/media/MediaTime.h"

namespace captions {

class CVNSRTFileReader {
 public:
  // Calls the handler once, before returning. Mode 1 (CEA-608) records get
  // the frames their caption takes to load; a subtitle shorter than a frame
  // lasts one frame, so it is sent at all.
  static void subtitleRecordsFromSRTFileAtPath(const std::filesystem::path& path, std::int32_t subtitleMode,
                                               platform::media::MediaTime frameDuration,
                                               const SubtitleRecordsHandler& handler);
  static SubtitleRecords subtitleRecordsFromSRTText(std::string_view text, std::int32_t subtitleMode,
                                                    platform::media::MediaTime frameDuration);
};

}  // namespace captions
