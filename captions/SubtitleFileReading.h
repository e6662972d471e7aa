#pragma once
// What the subtitle file readers share: reading a whole file with a size
// limit, and the handler they answer through.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "captions/CVNSubtitleRecord.h"

namespace captions {

using SubtitleRecordsHandler = std::function<void(SubtitleRecords records)>;

// Subtitle files are small; anything larger is refused rather than read.
inline constexpr std::uintmax_t kMaxSubtitleFileBytes = 16u << 20;

// The file's bytes; none (with a log) when it cannot be read or is too large.
std::optional<std::string> readSubtitleFile(const std::filesystem::path& path);

}  // namespace captions
