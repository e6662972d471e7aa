#include "pluginframework/CVNTimeValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "pluginframework/CVNDisplayMode.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace pluginframework {
namespace {

TEST(CVNTimeValueTest, TextFrameNumberAndSecondsAtEachRate) {
  struct Case {
    double rate;
    bool drop;
    const char* text;
    std::int64_t frame;
  } cases[] = {
      {24000.0 / 1001, false, "00:01:00:00", 1440},
      {24000.0 / 1001, false, "01:00:00:00", 86400},
      {24, false, "00:00:01:00", 24},
      {24, false, "00:00:01:23", 47},
      {25, false, "01:00:00:00", 90000},
      {25, false, "23:59:59:24", 2159999},
      {30000.0 / 1001, true, "00:00:59;29", 1799},
      {30000.0 / 1001, true, "00:01:00;02", 1800},  // two numbers skipped
      {30000.0 / 1001, true, "00:10:00;00", 17982},  // not at the tenth minute
      {30000.0 / 1001, true, "01:00:00;00", 107892},
      {30000.0 / 1001, true, "10:00:00;00", 1078920},
      {30, false, "00:00:10:15", 315},
      {50, false, "00:00:01:49", 99},
      {60000.0 / 1001, true, "00:00:59;59", 3599},
      {60000.0 / 1001, true, "00:01:00;04", 3600},  // four numbers a minute at 59.94
      {60000.0 / 1001, true, "00:10:00;00", 35964},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " " << c.text);
    auto parsed = CVNTimeValue::initWithString(c.text, c.rate, c.drop);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->frameNumber(), c.frame);
    const CVNTimeValue fromFrame = CVNTimeValue::initWithFrameNumber(c.frame, c.rate, c.drop);
    EXPECT_EQ(fromFrame.string(), c.text);
    EXPECT_NEAR(fromFrame.seconds(), c.frame / c.rate, 1e-9);
    EXPECT_EQ(CVNTimeValue::timeValueWithSeconds(fromFrame.seconds(), c.rate, c.drop).frameNumber(), c.frame);
  }
}

TEST(CVNTimeValueTest, RefusesTextThatNamesNoFrame) {
  struct Case {
    const char* text;
    double rate;
    bool drop;
  } cases[] = {
      {"00:01:00;00", 30000.0 / 1001, true},  // skipped by drop frame
      {"00:01:00;03", 60000.0 / 1001, true},
      {"24:00:00:00", 25, false},
      {"00:60:00:00", 25, false},
      {"00:00:00:25", 25, false},
      {"00:00:00", 25, false},
      {"aa:00:00:00", 25, false},
      {"00:00:00:00 ", 25, false},
      {"00:00:00:00", 0, false},
      {"00:00:00:00", NAN, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_FALSE(CVNTimeValue::initWithString(c.text, c.rate, c.drop));
  }
  // Before zero counts back from midnight.
  EXPECT_EQ(CVNTimeValue::initWithFrameNumber(-1, 25, false).string(), "23:59:59:24");
}

TEST(CVNTimeValueTest, TimecodeSamplesHoldBigEndianFrameNumbers) {
  const CVNTimeValue value = CVNTimeValue::initWithFrameNumber(1078920, 30000.0 / 1001, true);
  EXPECT_EQ(value.dataRepresentation(), (std::vector<std::uint8_t>{0x00, 0x10, 0x76, 0x88}));
  auto format = value.createTimecodeFormatDescription();
  EXPECT_EQ(format->frameQuanta(), 30u);
  EXPECT_EQ(format->frameDuration(), platform::media::MediaTime::make(1001, 30000));
  auto sample = value.createTimecodeSampleBufferWithPTS(platform::media::MediaTime::make(5, 1), format);
  ASSERT_NE(sample, nullptr);
  auto back = CVNTimeValue::timeValueWithTimecodeSampleBuffer(*sample);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->string(), "10:00:00;00");
}

TEST(CVNTimeValueTest, FirstTimecodeSampleOfAMovieReadsAsFfprobeReports) {
  testing_support::TemporaryDirectory directory;
  const auto movie = directory / "tc.mov";
  ASSERT_TRUE(testing_support::runCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc2=r=30000/1001 -t 2 -c:v libx264 -timecode '10:00:00;00' " +
      testing_support::shellQuoted(movie)));
  std::string reported = testing_support::commandOutput(
      "ffprobe -v error -show_entries stream_tags=timecode -of csv=p=0 " + testing_support::shellQuoted(movie));
  reported = reported.substr(0, reported.find('\n'));
  ASSERT_EQ(reported, "10:00:00;00");

  AVFormatContext* context = nullptr;
  ASSERT_EQ(avformat_open_input(&context, movie.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
  int timecodeStream = -1;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    if (context->streams[i]->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd')) timecodeStream = static_cast<int>(i);
  }
  ASSERT_GE(timecodeStream, 0);
  AVPacket* packet = av_packet_alloc();
  std::vector<std::uint8_t> sampleBytes;
  while (av_read_frame(context, packet) >= 0) {
    if (packet->stream_index == timecodeStream) sampleBytes.assign(packet->data, packet->data + packet->size);
    av_packet_unref(packet);
    if (!sampleBytes.empty()) break;
  }
  av_packet_free(&packet);
  avformat_close_input(&context);
  ASSERT_EQ(sampleBytes.size(), 4u);

  const CVNTimeValue track = CVNTimeValue::initWithFrameNumber(0, 30000.0 / 1001, true);
  auto sample = CVNTimeValue::initWithFrameNumber(0, 30000.0 / 1001, true)
                    .createTimecodeSampleBufferWithPTS(platform::media::MediaTime::zero(),
                                                       track.createTimecodeFormatDescription());
  std::memcpy(sample->dataBuffer()->data(), sampleBytes.data(), 4);
  auto value = CVNTimeValue::timeValueWithTimecodeSampleBuffer(*sample);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->string(), reported);
}

TEST(CVNDisplayModeTest, RatesFieldsAndPAL) {
  const CVNDisplayMode hd("1080i50", 1, 25, 1920, 1080, FieldDominance::TopFieldFirst);
  EXPECT_TRUE(hd.interlaced());
  EXPECT_TRUE(hd.isPAL());
  EXPECT_DOUBLE_EQ(hd.frameRate(), 25.0);
  EXPECT_EQ(hd.frameDurationAsCMTime(), platform::media::MediaTime::make(1, 25));
  const CVNDisplayMode ntsc("1080p29.97", 1001, 30000, 1920, 1080, FieldDominance::Progressive);
  EXPECT_FALSE(ntsc.interlaced());
  EXPECT_FALSE(ntsc.isPAL());
  EXPECT_EQ(ntsc.frameRateAsCMTime().value, 30000);
  EXPECT_EQ(ntsc.frameRateAsCMTime().timeScale, 1001);
  EXPECT_TRUE(CVNDisplayMode("720p50", 1, 50, 1280, 720, FieldDominance::Progressive).isPAL());
  EXPECT_TRUE(CVNDisplayMode("x", 1, 50, 1, 1, FieldDominance::BottomFieldFirst).interlaced());
  EXPECT_EQ(CVNDisplayMode::descriptionForDisplayMode(&hd), "1080i50 (1920 x 1080, 25.00 fps, interlaced, top field first)");
  EXPECT_EQ(CVNDisplayMode::descriptionForDisplayMode(nullptr), "No display mode");
}

}  // namespace
}  // namespace pluginframework
