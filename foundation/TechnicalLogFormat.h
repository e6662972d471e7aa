#pragma once
// The text of the technical and simple log files: file names and lines. Pure
// functions, no state and no clock; the log controller feeds them the date
// texts its formatters made. Every technical log line ends in CR LF, every
// simple log line in LF.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

// Levels below this mark a problem line ("!" in front of the line).
inline constexpr std::uint32_t kTechnicalLogProblemLevelLimit = 2;
// The longest file-system path (in bytes, without the terminating NUL) the logs write to.
inline constexpr std::size_t kMaxLogFilePathBytes = 1023;

// "<logPrefix><day>.log"; logPrefix already ends in a blank ("Zira 2024-03-01.log").
std::string technicalLogFileName(std::string_view logPrefix, std::string_view day);

// Optional "!", tab, time stamp (date, tab, time, tab, weekday), two tabs, message, CR LF.
std::string technicalLogLine(bool isProblem, std::string_view timeStamp, std::string_view message);

// The line that closes a run of folded repeats: "--- last message repeated 3 times ---".
std::string technicalLogRepeatLine(std::string_view timeStamp, std::uint64_t repeatCount);

// The host's initial line, written first into every new file.
std::string technicalLogInitialLine(std::string_view timeStamp, std::string_view initialMessage);

// "<day>_<name>.log".
std::string simpleLogFileName(std::string_view day, std::string_view name);

// The simple time stamp already ends in a tab: date, tab, time, tab, tab, message, LF.
std::string simpleLogLine(std::string_view timeStamp, std::string_view message);

// The message followed by " (Document: <name>)" when a document name is given.
std::string messageWithDocumentName(std::string_view message, const std::optional<std::string>& documentName);

// Whether the path fits the logs' path limit; longer paths are not written.
bool fitsLogFilePathLimit(const std::filesystem::path& path);

}  // namespace foundation
