// The movie reader's packet reading and seeking against the ffmpeg tools,
// in the same run, on a large H.264 and PCM file (a short clip repeated
// with -stream_loop; READING_BENCH_MIB sets its size, 1024 by default, 256 at least):
// - every packet to a sample buffer, released at once, vs
//   `ffmpeg -i f -c copy -f null -` (target: at least 0.9 times its packets
//   per second), with `dd iflag=direct bs=1M` over the file for bytes per
//   second; with the file out of the page cache and in it;
// - a precise seek decoded to its first shown frame vs
//   `ffmpeg -ss T -i f -frames:v 1 -f null -` (target: at most 1.5 times its time).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "tests/support/MediaFixtures.h"
#include "benchmarks/BenchmarkSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

namespace pm = platform::media;

using bench::secondsOf;

testing_support::TemporaryDirectory& folder() {
  static auto* directory = new testing_support::TemporaryDirectory;
  return *directory;
}

std::int64_t requestedMiB() {
  const char* text = std::getenv("READING_BENCH_MIB");
  return text ? std::max(256LL, std::atoll(text)) : 1024;
}

// 10 s of 1280x720 H.264 at about 20 Mbit/s with 48 kHz stereo PCM, looped to the size asked for.
const std::filesystem::path& largeFile() {
  static const std::filesystem::path path = [] {
    const auto clip = folder() / "clip.mov";
    const auto large = folder() / "large.mov";
    testing_support::runCommand(
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=10 -f lavfi -i "
        "sine=sample_rate=48000:duration=10 -ac 2 -c:v libx264 -preset ultrafast -b:v 20M -g 25 -c:a pcm_s16le " +
        testing_support::shellQuoted(clip));
    const auto clipBytes = static_cast<std::int64_t>(std::filesystem::file_size(clip));
    const std::int64_t loops = std::max<std::int64_t>(requestedMiB() * 1048576 / clipBytes - 1, 0);
    testing_support::runCommand("ffmpeg -nostdin -loglevel error -y -stream_loop " + std::to_string(loops) + " -i " +
                                testing_support::shellQuoted(clip) + " -c copy " + testing_support::shellQuoted(large));
    return large;
  }();
  return path;
}

std::unique_ptr<media::CVNFFmpegMovieAssetReader> readingReader() {
  auto reader = std::make_unique<media::CVNFFmpegMovieAssetReader>(media::MediaURL::fileURLWithPath(largeFile()),
                                                                   "bench");
  reader->loadInfo(false, false);
  reader->initReading();
  return reader;
}

// Cold: the file is put out of the page cache before every run of either
// side, so both read the disk. Warm: it is read into the cache first, which
// only ffmpeg can use (the reader bypasses the cache by design). Each side's
// figure is its fastest of the repeats (READING_BENCH_REPEATS, 5 by default).
enum CacheState { kCold = 0, kWarm = 1 };

int repeats() {
  const char* text = std::getenv("READING_BENCH_REPEATS");
  return text ? std::max(1, std::atoi(text)) : 5;
}

void BM_EveryPacketVersusFFmpegCopy(benchmark::State& state) {
  const auto& path = largeFile();
  const bool warm = state.range(0) == kWarm;
  const auto timed = [&](const std::function<void()>& work) {
    warm ? bench::loadIntoPageCache(path) : bench::dropFromPageCache(path);
    return bench::secondsOf(work);
  };
  bench::FastestRun ourRuns, ffmpegRuns, ddRuns;
  std::int64_t packets = 0;
  for (auto _ : state) {
    // The sides take turns, so a burst of load elsewhere hits both alike.
    for (int i = 0; i < repeats(); ++i) {
      ourRuns.add(timed([&] {
        packets = 0;
        auto reader = readingReader();
        while (auto sample = reader->nextSampleBufferForTrackIndex(nullptr)) ++packets;
      }));
      ffmpegRuns.add(timed([&] {
        testing_support::runCommand("ffmpeg -nostdin -loglevel error -i " + testing_support::shellQuoted(path) +
                                    " -map 0 -c copy -f null -");
      }));
      ddRuns.add(timed([&] {
        testing_support::runCommand("dd if=" + testing_support::shellQuoted(path) +
                                    " of=/dev/null iflag=direct bs=1M status=none");
      }));
    }
  }
  const double ours = ourRuns.seconds(), ffmpeg = ffmpegRuns.seconds(), dd = ddRuns.seconds();
  const double bytes = static_cast<double>(std::filesystem::file_size(path));
  state.SetLabel(warm ? "warm cache" : "cold cache");
  state.counters["file_MiB"] = bytes / 1048576;
  state.counters["packets"] = static_cast<double>(packets);
  state.counters["ours_packets_per_s"] = static_cast<double>(packets) / ours;
  state.counters["ffmpeg_packets_per_s"] = static_cast<double>(packets) / ffmpeg;
  state.counters["packet_rate_ratio"] = ffmpeg / ours;  // target >= 0.9
  state.counters["ours_MBps"] = bytes / ours / 1e6;
  state.counters["dd_MBps"] = bytes / dd / 1e6;
}
BENCHMARK(BM_EveryPacketVersusFFmpegCopy)->Arg(kCold)->Arg(kWarm)->Iterations(1)->Unit(benchmark::kMillisecond);

// Opens, seeks precisely and decodes until the first frame shown comes out.
void seekAndDecode(double seconds) {
  auto reader = readingReader();
  reader->seekToTime(seconds, true, false);
  const AVCodecParameters* parameters = reader->videoStream()->codecpar;
  AVCodecContext* codec = avcodec_alloc_context3(avcodec_find_decoder(parameters->codec_id));
  avcodec_parameters_to_context(codec, parameters);
  codec->thread_count = 1;
  avcodec_open2(codec, codec->codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const std::int64_t target = std::llround(seconds * 1000);
  bool shown = false;
  while (!shown) {
    const auto sample = reader->nextSampleBufferForTrackIndex(nullptr);
    if (!sample) break;
    if (!sample->dataBuffer() || sample->formatDescription()->mediaType() != pm::kMediaTypeVideo) continue;
    packet->data = sample->dataBuffer()->data();
    packet->size = static_cast<int>(sample->dataBuffer()->dataLength());
    packet->pts = std::llround(sample->presentationTimeStamp().seconds() * 1000);
    avcodec_send_packet(codec, packet);
    while (avcodec_receive_frame(codec, frame) == 0) shown = shown || frame->pts >= target;
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
}

void BM_PreciseSeekVersusFFmpegSeek(benchmark::State& state) {
  const auto& path = largeFile();
  double ours = 0, ffmpeg = 0;
  int index = 0;
  for (auto _ : state) {
    // Mid-group targets spread over the file.
    const double seconds = 7.3 + 13.0 * (index++ % 5);
    ours += secondsOf([&] { seekAndDecode(seconds); });
    ffmpeg += secondsOf([&] {
      testing_support::runCommand("ffmpeg -nostdin -loglevel error -ss " + std::to_string(seconds) + " -i " +
                                  testing_support::shellQuoted(path) + " -frames:v 1 -f null -");
    });
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = 1000 * ours / iterations;
  state.counters["ffmpeg_ms"] = 1000 * ffmpeg / iterations;
  state.counters["time_ratio"] = ours / ffmpeg;  // target <= 1.5
}
BENCHMARK(BM_PreciseSeekVersusFFmpegSeek)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
