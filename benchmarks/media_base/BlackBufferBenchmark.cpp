// Black 1080p 'v210' and '2vuy' buffers from createEmptyPixelBufferWithSize,
// against memset of the same bytes into a ready buffer.

#include <benchmark/benchmark.h>

#include <cstring>

#include "media/validation/CVNEngineValidation.h"

namespace {

using namespace platform::media;

void BM_EmptyBuffer(benchmark::State& state, FourCharCode format) {
  for (auto _ : state) {
    CVReturn status = 0;
    auto buffer = media::CVNEngineValidation::createEmptyPixelBufferWithSize({1920, 1080}, format, false, &status);
    benchmark::DoNotOptimize(buffer->baseAddress());
  }
}

void BM_PeerMemset(benchmark::State& state, FourCharCode format) {
  std::shared_ptr<PixelBuffer> ready;
  PixelBuffer::create(1920, 1080, format, {}, &ready);
  const std::size_t bytes = ready->bytesPerRow() * ready->height();
  for (auto _ : state) {
    std::memset(ready->baseAddress(), 0x10, bytes);
    benchmark::DoNotOptimize(ready->baseAddress());
  }
}

BENCHMARK_CAPTURE(BM_EmptyBuffer, v210, kPixelFormat422YpCbCr10);
BENCHMARK_CAPTURE(BM_PeerMemset, v210, kPixelFormat422YpCbCr10);
BENCHMARK_CAPTURE(BM_EmptyBuffer, 2vuy, kPixelFormat422YpCbCr8);
BENCHMARK_CAPTURE(BM_PeerMemset, 2vuy, kPixelFormat422YpCbCr8);

}  // namespace
