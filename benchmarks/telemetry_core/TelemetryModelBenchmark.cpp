// A log with a full device record and 20 properties turned into compact JSON,
// against nlohmann-json's dump of the same tree built directly; the archive
// size and time per log beside it.
#include <benchmark/benchmark.h>

#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLUtility.h"

namespace {

using telemetry::core::DRTLDevice;
using telemetry::core::DRTLJSON;
using telemetry::core::DRTLLogWithProperties;

std::shared_ptr<DRTLLogWithProperties> sampleLog() {
  auto log = std::make_shared<DRTLLogWithProperties>();
  log->type = "event";
  log->timestamp = platform::Date(std::chrono::milliseconds(1614834367089));
  log->sid = "6b1c5b5e-8f35-4a8e-9b3e-2b1f3f0f4c11";
  log->userId = "c:operator";
  auto device = std::make_shared<DRTLDevice>();
  device->sdkName = "diraraded.linux";
  device->sdkVersion = "4.0.0";
  device->model = "Studio Box 3";
  device->oemName = "Maker Inc.";
  device->osName = "Debian GNU/Linux";
  device->osVersion = "12.0.0";
  device->osBuild = "6.1.0-18-amd64";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->screenSize = "1920x1080";
  device->appVersion = "1.2.3";
  device->appBuild = "456";
  device->appNamespace = "com.example.playout";
  device->carrierCountry = "FR";
  device->wrapperSdkName = "wrapper";
  device->wrapperSdkVersion = "2.0";
  log->device = device;
  log->properties.emplace();
  for (int i = 0; i < 20; ++i) (*log->properties)["property" + std::to_string(i)] = "value/" + std::to_string(i * 37);
  return log;
}

void BM_LogToCompactJson(benchmark::State& state) {
  auto log = sampleLog();
  for (auto _ : state) benchmark::DoNotOptimize(log->serializeLogWithPrettyPrinting(false));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogToCompactJson);

// The same tree, built once, dumped by nlohmann-json alone.
void BM_NlohmannDumpOfTheSameTree(benchmark::State& state) {
  const DRTLJSON tree = sampleLog()->serializeToDictionary();
  for (auto _ : state) benchmark::DoNotOptimize(tree.dump());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NlohmannDumpOfTheSameTree);

void BM_LogArchive(benchmark::State& state) {
  auto log = sampleLog();
  std::size_t size = 0;
  for (auto _ : state) {
    auto bytes = telemetry::core::DRTLUtility::archiveKeyedData(log.get());
    size = bytes->size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["archive_bytes"] = static_cast<double>(size);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogArchive);

}  // namespace
