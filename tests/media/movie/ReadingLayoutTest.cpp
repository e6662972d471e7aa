// The pure parts of packet reading, as tables: page sizes and counts, H.264
// key frames from the bytes, ADTS headers with and without a CRC, and how
// many audio packets one demuxed packet holds.

#include <gtest/gtest.h>

#include <vector>

#include "media/readers/movie/PacketInspection.h"
#include "media/readers/movie/ReadingLayout.h"

namespace {

namespace pm = platform::media;

TEST(ReadingLayout, BlockSizesPageSizesAndPageCounts) {
  const std::pair<std::int64_t, std::int64_t> blocks[] = {
      {1048577, 4096}, {0, 4096}, {-512, 4096}, {1000, 4096}, {8192, 8192}, {512, 512}, {33554432, 33554432},
      {33554944, 4096}};
  for (const auto& [given, used] : blocks) EXPECT_EQ(media::readingBlockSize(given), used) << given;
  EXPECT_EQ(media::readingPageSize(4096, 1000, 3000), 32768);   // 0.75 x 3000 > 1000: ten of the largest
  EXPECT_EQ(media::readingPageSize(4096, 10000, 12000), 102400);  // ten of the average
  EXPECT_EQ(media::readingPageSize(4096, 0, 0), 4096);
  const std::pair<std::int64_t, std::int32_t> pages[] = {{0, 3}, {1, 3}, {2, 3}, {3, 4}, {19, 20}, {25, 20}};
  for (const auto& [tracks, count] : pages) EXPECT_EQ(media::readingPageCount(tracks), count) << tracks;
}

TEST(PacketInspection, H264KeyFramesFromTheUnits) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    bool key;
  };
  const Case cases[] = {
      {{0, 0, 0, 1, 0x65, 0x88, 0x80, 0x40}, true},                                  // IDR slice
      {{0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x41, 0x9A, 0}, true},  // SPS, PPS, slice
      {{0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x41, 0x9A, 0, 0}, false},                   // slice without a PPS
      {{0, 0, 0, 1, 0x41, 0x9A, 0x11, 0x22}, false},                                 // plain slice
      {{0, 0, 1, 0x65, 0x88, 0x80}, false},                                          // not 00 00 00 01
      {{0, 0, 0, 1}, false},                                                         // too short
      {{0, 0, 0, 1, 0x09, 0x10, 0, 0, 1, 0x65}, false},  // the IDR start code lies in the last 5 bytes
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(media::h264PacketIsKeyFrame(cases[i].bytes), cases[i].key) << i;
}

TEST(PacketInspection, AdtsHeadersWithAndWithoutCRC) {
  const std::pair<std::vector<std::uint8_t>, std::size_t> cases[] = {
      {{0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0x21}, 7},
      {{0xFF, 0xF9, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0x21}, 7},
      {{0xFF, 0xF0, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0xAB, 0xCD, 0x21}, 9},  // CRC after the header
      {{0xFF, 0xF8, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0xAB, 0xCD, 0x21}, 9},
      {{0xFF, 0xF0, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0xAB}, 0},  // shorter than its header
      {{0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F}, 0},              // 6 bytes
      {{0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C, 0x00, 0x00}, 0},  // raw AAC
      {{0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00, 0x00, 0x00}, 0},  // an MPEG audio header
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(media::adtsHeaderLength(cases[i].first), cases[i].second) << i;
}

TEST(PacketInspection, AudioPacketsPerFormat) {
  struct Case {
    pm::FourCharCode format;
    std::size_t size;
    std::uint64_t ac3FrameSize;
    std::uint32_t bytesPerPacket;
    std::size_t count;
    std::size_t described;
  };
  const Case cases[] = {
      {pm::fourCC("aac "), 371, 0, 0, 1, 1},     {pm::fourCC(".mp2"), 576, 0, 0, 1, 1},
      {pm::fourCC("ac-3"), 2304, 768, 0, 3, 3},  {pm::fourCC("ac-3"), 7680, 768, 0, 10, 0},
      {pm::fourCC("ac-3"), 300, 0, 0, 300, 0},   {pm::fourCC("lpcm"), 7680, 0, 4, 1920, 0},
      {pm::fourCC("ulaw"), 800, 0, 1, 800, 0},   {pm::fourCC("ima4"), 680, 0, 68, 10, 0},
      {pm::fourCC("sowt"), 100, 0, 4, 1, 0},
  };
  for (const auto& c : cases) {
    const auto layout = media::audioPacketLayout(c.format, c.size, c.ac3FrameSize, c.bytesPerPacket);
    EXPECT_EQ(layout.count, c.count) << c.size;
    ASSERT_EQ(layout.descriptions.size(), c.described) << c.size;
    for (std::size_t i = 0; i < layout.descriptions.size(); ++i) {
      EXPECT_EQ(layout.descriptions[i].startOffset, static_cast<std::int64_t>(i * c.size / c.count));
      EXPECT_EQ(layout.descriptions[i].dataByteSize, c.size / c.count);
    }
  }
}

}  // namespace
