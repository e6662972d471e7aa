#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "media/buffers/CVNCMSampleBufferUtilities.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
}

namespace media {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The units of a length-prefixed frame.
std::vector<Bytes> prefixedUnits(const Bytes& frame) {
  std::vector<Bytes> units;
  std::size_t offset = 0;
  while (offset + 4 <= frame.size()) {
    const std::size_t length = (std::size_t{frame[offset]} << 24) | (std::size_t{frame[offset + 1]} << 16) |
                               (std::size_t{frame[offset + 2]} << 8) | frame[offset + 3];
    offset += 4;
    if (length > frame.size() - offset) break;
    units.emplace_back(frame.begin() + static_cast<std::ptrdiff_t>(offset),
                       frame.begin() + static_cast<std::ptrdiff_t>(offset + length));
    offset += length;
  }
  return units;
}

// An "avcC" record of one SPS and one PPS.
Bytes avcC(const Bytes& sps, const Bytes& pps) {
  Bytes record = {1, sps[1], sps[2], sps[3], 0xff, 0xe1, static_cast<std::uint8_t>(sps.size() >> 8),
                  static_cast<std::uint8_t>(sps.size())};
  record.insert(record.end(), sps.begin(), sps.end());
  record.insert(record.end(), {1, static_cast<std::uint8_t>(pps.size() >> 8), static_cast<std::uint8_t>(pps.size())});
  record.insert(record.end(), pps.begin(), pps.end());
  return record;
}

std::string md5Of(const AVFrame* frame) {
  const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(frame->format), frame->width, frame->height, 1);
  Bytes packed(static_cast<std::size_t>(size));
  av_image_copy_to_buffer(packed.data(), size, frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                          frame->width, frame->height, 1);
  std::uint8_t digest[16];
  av_md5_sum(digest, packed.data(), size);
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

// Every frame of an encoder's stream, converted and decoded with an "avcC"
// built from its parameter sets, hashes as ffmpeg's own decoding does.
TEST(AnnexBDecodeTest, ConvertedFramesDecodeLikeTheStream) {
  testing_support::TemporaryDirectory directory;
  const auto stream = directory / "f.h264";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=25 -frames:v 12 -c:v libx264 "
                                          "-pix_fmt yuv420p -f h264 " + testing_support::shellQuoted(stream)));
  std::vector<std::string> expected;
  std::istringstream lines(testing_support::commandOutput("ffmpeg -v error -i " + testing_support::shellQuoted(stream) +
                                                          " -f framemd5 -"));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    expected.push_back(line.substr(line.rfind(',') + 1));
    expected.back().erase(0, expected.back().find_first_not_of(' '));
  }
  ASSERT_EQ(expected.size(), 12u);

  AVFormatContext* input = nullptr;
  ASSERT_EQ(avformat_open_input(&input, stream.c_str(), nullptr, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  std::vector<Bytes> converted;
  while (av_read_frame(input, packet) >= 0) {
    std::string error;
    auto frame = CVNCMSampleBufferUtilities::convertAnnexBFrame({packet->data, static_cast<std::size_t>(packet->size)}, &error);
    ASSERT_TRUE(frame) << error;
    converted.push_back(*frame);
    av_packet_unref(packet);
  }
  avformat_close_input(&input);
  ASSERT_FALSE(converted.empty());
  Bytes sps, pps;
  for (const Bytes& unit : prefixedUnits(converted[0])) {
    if ((unit[0] & 0x1f) == 7 && sps.empty()) sps = unit;
    if ((unit[0] & 0x1f) == 8 && pps.empty()) pps = unit;
  }
  ASSERT_FALSE(sps.empty());
  ASSERT_FALSE(pps.empty());

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  const Bytes record = avcC(sps, pps);
  decoder->extradata = static_cast<std::uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(decoder->extradata, record.data(), record.size());
  decoder->extradata_size = static_cast<int>(record.size());
  decoder->thread_count = 1;
  ASSERT_EQ(avcodec_open2(decoder, codec, nullptr), 0);
  AVFrame* frame = av_frame_alloc();
  std::vector<std::string> hashes;
  auto drain = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      hashes.push_back(md5Of(frame));
      av_frame_unref(frame);
    }
  };
  for (const Bytes& unit : converted) {
    ASSERT_EQ(av_new_packet(packet, static_cast<int>(unit.size())), 0);
    std::memcpy(packet->data, unit.data(), unit.size());
    ASSERT_EQ(avcodec_send_packet(decoder, packet), 0);
    av_packet_unref(packet);
    drain();
  }
  avcodec_send_packet(decoder, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  EXPECT_EQ(hashes, expected);
}

}  // namespace
}  // namespace media
