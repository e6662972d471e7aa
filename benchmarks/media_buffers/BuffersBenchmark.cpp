// Ring throughput (2048-frame stereo 16-bit writes and reads through a
// 4,608,000-byte ring, producer and consumer threads) and Annex-B conversion
// of H.264-like frames, each against memcpy of the same bytes.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "media/buffers/CVNCMSampleBufferUtilities.h"
#include "media/buffers/CVNCircularBuffer.h"

namespace {

constexpr std::size_t kBlock = 2048 * 2 * 2;
constexpr std::size_t kBlocksPerRun = 4096;

void BM_RingProducerConsumer(benchmark::State& state) {
  media::CVNCircularBuffer ring("bench", 4608000);
  std::vector<std::uint8_t> in(kBlock, 7), out(kBlock);
  for (auto _ : state) {
    std::thread producer([&] {
      for (std::size_t i = 0; i < kBlocksPerRun;) {
        if (ring.availableBytesForWriting() < kBlock) {
          std::this_thread::yield();
          continue;
        }
        std::memcpy(ring.getWritePointer(), in.data(), kBlock);
        ring.advanceWritePointer(kBlock);
        ++i;
      }
    });
    for (std::size_t i = 0; i < kBlocksPerRun;) {
      if (ring.availableBytesForReading() < kBlock) {
        std::this_thread::yield();
        continue;
      }
      std::memcpy(out.data(), ring.getReadPointer(), kBlock);
      ring.advanceReadPointer(kBlock);
      ++i;
    }
    producer.join();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlocksPerRun * kBlock));
}
BENCHMARK(BM_RingProducerConsumer)->UseRealTime();

void BM_RingPeerMemcpy(benchmark::State& state) {
  std::vector<std::uint8_t> in(kBlock, 7), middle(kBlock), out(kBlock);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kBlocksPerRun; ++i) {
      std::memcpy(middle.data(), in.data(), kBlock);
      std::memcpy(out.data(), middle.data(), kBlock);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlocksPerRun * kBlock));
}
BENCHMARK(BM_RingPeerMemcpy)->UseRealTime();

// An access unit like an encoder's: AUD, SPS, PPS, then a 150 kB slice.
std::vector<std::uint8_t> accessUnit() {
  std::vector<std::uint8_t> frame;
  for (std::uint8_t type : {0x09, 0x67, 0x68}) {
    frame.insert(frame.end(), {0, 0, 0, 1, type, 0x10, 0x20});
  }
  frame.insert(frame.end(), {0, 0, 1, 0x65});
  for (std::size_t i = 0; i < 150000; ++i) frame.push_back(static_cast<std::uint8_t>(1 + i % 250));
  return frame;
}

void BM_AnnexBConversion(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = accessUnit();
  std::string error;
  for (auto _ : state) {
    auto converted = media::CVNCMSampleBufferUtilities::convertAnnexBFrame(frame, &error);
    benchmark::DoNotOptimize(converted->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_AnnexBConversion);

void BM_AnnexBPeerMemcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = accessUnit();
  for (auto _ : state) {
    std::vector<std::uint8_t> copy(frame.size());
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_AnnexBPeerMemcpy);

}  // namespace
