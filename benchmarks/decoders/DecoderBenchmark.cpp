// Decoding a 1080p clip to '2vuy' (10-bit sources: 'x422') with the FFmpeg
// decoder, against `ffmpeg -threads N -benchmark -i f -pix_fmt uyvy422 -f null -`
// (10-bit: p210le) on the same file with the same thread count, in the same
// run. Counters: frames per second over the clip's rate, and our time over
// ffmpeg's (the target is a ratio of at most 1.25, i.e. at least 0.8x speed).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "media/decoders/CVNFFmpegDecoder.h"
#include "tests/media/PacketSource.h"
#include "tests/support/MediaFixtures.h"

namespace {

namespace pm = platform::media;

struct Clip {
  const char* name;
  const char* encode;
  bool tenBit;
};

const Clip kClips[] = {
    {"h264.mov", "-c:v libx264 -pix_fmt yuv422p -preset veryfast", false},
    {"prores.mov", "-c:v prores_ks -profile:v 3", true},
    {"imx.mxf", "-vf scale=720:608,setfield=tff -c:v mpeg2video -pix_fmt yuv422p -g 1 -flags +ildct+ilme -top 1 -b:v 50M "
                "-minrate 50M -maxrate 50M -bufsize 2000000 -rc_init_occupancy 2000000 -an -f mxf_d10", false},
    {"dnxhd.mov", "-c:v dnxhd -b:v 120M -pix_fmt yuv422p", false},
    {"hevc.mov", "-c:v libx265 -pix_fmt yuv422p10le -tag:v hvc1 -preset ultrafast -x265-params log-level=error", true},
};

std::filesystem::path clipPath(const Clip& clip) {
  const auto folder = std::filesystem::temp_directory_path() / "vz-decoder-benchmark";
  std::filesystem::create_directories(folder);
  const auto path = folder / clip.name;
  if (!std::filesystem::exists(path)) {
    testing_support::runCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=25 -t 4 ") + clip.encode +
                                " " + testing_support::shellQuoted(path));
  }
  return path;
}

double secondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_DecodeAgainstFfmpeg(benchmark::State& state) {
  const Clip& clip = kClips[state.range(0)];
  const auto path = clipPath(clip);
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  double ours = 0, theirs = 0;
  std::size_t frames = 0;
  for (auto _ : state) {
    media::testing::PacketSource source(path);
    if (!source.ok()) {
      state.SkipWithError("fixture");
      return;
    }
    media::CVNFFmpegDecoder decoder(source.codecContext(), source.timeBase(), false, std::nullopt);
    if (clip.tenBit) {
      decoder.setMetalAPIEnabled(true);
      decoder.setPixelFormat(pm::kPixelFormat422YpCbCr10);
    }
    if (!decoder.setup()) {
      state.SkipWithError("setup");
      return;
    }
    frames = 0;
    ours += secondsOf([&] {
      for (const auto& sample : source.samples()) {
        decoder.decodeSampleBuffer(sample, true, [&](bool, const std::optional<std::string>&, const pm::SampleBufferRef& out) {
          if (out) ++frames;
        });
      }
      decoder.finish();
    });
    theirs += secondsOf([&] {
      testing_support::runCommand("ffmpeg -v error -threads " + std::to_string(threads) + " -benchmark -i " +
                                  testing_support::shellQuoted(path) + " -pix_fmt " +
                                  (clip.tenBit ? "p210le" : "uyvy422") + " -f null - 2>/dev/null");
    });
  }
  state.SetLabel(clip.name);
  state.counters["speed_vs_ffmpeg"] = theirs / ours;
  state.counters["fps_over_clip_rate"] = static_cast<double>(frames) * static_cast<double>(state.iterations()) / ours / 25.0;
}
BENCHMARK(BM_DecodeAgainstFfmpeg)->DenseRange(0, 4)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
