// Events from the host's track call to the log store (validation, session
// stamping, delegates) against plain logs enqueued straight into the unit, and
// targeted events with their Shared Schema mirror. The SDK writes under a
// temporary HOME; the log URL points at a closed local port, so nothing leaves.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "benchmarks/BenchmarkSupport.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/services/analytics/DRTLAnalytics.h"

namespace {

using telemetry::analytics::DRTLAnalytics;
using telemetry::core::DRTLDirAraded;

constexpr int kBatch = 100;

class Sdk {
 public:
  Sdk() : home_("analytics-bench") {
    setenv("HOME", home_.path().c_str(), 1);
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
      setenv(variable, home_.path().c_str(), 1);
    }
    telemetry::core::DRTLLogger::setLogHandler(nullptr);
    DRTLDirAraded::setLogUrl("http://127.0.0.1:9");
    DRTLDirAraded::start("bench-secret", {DRTLAnalytics::serviceClass});
  }
  static void drain() {
    DRTLDirAraded::sharedInstance()->channelGroup()->logsDispatchQueue()->sync([] {}, std::chrono::seconds(30));
  }

 private:
  bench::TemporaryFolder home_;
};

Sdk& sdk() {
  static Sdk instance;
  return instance;
}

const std::map<std::string, std::string> kProperties{{"clip", "news-at-nine"}, {"channel", "one"}};

void BM_TrackEvent(benchmark::State& state) {
  sdk();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      DRTLAnalytics::trackEvent("play", kProperties);
    }
    Sdk::drain();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_EnqueuePlainLog(benchmark::State& state) {
  sdk();
  auto unit = DRTLAnalytics::sharedInstance()->channelUnit();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      auto log = std::make_shared<telemetry::core::DRTLLogWithProperties>();
      log->type = "event";
      log->properties = kProperties;
      unit->enqueueItem(log, 1);
    }
    Sdk::drain();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_TrackTargetedEvent(benchmark::State& state) {
  sdk();
  auto target = DRTLAnalytics::transmissionTargetForToken("bench0003-0000-0000-0000-000000000003");
  target->propertyConfigurator().setAppVersion("1.0");
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      auto properties = std::make_shared<telemetry::analytics::DRTLEventProperties>();
      properties->setInt64(5, "a.b.c").setDouble(1.5, "n").setString("news", "clip");
      target->trackEventWithTypedProperties("play", properties);
    }
    Sdk::drain();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK(BM_TrackEvent)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_EnqueuePlainLog)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_TrackTargetedEvent)->MinTime(1.0)->UseRealTime();

}  // namespace
