#include "captions/CVNCCUtilities.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace captions {
namespace {

using platform::media::MediaTime;
using Bytes = std::vector<std::uint8_t>;

const Bytes kTriplets = {0xfc, 0x94, 0x20, 0xfd, 0x80, 0x80, 0xff, 0x02, 0x21};

// An SEI NAL unit (type 6) with one registered user data message carrying the triplets.
Bytes captionSEI(const Bytes& triplets, bool processFlag = true, const char* identifier = "GA94") {
  Bytes payload;
  payload.reserve(16 + triplets.size());
  for (std::uint8_t b : {0xb5, 0x00, 0x31}) payload.push_back(b);
  for (int i = 0; i < 4; ++i) payload.push_back(static_cast<std::uint8_t>(identifier[i]));
  payload.push_back(0x03);
  payload.push_back(static_cast<std::uint8_t>((processFlag ? 0x40 : 0) | (triplets.size() / 3)));
  payload.push_back(0xff);
  payload.insert(payload.end(), triplets.begin(), triplets.end());
  payload.push_back(0xff);  // marker bits
  Bytes sei;
  sei.reserve(payload.size() + 4);
  sei.push_back(0x06);
  sei.push_back(0x04);
  sei.push_back(static_cast<std::uint8_t>(payload.size()));
  for (std::uint8_t b : payload) sei.push_back(b);
  sei.push_back(0x80);  // trailing bits
  return sei;
}

Bytes withStartCode(const Bytes& unit, bool fourBytes) {
  Bytes out = fourBytes ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1};
  out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes withLength(const Bytes& unit) {
  Bytes out = {0, 0, static_cast<std::uint8_t>(unit.size() >> 8), static_cast<std::uint8_t>(unit.size())};
  out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kSlice = {0x65, 0x88, 0x84, 0x00, 0x33};

TEST(CVNCCUtilitiesTest, ExtractsA53FromH264AccessUnits) {
  // Triplets whose bytes need emulation prevention: 00 00 01 inside the payload.
  const Bytes zeros = {0xfc, 0x00, 0x00, 0xfd, 0x01, 0x80};
  Bytes escapedSEI = captionSEI(zeros);
  // Escape by hand: 00 00 followed by a byte <= 3 gets 03 inserted.
  Bytes escaped;
  int run = 0;
  for (std::uint8_t b : escapedSEI) {
    if (run >= 2 && b <= 3) {
      escaped.push_back(3);
      run = 0;
    }
    run = b == 0 ? run + 1 : 0;
    escaped.push_back(b);
  }
  struct Case {
    const char* what;
    Bytes packet;
    std::optional<Bytes> expected;
  } cases[] = {
      {"4-byte start codes", concat({withStartCode(captionSEI(kTriplets), true), withStartCode(kSlice, true)}), kTriplets},
      {"3-byte start codes", concat({withStartCode({0x09, 0xf0}, false), withStartCode(captionSEI(kTriplets), false),
                                     withStartCode(kSlice, false)}),
       kTriplets},
      {"length prefixes", concat({withLength(captionSEI(kTriplets)), withLength(kSlice)}), kTriplets},
      {"emulation prevention", concat({withStartCode(escaped, true), withStartCode(kSlice, true)}), zeros},
      {"two SEI messages", concat({withStartCode(captionSEI(kTriplets), true), withStartCode(captionSEI(zeros), true)}),
       concat({kTriplets, zeros})},
      {"no GA94", withStartCode(captionSEI(kTriplets, true, "GA95"), true), std::nullopt},
      {"not to be processed", withStartCode(captionSEI(kTriplets, false), true), std::nullopt},
      {"no SEI", withStartCode(kSlice, true), std::nullopt},
      {"lying length prefix", Bytes{0, 0, 1, 0, 0x06}, std::nullopt},
      {"count beyond the message", withStartCode(Bytes{0x06, 0x04, 0x0a, 0xb5, 0x00, 0x31, 'G', 'A', '9', '4', 0x03,
                                                       0x5f, 0xff, 0x80},
                                                 true),
       std::nullopt},
      {"SEI size beyond the unit", withStartCode(Bytes{0x06, 0x04, 0x40, 0xb5, 0x00}, true), std::nullopt},
      {"empty", Bytes{}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CVNCCUtilities::extractCCDataFromH264Packet(c.packet, MediaTime::zero()), c.expected);
  }
}

TEST(CVNCCUtilitiesTest, ExtractsA53FromMPEG2UserData) {
  Bytes userData = {0, 0, 1, 0xb2, 'G', 'A', '9', '4', 0x03, 0x43, 0xff};
  userData.insert(userData.end(), kTriplets.begin(), kTriplets.end());
  userData.push_back(0xff);
  const Bytes picture = {0, 0, 1, 0x00, 0x00, 0x0f, 0xff, 0xf8};
  EXPECT_EQ(CVNCCUtilities::extractCCDataFromMPEG2Packet(concat({picture, userData, Bytes{0, 0, 1, 0x01, 0x12}}),
                                                         MediaTime::zero()),
            kTriplets);
  Bytes truncated(userData.begin(), userData.begin() + 14);
  EXPECT_EQ(CVNCCUtilities::extractCCDataFromMPEG2Packet(truncated, MediaTime::zero()), std::nullopt);
  EXPECT_EQ(CVNCCUtilities::extractCCDataFromMPEG2Packet(picture, MediaTime::zero()), std::nullopt);
}

TEST(CVNCCUtilitiesTest, CDPRoundTripsJoinsAndSplits) {
  const MediaTime frame = MediaTime::make(1001, 30000);
  auto sample = CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo({frame, MediaTime::make(0, 30000), {}},
                                                                             frame, 7, kTriplets);
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->formatDescription()->mediaSubType(), kCEA708SubType);
  const Bytes cdp(sample->dataBuffer()->bytes().begin(), sample->dataBuffer()->bytes().end());
  EXPECT_EQ(cdp[0], 0x96);
  EXPECT_EQ(cdp[2], cdp.size());
  EXPECT_EQ(cdp[3] >> 4, 4);  // 29.97
  auto triplets = CVNCCUtilities::tripletsFromCDP(cdp);
  ASSERT_TRUE(triplets);
  ASSERT_EQ(triplets->size(), 20u * 3);  // padded to the count of 29.97
  EXPECT_EQ(Bytes(triplets->begin(), triplets->begin() + 9), kTriplets);
  Bytes broken = cdp;
  broken[10] ^= 1;  // checksum no longer adds up
  EXPECT_FALSE(CVNCCUtilities::tripletsFromCDP(broken));
  EXPECT_FALSE(CVNCCUtilities::tripletsFromCDP(Bytes(cdp.begin(), cdp.end() - 1)));

  const MediaTime half = MediaTime::make(1001, 60000);
  auto a = CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo({half, MediaTime::make(0, 60000), {}}, half, 1,
                                                                        Bytes{0xfc, 0x94, 0x20});
  auto b = CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo({half, MediaTime::make(1001, 60000), {}}, half,
                                                                        2, Bytes{0xfc, 0x94, 0x2c});
  auto joined = CVNCCUtilities::createConcatenatedSampleBufferWithSampleBuffer(a, b, half);
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(joined->duration(), MediaTime::make(2002, 60000));
  auto joinedTriplets = *CVNCCUtilities::tripletsFromCEA708SampleBuffer(*joined);
  EXPECT_EQ(Bytes(joinedTriplets.begin(), joinedTriplets.begin() + 6), (Bytes{0xfc, 0x94, 0x20, 0xfc, 0x94, 0x2c}));
  platform::media::SampleBufferRef first, second;
  ASSERT_TRUE(CVNCCUtilities::splitSampleBuffer(joined, &first, &second, half));
  const Triplets firstTriplets = *CVNCCUtilities::tripletsFromCEA708SampleBuffer(*first);
  EXPECT_EQ(Bytes(firstTriplets.begin(), firstTriplets.begin() + 3), (Bytes{0xfc, 0x94, 0x20}));
  EXPECT_EQ(second->presentationTimeStamp(), MediaTime::make(1001, 60000));

  auto empty608 = CVNCCUtilities::createEmptyCEA608SampleBufferWithPTS(MediaTime::zero(), frame, 0);
  EXPECT_EQ(Bytes(empty608->dataBuffer()->bytes().begin(), empty608->dataBuffer()->bytes().end()),
            (Bytes{0, 0, 0, 10, 'c', 'd', 'a', 't', 0x80, 0x80}));
  auto conformed = CVNCCUtilities::conformSampleBufferToCEA708(empty608, frame);
  ASSERT_NE(conformed, nullptr);
  EXPECT_EQ((*CVNCCUtilities::tripletsFromCEA708SampleBuffer(*conformed))[0], 0xfc);
  auto empty708 = CVNCCUtilities::createEmptyCEA708SampleBufferWithPTS(MediaTime::zero(), MediaTime::make(1, 25), 0);
  EXPECT_EQ(CVNCCUtilities::tripletsFromCEA708SampleBuffer(*empty708)->size(), 24u * 3);
  EXPECT_EQ(CVNCCUtilities::descriptionForCEA708Triplets(kTriplets),
            "fc 94 20 (608 f1), fd 80 80 (608 f2), ff 02 21 (708 start)");
}

TEST(CVNCCUtilitiesTest, CaptionsInsertedIntoAnEncodedStreamAreFound) {
  testing_support::TemporaryDirectory directory;
  const auto raw = directory / "plain.h264";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=25 -frames:v 3 -c:v libx264 -bf 0 "
                                          "-bsf:v filter_units=remove_types=6 -f h264 " +
                                          testing_support::shellQuoted(raw)));
  Bytes stream = testing_support::readFileBytes(raw);
  ASSERT_FALSE(stream.empty());
  // Our caption SEI goes before the first slice (NAL type 5) of the first picture.
  std::size_t slice = 0;
  for (std::size_t i = 0; i + 4 < stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && (stream[i + 3] & 0x1f) == 5) {
      slice = i;
      break;
    }
  }
  ASSERT_GT(slice, 0u);
  const Bytes sei = withStartCode(captionSEI(kTriplets), false);
  stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(slice), sei.begin(), sei.end());
  const auto withCaptions = directory / "captions.h264";
  std::ofstream(withCaptions, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                      static_cast<std::streamsize>(stream.size()));
  const auto muxed = directory / "captions.mp4";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -r 25 -i " + testing_support::shellQuoted(withCaptions) +
                                          " -c copy " + testing_support::shellQuoted(muxed)));
  const std::string frames = testing_support::commandOutput("ffprobe -v error -show_frames -select_streams v " +
                                                            testing_support::shellQuoted(muxed));
  EXPECT_NE(frames.find("A53"), std::string::npos);

  // Through the demuxer the packets carry length prefixes.
  AVFormatContext* context = nullptr;
  ASSERT_EQ(avformat_open_input(&context, muxed.c_str(), nullptr, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  int withTriplets = 0;
  while (av_read_frame(context, packet) >= 0) {
    auto found = CVNCCUtilities::extractCCDataFromH264Packet({packet->data, static_cast<std::size_t>(packet->size)},
                                                             MediaTime::zero());
    if (found) {
      EXPECT_EQ(*found, kTriplets);
      ++withTriplets;
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&context);
  EXPECT_EQ(withTriplets, 1);
}

}  // namespace
}  // namespace captions
