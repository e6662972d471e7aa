// Caller-side cost of one technical log call, beside the same messages sent
// through spdlog's asynchronous logger in the same run. Both loggers write a
// file on their own thread; only the time spent in the calling thread counts.
// Each batch is drained before the next one, so neither queue ever fills and
// neither caller ever waits for its writer.
//
// Counters: log_ns and spdlog_ns (per call), ratio = log_ns / spdlog_ns
// (target: at most 1).

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "benchmarks/BenchmarkSupport.h"
#include "foundation/CVNLogController.h"
#include "platform/UserDefaults.h"
#include "tests/support/SilentNotificationCenter.h"

namespace {

constexpr int kBatch = 1000;
constexpr std::size_t kMessageCount = 64;
constexpr std::chrono::seconds kDrainLimit{30};

// Stands for an on-screen log that is set, as it is for the life of a host.
class QuietDelegate : public foundation::CVNLogControllerDelegate {};

std::array<std::string, kMessageCount> makeMessages() {
  std::array<std::string, kMessageCount> messages;
  for (std::size_t i = 0; i < kMessageCount; ++i) {
    messages[i] = "QueuePlayer: status of clip " + std::to_string(i) + " changed to Playing on output A";
  }
  return messages;
}

double nanosecondsPerCall(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double, std::nano>(elapsed).count() / kBatch;
}

void BM_TechnicalLogCallerCost(benchmark::State& state) {
  bench::TemporaryFolder folder("vz-bench");
  const auto messages = makeMessages();

  platform::UserDefaults defaults("");
  defaults.setObject(platform::Value(folder.path().string()), foundation::kTechnicalLogFolderPathKey);
  foundation::CVNLogController::Environment environment;
  environment.defaults = &defaults;
  environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
  environment.console = [](std::string_view) {};
  foundation::CVNLogController log(std::move(environment));
  QuietDelegate delegate;
  log.setLogDelegate(&delegate);

  auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>((folder.path() / "spdlog.log").string());
  auto spdLogger = std::make_shared<spdlog::async_logger>("bench", sink, pool, spdlog::async_overflow_policy::block);
  spdLogger->set_pattern("%Y-%m-%d\t%H:%M:%S\t%A\t\t%v");

  double logTotal = 0;
  double spdlogTotal = 0;
  std::size_t next = 0;
  for (auto _ : state) {
    const auto logStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) log.logMessage(messages[(next + i) % kMessageCount], 2, false);
    const auto logElapsed = std::chrono::steady_clock::now() - logStart;

    const auto spdlogStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) spdLogger->info(messages[(next + i) % kMessageCount]);
    const auto spdlogElapsed = std::chrono::steady_clock::now() - spdlogStart;
    next += kBatch;

    state.SetIterationTime(std::chrono::duration<double>(logElapsed).count());
    logTotal += nanosecondsPerCall(logElapsed);
    spdlogTotal += nanosecondsPerCall(spdlogElapsed);

    // Drain both writers outside the measured spans.
    if (!log.flush(kDrainLimit)) state.SkipWithError("technical log did not drain");
    const auto drainDeadline = std::chrono::steady_clock::now() + kDrainLimit;
    while (pool->queue_size() > 0 && std::chrono::steady_clock::now() < drainDeadline) std::this_thread::yield();
  }
  log.setLogDelegate(nullptr);

  const double iterations = static_cast<double>(state.iterations());
  if (iterations > 0 && spdlogTotal > 0) {
    state.counters["log_ns"] = logTotal / iterations;
    state.counters["spdlog_ns"] = spdlogTotal / iterations;
    state.counters["ratio"] = logTotal / spdlogTotal;
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_TechnicalLogCallerCost)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace
