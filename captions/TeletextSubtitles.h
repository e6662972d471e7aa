#pragma once
// Teletext subtitle pages and the subtitling data packets (OP-47) that carry
// them in the ancillary data of a frame.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace captions {

// One teletext packet: magazine and row address (Hamming 8/4), then 40 bytes.
using TeletextPacket = std::array<std::uint8_t, 42>;

inline constexpr int kSubtitleMagazine = 8;
inline constexpr std::uint8_t kSubtitlePage = 0x88;
inline constexpr std::size_t kTeletextPacketsPerSDP = 5;

std::uint8_t hamming84(std::uint8_t nibble);
// Page header of page `page` (two hexadecimal digits) of the magazine: erase
// and subtitle flags as asked; page 0xff is the filler that closes a page.
TeletextPacket teletextHeader(int magazine, std::uint8_t page, bool erase, bool subtitle);
// The header, then the lines boxed and centred on the bottom rows (at most
// 4 lines of 36 characters), then a filler header so the page is complete.
std::vector<TeletextPacket> teletextSubtitlePage(const std::string& text);
// An empty subtitle page: the shown subtitle goes away.
std::vector<TeletextPacket> teletextClearPage();

// A subtitling data packet of up to five teletext packets, on VBI lines 7
// onwards of the first field, with its sequence counter and checksum.
std::vector<std::uint8_t> op47SubtitlingDataPacket(std::span<const TeletextPacket> packets, std::uint16_t sequence);

}  // namespace captions
