// GPI output writes through the fake transport against the 100 writes/s the
// 10 ms spacing allows, the main thread's cost of setOutputState, and the
// time from a fake-driver tally event to the start trigger on the main thread.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "control/gpi/GPIDeviceController.h"
#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/ATEMSwitcherDriver.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/control/gpi/FakeGPITransport.h"
#include "tests/control/switchers/FakeSwitcherDriverLink.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

void BM_GpiOutputWrites(benchmark::State& state) {
  platform::RunLoop::main().attachCurrentThread();
  control::GPIDeviceController_Delegate delegate;
  for (auto _ : state) {
    auto interface0 = std::make_shared<control::FakeGPITransport>(0);
    auto interface1 = std::make_shared<control::FakeGPITransport>(1);
    interface0->setLevels(std::vector<std::uint8_t>(4, 0xFF));
    auto box = std::make_shared<control::GPIDeviceController>("BENCH", 1, &delegate);
    box->setDeviceRefForInterface0(interface0);
    box->setDeviceRefForInterface1(interface1);
    constexpr int kWrites = 100;
    Clock::duration mainThreadTime{};
    const Clock::time_point start = Clock::now();
    for (int write = 0; write < kWrites; ++write) {
      const Clock::time_point before = Clock::now();
      box->setOutputState(write % 2 == 0, write % control::GPIDeviceController::kOutputCount);
      mainThreadTime += Clock::now() - before;
    }
    platform::RunLoop::main().runUntil([&] { return interface0->sentCount() >= kWrites; },
                                       std::chrono::milliseconds(5000));
    const double elapsed = seconds(Clock::now() - start);
    state.counters["writes_per_s"] = static_cast<double>(interface0->sentCount()) / elapsed;
    state.counters["ratio_to_100_per_s"] = static_cast<double>(interface0->sentCount()) / elapsed / 100.0;
    state.counters["main_us_per_setOutputState"] = seconds(mainThreadTime) * 1e6 / kWrites;
    box->close();
  }
}
BENCHMARK(BM_GpiOutputWrites)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

class TriggerTimer : public control::ATEMDeviceController_Delegate {
 public:
  void ATEMDeviceDidConnect(control::ATEMDeviceController&) override {}
  void ATEMDeviceDidDisconnect(control::ATEMDeviceController&) override {}
  void ATEMLabelOfDownstreamKeyerAtIndex(std::int32_t, const std::string&, control::ATEMDeviceController&) override {}
  void ATEMLabelOfInputAtIndex(std::int32_t, const std::string&, control::ATEMDeviceController&) override {}
  void ATEMConfigurationDidChangeForDevice(control::ATEMDeviceController&) override {}
  void ATEMSelectedInput(std::int32_t, std::int32_t, control::ATEMDeviceController&) override {}
  void ATEMExternalAudioInputDidChangeState(bool, control::ATEMDeviceController&) override {}
  void ATEMDownstreamKeyerAtIndex(std::int32_t, bool, control::ATEMDeviceController&) override {}
  void ATEMTriggeredPlaybackStartForDevice(control::ATEMDeviceController&) override {
    startedAt = Clock::now();
    ++starts;
  }
  void ATEMTriggeredPlaybackStopForDevice(control::ATEMDeviceController&) override { ++stops; }

  Clock::time_point startedAt;
  int starts = 0;
  int stops = 0;
};

void BM_AtemTallyToStartTrigger(benchmark::State& state) {
  platform::RunLoop::main().attachCurrentThread();
  platform::UserDefaults::standard().setObject(platform::Value(std::string(VZ_FAKE_SWITCHER_DRIVER)),
                                               control::kATEMSwitcherSDKPathKey);
  auto& fake = testing_support::fakeSwitcher();
  fake.reset();
  fake.addInput(1, "Camera 1", atem::kPortTypeExternal);
  fake.addInput(2, "Clip Player", atem::kPortTypeExternal);
  TriggerTimer timer;
  control::ATEMDeviceController controller;
  controller.setDelegate(&timer);
  controller.setIndexOfClipPlayerInput(1);
  controller.setSwitcherIPAddress("127.0.0.1");
  controller.connect();
  platform::RunLoop::main().runUntil([&] { return controller.isConnected().get(); }, std::chrono::milliseconds(5000));

  std::vector<double> latencies;
  for (auto _ : state) {
    const int starts = timer.starts;
    const Clock::time_point raised = Clock::now();
    fake.setProgramTally(2, true);
    platform::RunLoop::main().runUntil([&] { return timer.starts > starts; }, std::chrono::milliseconds(1000));
    latencies.push_back(seconds(timer.startedAt - raised) * 1e6);
    state.SetIterationTime(seconds(timer.startedAt - raised));
    const int stops = timer.stops;
    fake.setProgramTally(2, false);
    platform::RunLoop::main().runUntil([&] { return timer.stops > stops; }, std::chrono::milliseconds(1000));
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  }
  controller.disconnect();
}
BENCHMARK(BM_AtemTallyToStartTrigger)->Iterations(500)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
