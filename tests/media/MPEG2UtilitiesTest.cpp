#include "media/parsers/CVNMPEG2Utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::media::MediaTime;

// A sequence header of 720 x 608 at 25 frames a second and 50 Mbit/s (125000 × 400).
const Bytes kSequence = {0, 0, 1, 0xb3, 0x2d, 0x02, 0x60, 0x33, 0x7a, 0x12, 0x03, 0xff, 0xff, 0xe0};

TEST(CVNMPEG2UtilitiesTest, ByteTables) {
  std::int32_t width = 0, height = 0, bitrate = 0;
  ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(kSequence, &width, &height, &bitrate));
  EXPECT_EQ(width, 720);
  EXPECT_EQ(height, 608);
  EXPECT_EQ(bitrate, 0x7a * 1024 + 0x12 * 4 + (0x03 >> 6));
  // A header of exactly 10 bytes lacks byte 10: nothing is read past it.
  const Bytes short10(kSequence.begin(), kSequence.begin() + 10);
  EXPECT_FALSE(CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(short10, &width, &height, &bitrate));
  MediaTime duration;
  const Bytes short7(kSequence.begin(), kSequence.begin() + 7);
  EXPECT_FALSE(CVNMPEG2Utilities::parseBufferForFrameDuration(short7, &duration));
  for (int code = 0; code <= 9; ++code) {
    Bytes sequence = kSequence;
    sequence[7] = static_cast<std::uint8_t>(0x30 | code);
    const bool known = code >= 1 && code <= 8;
    EXPECT_EQ(CVNMPEG2Utilities::parseBufferForFrameDuration(sequence, &duration), known) << code;
  }
  Bytes rate = kSequence;
  rate[7] = 0x34;
  ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForFrameDuration(rate, &duration));
  EXPECT_EQ(duration.value, 1001);
  EXPECT_EQ(duration.timeScale, 30000);

  struct Picture {
    Bytes bytes;
    bool answer;
    std::int64_t type;
    std::int32_t reference;
  } pictures[] = {
      {{0, 0, 1, 0x00, 0x01, 0x48, 0xff, 0xf8}, true, 1, 5},  // reference 1*4 + 1 = 5, type (0x48>>3)&7 = 1
      {{0, 0, 1, 0x00, 0x06, 0x50, 0xff, 0xf8}, false, 0, 0},  // reference 25: refused, 0
      {{0, 0, 1, 0x00, 0x00, 0x18, 0xff, 0xf8}, true, 3, 0},
  };
  for (const Picture& p : pictures) {
    std::int64_t type = 0;
    std::int32_t reference = -1;
    EXPECT_EQ(CVNMPEG2Utilities::parseBufferForFrameTypeTemporalOrder(p.bytes, &type, &reference), p.answer);
    EXPECT_EQ(reference, p.reference);
    if (p.answer) {
      EXPECT_EQ(type, p.type);
    }
  }
  EXPECT_EQ(CVNMPEG2Utilities::stringFromFrameType(3), "B");
  EXPECT_EQ(CVNMPEG2Utilities::stringFromFrameType(5), "Unknown");
  EXPECT_FALSE(CVNMPEG2Utilities::mpeg2HeaderDataFromBuffer(Bytes{0, 0, 1, 0xb3}, MPEG2HeaderType::Sequence));
}

