// Notification posting throughput: one centre with eight observers (four for
// the posted name, two for every name, two for another name that the filter
// skips), posted from 1, 2 and 4 threads at once. items_per_second counts
// posts over all threads.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/NotificationCenter.h"

namespace platform {
namespace {

thread_local std::uint64_t deliveredOnThisThread = 0;

struct ObservedCenter {
  ObservedCenter() {
    auto count = [](const Notification&) { ++deliveredOnThisThread; };
    for (int i = 0; i < 4; ++i) tokens.push_back(center.addObserver("playbackStatusDidChange", nullptr, count));
    for (int i = 0; i < 2; ++i) tokens.push_back(center.addObserver("", nullptr, count));
    for (int i = 0; i < 2; ++i) tokens.push_back(center.addObserver("nodeDidConnect", nullptr, count));
  }

  NotificationCenter center;
  std::vector<ObserverToken> tokens;
};

ObservedCenter& observedCenter() {
  static ObservedCenter instance;
  return instance;
}

void BM_PostWithObservers(benchmark::State& state) {
  NotificationCenter& center = observedCenter().center;
  const Notification notification{"playbackStatusDidChange", nullptr, {}, Dictionary{{"status", Value("playing")}}};
  for (auto _ : state) {
    center.post(notification);
  }
  benchmark::DoNotOptimize(deliveredOnThisThread);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostWithObservers)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace
}  // namespace platform
