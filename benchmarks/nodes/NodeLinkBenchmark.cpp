// The node link against the stand-in node on loopback:
// - command round trips per second through TelnetController (plain "version"
//   and the XML "pbstatus");
// - the time from a status change on the node, made at a random moment of
//   the 200 ms status period, to the connection delegate's status-change call
//   (about half the period on average, at most the whole period);
// - the CPU one process spends polling many nodes at the polling cadence
//   (40 ms tick, status every 5th), against the same process idle in the
//   same run: per cent of one core in all and per node, and the threads.
// Skipped when the stand-in binary is not built.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nodes/link/NodeConnection.h"
#include "nodes/link/TelnetController.h"
#include "platform/RunLoop.h"
#include "tests/nodes/NodeStandinProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kStatusPeriod =
    nodes::NodeConnection::kPollingTick * nodes::NodeConnection::kStatusPollTicks;

// A stand-in node with an empty media folder, for one benchmark.
struct StandinNode {
  std::filesystem::path media;
  testing_support::NodeStandinProcess process;
  std::string failure;

  StandinNode() {
    char pattern[] = "/tmp/nodelink-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      failure = "no temporary folder";
      return;
    }
    media = pattern;
    failure = process.start({"--media", media.string()});
  }
  ~StandinNode() {
    process.stop();
    std::error_code ignored;
    std::filesystem::remove_all(media, ignored);
  }
};

// A second client that changes the node's state with blocking writes.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // Sends a command and reads its plain reply (up to CR LF).
  std::string command(const std::string& text) {
    const std::string line = text + "\n\r";
    if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) return {};
    std::string reply;
    char chunk[256];
    while (reply.find("\r\n") == std::string::npos) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return {};
      reply.append(chunk, static_cast<std::size_t>(n));
    }
    return reply.substr(0, reply.find("\r\n"));
  }

 private:
  int fd_ = -1;
};

