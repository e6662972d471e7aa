#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "captions/CVNSRTFileReader.h"
#include "captions/CVNSTLFileReader.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace captions {
namespace {

using platform::media::MediaTime;

struct Expected {
  double start;
  double end;
  std::string text;
};

void expectRecords(const SubtitleRecords& records, const std::vector<Expected>& expected) {
  ASSERT_EQ(records.size(), expected.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(records[i]->startTimeInSeconds(), expected[i].start, 1e-6);
    EXPECT_NEAR(records[i]->endTimeInSeconds(), expected[i].end, 1e-6);
    EXPECT_EQ(records[i]->text(), expected[i].text);
  }
}

// Line endings, a byte order mark, tags, a block without its number,
// hours past 99, '.' before the milliseconds, short milliseconds, position
// coordinates after the end time and a block with a damaged time line.
const char kSubRip[] =
    "\xef\xbb\xbf"
    "1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Hello</i> there\r\n<font color=\"red\">second</font> line\r\n\r\n"
    "2\n00:00:03.250 --> 00:00:04,000 X1:10 X2:20 Y1:5 Y2:9\n{\\an8}On top\n\n"
    "3\n00:00:0x,000 --> 00:00:06,000\nDamaged\n\n"
    "00:01:02,5 --> 00:01:03,75\nNo number\n\n"
    "5\n123:00:00,000 --> 123:00:01,000\nLate\n";

TEST(CVNSRTFileReaderTest, TimingsMatchThePeerDemuxer) {
  testing_support::TemporaryDirectory directory;
  const auto path = directory / "subtitles.srt";
  std::ofstream(path, std::ios::binary) << kSubRip;
  std::vector<std::pair<double, double>> peer;
  std::istringstream lines(testing_support::commandOutput(
      "ffprobe -v error -show_entries packet=pts_time,duration_time -of csv=p=0 " + testing_support::shellQuoted(path)));
  for (std::string line; std::getline(lines, line);) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    const double start = std::stod(line.substr(0, comma));
    peer.emplace_back(start, start + std::stod(line.substr(comma + 1)));
  }
  SubtitleRecords records;
  CVNSRTFileReader::subtitleRecordsFromSRTFileAtPath(path, 2, MediaTime::make(1, 25),
                                                     [&records](SubtitleRecords read) { records = std::move(read); });
  ASSERT_EQ(records.size(), peer.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(records[i]->startTimeInSeconds(), peer[i].first, 0.0015);
    EXPECT_NEAR(records[i]->endTimeInSeconds(), peer[i].second, 0.0015);
    EXPECT_EQ(records[i]->numberOfPacketsAsCEA608(), 0);  // not the CEA-608 mode
  }
  expectRecords(records, {{1.0, 2.5, "Hello there\nsecond line"},
                          {3.25, 4.0, "On top"},
                          {62.005, 63.075, "No number"},
                          {442800.0, 442801.0, "Late"}});
}

TEST(CVNSRTFileReaderTest, CEA608ModeCountsLoadingFramesAndShortSubtitlesLastAFrame) {
  const auto records = CVNSRTFileReader::subtitleRecordsFromSRTText("1\n00:00:01,000 --> 00:00:01,000\nHi\n", 1,
                                                                    MediaTime::make(1, 25));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NEAR(records[0]->endTimeInSeconds(), 1.04, 1e-9);
  // Loading 2, erase 2, preamble 2, one pair of text, end of caption 2.
  EXPECT_EQ(records[0]->numberOfPacketsAsCEA608(), 9);
  SubtitleRecords none = {nullptr};
  CVNSRTFileReader::subtitleRecordsFromSRTFileAtPath("/nonexistent/file.srt", 1, MediaTime::make(1, 25),
                                                     [&none](SubtitleRecords read) { none = std::move(read); });
  EXPECT_TRUE(none.empty());
}

