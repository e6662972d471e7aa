#include "captions/TeletextSubtitles.h"

#include <algorithm>
#include "captions/CaptionSamples.h"
#include "captions/CVNSubtitleRecord.h"
#include "captions/Utf8.h"

namespace captions {
namespace {

constexpr std::size_t kMaxLines = 4;
constexpr std::size_t kMaxColumns = 36;  // 40 less the two box codes each side
constexpr std::uint8_t kStartBox = 0x0b;
constexpr std::uint8_t kEndBox = 0x0a;
constexpr int kBottomRow = 22;
constexpr std::uint8_t kFirstVBILine = 7;

TeletextPacket addressed(int magazine, int row) {
  TeletextPacket packet{};
  packet.fill(withOddParity(' '));
  packet[0] = hamming84(static_cast<std::uint8_t>((magazine & 7) | ((row & 1) << 3)));
  packet[1] = hamming84(static_cast<std::uint8_t>(row >> 1));
  return packet;
}

// The English teletext set is ASCII but for a few signs in place of
// brackets and the like; those become spaces.
std::uint8_t teletextCharacter(char32_t point) {
  switch (point) {
    case U'£': return 0x23;
    case U'#': return 0x5f;
    case U'÷': return 0x7e;
    case U'[': case U'\\': case U']': case U'^': case U'_': case U'`': case U'{': case U'|': case U'}': case U'~': return 0x20;
    default: return point >= 0x20 && point < 0x7f ? static_cast<std::uint8_t>(point) : 0x20;
  }
}

TeletextPacket subtitleRow(int row, const std::string& line) {
  std::vector<std::uint8_t> text;
  for (char32_t point : utf8CodePoints(line)) {
    if (text.size() == kMaxColumns) break;
    text.push_back(teletextCharacter(point));
  }
  std::vector<std::uint8_t> boxed = {kStartBox, kStartBox};
  boxed.insert(boxed.end(), text.begin(), text.end());
  boxed.insert(boxed.end(), {kEndBox, kEndBox});
  TeletextPacket packet = addressed(kSubtitleMagazine, row);
  const std::size_t column = 2 + (40 - boxed.size()) / 2;
  for (std::size_t i = 0; i < boxed.size(); ++i) packet[column + i] = withOddParity(boxed[i]);
  return packet;
}

}  // namespace

std::uint8_t hamming84(std::uint8_t nibble) {
  static const std::uint8_t kCodes[16] = {0x15, 0x02, 0x49, 0x5e, 0x64, 0x73, 0x38, 0x2f,
                                          0xd0, 0xc7, 0x8c, 0x9b, 0xa1, 0xb6, 0xfd, 0xea};
  return kCodes[nibble & 0x0f];
}

TeletextPacket teletextHeader(int magazine, std::uint8_t page, bool erase, bool subtitle) {
  TeletextPacket packet = addressed(magazine, 0);
  const std::uint8_t controls[8] = {
      static_cast<std::uint8_t>(page & 0x0f), static_cast<std::uint8_t>(page >> 4), 0,
      static_cast<std::uint8_t>(erase ? 0x08 : 0),     // subcode S2 with C4, erase page
      0, static_cast<std::uint8_t>(subtitle ? 0x08 : 0),  // subcode S4 with C5, C6 subtitle
      0x01,                                            // C7 suppress header
      0x01,                                            // C11 serial magazines: any header ends a page
  };
  for (int i = 0; i < 8; ++i) packet[2 + i] = hamming84(controls[i]);
  return packet;
}

std::vector<TeletextPacket> teletextSubtitlePage(const std::string& text) {
  std::vector<std::string> lines = subtitleLines(text);
  if (lines.size() > kMaxLines) lines.resize(kMaxLines);
  std::vector<TeletextPacket> packets = {teletextHeader(kSubtitleMagazine, kSubtitlePage, true, true)};
  int row = kBottomRow + 1 - static_cast<int>(lines.size());
  for (const std::string& line : lines) packets.push_back(subtitleRow(row++, line));
  packets.push_back(teletextHeader(kSubtitleMagazine, 0xff, false, false));
  return packets;
}

std::vector<TeletextPacket> teletextClearPage() { return teletextSubtitlePage(""); }

std::vector<std::uint8_t> op47SubtitlingDataPacket(std::span<const TeletextPacket> packets, std::uint16_t sequence) {
  const std::size_t count = std::min(packets.size(), kTeletextPacketsPerSDP);
  std::vector<std::uint8_t> sdp = {0x51, 0x15, 0, 0x02};
  for (std::size_t i = 0; i < kTeletextPacketsPerSDP; ++i) {
    // Field 1 (bit 7), VBI line; 0 for no packet.
    sdp.push_back(i < count ? static_cast<std::uint8_t>(0x80 | (kFirstVBILine + i)) : 0);
  }
  for (std::size_t i = 0; i < count; ++i) {
    sdp.insert(sdp.end(), {0x55, 0x55, 0x27});  // clock run-in, framing code
    sdp.insert(sdp.end(), packets[i].begin(), packets[i].end());
  }
  sdp.insert(sdp.end(), {0x74, static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence), 0});
  sdp[2] = static_cast<std::uint8_t>(sdp.size());
  setPacketChecksum(sdp);
  return sdp;
}

}  // namespace captions
