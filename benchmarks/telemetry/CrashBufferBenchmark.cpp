// The crash log buffer's costs, each against its peer in the same run:
//  - enqueueing logs through a channel group with the crash service started
//    (each log archived and copied into a slot, the slot freed once stored)
//    against the same enqueues through a group without it;
//  - the crash-time write of 60 full slots against 60 plain
//    open/write/close calls of the same bytes.
// Everything lives in a temporary HOME in memory, removed at exit: each
// batch waits until it is stored, and a loaded disk made a run take minutes.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "benchmarks/BenchmarkSupport.h"
#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/services/crashes/DRTLCrashes.h"
#include "telemetry/services/crashes/DRTLCrashesLogBuffer.h"

namespace {

namespace fs = std::filesystem;
using telemetry::core::DRTLChannelGroupDefault;
using telemetry::crashes::DRTLCrashesLogBuffer;
using telemetry::crashes::kDRTLCrashesBufferSlotCapacity;
using telemetry::crashes::kDRTLCrashesBufferSlotCount;

constexpr int kLogsPerBatch = 100;

const fs::path& home() {
  static const fs::path& folder = []() -> const fs::path& {
    const fs::path& made = bench::memoryScratchFolder("crash-buffer-bench");
    setenv("HOME", made.c_str(), 1);
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
      fs::create_directories(made / variable);
      setenv(variable, (made / variable).c_str(), 1);
    }
    return made;
  }();
  return folder;
}

std::shared_ptr<telemetry::core::DRTLAbstractLog> eventLog(int i) {
  auto log = std::make_shared<telemetry::core::DRTLLogWithProperties>();
  log->type = "event";
  log->sid = "5B7C6E2A-0D1F-4E39-9C1B-3A6F0E2D4C18";
  log->properties = std::map<std::string, std::string>{
      {"name", "clip-started"}, {"clip", "news-" + std::to_string(i)}, {"channel", "main"}};
  return log;
}

void enqueueBatches(benchmark::State& state, bool withCrashService) {
  (void)home();
  auto group = DRTLChannelGroupDefault::create(std::shared_ptr<telemetry::core::DRTLDirAradedIngestion>());
  auto unit = group->addChannelUnitWithConfiguration(
      telemetry::core::DRTLChannelUnitConfiguration("BenchEvents", 1, 3600, 50, 3));
  std::shared_ptr<telemetry::crashes::DRTLCrashes> crashes;
  if (withCrashService) {
    crashes = telemetry::crashes::DRTLCrashes::sharedInstance();
    crashes->startWithChannelGroup(group, std::string("secret"), std::nullopt, true);
  }
  int i = 0;
  for (auto _ : state) {
    for (int n = 0; n < kLogsPerBatch; ++n) unit->enqueueItem(eventLog(i++), 1);
    group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(30));
  }
  state.SetItemsProcessed(state.iterations() * kLogsPerBatch);
  if (crashes) group->removeDelegate(crashes);
}

void BM_EnqueueWithoutCrashService(benchmark::State& state) { enqueueBatches(state, false); }
void BM_EnqueueWithCrashService(benchmark::State& state) { enqueueBatches(state, true); }

// 60 slots of full capacity, as at a crash after a burst of large logs.
void fillSlots() {
  DRTLCrashesLogBuffer::setUp((home() / "slots").string());
  fs::create_directories(home() / "slots");
  for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
    DRTLCrashesLogBuffer::store(std::string(kDRTLCrashesBufferSlotCapacity, static_cast<char>('a' + i % 26)), "",
                                "log-" + std::to_string(i), static_cast<double>(i));
  }
}

void BM_CrashTimeWriteOfSixtyFullSlots(benchmark::State& state) {
  fillSlots();
  for (auto _ : state) DRTLCrashesLogBuffer::writeAtCrashTime(nullptr, nullptr, nullptr);
  state.SetBytesProcessed(state.iterations() * kDRTLCrashesBufferSlotCount * kDRTLCrashesBufferSlotCapacity);
}

void BM_PlainWriteOfSixtyFiles(benchmark::State& state) {
  const fs::path folder = home() / "plain";
  fs::create_directories(folder);
  std::string paths[kDRTLCrashesBufferSlotCount];
  std::string bytes[kDRTLCrashesBufferSlotCount];
  for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
    paths[i] = (folder / (std::to_string(i) + ".bin")).string();
    bytes[i] = std::string(kDRTLCrashesBufferSlotCapacity, static_cast<char>('a' + i % 26));
  }
  for (auto _ : state) {
    for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
      const int fd = ::open(paths[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      benchmark::DoNotOptimize(::write(fd, bytes[i].data(), bytes[i].size()));
      ::close(fd);
    }
  }
  state.SetBytesProcessed(state.iterations() * kDRTLCrashesBufferSlotCount * kDRTLCrashesBufferSlotCapacity);
}

BENCHMARK(BM_EnqueueWithoutCrashService)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_EnqueueWithCrashService)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_CrashTimeWriteOfSixtyFullSlots)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PlainWriteOfSixtyFiles)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
