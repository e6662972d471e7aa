// One thumbnail job (a generator made for the file, a 320 x 180 JPEG at
// 10 s) on a 12 s 1080p25 H.264 movie, beside
// `ffmpeg -noaccurate_seek -ss 10 -i f -frames:v 1 -s 320x180 t.jpg`. The
// counters give both wall times (fastest of the runs) and their ratio.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "benchmarks/BenchmarkSupport.h"
#include "media/readers/StandardAssetReaders.h"
#include "media/thumbnails/CVNAssetThumbnailGenerator.h"

namespace {

// Waits for the job's one answer; false when none came within a minute.
bool thumbnailJob(const std::string& file) {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  bool gotData = false;
  auto generator = media::CVNAssetThumbnailGenerator::createWithMediaURL(media::MediaURL::fileURLWithPath(file));
  generator->thumbnailWithDimensions(320, 180, 10, false, media::kThumbnailFormatJPEG,
                                     [&](media::ThumbnailDataRef data, std::int64_t) {
                                       std::lock_guard guard(mutex);
                                       gotData = data != nullptr;
                                       done = true;
                                       answered.notify_all();
                                     });
  std::unique_lock lock(mutex);
  answered.wait_for(lock, std::chrono::minutes(1), [&] { return done; });
  return done && gotData;
}

void BM_ThumbnailJobAgainstFFmpeg(benchmark::State& state) {
  bench::TemporaryFolder folder("thumbnails-bench");
  const std::string file = (folder.path() / "hd.mov").string();
  if (std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=12 -c:v libx264 "
                   "-preset veryfast -g 50 -pix_fmt yuv420p '" + file + "'")
                      .c_str()) != 0) {
    state.SkipWithError("ffmpeg could not make the fixture");
    return;
  }
  media::registerStandardAssetReaders();
  const std::string peer = "ffmpeg -nostdin -v error -y -noaccurate_seek -ss 10 -i '" + file +
                           "' -frames:v 1 -s 320x180 '" + (folder.path() / "t.jpg").string() + "'";
  bench::FastestRun ours;
  bench::FastestRun theirs;
  for (auto _ : state) {
    bool made = false;
    ours.add(bench::secondsOf([&] { made = thumbnailJob(file); }));
    if (!made) {
      state.SkipWithError("the thumbnail job gave no picture");
      return;
    }
    theirs.add(bench::secondsOf([&] {
      if (std::system(peer.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    }));
  }
  state.counters["job_s"] = ours.seconds();
  state.counters["ffmpeg_s"] = theirs.seconds();
  state.counters["time_ratio"] = ours.seconds() / theirs.seconds();
}

BENCHMARK(BM_ThumbnailJobAgainstFFmpeg)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
