// What a host waits for before it can show a clip: a decompression session's
// time to ready (5 frames and 2002 audio samples) and a quick scrub's first
// frame, each beside `ffmpeg -ss T -i f -frames:v 1 -f null -`; and the
// engine's thumbnail job (through its work queue, answered on the main
// queue) beside `ffmpeg -noaccurate_seek -ss 10 -i f -frames:v 1 -s 320x180
// t.jpg`. Both sides run on the same 1080p H.264 + AAC file in the same run;
// each side's figure is its fastest run. Also a session decoding a 60 s file
// ahead as fast as the client takes frames, beside `ffmpeg -threads N
// -benchmark -i f -pix_fmt uyvy422 -f null -` with N the thread count of the
// session's codec; and a second session's memory once filled (RSS growth)
// beside the pool, ring and read-ahead sizes the session computes.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "benchmarks/BenchmarkSupport.h"
#include "engine/CVNEngineBase.h"
#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "media/readers/StandardAssetReaders.h"
#include "media/sessions/CVNDecompressionSession.h"
#include "platform/RunLoop.h"
#include "tests/support/MediaFixtures.h"

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

// A 60 s 1080p25 H.264 + AAC movie, made once per build folder; empty when ffmpeg fails.
std::string makeMinuteMovie(const bench::TemporaryFolder& folder) {
  const auto file = folder.path() / "hd60.mov";
  const bool made = testing_support::makeFileOnce(
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 -f lavfi -i "
      "sine=r=48000:d=60 -c:v libx264 -preset ultrafast -b:v 10M -g 25 -pix_fmt yuv420p -c:a aac",
      file);
  return made ? file.string() : std::string();
}

int codecThreads(const media::CVNDecoderProtocol* decoder) {
  if (const auto* ffmpeg = dynamic_cast<const media::CVNFFmpegDecoder*>(decoder)) return ffmpeg->codecThreadCount();
  if (const auto* rules = dynamic_cast<const media::CVNVideoToolboxDecoder*>(decoder)) return rules->codecThreadCount();
  return 0;
}

// Every frame handed out as soon as it is decoded; the session's own pacing
// (read-ahead, decode-ahead) is all that holds it back.
void BM_DecodeAheadAgainstFFmpegDecode(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-decode-bench");
  const std::string file = makeMinuteMovie(folder);
  if (file.empty()) return state.SkipWithError("ffmpeg could not make the fixture");
  media::registerStandardAssetReaders();
  bench::FastestRun ours;
  bench::FastestRun theirs;
  int threads = 0;
  for (auto _ : state) {
    ours.add(bench::secondsOf([&] {
      OpenSession open(file);
      while (!open.session->isFinishedPlaying()) {
        if (open.session->nextVideoSampleBuffer()) {
          open.session->nextAudioSamples(1920);
        } else {
          std::this_thread::yield();
        }
      }
      threads = codecThreads(open.session->decoder());
    }));
    theirs.add(peerSeconds("ffmpeg -nostdin -v error -threads " + std::to_string(threads) + " -benchmark -i '" + file +
                           "' -pix_fmt uyvy422 -f null - > /dev/null"));
  }
  state.counters["codec_threads"] = threads;
  state.counters["session_s"] = ours.seconds();
  state.counters["ffmpeg_s"] = theirs.seconds();
  // Above 1: the session decodes faster than ffmpeg.
  state.counters["speed_ratio"] = theirs.seconds() / ours.seconds();
}

// Waits until the session has stopped reading and decoding ahead.
void waitUntilFilled(const media::CVNDecompressionSession& session) {
  waitFor([&] { return !session.isReading() && !session.isDecoding() && session.decodeAheadFrameCount() > 0; });
}

// The bytes the session sized itself for: its pixel buffer pool of frames
// like the one at the head, its audio ring and its read-ahead of packets.
double sizedBytes(media::CVNDecompressionSession& session, const std::string& file) {
  const auto head = session.videoBufferHead();
  const double frameBytes = head && head->imageBuffer() ? static_cast<double>(head->imageBuffer()->dataSize()) : 0;
  const double pool = static_cast<double>(media::CVNDecompressionSession::pixelBufferPoolSize(
                          session.decodeAheadBufferInSeconds(), session.frameRateAsCMTime().seconds())) *
                      frameBytes;
  const double ring = static_cast<double>(media::CVNDecompressionSession::audioRingByteCount(
      session.readAheadBufferInSeconds(), session.outputAudioStreamBasicDescription()));
  return pool + ring + bench::compressedBytesBefore(file, session.allowedReadAheadDuration().seconds());
}

// A first session stays open and filled, so the second one's growth holds
// neither the one-time set-up nor memory the first one freed.
void BM_FilledSessionMemoryAgainstItsSizes(benchmark::State& state) {
  bench::TemporaryFolder folder("sessions-decode-bench");
  const std::string file = makeMinuteMovie(folder);
  if (file.empty()) return state.SkipWithError("ffmpeg could not make the fixture");
  media::registerStandardAssetReaders();
  OpenSession first(file);
  waitUntilFilled(*first.session);
  double growth = 0;
  double sized = 0;
  for (auto _ : state) {
    const double before = bench::residentBytes();
    OpenSession second(file);
    waitUntilFilled(*second.session);
    growth = bench::residentBytes() - before;
    sized = sizedBytes(*second.session, file);
  }
  state.counters["rss_growth_MB"] = growth / 1e6;
  state.counters["sized_MB"] = sized / 1e6;
  state.counters["memory_ratio"] = growth / sized;
}

}  // namespace

BENCHMARK(BM_TimeToReadyAgainstFFmpegSeek)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuickScrubAgainstFFmpegSeek)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineThumbnailJobAgainstFFmpeg)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAheadAgainstFFmpegDecode)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilledSessionMemoryAgainstItsSizes)->Iterations(1)->Unit(benchmark::kMillisecond);
