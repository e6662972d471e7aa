// Subtitle files over any bytes: EBU STL and SubRip readers, and the
// packetizer fed with what they read (text of any bytes).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "captions/CVNSRTFileReader.h"
#include "captions/CVNSTLFileReader.h"
#include "captions/CVNSubtitlesPacketizer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using platform::media::MediaTime;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto frame = MediaTime::make(1, 25);
  auto records = captions::CVNSTLFileReader::subtitleRecordsFromSTLData(bytes);
  const auto srt = captions::CVNSRTFileReader::subtitleRecordsFromSRTText(bytes, 1, frame);
  records.insert(records.end(), srt.begin(), srt.end());
  for (std::int32_t mode : {1, 2}) {
    captions::CVNSubtitlesPacketizer packetizer(mode, true);
    packetizer.setSubtitleRecords(records);
    for (int i = 0; i < 50; ++i) (void)packetizer.copyNextSubtitleSampleBufferAtPTS(MediaTime::make(i * 10, 25), frame);
  }
  return 0;
}
