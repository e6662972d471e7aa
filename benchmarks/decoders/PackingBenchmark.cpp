// Converting one decoded 1080p picture into our packed 16-bit buffers against
// swscale making the same picture in the same run ('y416': its AYUV64LE;
// 'v216': its 16-bit planar 4:2:2, which it cannot interleave). Counter: our
// speed over swscale's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "benchmarks/BenchmarkSupport.h"
#include "media/decoders/FrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

namespace pm = platform::media;

struct PackingCase {
  AVPixelFormat source;
  pm::FourCharCode output;
  AVPixelFormat swscaleOutput;
};

const PackingCase kCases[] = {
    {AV_PIX_FMT_YUV422P10LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
    {AV_PIX_FMT_YUV444P10LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
    {AV_PIX_FMT_YUV422P10LE, pm::kPixelFormat422YpCbCr16, AV_PIX_FMT_YUV422P16LE},
};
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

AVFrame* makeFrame(AVPixelFormat format) {
  AVFrame* frame = av_frame_alloc();
  frame->width = kWidth;
  frame->height = kHeight;
  frame->format = format;
  if (av_frame_get_buffer(frame, 0) < 0) av_frame_free(&frame);
  return frame;
}

void BM_PackAgainstSwscale(benchmark::State& state) {
  const PackingCase& c = kCases[state.range(0)];
  AVFrame* picture = makeFrame(c.source);
  AVFrame* theirs = makeFrame(c.swscaleOutput);
  std::shared_ptr<pm::PixelBuffer> buffer;
  if (!picture || !theirs || pm::PixelBuffer::create(kWidth, kHeight, c.output, {}, &buffer) != 0) {
    state.SkipWithError("allocation");
    return;
  }
  const bool fullWidthChroma = c.source == AV_PIX_FMT_YUV444P10LE;
  for (int plane = 0; plane < 3; ++plane) {
    const int width = plane == 0 || fullWidthChroma ? kWidth : kWidth / 2;
    for (int y = 0; y < kHeight; ++y) {
      auto* row = reinterpret_cast<std::uint16_t*>(picture->data[plane] + y * picture->linesize[plane]);
      for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint16_t>((x * 7 + y * 3 + plane) & 0x3ff);
    }
  }
  SwsContext* context = sws_getContext(kWidth, kHeight, c.source, kWidth, kHeight, c.swscaleOutput, SWS_BILINEAR, nullptr,
                                       nullptr, nullptr);
  media::FrameConverter converter;
  buffer->lockBaseAddress(pm::PixelBufferLockFlags::None);
  bench::FastestRun ours, swscale;  // fastest picture of each side
  for (auto _ : state) {
    std::string error;
    auto start = std::chrono::steady_clock::now();
    if (!converter.convert(*picture, {0, kHeight}, *buffer, {0, kHeight}, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    ours.add(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    start = std::chrono::steady_clock::now();
    sws_scale(context, picture->data, picture->linesize, 0, kHeight, theirs->data, theirs->linesize);
    swscale.add(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  buffer->unlockBaseAddress(pm::PixelBufferLockFlags::None);
  state.SetLabel(std::string(av_get_pix_fmt_name(c.source)) + " to " + pm::fourCCString(c.output));
  state.counters["speed_vs_swscale"] = swscale.seconds() / ours.seconds();
  state.counters["ours_ms_per_picture"] = 1000 * ours.seconds();
  state.counters["swscale_ms_per_picture"] = 1000 * swscale.seconds();
  sws_freeContext(context);
  av_frame_free(&theirs);
  av_frame_free(&picture);
}
BENCHMARK(BM_PackAgainstSwscale)->DenseRange(0, 2)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
