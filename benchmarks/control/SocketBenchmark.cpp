// Loopback echo throughput (64 KiB writes) and accepts per second of
// CVNSocket, against a plain single-threaded epoll echo server written here,
// driven by the same blocking client in the same run. The counters
// "bytes_per_second" and "items_per_second" compare directly.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "benchmarks/control/SocketEchoServer.h"

namespace {

using namespace control_benchmarks;

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kChunksPerIteration = 512;  // 32 MiB each way

// The peer: one thread, epoll, non-blocking descriptors, a pending buffer per
// connection when the client reads slower than it writes.
class PlainEpollEchoServer {
 public:
  explicit PlainEpollEchoServer(bool greet) : greet_(greet) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 1024);
    socklen_t length = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    epoll_ = ::epoll_create1(0);
    stop_ = ::eventfd(0, EFD_NONBLOCK);
    add(listener_, EPOLLIN);
    add(stop_, EPOLLIN);
    thread_ = std::thread([this] { run(); });
  }
  ~PlainEpollEchoServer() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stop_, &one, sizeof one);
    thread_.join();
    for (auto& [fd, pending] : pending_) ::close(fd);
    ::close(listener_);
    ::close(stop_);
    ::close(epoll_);
  }
  std::uint16_t port() const { return port_; }

 private:
  void add(int fd, std::uint32_t events) {
    epoll_event e{};
    e.events = events;
    e.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e);
  }
  void run() {
    std::vector<char> buffer(1 << 20);
    epoll_event events[64];
    while (true) {
      int n = ::epoll_wait(epoll_, events, 64, 1000);
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == stop_) return;
        if (fd == listener_) {
          int c;
          while ((c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
            pending_[c];
            add(c, EPOLLIN | EPOLLOUT | EPOLLET);
            if (greet_) [[maybe_unused]] auto w = ::send(c, "!", 1, MSG_NOSIGNAL);
          }
          continue;
        }
        auto& pending = pending_[fd];
        bool closed = false;
        while (true) {
          if (!pending.empty()) {
            ssize_t w = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (w < 0) break;
            pending.erase(pending.begin(), pending.begin() + w);
            if (!pending.empty()) break;
          }
          ssize_t r = ::read(fd, buffer.data(), buffer.size());
          if (r == 0 || (r < 0 && errno != EAGAIN)) {
            closed = true;
            break;
          }
          if (r < 0) break;
          pending.insert(pending.end(), buffer.data(), buffer.data() + r);
        }
        if (closed) {
          pending_.erase(fd);
          ::close(fd);
        }
      }
    }
  }
  bool greet_;
  int listener_ = -1, epoll_ = -1, stop_ = -1;
  std::uint16_t port_ = 0;
  std::unordered_map<int, std::vector<char>> pending_;  // server thread only
  std::thread thread_;
};

// Streams kChunksPerIteration writes of 64 KiB from one thread and reads the
// echo on this one.
void streamEcho(benchmark::State& state, std::uint16_t port) {
  int fd = connectTo(port);
  if (fd < 0) {
    state.SkipWithError("connect failed");
    return;
  }
  std::vector<char> chunk(kChunk, 'x');
  std::vector<char> in(1 << 20);
  for (auto _ : state) {
    std::thread writer([&] {
      for (std::size_t i = 0; i < kChunksPerIteration; ++i) {
        std::size_t sent = 0;
        while (sent < kChunk) {
          ssize_t n = ::send(fd, chunk.data() + sent, kChunk - sent, MSG_NOSIGNAL);
          if (n <= 0) return;
          sent += static_cast<std::size_t>(n);
        }
      }
    });
    std::size_t received = 0;
    while (received < kChunk * kChunksPerIteration) {
      ssize_t n = ::read(fd, in.data(), in.size());
      if (n <= 0) break;
      received += static_cast<std::size_t>(n);
    }
    writer.join();
    if (received != kChunk * kChunksPerIteration) state.SkipWithError("short echo");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk * kChunksPerIteration));
  ::close(fd);
}

void acceptLoop(benchmark::State& state, std::uint16_t port) {
  for (auto _ : state) {
    int fd = connectTo(port);
    char greeting;
    if (fd < 0 || ::read(fd, &greeting, 1) != 1) {
      state.SkipWithError("no greeting");
      if (fd >= 0) ::close(fd);
      break;
    }
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}

// The same with kConcurrentClients clients at once: a throughput figure where
// the one above measures the latency of a single accept.
constexpr int kConcurrentClients = 4;
constexpr int kConnectsPerClient = 64;
void concurrentAcceptLoop(benchmark::State& state, std::uint16_t port) {
  std::atomic<bool> failed{false};
  for (auto _ : state) {
    std::vector<std::thread> clients;
    for (int c = 0; c < kConcurrentClients; ++c) {
      clients.emplace_back([&] {
        for (int i = 0; i < kConnectsPerClient && !failed; ++i) {
          int fd = connectTo(port);
          char greeting;
          if (fd < 0 || ::read(fd, &greeting, 1) != 1) failed = true;
          if (fd >= 0) ::close(fd);
        }
      });
    }
    for (auto& client : clients) client.join();
    if (failed) {
      state.SkipWithError("no greeting");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kConcurrentClients * kConnectsPerClient);
}

void BM_EchoThroughput_CVNSocket(benchmark::State& state) {
  SocketServer server(false);
  streamEcho(state, server.listener->localPort());
}
void BM_EchoThroughput_PlainEpoll(benchmark::State& state) {
  PlainEpollEchoServer server(false);
  streamEcho(state, server.port());
}
void BM_Accepts_CVNSocket(benchmark::State& state) {
  SocketServer server(true);
  acceptLoop(state, server.listener->localPort());
}
void BM_Accepts_PlainEpoll(benchmark::State& state) {
  PlainEpollEchoServer server(true);
  acceptLoop(state, server.port());
}

void BM_ConcurrentAccepts_CVNSocket(benchmark::State& state) {
  SocketServer server(true);
  concurrentAcceptLoop(state, server.listener->localPort());
}
void BM_ConcurrentAccepts_PlainEpoll(benchmark::State& state) {
  PlainEpollEchoServer server(true);
  concurrentAcceptLoop(state, server.port());
}

BENCHMARK(BM_EchoThroughput_CVNSocket)->UseRealTime()->MinTime(2);
BENCHMARK(BM_EchoThroughput_PlainEpoll)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Accepts_CVNSocket)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Accepts_PlainEpoll)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ConcurrentAccepts_CVNSocket)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ConcurrentAccepts_PlainEpoll)->UseRealTime()->MinTime(2);

}  // namespace
