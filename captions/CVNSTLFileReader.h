#pragma once
// Subtitle records of an EBU subtitling data exchange file (".stl"): a
// 1024-byte general block, then 128-byte text blocks. Times are the blocks'
// time codes less the programme's start time code, at the file's frame rate.
// Comment blocks and user data are skipped, extension blocks joined. Every
// count and field is checked against the file: a damaged block is skipped, a
// file without a readable general block gives no records.

#include <string_view>

#include "captions/SubtitleFileReading.h"

namespace captions {

class CVNSTLFileReader {
 public:
  // Calls the handler once, before returning, with the records (empty when unreadable).
  static void subtitleRecordsFromSTLFileAtPath(const std::filesystem::path& path, const SubtitleRecordsHandler& handler);
  static SubtitleRecords subtitleRecordsFromSTLData(std::string_view data);
};

}  // namespace captions
