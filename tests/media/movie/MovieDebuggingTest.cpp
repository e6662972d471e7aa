// The movie reader's debugging aids: flag texts, a stream's index entries,
// and a file's timecodes written next to it.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/media/movie/MovieFixtures.h"

namespace {

using media::CVNFFmpegMovieAssetReader;
using media::MediaURL;

TEST(MovieDebugging, FlagTexts) {
  const struct {
    int flags;
    const char* packet;
    const char* seek;
  } rows[] = {
      {0, "Flags: 0", "Flags: 0 FORWARD KEY FRAME ONLY"},
      {1, "Flags: 1 KEY FRAME", "Flags: 1 BACKWARD KEY FRAME ONLY"},
      {5, "Flags: 5 KEY FRAME DISCARD", "Flags: 5 BACKWARD ANY TYPES"},
      {10, "Flags: 10 CORRUPTED TRUSTED", "Flags: 10 FORWARD BYTES KEY FRAME ONLY BY FRAME NUMBER"},
      {31, "Flags: 31 KEY FRAME CORRUPTED DISCARD TRUSTED DISPOSABLE",
       "Flags: 31 BACKWARD BYTES ANY TYPES BY FRAME NUMBER"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CVNFFmpegMovieAssetReader::stringFromAVPacketFlags(row.flags), row.packet);
    EXPECT_EQ(CVNFFmpegMovieAssetReader::stringFromAVSeekFlag(row.flags), row.seek);
  }
}

TEST(MovieDebugging, IndexEntriesOneLineEach) {
  CVNFFmpegMovieAssetReader reader(MediaURL::fileURLWithPath(movie_fixtures::fixture("movie.mov")), "index");
  reader.loadInfo(false, false);
  ASSERT_TRUE(reader.isValid());
  AVFormatContext* context = reader.formatContext();
  ASSERT_TRUE(context);
  const std::string text = CVNFFmpegMovieAssetReader::AVIndexEntriesString(context, 0);
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "%05i\tTS: ", count);
    EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
    ++count;
  }
  EXPECT_EQ(count, avformat_index_get_entries_count(context->streams[0]));
  EXPECT_GT(count, 0);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::AVIndexEntriesString(context, 99), "");
  EXPECT_EQ(CVNFFmpegMovieAssetReader::AVIndexEntriesString(nullptr, 0), "");
}

// The movie reader gives a file's timecode as its start value, not as
// samples: the text holds no lines then, but is still written.
TEST(MovieDebugging, TimecodeTextIsWrittenNextToTheMovie) {
  const auto movie = movie_fixtures::fixture("dropframe.mov");
  ASSERT_FALSE(movie.empty());
  auto written = movie;
  written.replace_extension("tc");
  std::filesystem::remove(written);
  CVNFFmpegMovieAssetReader::printTimecodesFromFileAtURL(MediaURL::fileURLWithPath(movie));
  EXPECT_TRUE(std::filesystem::exists(written));
  const auto missing = movie_fixtures::fixtureFolder() / "missing.mov";
  CVNFFmpegMovieAssetReader::printTimecodesFromFileAtURL(MediaURL::fileURLWithPath(missing));
  EXPECT_FALSE(std::filesystem::exists(movie_fixtures::fixtureFolder() / "missing.tc")) << "nothing for a file not read";
}

}  // namespace
