// Packet reading: every sample buffer's times equal what ffprobe lists less
// the start offset, per container and codec; the out point stops reading and
// an extension hands back the held packets without reading the file again;
// what is held past the out point stays bounded; truncated files end
// cleanly; uncompressed pictures wrap the packet's bytes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/media/movie/MovieFixtures.h"

namespace {

using media::CVNFFmpegMovieAssetReader;
using media::MediaURL;
namespace pm = platform::media;

std::unique_ptr<CVNFFmpegMovieAssetReader> loadedReader(const std::filesystem::path& path) {
  auto reader = std::make_unique<CVNFFmpegMovieAssetReader>(MediaURL::fileURLWithPath(path), "test");
  reader->loadInfo(false, false);
  return reader;
}

struct Sample {
  pm::SampleBufferRef buffer;
  std::int32_t track = 0;
};

std::vector<Sample> readAll(CVNFFmpegMovieAssetReader& reader) {
  std::vector<Sample> samples;
  std::int32_t track = -1;
  while (auto sample = reader.nextSampleBufferForTrackIndex(&track)) samples.push_back({sample, track});
  return samples;
}

bool isVideo(const Sample& sample) {
  return sample.buffer->formatDescription() && sample.buffer->formatDescription()->mediaType() == pm::kMediaTypeVideo;
}

// A stream time in ticks as a media time, for comparing with ours plus the start offset.
pm::MediaTime ticks(std::int64_t value, AVRational timeBase) {
  return pm::MediaTime::make(value * timeBase.num, timeBase.den);
}

struct TimingCase {
  const char* fixture;
  std::size_t audioTracks;
};

TEST(MovieReading, SampleTimesEqualTheProbedPacketsLessTheStartOffset) {
  const TimingCase cases[] = {{"x264.mov", 1}, {"x264.mkv", 1}, {"mpeg2.ts", 1}, {"op1a.mxf", 1},
                              {"movie.dv", 1}, {"v210.mov", 0},  {"prores.mov", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const auto path = movie_fixtures::fixture(c.fixture);
    ASSERT_FALSE(path.empty());
    auto reader = loadedReader(path);
    ASSERT_TRUE(reader->isValid()) << reader->validationError();
    reader->initReading();
    const AVRational timeBase = reader->videoStream()->time_base;
    const auto probed = movie_fixtures::probePackets(path, "v:0");

    std::int64_t smallest = INT64_MAX;
    for (std::size_t i = 0, seen = 0; i < probed.size() && seen < 10; ++i) {
      if (probed[i].pts) smallest = std::min(smallest, *probed[i].pts), ++seen;
    }
    EXPECT_EQ(pm::compare(reader->startOffset(), ticks(smallest, timeBase)), 0);

    const auto samples = readAll(*reader);
    std::vector<Sample> video;
    std::size_t audio = 0;
    for (const auto& sample : samples) {
      if (isVideo(sample)) {
        video.push_back(sample);
      } else if (sample.buffer->formatDescription()->mediaType() == pm::kMediaTypeAudio) {
        ++audio;
        EXPECT_LT(static_cast<std::size_t>(sample.track), c.audioTracks);
        EXPECT_GT(sample.buffer->dataBuffer()->dataLength(), 0U);
      }
    }
    EXPECT_EQ(audio > 0, c.audioTracks > 0);
    ASSERT_EQ(video.size(), probed.size());
    for (std::size_t i = 0; i < video.size(); ++i) {
      SCOPED_TRACE(i);
      const auto& buffer = *video[i].buffer;
      ASSERT_TRUE(probed[i].pts);
      EXPECT_EQ(pm::compare(buffer.presentationTimeStamp() + reader->startOffset(), ticks(*probed[i].pts, timeBase)), 0);
      if (probed[i].dts) {
        EXPECT_EQ(pm::compare(buffer.decodeTimeStamp() + reader->startOffset(), ticks(*probed[i].dts, timeBase)), 0);
      } else {
        EXPECT_FALSE(buffer.decodeTimeStamp().isValid());
      }
      if (probed[i].duration && *probed[i].duration > 0) {
        EXPECT_EQ(pm::compare(buffer.duration(), ticks(*probed[i].duration, timeBase)), 0);
      }
    }
    EXPECT_TRUE(reader->finishedReading());
    EXPECT_FALSE(reader->nextSampleBufferForTrackIndex(nullptr));
  }
}

TEST(MovieReading, UncompressedPicturesWrapThePacketBytes) {
  auto reader = loadedReader(movie_fixtures::fixture("v210.mov"));
  ASSERT_TRUE(reader->isValid());
  reader->initReading();
  const auto sample = reader->nextSampleBufferForTrackIndex(nullptr);
  ASSERT_TRUE(sample && sample->imageBuffer());
  EXPECT_EQ(sample->imageBuffer()->width(), 64U);
  EXPECT_EQ(sample->imageBuffer()->height(), 48U);
  EXPECT_EQ(sample->imageBuffer()->pixelFormatType(), pm::fourCC("v210"));
  EXPECT_EQ(sample->imageBuffer()->bytesPerRow(), 128U * 2);
}

TEST(MovieReading, AnExtendedOutPointDeliversTheHeldPacketsWithoutReadingTheFile) {
  auto whole = loadedReader(movie_fixtures::fixture("x264.mov"));
  whole->initReading();
  const auto everything = readAll(*whole);

  auto reader = loadedReader(movie_fixtures::fixture("x264.mov"));
  reader->initReading();
  reader->setOutPointInSeconds(0.6);
  const auto first = readAll(*reader);
  ASSERT_TRUE(reader->finishedReading());
  for (const auto& sample : first) {
    if (isVideo(sample)) {
      EXPECT_LT(sample.buffer->decodeTimeStamp().seconds(), 0.6);
    }
  }
  const std::size_t held = reader->beyondOutPointPacketCount();
  ASSERT_GE(held, 2U);
  const std::int64_t readBefore = reader->packetsReadFromFile();

  reader->updateOutPoint(2.0);
  EXPECT_FALSE(reader->finishedReading());
  std::vector<Sample> rest;
  for (std::size_t i = 0; i < held; ++i) rest.push_back({reader->nextSampleBufferForTrackIndex(nullptr), 0});
  EXPECT_EQ(reader->packetsReadFromFile(), readBefore);
  for (const auto& sample : readAll(*reader)) rest.push_back(sample);

  ASSERT_EQ(first.size() + rest.size(), everything.size());
  for (std::size_t i = 0; i < everything.size(); ++i) {
    const auto& ours = i < first.size() ? first[i] : rest[i - first.size()];
    ASSERT_TRUE(ours.buffer);
    EXPECT_EQ(pm::compare(ours.buffer->presentationTimeStamp(), everything[i].buffer->presentationTimeStamp()), 0) << i;
  }
}

TEST(MovieReading, WhatIsHeldPastTheOutPointStaysBoundedAndAnExtensionSeeks) {
  // The audio ends before the out point, so reading goes on to the end of the file.
  auto reader = loadedReader(movie_fixtures::fixture("shortaudio.mov"));
  ASSERT_TRUE(reader->isValid());
  ASSERT_GT(std::filesystem::file_size(movie_fixtures::fixture("shortaudio.mov")), 6U << 20);
  reader->initReading();
  reader->setOutPointInSeconds(0.5);
  std::vector<double> shown;
  for (const auto& sample : readAll(*reader)) {
    if (isVideo(sample)) shown.push_back(sample.buffer->presentationTimeStamp().seconds());
  }
  EXPECT_EQ(shown.size(), 13U);  // decode times below 0.5 s
  EXPECT_LE(reader->beyondOutPointBytes(), 4 << 20);

  reader->updateOutPoint(6.0);
  for (const auto& sample : readAll(*reader)) {
    if (!isVideo(sample)) continue;
    if (sample.buffer->sampleAttachment(0, pm::kSampleAttachmentKeyDoNotDisplay).booleanOr(false)) continue;
    shown.push_back(sample.buffer->presentationTimeStamp().seconds());
  }
  ASSERT_EQ(shown.size(), 150U);
  for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_NEAR(shown[i], i / 25.0, 1e-9) << i;
}

TEST(MovieReading, TruncatedFilesEndCleanlyAndShortenTheDuration) {
  for (const char* name : {"mpeg2.ts", "x264.mkv"}) {
    SCOPED_TRACE(name);
    const auto source = movie_fixtures::fixture(name);
    const auto path = movie_fixtures::fixtureFolder() / (std::string("cut-") + name);
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(path, std::filesystem::file_size(source) / 2);

    auto reader = loadedReader(path);
    ASSERT_TRUE(reader->isValid());
    const double before = reader->duration().seconds();
    reader->setShouldUpdateDurationWhenReadingAfterEOF(true);
    reader->initReading();
    double last = 0;
    for (const auto& sample : readAll(*reader)) {
      if (isVideo(sample)) last = std::max(last, sample.buffer->decodeTimeStamp().seconds());
    }
    EXPECT_TRUE(reader->finishedReading());
    EXPECT_GT(last, 0.2);
    EXPECT_LT(reader->duration().seconds(), 1.9);
    EXPECT_LE(reader->duration().seconds(), before);
    EXPECT_GE(reader->duration().seconds(), last);
    EXPECT_LE(pm::compare(reader->outPoint(), reader->duration()), 0);
  }
}

TEST(MovieReading, AShortUncompressedPacketIsSkipped) {
  // Cut in the middle of a picture: the last packet is short of its rows.
  const auto source = movie_fixtures::fixture("v210.mov");
  const auto path = movie_fixtures::fixtureFolder() / "cut-v210.mov";
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  constexpr std::uintmax_t kPicture = 256 * 48;
  std::filesystem::resize_file(path, std::filesystem::file_size(source) - kPicture * 3 / 2);
  auto reader = loadedReader(path);
  ASSERT_TRUE(reader->isValid());
  reader->initReading();
  std::size_t pictures = 0;
  for (const auto& sample : readAll(*reader)) {
    ASSERT_TRUE(sample.buffer->imageBuffer());
    EXPECT_EQ(sample.buffer->imageBuffer()->bytesPerRow() * 48, kPicture);
    ++pictures;
  }
  EXPECT_EQ(pictures, 10U - 2);
}

TEST(MovieReading, MPEG2PacketsWithoutTimesGetThemFromTheGroupStart) {
  // The first (closed) group's packets, read by the test itself, with the
  // times of all but the I picture cleared: the reader computes them from
  // the group start and each picture's temporal reference.
  const auto path = movie_fixtures::fixture("mpeg2.ts");
  auto reader = loadedReader(path);
  reader->initReading();
  EXPECT_TRUE(reader->hasBFrames());

  AVFormatContext* context = nullptr;
  ASSERT_EQ(avformat_open_input(&context, path.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
  const int video = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVPacket* packet = av_packet_alloc();
  int repaired = 0;
  for (int pictures = 0; pictures < 10 && av_read_frame(context, packet) >= 0; av_packet_unref(packet)) {
    if (packet->stream_index != video) continue;
    ++pictures;
    const std::int64_t original = packet->pts;
    const bool intra = pictures == 1;
    if (!intra) packet->pts = AV_NOPTS_VALUE;
    std::int64_t frameType = 0;
    std::int32_t temporalOrder = -1;
    ASSERT_TRUE(reader->extractPtsFromMPEG2Header(*packet, &frameType, &temporalOrder));
    EXPECT_EQ(frameType == 1, intra);
    EXPECT_EQ(packet->pts, original) << pictures;
    repaired += intra ? 0 : 1;
  }
  EXPECT_EQ(repaired, 9);
  av_packet_free(&packet);
  avformat_close_input(&context);
}

}  // namespace
