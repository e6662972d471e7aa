// The per-frame pixel pull of a queue player holding three clips with a
// transition between the first two: 100,000 steps, each timed, against a bare
// synchronous round trip on a serial queue in the same run (what every pull
// pays at least) and against the 20 ms frame at 50 fps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <vector>

#include "engine/queueplayer/CVNQueuePlayer.h"
#include "foundation/CVNLogController.h"
#include "platform/DispatchQueue.h"
#include "tests/engine/queueplayer/QueuePlayerFakes.h"
#include "tests/support/SilentNotificationCenter.h"

namespace {

using engine::queueplayer::CVNQueuePlayer;
using queueplayer_fakes::FakeScript;

constexpr int kSteps = 100000;
constexpr double kFrameSeconds = 0.020;

struct Timings {
  double meanSeconds;
  double p99Seconds;
};

Timings timeSteps(const std::function<void()>& step) {
  std::vector<double> seconds(kSteps);
  for (double& each : seconds) {
    const auto start = std::chrono::steady_clock::now();
    step();
    each = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double mean = std::accumulate(seconds.begin(), seconds.end(), 0.0) / kSteps;
  std::nth_element(seconds.begin(), seconds.begin() + kSteps * 99 / 100, seconds.end());
  return {mean, seconds[kSteps * 99 / 100]};
}

void BM_QueuePlayerPixelPull(benchmark::State& state) {
  foundation::CVNLogController::Environment environment;
  environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
  environment.console = [](std::string_view) {};
  foundation::CVNLogController log(std::move(environment));
  foundation::CVNLogController::setSharedLogControllerForTesting(&log);

  queueplayer_fakes::FakeDataSource source;
  // Long enough that the clips play through every step.
  for (const char* name : {"A", "B", "C"}) source.add(FakeScript{.name = name, .seconds = 3000.0});
  auto player = CVNQueuePlayer::create("Bench");
  player->setDataSource(&source);
  player->setOutputDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
      "1080p50", 1000, 50000, 1920, 1080, pluginframework::FieldDominance::Progressive));
  player->startPlayback();
  // The forced switch and the read-ahead settle over the first pulls.
  for (int settle = 0; settle < 5; ++settle) (void)player->nextPixelBuffer();
  auto transition = queueplayer_fakes::makeItem(
      {.name = "T", .seconds = 1.0, .transition = true, .previousMixPoint = 1.0, .nextMixPoint = 0.5});
  player->playerItemDelegateDispatchQueue()->sync([&] { player->insertItem(transition, 1); }, std::chrono::seconds(10));

  platform::SerialQueue peer("bench.roundTrip");
  Timings pull{};
  Timings roundTrip{};
  for (auto _ : state) {
    pull = timeSteps([&] { benchmark::DoNotOptimize(player->nextPixelBuffer()); });
    roundTrip = timeSteps([&] { peer.sync([] {}, std::chrono::seconds(10)); });
  }
  player.reset();
  foundation::CVNLogController::setSharedLogControllerForTesting(nullptr);

  state.counters["pull_mean_us"] = pull.meanSeconds * 1e6;
  state.counters["pull_p99_us"] = pull.p99Seconds * 1e6;
  state.counters["roundtrip_mean_us"] = roundTrip.meanSeconds * 1e6;
  state.counters["roundtrip_p99_us"] = roundTrip.p99Seconds * 1e6;
  state.counters["mean_vs_roundtrip"] = pull.meanSeconds / roundTrip.meanSeconds;
  state.counters["p99_vs_roundtrip"] = pull.p99Seconds / roundTrip.p99Seconds;
  state.counters["mean_share_of_20ms"] = pull.meanSeconds / kFrameSeconds;
  state.counters["p99_share_of_20ms"] = pull.p99Seconds / kFrameSeconds;
}

BENCHMARK(BM_QueuePlayerPixelPull)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
