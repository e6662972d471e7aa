#include "captions/CVNSRTFileReader.h"

#include "captions/CEA608PopOn.h"

namespace captions {
namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";
constexpr std::string_view kArrow = "-->";

std::vector<std::string_view> textLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// Digits at `offset` (at most `maxDigits`), moving past them.
std::optional<long> digits(std::string_view text, std::size_t& offset, std::size_t maxDigits) {
  long value = 0;
  std::size_t count = 0;
  while (offset < text.size() && count < maxDigits && text[offset] >= '0' && text[offset] <= '9') {
    value = value * 10 + (text[offset++] - '0');
    ++count;
  }
  if (count == 0) return std::nullopt;
  return value;
}

bool skip(std::string_view text, std::size_t& offset, std::string_view separators) {
  if (offset >= text.size() || separators.find(text[offset]) == std::string_view::npos) return false;
  ++offset;
  return true;
}

// "hh:mm:ss,mmm"; milliseconds as written (",5" is 5 ms).
std::optional<double> timeAt(std::string_view text, std::size_t& offset) {
  while (offset < text.size() && text[offset] == ' ') ++offset;
  const auto hours = digits(text, offset, 6);
  if (!hours || !skip(text, offset, ":")) return std::nullopt;
  const auto minutes = digits(text, offset, 2);
  if (!minutes || !skip(text, offset, ":")) return std::nullopt;
  const auto seconds = digits(text, offset, 2);
  if (!seconds || !skip(text, offset, ",.")) return std::nullopt;
  const auto millis = digits(text, offset, 3);
  if (!millis) return std::nullopt;
  return *hours * 3600.0 + *minutes * 60.0 + static_cast<double>(*seconds) + *millis / 1000.0;
}

std::optional<std::pair<double, double>> timing(std::string_view line) {
  const std::size_t arrow = line.find(kArrow);
  if (arrow == std::string_view::npos) return std::nullopt;
  std::size_t offset = 0;
  const auto start = timeAt(line.substr(0, arrow), offset);
  offset = arrow + kArrow.size();
  const auto end = timeAt(line, offset);
  if (!start || !end) return std::nullopt;
  return std::make_pair(*start, *end);
}

// Text without markup: "<...>" tags and "{\...}" overrides.
std::string withoutTags(std::string_view line) {
  std::string text;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const bool tag = line[i] == '<' || (line[i] == '{' && i + 1 < line.size() && line[i + 1] == '\\');
    const std::size_t close = tag ? line.find(line[i] == '<' ? '>' : '}', i) : std::string_view::npos;
    if (close != std::string_view::npos) {
      i = close;
      continue;
    }
    text += line[i];
  }
  return text;
}

}  // namespace

SubtitleRecords CVNSRTFileReader::subtitleRecordsFromSRTText(std::string_view text, std::int32_t subtitleMode,
                                                             platform::media::MediaTime frameDuration) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  const double frameSeconds = frameDuration.isNumeric() && frameDuration.value > 0 ? frameDuration.seconds() : 0.0;
  const std::vector<std::string_view> lines = textLines(text);
  SubtitleRecords records;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto times = timing(lines[i]);
    if (!times) continue;
    std::string body;
    while (i + 1 < lines.size() && !isBlank(lines[i + 1])) {
      if (!body.empty()) body += '\n';
      body += withoutTags(lines[++i]);
    }
    auto record = std::make_shared<CVNSubtitleRecord>();
    record->setStartTimeInSeconds(times->first);
    record->setEndTimeInSeconds(std::max(times->second, times->first + frameSeconds));
    if (subtitleMode == 1) record->setNumberOfPacketsAsCEA608(static_cast<std::int32_t>(cea608PopOnPairs(body).size()));
    record->setText(std::move(body));
    records.push_back(std::move(record));
  }
  return records;
}

void CVNSRTFileReader::subtitleRecordsFromSRTFileAtPath(const std::filesystem::path& path, std::int32_t subtitleMode,
                                                        platform::media::MediaTime frameDuration,
                                                        const SubtitleRecordsHandler& handler) {
  const auto text = readSubtitleFile(path);
  handler(text ? subtitleRecordsFromSRTText(*text, subtitleMode, frameDuration) : SubtitleRecords{});
}

}  // namespace captions
