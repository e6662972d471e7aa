// Decoding 2 s of 1080p to '2vuy' (10-bit sources: the 10-bit request, which
// gives 'x422' from the FFmpeg decoder, 'v216' or 'y416' from the
// VideoToolbox-rule one) against `ffmpeg -threads N -benchmark -i f -pix_fmt
// uyvy422 -f null -` (10-bit: p210le) on the same file, with N the thread
// count our codec runs with, in the same run. Each clip is decoded by the
// decoder the selection gives it and, where that is another one, by the
// FFmpeg decoder as well. Counters: our speed over ffmpeg's (target at least
// 0.8) and frames per second over the clip's rate, each side's time the
// fastest of the iterations.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "benchmarks/BenchmarkSupport.h"
#include "media/decoders/CVNDecoder.h"
#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "media/decoders/CodecCodes.h"
#include "tests/media/PacketSource.h"
#include "tests/support/MediaFixtures.h"

namespace {

namespace pm = platform::media;

struct Clip {
  const char* name;
  const char* encode;
  const char* subtype;
  std::int32_t assetType;
  bool tenBit;
};

const Clip kClips[] = {
    {"h264.mov", "-c:v libx264 -pix_fmt yuv422p -preset veryfast", "avc1", media::kAssetTypeQuickTimeMovie, false},
    {"prores-hq.mov", "-c:v prores_ks -profile:v 3", "apch", media::kAssetTypeQuickTimeMovie, true},
    {"imx50.mxf",
     "-vf scale=720:608,setfield=tff -c:v mpeg2video -pix_fmt yuv422p -g 1 -flags +ildct+ilme -top 1 -b:v 50M "
     "-minrate 50M -maxrate 50M -bufsize 2000000 -rc_init_occupancy 2000000 -an -f mxf_d10",
     "mp2v", media::kAssetTypeMXF, false},
    {"dnxhd.mov", "-c:v dnxhd -b:v 120M -pix_fmt yuv422p", "AVdn", media::kAssetTypeQuickTimeMovie, false},
    {"hevc10.mov", "-c:v libx265 -pix_fmt yuv422p10le -tag:v hvc1 -preset ultrafast -x265-params log-level=error", "hvc1",
     media::kAssetTypeQuickTimeMovie, true},
};
constexpr double kClipRate = 25.0;

std::filesystem::path clipPath(const Clip& clip) {
  const auto folder = std::filesystem::temp_directory_path() / "vz-decoder-benchmark";
  std::filesystem::create_directories(folder);
  const auto path = folder / clip.name;
  if (!std::filesystem::exists(path)) {
    testing_support::runCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=25 -t 2 ") + clip.encode +
                                " " + testing_support::shellQuoted(path));
  }
  return path;
}

// The "rtime" of ffmpeg's -benchmark, in seconds (0 when missing).
double ffmpegRunSeconds(const std::filesystem::path& path, int threads, bool tenBit, const std::string& limit) {
  const std::string output = testing_support::commandOutput(
      "ffmpeg -hide_banner -nostats -threads " + std::to_string(threads) + " -benchmark -i " +
      testing_support::shellQuoted(path) + " " + limit + " -pix_fmt " + (tenBit ? "p210le" : "uyvy422") +
      " -f null - 2>&1");
  const std::size_t at = output.rfind("rtime=");
  return at == std::string::npos ? 0 : std::stod(output.substr(at + 6));
}

std::unique_ptr<media::CVNDecoderProtocol> makeDecoder(const Clip& clip, const media::testing::PacketSource& source,
                                                       bool ffmpegDecoder) {
  if (ffmpegDecoder) {
    return std::make_unique<media::CVNFFmpegDecoder>(source.codecContext(), source.timeBase(), false, std::nullopt);
  }
  media::testing::DescribedCodecReader reader(source.description(), clip.assetType, source.codecContext());
  return media::CVNDecoder::copyDecoderForAsset(reader);
}

int threadsOf(const media::CVNDecoderProtocol& decoder) {
  if (const auto* ffmpeg = dynamic_cast<const media::CVNFFmpegDecoder*>(&decoder)) return ffmpeg->codecThreadCount();
  if (const auto* rules = dynamic_cast<const media::CVNVideoToolboxDecoder*>(&decoder)) return rules->codecThreadCount();
  return 0;
}

// range(0): the clip; range(1): 1 for the FFmpeg decoder, 0 for the selected one.
void BM_DecodeAgainstFfmpeg(benchmark::State& state) {
  const Clip& clip = kClips[state.range(0)];
  const bool ffmpegDecoder = state.range(1) == 1;
  const auto path = clipPath(clip);
  platform::Dictionary extensions;
  if (clip.assetType == media::kAssetTypeMXF) extensions[pm::kFormatDescriptionExtensionMPEG2Profile] = platform::Value("mx5p");
  // Each figure is the fastest of its runs (the machine is shared). ffmpeg's
  // rtime counts opening and probing the file as well, so its fastest run
  // stopped after the first frame is taken off (which leaves it one frame
  // fewer to decode than ours).
  bench::FastestRun ours, ffmpegWhole, ffmpegFirstFrame;
  std::size_t frames = 0;
  std::string label;
  for (auto _ : state) {
    media::testing::PacketSource source(path, media::codeOf(clip.subtype), extensions);
    if (!source.ok()) {
      state.SkipWithError("fixture");
      return;
    }
    auto decoder = makeDecoder(clip, source, ffmpegDecoder);
    if (!decoder || (!ffmpegDecoder && dynamic_cast<media::CVNFFmpegDecoder*>(decoder.get()))) {
      state.SkipWithError("the selection gives the FFmpeg decoder: measured in the other row");
      return;
    }
    if (clip.tenBit) {
      decoder->setMetalAPIEnabled(true);
      decoder->setPixelFormat(pm::kPixelFormat422YpCbCr10);
    }
    if (decoder->supportsBitDepth()) decoder->setBitDepth(clip.tenBit ? 10 : 8);
    if (!decoder->setup()) {
      state.SkipWithError("setup");
      return;
    }
    std::size_t decoded = 0;
    std::string format;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& sample : source.samples()) {
      decoder->decodeSampleBuffer(sample, true, [&](bool, const std::optional<std::string>&, const pm::SampleBufferRef& out) {
        if (!out) return;
        ++decoded;
        format = pm::fourCCString(out->imageBuffer()->pixelFormatType());
      });
    }
    decoder->finish();
    ours.add(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    frames = decoded;
    const int threads = threadsOf(*decoder);
    ffmpegWhole.add(ffmpegRunSeconds(path, threads, clip.tenBit, ""));
    ffmpegFirstFrame.add(ffmpegRunSeconds(path, threads, clip.tenBit, "-frames:v 1"));
    label = std::string(clip.name) + (ffmpegDecoder ? " FFmpeg decoder " : " selected decoder ") + format + " threads " +
            std::to_string(threads);
  }
  state.SetLabel(label);
  const double theirs = ffmpegWhole.seconds() - ffmpegFirstFrame.seconds();
  state.counters["speed_vs_ffmpeg"] = theirs / ours.seconds();
  state.counters["fps_over_clip_rate"] = static_cast<double>(frames) / ours.seconds() / kClipRate;
}
BENCHMARK(BM_DecodeAgainstFfmpeg)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
