#include "captions/CVNSTLFileReader.h"

#include "captions/CEA608PopOn.h"
#include "captions/Utf8.h"

namespace captions {
namespace {

constexpr std::size_t kGeneralBlockSize = 1024;
constexpr std::size_t kTextBlockSize = 128;
constexpr std::size_t kTextFieldOffset = 16;
constexpr std::uint8_t kLastExtensionBlock = 0xff;
constexpr std::uint8_t kUserDataBlock = 0xfe;
constexpr std::uint8_t kLineBreak = 0x8a;

std::uint8_t byteAt(std::string_view data, std::size_t offset) { return static_cast<std::uint8_t>(data[offset]); }

// A field of decimal digits; none when any character is not a digit.
std::optional<int> decimalField(std::string_view field) {
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<double> timeCodeSeconds(int hours, int minutes, int seconds, int frames, int rate) {
  if (minutes > 59 || seconds > 59 || frames >= rate) return std::nullopt;
  return hours * 3600.0 + minutes * 60.0 + seconds + static_cast<double>(frames) / rate;
}

// Accented letters are a diacritical mark followed by the letter.
char32_t composed(std::uint8_t mark, char base) {
  struct Composition {
    std::uint8_t mark;
    char base;
    char32_t letter;
  };
  static const Composition kCompositions[] = {
      {0xc1, 'A', U'À'}, {0xc1, 'E', U'È'}, {0xc1, 'I', U'Ì'}, {0xc1, 'O', U'Ò'}, {0xc1, 'U', U'Ù'},
      {0xc1, 'a', U'à'}, {0xc1, 'e', U'è'}, {0xc1, 'i', U'ì'}, {0xc1, 'o', U'ò'}, {0xc1, 'u', U'ù'},
      {0xc2, 'A', U'Á'}, {0xc2, 'E', U'É'}, {0xc2, 'I', U'Í'}, {0xc2, 'O', U'Ó'}, {0xc2, 'U', U'Ú'},
      {0xc2, 'a', U'á'}, {0xc2, 'e', U'é'}, {0xc2, 'i', U'í'}, {0xc2, 'o', U'ó'}, {0xc2, 'u', U'ú'},
      {0xc3, 'A', U'Â'}, {0xc3, 'E', U'Ê'}, {0xc3, 'I', U'Î'}, {0xc3, 'O', U'Ô'}, {0xc3, 'U', U'Û'},
      {0xc3, 'a', U'â'}, {0xc3, 'e', U'ê'}, {0xc3, 'i', U'î'}, {0xc3, 'o', U'ô'}, {0xc3, 'u', U'û'},
      {0xc4, 'A', U'Ã'}, {0xc4, 'N', U'Ñ'}, {0xc4, 'O', U'Õ'}, {0xc4, 'a', U'ã'}, {0xc4, 'n', U'ñ'}, {0xc4, 'o', U'õ'},
      {0xc8, 'A', U'Ä'}, {0xc8, 'E', U'Ë'}, {0xc8, 'I', U'Ï'}, {0xc8, 'O', U'Ö'}, {0xc8, 'U', U'Ü'},
      {0xc8, 'a', U'ä'}, {0xc8, 'e', U'ë'}, {0xc8, 'i', U'ï'}, {0xc8, 'o', U'ö'}, {0xc8, 'u', U'ü'}, {0xc8, 'y', U'ÿ'},
      {0xca, 'A', U'Å'}, {0xca, 'a', U'å'}, {0xcb, 'C', U'Ç'}, {0xcb, 'c', U'ç'},
  };
  for (const auto& c : kCompositions) {
    if (c.mark == mark && c.base == base) return c.letter;
  }
  return static_cast<unsigned char>(base);
}

char32_t latinCharacter(std::uint8_t byte) {
  switch (byte) {
    case 0x24: return U'¤';
    case 0xa3: return U'£';
    case 0xa4: return U'$';
    case 0xa9: return U'‘';
    case 0xaa: return U'“';
    case 0xb9: return U'’';
    case 0xba: return U'”';
    default: return byte >= 0x20 && byte < 0x7f ? byte : U' ';
  }
}

std::string trimmed(const std::string& line) {
  const std::size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

// The text field's lines. Teletext control codes take a space on screen;
// styling codes and filler take none.
std::string decodedText(std::string_view field) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < field.size(); ++i) {
    const std::uint8_t byte = byteAt(field, i);
    if (byte == kLineBreak) {
      if (!lines.back().empty()) lines.emplace_back();
    } else if (byte < 0x20) {
      lines.back() += ' ';
    } else if (byte >= 0xc1 && byte <= 0xcf && i + 1 < field.size() && byteAt(field, i + 1) >= 0x20 &&
               byteAt(field, i + 1) < 0x7f) {
      appendUtf8(lines.back(), composed(byte, field[++i]));
    } else if (byte < 0x7f || (byte >= 0xa0 && byte < 0xc0)) {
      appendUtf8(lines.back(), latinCharacter(byte));
    }
  }
  std::string text;
  for (const std::string& line : lines) {
    const std::string kept = trimmed(line);
    if (kept.empty()) continue;
    if (!text.empty()) text += '\n';
    text += kept;
  }
  return text;
}

struct GeneralBlock {
  int frameRate;
  double programmeStart;
  std::size_t textBlocks;
};

std::optional<GeneralBlock> generalBlock(std::string_view data) {
  if (data.size() < kGeneralBlockSize || data.substr(3, 3) != "STL" || data.substr(8, 3) != ".01") return std::nullopt;
  const auto rate = decimalField(data.substr(6, 2));
  if (!rate || *rate < 23 || *rate > 60) return std::nullopt;
  const std::size_t available = (data.size() - kGeneralBlockSize) / kTextBlockSize;
  const auto declared = decimalField(data.substr(238, 5));
  GeneralBlock block{*rate, 0.0, declared ? std::min<std::size_t>(*declared, available) : available};
  const std::string_view start = data.substr(256, 8);
  const auto h = decimalField(start.substr(0, 2)), m = decimalField(start.substr(2, 2));
  const auto s = decimalField(start.substr(4, 2)), f = decimalField(start.substr(6, 2));
  if (h && m && s && f) block.programmeStart = timeCodeSeconds(*h, *m, *s, *f, *rate).value_or(0.0);
  return block;
}

std::optional<double> blockTime(std::string_view block, std::size_t offset, const GeneralBlock& general) {
  const auto seconds = timeCodeSeconds(byteAt(block, offset), byteAt(block, offset + 1), byteAt(block, offset + 2),
                                       byteAt(block, offset + 3), general.frameRate);
  if (!seconds) return std::nullopt;
  return std::max(0.0, *seconds - general.programmeStart);
}

}  // namespace

SubtitleRecords CVNSTLFileReader::subtitleRecordsFromSTLData(std::string_view data) {
  SubtitleRecords records;
  const auto general = generalBlock(data);
  if (!general) return records;
  std::string text;
  for (std::size_t i = 0; i < general->textBlocks; ++i) {
    const std::string_view block = data.substr(kGeneralBlockSize + i * kTextBlockSize, kTextBlockSize);
    const std::uint8_t extension = byteAt(block, 3);
    const bool comment = byteAt(block, 15) != 0;
    if (extension == kUserDataBlock || comment) continue;
    text += block.substr(kTextFieldOffset);
    if (extension != kLastExtensionBlock) continue;
    const std::string decoded = decodedText(text);
    text.clear();
    const auto start = blockTime(block, 5, *general);
    const auto end = blockTime(block, 9, *general);
    if (!start || !end || *end <= *start || decoded.empty()) continue;
    auto record = std::make_shared<CVNSubtitleRecord>();
    record->setStartTimeInSeconds(*start);
    record->setEndTimeInSeconds(*end);
    record->setText(decoded);
    record->setNumberOfPacketsAsCEA608(static_cast<std::int32_t>(cea608PopOnPairs(decoded).size()));
    records.push_back(std::move(record));
  }
  return records;
}

void CVNSTLFileReader::subtitleRecordsFromSTLFileAtPath(const std::filesystem::path& path,
                                                        const SubtitleRecordsHandler& handler) {
  const auto data = readSubtitleFile(path);
  handler(data ? subtitleRecordsFromSTLData(*data) : SubtitleRecords{});
}

}  // namespace captions
