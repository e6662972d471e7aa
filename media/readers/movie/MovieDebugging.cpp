// Debugging aids of the movie reader: text for packet and seek flags and for
// a stream's index, and a file's timecodes with their jumps marked.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "pluginframework/CVNTimeValue.h"

namespace media {

std::string CVNFFmpegMovieAssetReader::stringFromAVPacketFlags(int flags) {
  std::string text = "Flags: " + std::to_string(flags);
  if (flags & AV_PKT_FLAG_KEY) text += " KEY FRAME";
  if (flags & AV_PKT_FLAG_CORRUPT) text += " CORRUPTED";
  if (flags & AV_PKT_FLAG_DISCARD) text += " DISCARD";
  if (flags & AV_PKT_FLAG_TRUSTED) text += " TRUSTED";
  if (flags & AV_PKT_FLAG_DISPOSABLE) text += " DISPOSABLE";
  return text;
}

std::string CVNFFmpegMovieAssetReader::stringFromAVSeekFlag(int flags) {
  std::string text = "Flags: " + std::to_string(flags);
  text += (flags & AVSEEK_FLAG_BACKWARD) ? " BACKWARD" : " FORWARD";
  if (flags & AVSEEK_FLAG_BYTE) text += " BYTES";
  text += (flags & AVSEEK_FLAG_ANY) ? " ANY TYPES" : " KEY FRAME ONLY";
  if (flags & AVSEEK_FLAG_FRAME) text += " BY FRAME NUMBER";
  return text;
}

std::string CVNFFmpegMovieAssetReader::AVIndexEntriesString(AVFormatContext* context, int streamIndex) {
  if (!context || streamIndex < 0 || static_cast<unsigned>(streamIndex) >= context->nb_streams) return {};
  AVStream* stream = context->streams[streamIndex];
  std::string text;
  const int count = avformat_index_get_entries_count(stream);
  for (int entry = 0; entry < count; ++entry) {
    const AVIndexEntry* index = avformat_index_get_entry(stream, entry);
    if (!index) break;
    char line[64];
    std::snprintf(line, sizeof line, "%05i\tTS: %lli\n", entry, static_cast<long long>(index->timestamp));
    text += line;
  }
  return text;
}

void CVNFFmpegMovieAssetReader::printTimecodesFromFileAtURL(const MediaURL& url) {
  const std::filesystem::path& path = url.path();
  if (path.empty()) return;
  CVNFFmpegMovieAssetReader reader(url, std::string("Debug print TC"));
  reader.loadInfo(false, false);
  if (!reader.isValid()) return;
  reader.initReading();
  std::string text;
  std::vector<std::size_t> jumps;
  std::optional<std::int64_t> previous;
  std::size_t position = 0;
  while (const auto sample = reader.nextSampleBufferForTrackIndex(nullptr)) {
    const auto& format = sample->formatDescription();
    if (!format || format->mediaType() != platform::media::kMediaTypeTimeCode) continue;
    const auto value = pluginframework::CVNTimeValue::timeValueWithTimecodeSampleBuffer(*sample);
    if (!value) continue;
    const bool jump = previous && std::llabs(value->frameNumber() - *previous) >= 3;
    if (jump) jumps.push_back(position);
    text += value->string() + (jump ? " <---------" : "") + "\n";
    previous = value->frameNumber();
    ++position;
  }
  for (const std::size_t jump : jumps) text += std::to_string(jump) + "\n";
  std::ofstream(std::filesystem::path(path).replace_extension("tc"), std::ios::binary) << text;
}

}  // namespace media
