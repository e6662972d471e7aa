// The movie reader against the ffmpeg tools, in the same run:
// - open and load the information of small fixtures vs `ffprobe -show_streams`
//   on each (target: at most 1.5 times its time);
// - sequential bytes through the page ring's read callback vs
//   `dd iflag=direct bs=1M` over the same large file (target: at least 0.9
//   times its throughput).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

#include "media/readers/io/CVNFileContext.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/support/MediaFixtures.h"
#include "benchmarks/BenchmarkSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {


using bench::secondsOf;

testing_support::TemporaryDirectory& folder() {
  static auto* directory = new testing_support::TemporaryDirectory;
  return *directory;
}

const std::vector<std::filesystem::path>& fixtures() {
  static const std::vector<std::filesystem::path> paths = [] {
    const std::vector<std::pair<std::string, std::string>> specs{
        {"b.mov", "-c:v mpeg4 -c:a pcm_s16le"}, {"b.mp4", "-c:v libx264 -c:a aac"},
        {"b.mxf", "-c:v mpeg2video -c:a pcm_s16le"}, {"b.ts", "-c:v mpeg2video -c:a mp2"},
        {"b.mkv", "-c:v mpeg4 -c:a flac"}};
    std::vector<std::filesystem::path> made;
    for (const auto& [name, codecs] : specs) {
      const auto path = folder() / name;
      testing_support::runCommand(
          "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i "
          "sine=sample_rate=48000:duration=2 " + codecs + " " + testing_support::shellQuoted(path));
      made.push_back(path);
    }
    return made;
  }();
  return paths;
}

void BM_OpenAndLoadInfoVersusFFprobe(benchmark::State& state) {
  double reader = 0, ffprobe = 0;
  for (auto _ : state) {
    for (const auto& path : fixtures()) {
      reader += secondsOf([&] {
        media::CVNFFmpegMovieAssetReader movie(media::MediaURL::fileURLWithPath(path), "bench");
        movie.loadInfo(false, false);
        benchmark::DoNotOptimize(movie.isValid());
      });
      ffprobe += secondsOf([&] {
        testing_support::runCommand("ffprobe -v error -show_streams " + testing_support::shellQuoted(path) +
                                    " > /dev/null");
      });
    }
  }
  state.counters["reader_ms"] = 1000 * reader / static_cast<double>(state.iterations());
  state.counters["ffprobe_ms"] = 1000 * ffprobe / static_cast<double>(state.iterations());
  state.counters["time_ratio"] = reader / ffprobe;  // target <= 1.5
}
BENCHMARK(BM_OpenAndLoadInfoVersusFFprobe)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_SequentialReadVersusDirectDd(benchmark::State& state) {
  const auto path = folder() / "large.bin";
  const std::int64_t megabytes = state.range(0);
  testing_support::runCommand("dd if=/dev/urandom of=" + testing_support::shellQuoted(path) +
                              " bs=1M count=" + std::to_string(megabytes) + " status=none");
  std::vector<std::uint8_t> buffer(media::CVNFileContext::kPageSize);
  // Fastest of interleaved runs for each side (the machine is shared).
  bench::FastestRun ourRuns, ddRuns;
  for (auto _ : state) {
    ourRuns.add(secondsOf([&] {
      media::CVNFileContext context;
      context.openFile(path);
      context.allocateMemoryPages(1, media::CVNFileContext::kPageSize);
      std::int64_t total = 0;
      for (int count; (count = media::CVNFileContext::readCallback(&context, buffer.data(),
                                                                   static_cast<int>(buffer.size()))) > 0;) {
        total += count;
      }
      if (total != megabytes * 1048576) state.SkipWithError("short read");
    }));
    ddRuns.add(secondsOf([&] {
      testing_support::runCommand("dd if=" + testing_support::shellQuoted(path) +
                                  " of=/dev/null iflag=direct bs=1M status=none");
    }));
  }
  const double bytes = static_cast<double>(megabytes) * 1048576;
  state.counters["ours_MBps"] = bytes / ourRuns.seconds() / 1e6;
  state.counters["dd_MBps"] = bytes / ddRuns.seconds() / 1e6;
  state.counters["throughput_ratio"] = ddRuns.seconds() / ourRuns.seconds();  // target >= 0.9
  std::filesystem::remove(path);
}
BENCHMARK(BM_SequentialReadVersusDirectDd)->Arg(1024)->Iterations(7)->Unit(benchmark::kMillisecond);

}  // namespace
