// The GPI tally against the status poll: a raw client starts and stops the
// stand-in node's clip; each command's latency runs to the box's output
// write, through the real node connection, data source and application
// delegate. The poll period is the time between "pbstatus" requests, seen by
// a relay between the connection and the node in the same run. The tally
// can only follow the next poll, so p99 should stay within 1.1 periods.
// Skipped when the stand-in binary is not built.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/shell/ApplicationDelegate.h"
#include "app/shell/RegisteredDefaults.h"
#include "control/gpi/CVNTrelvaneController.h"
#include "nodes/link/DataSource.h"
#include "nodes/media/StaticNodeInfo.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/shell/ScriptedDocumentPanels.h"
#include "tests/control/gpi/FakeGPITransport.h"
#include "tests/nodes/NodeStandinProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCycles = 200;

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

// Sends one command line and waits for its plain reply.
bool command(int fd, const std::string& text) {
  const std::string line = text + "\n\r";
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) return false;
  std::string reply;
  char chunk[256];
  while (reply.find("\r\n") == std::string::npos) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    reply.append(chunk, static_cast<std::size_t>(n));
  }
  return reply.starts_with("OK");
}

// Passes one connection through to the node and stamps each "pbstatus" it carries.
class StatusPollRelay {
 public:
  explicit StatusPollRelay(int nodePort) : nodePort_(nodePort) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~StatusPollRelay() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  std::vector<Clock::time_point> polls() const {
    std::lock_guard guard(mutex_);
    return polls_;
  }

 private:
  void run() {
    pollfd accept{listener_, POLLIN, 0};
    while (!stop_ && ::poll(&accept, 1, 50) <= 0) {}
    if (stop_) return;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int node = connectTo(nodePort_);
    pollfd fds[2] = {{client, POLLIN, 0}, {node, POLLIN, 0}};
    std::string line;
    char buffer[65536];
    while (!stop_ && client >= 0 && node >= 0) {
      if (::poll(fds, 2, 50) <= 0) continue;
      if (fds[0].revents) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        stampPolls(line, std::string_view(buffer, static_cast<std::size_t>(n)));
        ::send(node, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
      }
      if (fds[1].revents) {
        const ssize_t n = ::recv(node, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        ::send(client, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
      }
    }
    if (client >= 0) ::close(client);
    if (node >= 0) ::close(node);
  }
  // Keeps only the start of the current line: enough to know its command word.
  void stampPolls(std::string& line, std::string_view bytes) {
    for (const char c : bytes) {
      if (c == '\n' || c == '\r') {
        if (line == "pbstatus") {
          std::lock_guard guard(mutex_);
          polls_.push_back(Clock::now());
        }
        line.clear();
      } else if (line.size() < 16) {
        line.push_back(c);
      }
    }
  }

  int nodePort_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> polls_;
};

// The box's first interface, stamping each output write.
class StampedTransport : public control::GPITransport {
 public:
  int interfaceNumber() const override { return 0; }
  int open(ReportHandler) override { return 0; }
  int setOutputReport(std::uint8_t, std::span<const std::uint8_t>) override {
    std::lock_guard guard(mutex_);
    writes_.push_back(Clock::now());
    return 0;
  }
  int getInputReport(std::uint8_t, std::vector<std::uint8_t>& report, std::size_t) override {
    report.assign(4, 0xFF);
    return 0;
  }
  void close() override {}
  // The first write at or after `since`, if any.
  std::optional<Clock::time_point> firstWriteSince(Clock::time_point since) const {
    std::lock_guard guard(mutex_);
    const auto found = std::lower_bound(writes_.begin(), writes_.end(), since);
    if (found == writes_.end()) return std::nullopt;
    return *found;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> writes_;
};

class BoxWatcher : public control::GPIBoxWatcher {
 public:
  void start(Events events) override { events_ = std::move(events); }
  Events events_;
};

class HeadlessApplication : public app::CorvaneApplication {
 public:
  void terminate() override {}
  bool hasModalWindow() const override { return false; }
};

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())))];
}

