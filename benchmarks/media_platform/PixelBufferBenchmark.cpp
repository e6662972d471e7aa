// Taking a 1080p '2vuy' buffer from a pool and filling it, against memcpy of
// the same bytes; converting 1080p '2vuy' to 'BGRA' with PixelTransferSession,
// against a bare sws_scale call with the same flags.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/media/PixelBufferPool.h"
#include "platform/media/PixelTransferSession.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

using namespace platform::media;

constexpr std::size_t kWidth = 1920;
constexpr std::size_t kHeight = 1080;

std::vector<std::uint8_t> frameBytes() {
  std::vector<std::uint8_t> bytes(kWidth * kHeight * 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;
}

void BM_PoolTakeAndFill(benchmark::State& state) {
  const std::vector<std::uint8_t> source = frameBytes();
  PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = kPixelFormat422YpCbCr8;
  attributes.width = kWidth;
  attributes.height = kHeight;
  attributes.minimumBufferCount = 3;
  std::shared_ptr<PixelBufferPool> pool;
  PixelBufferPool::create(attributes, &pool);
  for (auto _ : state) {
    std::shared_ptr<PixelBuffer> buffer;
    pool->createPixelBuffer(&buffer);
    buffer->lockBaseAddress(PixelBufferLockFlags::None);
    // One copy: the buffer's rows are exactly as long as the source's here.
    std::memcpy(buffer->baseAddress(), source.data(), source.size());
    buffer->unlockBaseAddress(PixelBufferLockFlags::None);
    benchmark::DoNotOptimize(buffer->baseAddress());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_PoolTakeAndFill);

void BM_PoolPeerMemcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> source = frameBytes();
  std::vector<std::uint8_t> destination(source.size());
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), source.size());
    benchmark::DoNotOptimize(destination.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_PoolPeerMemcpy);

void BM_TransferSession2vuyToBGRA(benchmark::State& state) {
  std::vector<std::uint8_t> source = frameBytes();
  std::shared_ptr<PixelBuffer> input, output;
  PixelBuffer::createWithBytes(kWidth, kHeight, kPixelFormat422YpCbCr8, source.data(), kWidth * 2, nullptr, &input);
  PixelBuffer::create(kWidth, kHeight, kPixelFormat32BGRA, {}, &output);
  PixelTransferSession session;
  for (auto _ : state) {
    session.transferImage(*input, *output);
    benchmark::DoNotOptimize(output->baseAddress());
  }
}
BENCHMARK(BM_TransferSession2vuyToBGRA)->Unit(benchmark::kMillisecond);

void BM_TransferPeerSwsScale(benchmark::State& state) {
  std::vector<std::uint8_t> source = frameBytes();
  std::vector<std::uint8_t> destination(kWidth * kHeight * 4);
  SwsContext* context = sws_getContext(kWidth, kHeight, AV_PIX_FMT_UYVY422, kWidth, kHeight, AV_PIX_FMT_BGRA,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr);
  const std::uint8_t* in[4] = {source.data()};
  const int inLines[4] = {static_cast<int>(kWidth * 2)};
  std::uint8_t* out[4] = {destination.data()};
  const int outLines[4] = {static_cast<int>(kWidth * 4)};
  for (auto _ : state) {
    sws_scale(context, in, inLines, 0, kHeight, out, outLines);
    benchmark::DoNotOptimize(destination.data());
  }
  sws_freeContext(context);
}
BENCHMARK(BM_TransferPeerSwsScale)->Unit(benchmark::kMillisecond);

}  // namespace
