// WebSocket echo on loopback: CVNClientWebSocket sends JSON text messages of a
// given size to a CVNServerWebSocket that echoes them, a batch at a time, and
// waits for every echo event. The peer, in the same run: the same payloads
// unframed, written and read back by a blocking client through the CVNSocket
// echo server of the socket benchmark. Sizes: 125 (messages per second),
// 65535 and 65536 (bytes per second).
#include <benchmark/benchmark.h>

#include <netinet/tcp.h>

#include <condition_variable>
#include <map>
#include <string>
#include <thread>

#include "benchmarks/control/SocketEchoServer.h"
#include "control/websocket/CVNClientWebSocket.h"
#include "control/websocket/CVNServerWebSocket.h"

namespace {

using namespace control_benchmarks;
using control::CVNClientWebSocket;
using control::CVNServerWebSocket;
using control::HTTPMessage;

constexpr int kBatch = 200;

// Small frames go out at once instead of waiting for the peer's delayed
// acknowledgement (the socket leaves Nagle's algorithm on, as the system
// does by default).
void sendWithoutDelay(CVNSocket& socket) {
  socket.performBlock([&] {
    int on = 1;
    ::setsockopt(socket.socketFD(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  });
}

class EchoWebSocket : public CVNServerWebSocket {
 public:
  static std::shared_ptr<EchoWebSocket> make(std::shared_ptr<CVNSocket> socket, HTTPMessage request) {
    auto ws = std::shared_ptr<EchoWebSocket>(new EchoWebSocket());
    adopt(ws, std::move(socket), std::move(request), {});
    return ws;
  }
  void handleReceivedData(const control::CVNSocketData& payload) override { sendData(payload.view()); }
};

// Reads each connection's upgrade request and hands the socket to an echoing WebSocket.
class UpgradeServer : public control::CVNSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>&, const std::shared_ptr<CVNSocket>& s) override {
    std::lock_guard guard(mutex_);
    requests_.insert_or_assign(s.get(), HTTPMessage::emptyRequest());
    sendWithoutDelay(*s);
    sockets_.push_back(s);
    s->readDataToData(CVNSocket::CRLFData(), 30, HTTPMessage::kMaxLineLength, 0);
  }
  void socketDidReadData(const std::shared_ptr<CVNSocket>& s, const control::CVNSocketData& data, std::int64_t) override {
    std::unique_lock lock(mutex_);
    HTTPMessage& request = requests_.at(s.get());
    if (request.appendHeaderLine(data.view()) == HTTPMessage::AppendResult::NeedMore) {
      s->readDataToData(CVNSocket::CRLFData(), 30, HTTPMessage::kMaxLineLength, 0);
      return;
    }
    auto ws = EchoWebSocket::make(s, request);
    webSockets_.push_back(ws);
    lock.unlock();
    ws->start();
  }

 private:
  std::mutex mutex_;
  std::map<CVNSocket*, HTTPMessage> requests_;
  std::vector<std::shared_ptr<CVNSocket>> sockets_;
  std::vector<std::shared_ptr<CVNServerWebSocket>> webSockets_;
};

class EventCounter : public control::CVNClientWebSocketDelegate {
 public:
  void socketDidOpen(CVNClientWebSocket&) override { bump(); }
  void socketDidClose(CVNClientWebSocket&) override {}
  void socketDidReceiveEvent(CVNClientWebSocket&, const nlohmann::json&) override { bump(); }
  bool waitFor(std::uint64_t count) {
    std::unique_lock lock(mutex_);
    target_ = count;
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return count_ >= count; });
  }
  std::uint64_t count() {
    std::lock_guard guard(mutex_);
    return count_;
  }

 private:
  // Wakes the waiter once its count is reached, not at every event: a wake-up
  // per message would measure this thread's context switches.
  void bump() {
    bool reached;
    {
      std::lock_guard guard(mutex_);
      reached = ++count_ >= target_;
    }
    if (reached) changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t count_ = 0;
  std::uint64_t target_ = 0;
};

// A JSON object of exactly `size` bytes (the client hands on objects only).
std::string messageOfSize(std::size_t size) { return "{\"p\":\"" + std::string(size - 8, 'x') + "\"}"; }

void BM_WebSocketEcho(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string message = messageOfSize(size);
  auto serverDelegate = std::make_shared<UpgradeServer>();
  auto serverQueue = std::make_shared<platform::SerialQueue>("bench.websocket.server");
  auto listener = CVNSocket::create(serverDelegate, serverQueue);
  if (!listener->acceptOnInterface("127.0.0.1", 0)) {
    state.SkipWithError("listen failed");
    return;
  }
  auto counter = std::make_shared<EventCounter>();
  auto client = CVNClientWebSocket::create("127.0.0.1", listener->localPort(), "echo");
  client->setAutomaticReconnection(false);
  client->setDelegate(counter);
  if (!client->connect() || !counter->waitFor(1)) {
    state.SkipWithError("no connection");
    listener->disconnect();
    return;
  }
  sendWithoutDelay(*client->socket());
  std::uint64_t expected = counter->count();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) client->sendData(message);
    expected += kBatch;
    if (!counter->waitFor(expected)) {
      state.SkipWithError("echo missing");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBatch * size));
  client->disconnect();
  listener->disconnect();
}

void BM_RawEcho(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  SocketServer server(false);
  int fd = connectTo(server.listener->localPort());
  if (fd < 0) {
    state.SkipWithError("connect failed");
    return;
  }
  const std::string batch(size * kBatch, 'x');
  std::vector<char> in(1 << 20);
  for (auto _ : state) {
    std::thread writer([&] {
      std::size_t sent = 0;
      while (sent < batch.size()) {
        const ssize_t n = ::send(fd, batch.data() + sent, batch.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
      }
    });
    std::size_t received = 0;
    while (received < batch.size()) {
      const ssize_t n = ::read(fd, in.data(), in.size());
      if (n <= 0) break;
      received += static_cast<std::size_t>(n);
    }
    writer.join();
    if (received != batch.size()) state.SkipWithError("short echo");
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * batch.size()));
  ::close(fd);
}

BENCHMARK(BM_WebSocketEcho)->Arg(125)->Arg(65535)->Arg(65536)->UseRealTime()->MinTime(2);
BENCHMARK(BM_RawEcho)->Arg(125)->Arg(65535)->Arg(65536)->UseRealTime()->MinTime(2);

}  // namespace