void BM_GpiTallyAgainstStatusPoll(benchmark::State& state) {
  platform::RunLoop::main().attachCurrentThread();
  testing_support::TemporaryDirectory folder;
  std::filesystem::create_directories(folder / "media");
  testing_support::NodeStandinProcess node;
  if (const std::string failure = node.start({"--media", (folder / "media").string(), "--uid", "BENCH-NODE"});
      !failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  const int client = connectTo(node.port());
  // An offline clip of 600 s: it plays through every cycle.
  const std::string clip =
      "pladditem <?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "<key>clipInfoPlaybackUniqueID</key><string>P1</string>\n"
      "<key>clipInfoHasInPoint</key><true/>\n<key>clipInfoInPointInSeconds</key><real>0</real>\n"
      "<key>clipInfoHasOutPoint</key><true/>\n<key>clipInfoOutPointInSeconds</key><real>600</real>\n"
      "</dict>\n</plist>";
  if (client < 0 || !command(client, "pbinitialize") || !command(client, clip)) {
    state.SkipWithError("the stand-in node refused the set-up");
    return;
  }

  StatusPollRelay relay(node.port());
  platform::UserDefaults defaults(folder / "defaults.plist");
  platform::ScopedStandardUserDefaultsOverride standardDefaults(defaults);
  app::ApplicationDelegate::initialize(defaults);
  defaults.setObject(platform::Value("BENCH-BOX"), app::kTrelvaneSerialNumberKey);
  defaults.setObject(platform::Value(1), app::kTrelvanePlayingOutputIndexKey);
  auto* watcher = new BoxWatcher;
  control::CVNTrelvaneController trelvane(std::unique_ptr<control::GPIBoxWatcher>(watcher),
                                          &platform::NotificationCenter::defaultCenter());
  HeadlessApplication application;
  app::ApplicationDelegate::Environment environment;
  environment.defaults = &defaults;
  environment.documentsFolder = folder / "Documents";
  environment.dataSourceFactory = [](const std::filesystem::path&, app::ApplicationDelegate&) {
    return nodes::DataSource::create();
  };
  environment.trelvaneController = &trelvane;
  app::ApplicationDelegate delegate(application, std::move(environment));
  delegate.awakeFromNib();
  delegate.setPlaylistWindowFactory(
      [](const std::shared_ptr<nodes::VideoPlaylistDocument>&) { return std::make_shared<app_testing::CountingWindow>(); });
  delegate.newDocument();
  delegate.applicationDidFinishLaunching();
  delegate.currentPlaylistDocument()->setNodeAUniqueID("BENCH-NODE");
  auto box = std::make_shared<StampedTransport>();
  watcher->events_.added(box, 1, "BENCH-BOX");
  watcher->events_.added(std::make_shared<control::FakeGPITransport>(1), 1, "BENCH-BOX");

  nodes::StaticNodeInfo info;
  info.setIpAdress("127.0.0.1");
  info.setPortNumber(std::to_string(relay.port()));
  delegate.dataSource()->addStaticNodeInfoInCache(info);
  const nodes::NodeConnectionPtr connection = delegate.dataSource()->nodes().back();
  connection->startConnection();
  platform::RunLoop::main().runUntil([&] { return relay.polls().size() >= 3; }, std::chrono::seconds(10));

  std::vector<double> latencies;
  bool missed = false;
  for (auto _ : state) {
    for (int cycle = 0; cycle < 2 * kCycles && !missed; ++cycle) {
      const Clock::time_point sent = Clock::now();
      if (!command(client, cycle % 2 == 0 ? "pbplay" : "pbstop")) missed = true;
      std::optional<Clock::time_point> written;
      platform::RunLoop::main().runUntil([&] { return (written = box->firstWriteSince(sent)).has_value(); },
                                         std::chrono::seconds(5));
      if (!written) {
        missed = true;
        break;
      }
      latencies.push_back(std::chrono::duration<double, std::milli>(*written - sent).count());
    }
  }
  const std::vector<Clock::time_point> polls = relay.polls();
  connection->stopConnection();
  platform::RunLoop::main().runFor(std::chrono::milliseconds(100));
  ::close(client);
  if (missed || latencies.empty() || polls.size() < 2) {
    state.SkipWithError("a command reached no output write");
    return;
  }
  const double periodMs =
      std::chrono::duration<double, std::milli>(polls.back() - polls.front()).count() / double(polls.size() - 1);
  const double p99 = percentile(latencies, 0.99);
  state.counters["commands"] = static_cast<double>(latencies.size());
  state.counters["median_ms"] = percentile(latencies, 0.5);
  state.counters["p99_ms"] = p99;
  state.counters["poll_period_ms"] = periodMs;
  state.counters["p99_to_period"] = p99 / periodMs;
}
BENCHMARK(BM_GpiTallyAgainstStatusPoll)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
