// The TriCaster controller: state-feed messages handled per second (program
// changes with start and stop triggers, up to the delegate on the main
// thread, fed in reads as the socket delivers them) against pugixml parsing
// the same messages alone; and blocking
// requests per second with a Basic login against a loopback lighttpd, with
// `ab -A` on the same URL in the same run.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "benchmarks/BenchmarkSupport.h"
#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"
#include "control/switchers/TriCasterController.h"
#include "platform/RunLoop.h"
#include "tests/platform/network/LighttpdFixture.h"
#include "tests/support/ChildProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

class TriggerCounter : public control::TriCasterController_Delegate {
 public:
  void triCasterDidConnect(control::TriCasterController&) override {}
  void triCasterDidDisconnect(control::TriCasterController&) override {}
  void triCasterLabelOfInputAtIndex(std::int64_t, const std::string&, control::TriCasterController&) override {}
  void triCasterConfigurationDidChangeForDevice(control::TriCasterController&) override {}
  void triCasterSelectedInput(std::int32_t, std::int32_t, control::TriCasterController&) override {}
  void triCasterTriggeredPlaybackStartForDevice(control::TriCasterController&) override { ++triggers; }
  void triCasterTriggeredPlaybackStopForDevice(control::TriCasterController&) override { ++triggers; }
  int triggers = 0;
};

std::string programMessage(const char* input) {
  return std::string("<shortcut_states><shortcut_state name=\"main_a_row_named_input\" value=\"") + input +
         "\"/><shortcut_state name=\"main_b_row_named_input\" value=\"input1\"/></shortcut_states>";
}

void BM_TriCasterFeedMessages(benchmark::State& state) {
  platform::RunLoop::main().attachCurrentThread();
  bench::TemporaryFolder folder("tricaster-bench");
  std::ofstream(folder.path() / "switcher.xml")
      << "<switcher_update><inputs><physical_input physical_input_number=\"input1\"/>"
         "<simulated_input simulated_input_number=\"ddr1\"/></inputs></switcher_update>";
  std::ofstream(folder.path() / "tally.xml")
      << "<tally><column name=\"input1\" index=\"1\"/><column name=\"ddr1\" index=\"2\"/></tally>";
  std::string error;
  auto peer = testing_support::ChildProcess::start({"/usr/bin/python3", VZ_TRICASTER_PEER, folder.path().string()},
                                                   {}, &error);
  if (!peer || !peer->waitForOutput("\n", false, std::chrono::seconds(10))) {
    state.SkipWithError(("the stand-in switcher did not start: " + error).c_str());
    return;
  }
  int httpPort = 0;
  int feedPort = 0;
  std::istringstream(peer->standardOutput().substr(6)) >> httpPort >> feedPort;
  platform::Keychain keychain(folder.path() / "keychain.plist");
  control::TriCasterController controller(&keychain);
  TriggerCounter counter;
  controller.setDelegate(&counter);
  controller.setSwitcherIPAddress("127.0.0.1");
  controller.setSwitcherHTTPPort(httpPort);
  controller.setSwitcherPortNumber(feedPort);
  controller.setIdentifierOfClipPlayingInput("ddr1");
  controller.connect();
  if (!platform::RunLoop::main().runUntil([&] { return controller.isConnected().get(); }, std::chrono::seconds(10))) {
    state.SkipWithError("the controller did not connect");
    return;
  }
  const std::string messages[] = {programMessage("ddr1"), programMessage("input1")};
  constexpr int kMessages = 20000;
  // The feed as the socket hands it over: zero-terminated messages in reads of 4096 bytes.
  std::string stream;
  for (int i = 0; i < kMessages; ++i) stream += messages[i % 2] + std::string(1, '\0');
  constexpr std::size_t kReadSize = 4096;
  for (auto _ : state) {
    const int before = counter.triggers;
    const Clock::time_point start = Clock::now();
    for (std::size_t at = 0; at < stream.size(); at += kReadSize) {
      controller.feedDidReceive(std::string_view(stream).substr(at, kReadSize));
    }
    const double feedSeconds = seconds(Clock::now() - start);
    platform::RunLoop::main().runUntil([&] { return counter.triggers >= before + kMessages; },
                                       std::chrono::seconds(60));
    const double controllerSeconds = seconds(Clock::now() - start);

    const Clock::time_point parseStart = Clock::now();
    std::size_t nodes = 0;
    for (int i = 0; i < kMessages; ++i) {
      pugi::xml_document document;
      document.load_buffer(messages[i % 2].data(), messages[i % 2].size());
      nodes += static_cast<std::size_t>(document.first_child().type());
    }
    benchmark::DoNotOptimize(nodes);
    const double parseSeconds = seconds(Clock::now() - parseStart);
    state.counters["messages_per_s"] = kMessages / controllerSeconds;
    state.counters["pugixml_parses_per_s"] = kMessages / parseSeconds;
    state.counters["ratio_to_pugixml"] = parseSeconds / controllerSeconds;
    state.counters["triggers"] = counter.triggers - before;
    // The part spent before the main thread takes over (parse, lookups, console lines).
    state.counters["feed_side_share"] = feedSeconds / controllerSeconds;
  }
  controller.disconnect();
}
BENCHMARK(BM_TriCasterFeedMessages)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Requests per second `ab` reports for `url`, 0 when it fails.
double abRequestsPerSecond(const std::string& url, int requests, int concurrency) {
  const std::string command = "ab -q -A operator:right -n " + std::to_string(requests) + " -c " +
                              std::to_string(concurrency) + " '" + url + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return 0;
  double rate = 0;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) std::sscanf(line, "Requests per second: %lf", &rate);
  ::pclose(pipe);
  return rate;
}

void BM_TriCasterBasicRequests(benchmark::State& state) {
  testing_support::LighttpdFixture server;
  if (!server.ready()) {
    state.SkipWithError("lighttpd did not start");
    return;
  }
  const std::string url = server.url("/basic/index.txt");
  const int concurrency = static_cast<int>(state.range(0));
  constexpr int kRequests = 1000;
  control::CVNAuthenticatedURLSessionController controller;
  for (auto _ : state) {
    std::atomic<int> done{0};
    std::atomic<int> good{0};
    std::mutex lock;
    std::condition_variable finished;
    std::atomic<int> started{0};
    // `concurrency` requests in flight, as ab keeps them.
    std::function<void()> next = [&] {
      if (started.fetch_add(1) >= kRequests) return;
      controller.requestDataAtURL(url, "operator", "right", [&](platform::Result<platform::URLResponse> reply) {
        if (reply.ok() && reply.value().statusCode == 200) ++good;
        next();
        if (++done == kRequests) {
          std::lock_guard guard(lock);
          finished.notify_all();
        }
      });
    };
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < concurrency; ++i) next();
    {
      std::unique_lock guard(lock);
      finished.wait_for(guard, std::chrono::seconds(120), [&] { return done.load() >= kRequests; });
    }
    const double ours = done.load() / seconds(Clock::now() - start);
    const double ab = abRequestsPerSecond(url, kRequests, concurrency);
    state.counters["requests_per_s"] = ours;
    state.counters["ab_requests_per_s"] = ab;
    state.counters["ratio_to_ab"] = ab > 0 ? ours / ab : 0;
    state.counters["status_200"] = good.load();
  }
}
BENCHMARK(BM_TriCasterBasicRequests)->Arg(1)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
