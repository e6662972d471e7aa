// What a host waits for before it can show a clip: a decompression session's
// time to ready (5 frames and 2002 audio samples) and a quick scrub's first
// frame, each beside `ffmpeg -ss T -i f -frames:v 1 -f null -`; and the
// engine's thumbnail job (through its work queue, answered on the main
// queue) beside `ffmpeg -noaccurate_seek -ss 10 -i f -frames:v 1 -s 320x180
// t.jpg`. Both sides run on the same 1080p H.264 + AAC file in the same run;
// each side's figure is its fastest run.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "benchmarks/BenchmarkSupport.h"
#include "engine/CVNEngineBase.h"
#include "media/readers/StandardAssetReaders.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "platform/RunLoop.h"

namespace {

constexpr double kScrubSeconds = 10.4;

// A 20 s 1080p25 H.264 + AAC movie with a key frame every second; empty when ffmpeg fails.
std::string makeMovie(const bench::TemporaryFolder& folder) {
  const std::string file = (folder.path() / "hd.mov").string();
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=20 -f lavfi -i "
      "sine=r=48000:d=20 -c:v libx264 -preset veryfast -b:v 10M -g 25 -bf 3 -c:a aac '" + file + "'";
  return std::system(command.c_str()) == 0 ? file : std::string();
}

double peerSeconds(const std::string& command) {
  return bench::secondsOf([&] {
    if (std::system(command.c_str()) != 0) std::abort();
  });
}

class ReadyCounter final : public media::CVNDecompressionSessionDelegate {
 public:
  void decompressionSessionDidInitialize(media::CVNSessionBase&) override {}
  void decompressionSessionIsReadyForPlayback(media::CVNSessionBase&) override { ready.fetch_add(1); }
  void decompressionSessionDidReadAllFrames(media::CVNSessionBase&) override {}
  void decompressionSessionDidDecompressAllFrames(media::CVNSessionBase&) override {}
  bool shouldInverseFieldOrder() override { return false; }

  std::atomic<int> ready{0};
};

void waitFor(const std::function<bool()>& done) {
  while (!done()) std::this_thread::yield();
}

struct OpenSession {
  std::shared_ptr<ReadyCounter> delegate = std::make_shared<ReadyCounter>();
  std::shared_ptr<platform::DispatchQueue> delegateQueue = std::make_shared<platform::SerialQueue>("bench.delegate");
  std::shared_ptr<media::CVNDecompressionSession> session;

  // From nothing to a session ready for playback at 25 fps.
  explicit OpenSession(const std::string& file) {
    session = media::CVNDecompressionSession::createWithMediaURL(media::MediaURL::fileURLWithPath(file),
                                                                 std::string("bench"), delegate, delegateQueue);
    waitFor([&] { return session->status() >= media::kSessionStatusInitialized; });
    session->setOutputFrameDuration(platform::media::MediaTime::make(1, 25));
    session->startBuffering();
    session->setAllowedBufferPercentage(1.0);
    waitFor([&] { return delegate->ready.load() > 0; });
  }
  ~OpenSession() { session->discard(); }
};

// Runs our side and the peer's command once per iteration; the counters hold
// each side's fastest run and their ratio (below 1: we are faster).
void compareWithPeer(benchmark::State& state, const std::string& peer, const char* ourName,
                     const std::function<void()>& ourRun) {
  bench::FastestRun ours;
  bench::FastestRun theirs;
  for (auto _ : state) {
    ours.add(bench::secondsOf(ourRun));
    theirs.add(peerSeconds(peer));
  }
  state.counters[ourName] = ours.seconds();
  state.counters["ffmpeg_s"] = theirs.seconds();
  state.counters["time_ratio"] = ours.seconds() / theirs.seconds();
}

// The peer seeking to `seconds` and decoding one frame.
std::string ffmpegSeek(const std::string& file, double seconds) {
  return "ffmpeg -nostdin -v error -ss " + std::to_string(seconds) + " -i '" + file + "' -frames:v 1 -f null -";
}

void BM_TimeToReadyAgainstFFmpegSeek(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-decode-bench");
  const std::string file = makeMovie(folder);
  if (file.empty()) return state.SkipWithError("ffmpeg could not make the fixture");
  media::registerStandardAssetReaders();
  compareWithPeer(state, ffmpegSeek(file, 0), "session_ready_s", [&] { OpenSession open(file); });
}

void BM_QuickScrubAgainstFFmpegSeek(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-decode-bench");
  const std::string file = makeMovie(folder);
  if (file.empty()) return state.SkipWithError("ffmpeg could not make the fixture");
  media::registerStandardAssetReaders();
  OpenSession open(file);
  compareWithPeer(state, ffmpegSeek(file, kScrubSeconds), "scrub_first_frame_s", [&] {
    const int before = open.delegate->ready.load();
    open.session->scrubToTime(kScrubSeconds, true, true);
    waitFor([&] { return open.delegate->ready.load() > before; });
  });
}

void BM_EngineThumbnailJobAgainstFFmpeg(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-decode-bench");
  const std::string file = makeMovie(folder);
  if (file.empty()) return state.SkipWithError("ffmpeg could not make the fixture");
  media::registerStandardAssetReaders();
  const std::string jpeg = (folder.path() / "t.jpg").string();
  const std::string peer =
      "ffmpeg -nostdin -v error -y -noaccurate_seek -ss 10 -i '" + file + "' -frames:v 1 -s 320x180 '" + jpeg + "'";
  compareWithPeer(state, peer, "job_s", [&] {
    bool answered = false;
    engine::CVNEngineBase::thumbnailForURL(media::MediaURL::fileURLWithPath(file), {320, 180}, 10, false,
                                           [&](media::ThumbnailDataRef data, std::int64_t) {
                                             if (!data) std::abort();
                                             answered = true;
                                           });
    platform::RunLoop::main().runUntil([&] { return answered; }, std::chrono::seconds(30));
  });
}

}  // namespace

BENCHMARK(BM_TimeToReadyAgainstFFmpegSeek)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuickScrubAgainstFFmpegSeek)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineThumbnailJobAgainstFFmpeg)->Iterations(5)->Unit(benchmark::kMillisecond);