void BM_CommandRoundTrip(benchmark::State& state, const char* text, bool xml) {
  StandinNode node;
  if (!node.failure.empty()) {
    state.SkipWithError(node.failure.c_str());
    return;
  }
  nodes::TelnetController controller;
  controller.startConnectionWithHostAddress("127.0.0.1", node.process.port());
  const auto giveUpAt = Clock::now() + std::chrono::seconds(5);
  while (!controller.isConnected() && Clock::now() < giveUpAt) std::this_thread::yield();
  if (!controller.isConnected()) {
    state.SkipWithError("the link did not open");
    return;
  }
  std::int64_t answered = 0;
  for (auto _ : state) {
    auto command = std::make_shared<nodes::TelnetCommand>(text, 0, xml);
    controller.processCommandSynchronously(command);
    answered += command->hasResponse() ? 1 : 0;
  }
  state.counters["roundTripsPerSecond"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
  if (answered != state.iterations()) state.SkipWithError("a command went unanswered");
  controller.stopConnection();
  platform::RunLoop::main().runUntil([] { return true; }, std::chrono::milliseconds(100));
}
BENCHMARK_CAPTURE(BM_CommandRoundTrip, version_plain, "version", false)->UseRealTime();
BENCHMARK_CAPTURE(BM_CommandRoundTrip, pbstatus_xml, "pbstatus", true)->UseRealTime();

// Wakes the benchmark when the connection reports a status change.
class StatusWatcher : public nodes::NodeConnectionDelegate {
 public:
  void nodePlaybackStatusChanged(const platform::Dictionary& status, const nodes::NodeConnectionPtr&) override {
    std::lock_guard lock(mutex_);
    lastStatus_ = status.contains("status") ? status.at("status").stringOr("") : "";
    changedAt_ = Clock::now();
    ++changes_;
    changed_.notify_all();
  }
  // Waits (real time) for the change after `seen` changes to report `status`.
  bool waitFor(const std::string& status, Clock::time_point* at) {
    std::unique_lock lock(mutex_);
    const bool ok = changed_.wait_for(lock, std::chrono::seconds(3), [&] { return lastStatus_ == status; });
    *at = changedAt_;
    return ok;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string lastStatus_;          // guarded by mutex_
  Clock::time_point changedAt_{};   // guarded by mutex_
  int changes_ = 0;                 // guarded by mutex_
};

void BM_StatusChangeToDelegate(benchmark::State& state) {
  StandinNode node;
  if (!node.failure.empty()) {
    state.SkipWithError(node.failure.c_str());
    return;
  }
  auto watcher = std::make_shared<StatusWatcher>();
  auto connection = nodes::NodeConnection::create(watcher);
  connection->setAddress("127.0.0.1");
  connection->setPortNumber(std::to_string(node.process.port()));
  connection->startConnection();
  // The polling thread starts from the main thread (the link's open call).
  platform::RunLoop::main().runUntil([&] { return connection->isRunning(); }, std::chrono::seconds(5));
  RawClient operatorDesk(node.process.port());
  Clock::time_point ignored;
  if (!connection->isRunning() || !operatorDesk.ok() || !watcher->waitFor("NOT_INITIALIZED", &ignored)) {
    state.SkipWithError("the node did not come up");
    return;
  }
  bool initialized = false;
  double totalMs = 0, worstMs = 0;
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> moment(0, static_cast<int>(kStatusPeriod.count()) - 1);
  for (auto _ : state) {
    initialized = !initialized;
    // A change at a random moment of the status period, not right after a
    // report (which would always wait a whole period).
    std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
    if (operatorDesk.command(initialized ? "pbinitialize" : "pbclose") != "OK") {
      state.SkipWithError("the node refused the change");
      break;
    }
    const auto changedOnNode = Clock::now();
    Clock::time_point reported;
    if (!watcher->waitFor(initialized ? "STOPPED" : "NOT_INITIALIZED", &reported)) {
      state.SkipWithError("no status change was reported");
      break;
    }
    const double ms = std::chrono::duration<double, std::milli>(reported - changedOnNode).count();
    state.SetIterationTime(ms / 1000.0);
    totalMs += ms;
    worstMs = std::max(worstMs, ms);
  }
  state.counters["meanLatencyMs"] = totalMs / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
  state.counters["worstLatencyMs"] = worstMs;
  connection->stopConnection();
  platform::RunLoop::main().runUntil([] { return true; }, std::chrono::milliseconds(100));
}
BENCHMARK(BM_StatusChangeToDelegate)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

double processCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int threadCount() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Threads:")) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

// Per cent of one core the process spends over `window` while the main
// thread runs its loop, as the application's does.
double cpuPercentOver(std::chrono::milliseconds window) {
  const double before = processCpuSeconds();
  const auto start = Clock::now();
  platform::RunLoop::main().runUntil([] { return false; }, window);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (processCpuSeconds() - before) / wall * 100.0;
}

void BM_PollingCpu(benchmark::State& state) {
  const auto nodeCount = static_cast<std::size_t>(state.range(0));
  constexpr std::chrono::milliseconds kWindow{3000};
  StandinNode node;
  if (!node.failure.empty()) {
    state.SkipWithError(node.failure.c_str());
    return;
  }
  const int threadsBefore = threadCount();
  const double baseline = cpuPercentOver(kWindow);
  auto delegate = std::make_shared<nodes::NodeConnectionDelegate>();
  std::vector<std::shared_ptr<nodes::NodeConnection>> connections;
  for (std::size_t i = 0; i < nodeCount; ++i) {
    auto connection = nodes::NodeConnection::create(delegate);
    connection->setAddress("127.0.0.1");
    connection->setPortNumber(std::to_string(node.process.port()));
    connection->startConnection();
    connections.push_back(std::move(connection));
  }
  const auto allPolling = [&] {
    return std::all_of(connections.begin(), connections.end(),
                       [](const auto& c) { return c->isRunning() && c->pollingTickCount() > 0; });
  };
  if (!platform::RunLoop::main().runUntil(allPolling, std::chrono::seconds(20))) {
    state.SkipWithError("not every node came up");
    return;
  }
  double polling = 0;
  for (auto _ : state) polling = cpuPercentOver(kWindow);
  const double spent = std::max(0.0, polling - baseline);
  state.counters["cpuPercentOfOneCore"] = spent;
  state.counters["cpuPercentPerNode"] = spent / static_cast<double>(nodeCount);
  state.counters["baselineCpuPercent"] = baseline;
  state.counters["threadsForPolling"] = threadCount() - threadsBefore;
  for (const auto& connection : connections) connection->stopConnection();
  connections.clear();
  platform::RunLoop::main().runUntil([] { return true; }, std::chrono::milliseconds(100));
}
BENCHMARK(BM_PollingCpu)->Arg(64)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
