#include "node-standin/FFmpegHandles.h"

#include <mutex>

namespace standin::detail {

void silenceFFmpegLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string ffmpegErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

FormatContextHandle openMediaFile(const std::filesystem::path& path, std::string& problem) {
  silenceFFmpegLog();
  AVFormatContext* raw = nullptr;
  if (const int result = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); result < 0) {
    problem = ffmpegErrorText(result);
    return nullptr;
  }
  FormatContextHandle context(raw);
  if (const int result = avformat_find_stream_info(context.get(), nullptr); result < 0) {
    problem = ffmpegErrorText(result);
    return nullptr;
  }
  return context;
}

}  // namespace standin::detail