TEST(CVNMPEG2UtilitiesTest, ExtensionsAreToldApartByTheirWholeIdentifier) {
  testing_support::CapturedDiagnostics diagnostics;
  const Bytes quantMatrix = {0, 0, 1, 0xb5, 0x3f, 0xff, 0xff, 0xff, 0xff, 0xff};
  const Bytes sequenceExtension = {0, 0, 1, 0xb5, 0x14, 0x8a, 0x00, 0x01, 0x00, 0x00};
  const Bytes codingProgressive = {0, 0, 1, 0xb5, 0x8f, 0xff, 0xf3, 0x00, 0x80, 0x00};
  const Bytes codingTopFirst = {0, 0, 1, 0xb5, 0x8f, 0xff, 0xf3, 0x80, 0x00, 0x00};
  const Bytes codingBottomFirst = {0, 0, 1, 0xb5, 0x8f, 0xff, 0xf3, 0x00, 0x00, 0x00};
  const Bytes reserved = {0, 0, 1, 0xb5, 0x0f, 0xff, 0xff, 0xff, 0xff};
  EXPECT_FALSE(CVNMPEG2Utilities::mpeg2HeaderDataFromBuffer(quantMatrix, MPEG2HeaderType::SequenceExtension));
  EXPECT_TRUE(CVNMPEG2Utilities::mpeg2HeaderDataFromBuffer(sequenceExtension, MPEG2HeaderType::SequenceExtension));
  EXPECT_EQ(diagnostics.count("Weird MPEG2 extension header"), 0u);
  EXPECT_FALSE(CVNMPEG2Utilities::mpeg2HeaderDataFromBuffer(reserved, MPEG2HeaderType::PictureCodingExtension));
  EXPECT_EQ(diagnostics.count("Weird MPEG2 extension header"), 1u);
  struct Order {
    Bytes bytes;
    std::int32_t order;
  } orders[] = {{codingProgressive, 1}, {codingTopFirst, 2}, {codingBottomFirst, 3}};
  for (const Order& o : orders) {
    std::int32_t order = 0;
    ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForFieldOrder(o.bytes, &order));
    EXPECT_EQ(order, o.order);
  }
  // Progressive frame wins over top field first; 8 bytes are not enough.
  Bytes both = codingProgressive;
  both[7] = 0x80;
  std::int32_t order = 0;
  ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForFieldOrder(both, &order));
  EXPECT_EQ(order, 1);
  EXPECT_FALSE(CVNMPEG2Utilities::parseBufferForFieldOrder(Bytes(both.begin(), both.begin() + 8), &order));
}

TEST(CVNMPEG2UtilitiesTest, CaptionUserData) {
  Bytes userData = {0, 0, 0, 1, 0xb2, 'G', 'A', '9', '4', 0x03, 0xc1, 0xff};
  Bytes withCaptions = userData;
  for (int i = 0; i < 60; ++i) withCaptions.push_back(static_cast<std::uint8_t>(i));
  bool has = false;
  EXPECT_TRUE(CVNMPEG2Utilities::parseBufferForCaptions(withCaptions, &has));
  EXPECT_TRUE(has);
  auto captions = CVNMPEG2Utilities::getCaptionsFromBuffer(withCaptions);
  ASSERT_TRUE(captions);
  EXPECT_EQ(captions->size(), 60u);
  EXPECT_EQ((*captions)[0], 0);
  EXPECT_EQ((*captions)[59], 59);
  withCaptions.pop_back();  // 59 bytes: not all there
  EXPECT_FALSE(CVNMPEG2Utilities::getCaptionsFromBuffer(withCaptions));
  Bytes other = userData;
  other[9] = 0x04;
  other.push_back(0);
  EXPECT_TRUE(CVNMPEG2Utilities::parseBufferForCaptions(other, &has));
  EXPECT_FALSE(has);
  EXPECT_FALSE(CVNMPEG2Utilities::parseBufferForCaptions(kSequence, &has));
  EXPECT_FALSE(has);
  EXPECT_FALSE(CVNMPEG2Utilities::parseBufferForCaptions(kSequence, nullptr));
}

