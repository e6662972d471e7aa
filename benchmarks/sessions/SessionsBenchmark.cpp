// Time for a decompression session to fill its 8 s read-ahead from a 1080p
// H.264 + AAC movie, beside `ffmpeg -i f -t 8 -c copy -f null -` of the same
// file in the same run; the session's memory once filled (RSS growth)
// against the compressed bytes of those 8 s plus the audio ring; and the
// time to decode and hand out every frame beside ffmpeg decoding the file.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "benchmarks/BenchmarkSupport.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"

namespace {

using Clock = std::chrono::steady_clock;

// A 10 s 1080p25 H.264 10 Mb/s + AAC movie in `folder`; empty when ffmpeg fails.
std::string makeHDMovie(const bench::TemporaryFolder& folder) {
  const std::string file = (folder.path() / "hd.mov").string();
  if (std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10 -f lavfi -i "
                   "sine=frequency=440:duration=10 -ac 2 -c:v libx264 -preset ultrafast -b:v 10M -pix_fmt yuv420p "
                   "-c:a aac '" + file + "'")
                      .c_str()) != 0) {
    return {};
  }
  return file;
}

// The HD fixture with the movie reader registered; empty, and the run
// skipped, when ffmpeg cannot make it.
std::string preparedHDMovie(benchmark::State& state, const bench::TemporaryFolder& folder) {
  const std::string file = makeHDMovie(folder);
  if (file.empty()) {
    state.SkipWithError("ffmpeg could not make the fixture");
    return file;
  }
  media::CVNFFmpegMovieAssetReader::registerMovieReader();
  return file;
}

std::shared_ptr<media::CVNDecompressionSession> initialisedSession(
    const std::string& file, const std::shared_ptr<platform::SerialQueue>& delegateQueue) {
  auto session = media::CVNDecompressionSession::createWithMediaURL(media::MediaURL::fileURLWithPath(file),
                                                                    std::string("bench"), {}, delegateQueue);
  while (session->status() < media::kSessionStatusInitialized) std::this_thread::yield();
  return session;
}

void BM_FillReadAheadAgainstFFmpegCopy(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-bench");
  const std::string file = preparedHDMovie(state, folder);
  if (file.empty()) return;
  const auto delegateQueue = std::make_shared<platform::SerialQueue>("bench.delegate");
  const std::string peer = "ffmpeg -nostdin -v error -i '" + file + "' -t 8 -c copy -f null -";
  double sessionSeconds = 0;
  double peerSeconds = 0;
  double growth = 0;
  double ring = 0;
  for (auto _ : state) {
    const double before = bench::residentBytes();
    const auto start = Clock::now();
    auto session = initialisedSession(file, delegateQueue);
    if (!session->startBuffering()) {
      state.SkipWithError("the session did not start buffering");
      return;
    }
    while (session->numberOfFramesRead() == 0 || session->isReading()) std::this_thread::yield();
    sessionSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    // Later rounds reuse the memory the first one freed: only the first counts.
    if (growth == 0) growth = bench::residentBytes() - before;
    ring = static_cast<double>(session->circularAudioBuffer() ? session->circularAudioBuffer()->byteCapacity() : 0);
    session->discard();
    session.reset();

    const auto peerStart = Clock::now();
    if (std::system(peer.c_str()) != 0) state.SkipWithError("ffmpeg copy failed");
    peerSeconds += std::chrono::duration<double>(Clock::now() - peerStart).count();
  }
  const double compressed = bench::compressedBytesBefore(file, 8.0);
  state.counters["session_s"] = sessionSeconds / static_cast<double>(state.iterations());
  state.counters["ffmpeg_copy_s"] = peerSeconds / static_cast<double>(state.iterations());
  state.counters["time_ratio"] = sessionSeconds / peerSeconds;
  state.counters["rss_growth_MB"] = growth / 1e6;
  state.counters["compressed_plus_ring_MB"] = (compressed + ring) / 1e6;
  state.counters["memory_ratio"] = growth / (compressed + ring);
}

// Every frame of the file decoded and handed out as fast as the client can
// take them, beside ffmpeg decoding the same file to the same pixel format.
void BM_PlayOutAgainstFFmpegDecode(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-decode-bench");
  const std::string file = preparedHDMovie(state, folder);
  if (file.empty()) return;
  const auto delegateQueue = std::make_shared<platform::SerialQueue>("bench.delegate");
  const std::string peer = "ffmpeg -nostdin -v error -i '" + file + "' -pix_fmt uyvy422 -f null -";
  double sessionSeconds = 0;
  double peerSeconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto session = initialisedSession(file, delegateQueue);
    session->setOutputFrameDuration(platform::media::MediaTime::make(1, 25));
    if (!session->startBuffering()) {
      state.SkipWithError("the session did not start buffering");
      return;
    }
    session->setAllowedBufferPercentage(1.0);
    std::int64_t frames = 0;
    while (!session->isFinishedPlaying()) {
      if (session->nextVideoSampleBuffer()) {
        ++frames;
        session->nextAudioSamples(1920);
      } else {
        std::this_thread::yield();
      }
    }
    sessionSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["frames"] = static_cast<double>(frames);
    session->discard();
    session.reset();

    const auto peerStart = Clock::now();
    if (std::system(peer.c_str()) != 0) state.SkipWithError("ffmpeg decode failed");
    peerSeconds += std::chrono::duration<double>(Clock::now() - peerStart).count();
  }
  state.counters["session_s"] = sessionSeconds / static_cast<double>(state.iterations());
  state.counters["ffmpeg_decode_s"] = peerSeconds / static_cast<double>(state.iterations());
  // Speed relative to ffmpeg: above 1 is faster.
  state.counters["speed_ratio"] = peerSeconds / sessionSeconds;
}

BENCHMARK(BM_PlayOutAgainstFFmpegDecode)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillReadAheadAgainstFFmpegCopy)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