// An EBU STL file: the general block, then text blocks of subtitle number,
// extension block number, cumulative status, time codes in and out,
// vertical position, justification, comment flag and 112 bytes of text.
class STLFile {
 public:
  STLFile(const char* rate, const char* programmeStart, const char* declaredBlocks) : data_(1024, ' ') {
    data_.replace(0, 3, "850");
    data_.replace(3, 8, std::string("STL") + rate + ".01");
    data_.replace(12, 2, "00");
    data_.replace(238, 5, declaredBlocks);
    data_.replace(256, 8, programmeStart);
  }
  STLFile& block(std::uint8_t extension, std::array<std::uint8_t, 4> in, std::array<std::uint8_t, 4> out,
                 const std::string& text, bool comment = false) {
    std::string block(128, '\0');
    block[1] = static_cast<char>(++number_);
    block[3] = static_cast<char>(extension);
    for (int i = 0; i < 4; ++i) {
      block[5 + i] = static_cast<char>(in[i]);
      block[9 + i] = static_cast<char>(out[i]);
    }
    block[13] = 20;
    block[14] = 2;
    block[15] = comment ? 1 : 0;
    std::string field = text.substr(0, 112);
    field.resize(112, '\x8f');
    block.replace(16, 112, field);
    data_ += block;
    return *this;
  }
  const std::string& data() const { return data_; }

 private:
  std::string data_;
  int number_ = 0;
};

TEST(CVNSTLFileReaderTest, ReadsTextBlocks) {
  const STLFile file = STLFile("25", "10000000", "00007")
                           // Double height and boxing, a line break, italics.
                           .block(0xff, {10, 0, 1, 0}, {10, 0, 2, 12}, "\x0d\x0b\x0bHello\x8a\x8a\x0d\x0b\x80there\x81")
                           // Accents from a mark and a letter; ISO 6937 dollar and currency signs.
                           .block(0xff, {10, 0, 3, 0}, {10, 0, 4, 0}, "Caf\xc2" "e, Ni\xc4no \xa4 5 \x24")
                           .block(0xff, {10, 0, 5, 0}, {10, 0, 6, 0}, "A comment", true)
                           .block(0xfe, {10, 0, 5, 0}, {10, 0, 6, 0}, "User data")
                           // Text continued in an extension block.
                           .block(0x00, {0, 0, 0, 0}, {0, 0, 0, 0}, "First part, ")
                           .block(0xff, {10, 0, 7, 0}, {10, 0, 8, 24}, "second part")
                           // A frame count past the rate.
                           .block(0xff, {10, 0, 9, 25}, {10, 0, 10, 0}, "Damaged");
  expectRecords(CVNSTLFileReader::subtitleRecordsFromSTLData(file.data()),
                {{1.0, 2.48, "Hello\nthere"}, {3.0, 4.0, "Café, Niño $ 5 ¤"}, {7.0, 8.96, "First part, second part"}});
  const auto thirty = STLFile("30", "00000000", "00001").block(0xff, {0, 0, 1, 15}, {0, 0, 2, 29}, "Thirty");
  expectRecords(CVNSTLFileReader::subtitleRecordsFromSTLData(thirty.data()), {{1.5, 2.0 + 29.0 / 30, "Thirty"}});
}

TEST(CVNSTLFileReaderTest, RefusesWhatItCannotRead) {
  const std::string whole = STLFile("25", "00000000", "00002")
                                .block(0xff, {0, 0, 1, 0}, {0, 0, 2, 0}, "One")
                                .block(0xff, {0, 0, 3, 0}, {0, 0, 4, 0}, "Two")
                                .data();
  struct Case {
    const char* what;
    std::string data;
    std::size_t records;
  } cases[] = {
      {"whole", whole, 2},
      {"last block cut short", whole.substr(0, whole.size() - 1), 1},
      {"general block cut short", whole.substr(0, 1000), 0},
      {"more blocks declared than present", STLFile("25", "00000000", "00009").block(0xff, {0, 0, 1, 0}, {0, 0, 2, 0}, "x").data(), 1},
      {"fewer blocks declared", STLFile("25", "00000000", "00000").block(0xff, {0, 0, 1, 0}, {0, 0, 2, 0}, "x").data(), 0},
      {"unknown frame rate", STLFile("9x", "00000000", "00001").block(0xff, {0, 0, 1, 0}, {0, 0, 2, 0}, "x").data(), 0},
      {"not an STL file", std::string(2048, 'x'), 0},
      {"end before start", STLFile("25", "00000000", "00001").block(0xff, {0, 0, 2, 0}, {0, 0, 1, 0}, "x").data(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CVNSTLFileReader::subtitleRecordsFromSTLData(c.data).size(), c.records);
  }
}

}  // namespace
}  // namespace captions