// Streams made by the encoder: size, rate and picture types as ffprobe reads them.
TEST(CVNMPEG2UtilitiesTest, EncodedStreamsReadAsFfprobeReports) {
  testing_support::TemporaryDirectory directory;
  struct Case {
    const char* rate;
    const char* flags;
    std::int32_t fieldOrder;  // 0: not checked
  } cases[] = {
      {"24000/1001", "", 1}, {"24", "", 1}, {"25", "-flags +ildct+ilme -top 1", 2}, {"30000/1001", "-flags +ildct+ilme -top 0", 3},
      {"30", "", 1}, {"50", "", 1}, {"60000/1001", "", 1}, {"60", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const auto path = directory / "stream.m2v";
    ASSERT_TRUE(testing_support::makeFileOnce(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=s=352x288:r=") + c.rate +
                                              " -t 0.5 -c:v mpeg2video " + c.flags + " -f mpeg2video",
                                              path));
    const auto bytes = testing_support::readFileBytes(path);
    std::int32_t width = 0, height = 0, bitrate = 0, order = 0;
    ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(bytes, &width, &height, &bitrate));
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 288);
    MediaTime duration;
    ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForFrameDuration(bytes, &duration));
    const std::string probed =
        testing_support::commandOutputOnce("ffprobe -v error -show_entries stream=r_frame_rate -of csv=p=0", path);
    std::string expected = std::to_string(duration.timeScale / std::gcd(duration.timeScale, static_cast<std::int32_t>(duration.value))) + "/" +
                           std::to_string(duration.value / std::gcd(duration.timeScale, static_cast<std::int32_t>(duration.value)));
    EXPECT_EQ(probed.substr(0, probed.find_first_of(",\n")), expected);
    ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForFieldOrder(bytes, &order));
    EXPECT_EQ(order, c.fieldOrder);
  }
  // Picture types, picture by picture, against ffprobe's.
  const auto path = directory / "gop.m2v";
  ASSERT_TRUE(testing_support::makeFileOnce("ffmpeg -v error -y -f lavfi -i testsrc2=s=352x288:r=25 -t 0.6 -c:v mpeg2video "
                                            "-bf 2 -g 6 -f mpeg2video",
                                            path));
  const auto bytes = testing_support::readFileBytes(path);
  std::string types;
  for (std::size_t i = 0; i + 6 <= bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0) {
      std::int64_t type = 0;
      std::int32_t reference = 0;
      ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForFrameTypeTemporalOrder(std::span(bytes).subspan(i), &type, &reference));
      types += CVNMPEG2Utilities::stringFromFrameType(type);
    }
  }
  std::string probed = testing_support::commandOutputOnce("ffprobe -v error -show_entries frame=pict_type -of csv=p=0", path);
  probed.erase(std::remove_if(probed.begin(), probed.end(), [](char c) { return c != 'I' && c != 'P' && c != 'B'; }),
               probed.end());
  // ffprobe lists pictures in display order, the stream in coded order: same multiset.
  std::string sortedTypes = types, sortedProbed = probed;
  std::sort(sortedTypes.begin(), sortedTypes.end());
  std::sort(sortedProbed.begin(), sortedProbed.end());
  EXPECT_EQ(sortedTypes, sortedProbed);
  EXPECT_NE(types.find('B'), std::string::npos);
}

TEST(CVNMPEG2UtilitiesTest, IMXSequenceHeader) {
  testing_support::TemporaryDirectory directory;
  const auto path = directory / "imx.mxf";
  ASSERT_TRUE(testing_support::makeFileOnce(
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=720x608:r=25 -t 0.2 -vf setfield=tff -c:v mpeg2video -pix_fmt yuv422p "
      "-g 1 -flags +ildct+ilme -top 1 -dc 10 -qmin 1 -qmax 3 -b:v 50M -minrate 50M -maxrate 50M -bufsize 2000000 "
      "-rc_init_occupancy 2000000 -an -f mxf_d10",
      path));
  const auto bytes = testing_support::readFileBytes(path);
  std::int32_t width = 0, height = 0, bitrate = 0;
  ASSERT_TRUE(CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(bytes, &width, &height, &bitrate));
  EXPECT_EQ(width, 720);
  EXPECT_EQ(height, 608);
  EXPECT_EQ(bitrate, 125000);
}

}  // namespace
}  // namespace media
