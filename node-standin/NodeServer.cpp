#include "node-standin/NodeServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "node-standin/ClientBuffer.h"
#include "node-standin/LineFramer.h"
#include "node-standin/LogRateLimiter.h"
#include "platform/Thread.h"

namespace standin {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kReadChunkBytes = 64 * 1024;
constexpr std::size_t kMaxPendingReplyBytes = 1024 * 1024;
constexpr std::size_t kMaxDrainedBytes = 64 * 1024 * 1024;
constexpr std::chrono::seconds kDrainLimit{2};
constexpr std::chrono::milliseconds kLongestPoll{1000};
constexpr int kListenBacklog = 64;

platform::Error serverError(NodeServerErrorCode code, std::string description) {
  return platform::Error(kNodeServerErrorDomain, code, std::move(description));
}

std::string errnoText(int error) { return std::strerror(error); }

// "192.0.2.1:5000", "[2001:db8::1]:5000".
std::string describeAddress(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
  }
  return "?";
}

std::uint16_t portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return 0;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Client {
  enum class State { Open = 1, Closing = 2, Draining = 3, Closed = 4 };

  Client(FileDescriptor socket, std::string peer, std::unique_ptr<LineSession> session, std::size_t maxLineBytes,
         platform::Clock::TimePoint firstCommandDeadline)
      : socket(std::move(socket)),
        peer(std::move(peer)),
        session(std::move(session)),
        framer(maxLineBytes),
        firstCommandDeadline(firstCommandDeadline) {}

  bool waitsForFirstCommand() const { return state == State::Open && !sentCommand; }

  std::size_t pendingBytes() const { return output.size() - sent; }

  FileDescriptor socket;
  std::string peer;
  std::unique_ptr<LineSession> session;
  LineFramer framer;
  ClientBuffer output;
  std::size_t sent = 0;
  State state = State::Open;
  bool inputEnded = false;
  SteadyClock::time_point drainDeadline;
  std::size_t drainedBytes = 0;
  platform::Clock::TimePoint firstCommandDeadline;
  bool sentCommand = false;
};

}  // namespace

struct NodeServer::Impl {
  Impl(LineSessionFactory& factory, Options options, LogFunction log)
      : factory(factory), options(options), logLimiter(std::move(log)) {}

  void run(const std::stop_token& stop);
  void acceptClients();
  bool turnAwayClient();
  void closeSilentClients();
  void publishCounts();
  void readFrom(Client& client);
  void service(Client& client);
  bool answerLines(Client& client);
  void flush(Client& client);
  void close(Client& client, const std::string& why);
  void wake();
  void log(const std::string& message) { logLimiter.log(message); }

  LineSessionFactory& factory;
  Options options;
  LogRateLimiter logLimiter;  // server thread once started
  FileDescriptor listener;
  FileDescriptor wakeEvent;
  FileDescriptor spareDescriptor;  // given up to turn a client away when no descriptor is left
  bool acceptPaused = false;       // not even that worked: accept again once a client leaves
  std::optional<platform::ClockObserver> clockObserver;  // wakes the loop when a test's clock moves
  std::atomic<std::size_t> clientCount{0};
  std::atomic<std::size_t> bufferedBytes{0};
  sockaddr_storage boundAddress{};
  std::vector<std::unique_ptr<Client>> clients;  // server thread only once started
  std::unique_ptr<platform::Thread> thread;
};

void NodeServer::Impl::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeEvent.get(), &one, sizeof one);
}

void NodeServer::Impl::close(Client& client, const std::string& why) {
  if (client.state == Client::State::Closed) return;
  if (!why.empty()) log("client " + client.peer + ": " + why);
  client.socket.reset();
  client.state = Client::State::Closed;
}

void NodeServer::Impl::acceptClients() {
  while (true) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    FileDescriptor socket(
        ::accept4(listener.get(), reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (socket.get() < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        if (turnAwayClient()) continue;
        return;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        log("accept failed: " + errnoText(errno));
      }
      return;
    }
    const std::string peer = describeAddress(address);
    const int on = 1;
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    log("client " + peer + ": connected");
    clients.push_back(std::make_unique<Client>(std::move(socket), peer, factory.newSession(peer),
                                               options.maxLineBytes,
                                               platform::Clock::current().now() + options.firstCommandLimit));
  }
}

// Out of file descriptors: the spare one makes room to accept the waiting
// client and close it at once, rather than leave it hanging in the backlog.
// True when one was turned away; when even that failed, accepting pauses
// until a client leaves.
bool NodeServer::Impl::turnAwayClient() {
  spareDescriptor.reset();
  const FileDescriptor socket(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  const int acceptError = socket.get() < 0 ? errno : 0;
  spareDescriptor = FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (socket.get() >= 0) log("turned a client away: no file descriptor left");
  if (spareDescriptor.get() < 0 || acceptError == EMFILE || acceptError == ENFILE) {
    acceptPaused = true;
    return false;
  }
  return socket.get() >= 0;
}

void NodeServer::Impl::closeSilentClients() {
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  for (const std::unique_ptr<Client>& client : clients) {
    if (client->waitsForFirstCommand() && now >= client->firstCommandDeadline) {
      close(*client, "closed, no command within " +
                         std::to_string(std::chrono::ceil<std::chrono::seconds>(options.firstCommandLimit).count()) +
                         " s");
    }
  }
}

void NodeServer::Impl::publishCounts() {
  std::size_t bytes = 0;
  for (const std::unique_ptr<Client>& client : clients) bytes += client->framer.pendingBytes() + client->pendingBytes();
  clientCount.store(clients.size());
  bufferedBytes.store(bytes);
}

// Answers complete lines until the replies waiting to be sent reach the cap.
// Returns true when it stopped because of the cap.
bool NodeServer::Impl::answerLines(Client& client) {
  while (client.state == Client::State::Open) {
    if (client.pendingBytes() >= kMaxPendingReplyBytes) return true;
    LineFramer::Next next = client.framer.next();
    switch (next.outcome) {
      case LineFramer::Outcome::Line:
        client.sentCommand = true;
        client.output += client.session->replyToLine(next.line);
        break;
      case LineFramer::Outcome::NeedMore:
        return false;
      case LineFramer::Outcome::TooLong:
        client.output += client.session->replyToOverlongLine();
        client.state = Client::State::Closing;
        return false;
    }
  }
  return false;
}

void NodeServer::Impl::flush(Client& client) {
  while (client.pendingBytes() > 0) {
    const ssize_t written = ::send(client.socket.get(), client.output.data() + client.sent, client.pendingBytes(),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      close(client, "closed (" + errnoText(errno) + ")");
      return;
    }
    client.sent += static_cast<std::size_t>(written);
  }
  clearClientBuffer(client.output);
  client.sent = 0;
  if (client.state == Client::State::Closing) {
    // The refusal is out: stop sending, and read what the client still sends
    // so that closing does not reset the link before the refusal arrives.
    ::shutdown(client.socket.get(), SHUT_WR);
    client.state = Client::State::Draining;
    client.drainDeadline = SteadyClock::now() + kDrainLimit;
  }
}

void NodeServer::Impl::service(Client& client) {
  while (true) {
    const bool stoppedAtCap = answerLines(client);
    flush(client);
    if (client.state == Client::State::Closed || !stoppedAtCap || client.pendingBytes() >= kMaxPendingReplyBytes) {
      break;
    }
  }
  if (client.state == Client::State::Open && client.inputEnded && client.pendingBytes() == 0) {
    close(client, "left");
  }
}

void NodeServer::Impl::readFrom(Client& client) {
  std::array<char, kReadChunkBytes> buffer;
  const ssize_t received = ::recv(client.socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
  if (received < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    close(client, "closed (" + errnoText(errno) + ")");
    return;
  }
  if (client.state == Client::State::Draining) {
    client.drainedBytes += static_cast<std::size_t>(received);
    if (received == 0 || client.drainedBytes > kMaxDrainedBytes) close(client, "");
    return;
  }
  if (received == 0) {
    client.inputEnded = true;
  } else {
    client.framer.append(std::string_view(buffer.data(), static_cast<std::size_t>(received)));
  }
  service(client);
}

void NodeServer::Impl::run(const std::stop_token& stop) {
  std::vector<pollfd> polled;
  while (!stop.stop_requested()) {
    polled.clear();
    polled.push_back({wakeEvent.get(), POLLIN, 0});
    polled.push_back({acceptPaused ? -1 : listener.get(), POLLIN, 0});
    auto timeout = kLongestPoll;
    const SteadyClock::time_point now = SteadyClock::now();
    const platform::Clock::TimePoint clockNow = platform::Clock::current().now();
    for (const std::unique_ptr<Client>& client : clients) {
      if (client->waitsForFirstCommand()) {
        timeout = std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(std::max(
                                        client->firstCommandDeadline - clockNow, platform::Clock::Duration::zero())));
      }
      short events = 0;
      switch (client->state) {
        case Client::State::Open:
          if (client->pendingBytes() < kMaxPendingReplyBytes && !client->inputEnded) events |= POLLIN;
          if (client->pendingBytes() > 0) events |= POLLOUT;
          break;
        case Client::State::Closing:
          events = POLLOUT;
          break;
        case Client::State::Draining:
          events = POLLIN;
          timeout = std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(
                                          std::max(client->drainDeadline - now, SteadyClock::duration::zero())));
          break;
        case Client::State::Closed:
          break;
      }
      polled.push_back({client->socket.get(), events, 0});
    }

    const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(timeout.count()));
    if (ready < 0 && errno != EINTR) {
      log("poll failed: " + errnoText(errno));
      break;
    }
    if (polled[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t read = ::read(wakeEvent.get(), &count, sizeof count);
    }
    // Clients accepted now are polled from the next turn on: the indexes
    // below cover only those polled in this one.
    const std::size_t polledClients = polled.size() - 2;
    if (polled[1].revents & POLLIN) acceptClients();

    const SteadyClock::time_point after = SteadyClock::now();
    for (std::size_t i = 0; i < polledClients; ++i) {
      Client& client = *clients[i];
      const short events = polled[i + 2].revents;
      if (client.state == Client::State::Closed) continue;
      if (events & (POLLIN | POLLHUP | POLLERR)) readFrom(client);
      if (client.state != Client::State::Closed && (events & POLLOUT)) service(client);
      if (client.state == Client::State::Draining && after >= client.drainDeadline) close(client, "");
    }
    closeSilentClients();
    if (std::erase_if(clients, [](const std::unique_ptr<Client>& client) {
          return client->state == Client::State::Closed;
        }) > 0) {
      acceptPaused = false;
    }
    publishCounts();
  }
  clients.clear();
  publishCounts();
}

NodeServer::NodeServer(LineSessionFactory& factory, Options options, LogFunction log)
    : impl_(std::make_unique<Impl>(factory, options, std::move(log))) {}

NodeServer::~NodeServer() { stop(); }

platform::Status NodeServer::start(const std::string& address, std::uint16_t port) {
  if (impl_->thread) return serverError(NodeServerErrorCode::AlreadyStarted, "the server runs already");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int result = ::getaddrinfo(address.empty() ? nullptr : address.c_str(), service.c_str(), &hints, &found);
      result != 0) {
    return serverError(NodeServerErrorCode::AddressUnusable, address + ": " + ::gai_strerror(result));
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, ::freeaddrinfo);

  std::string failure = "no usable address";
  for (const addrinfo* candidate = addresses.get(); candidate; candidate = candidate->ai_next) {
    FileDescriptor socket(
        ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, candidate->ai_protocol));
    if (socket.get() < 0) {
      failure = errnoText(errno);
      continue;
    }
    const int on = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(socket.get(), candidate->ai_addr, candidate->ai_addrlen) != 0 ||
        ::listen(socket.get(), kListenBacklog) != 0) {
      failure = errnoText(errno);
      continue;
    }
    socklen_t length = sizeof impl_->boundAddress;
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&impl_->boundAddress), &length);
    impl_->listener = std::move(socket);
    break;
  }
  if (impl_->listener.get() < 0) {
    return serverError(NodeServerErrorCode::ListenFailed,
                       "cannot listen on " + address + ":" + service + ": " + failure);
  }
  impl_->wakeEvent = FileDescriptor(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (impl_->wakeEvent.get() < 0) {
    impl_->listener.reset();
    return serverError(NodeServerErrorCode::ListenFailed, "no wake-up event: " + errnoText(errno));
  }
  impl_->spareDescriptor = FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  Impl* impl = impl_.get();
  impl_->clockObserver.emplace([impl](platform::ClockObserver::Event, platform::Clock&, platform::Clock&) {
    impl->wake();
  });
  impl_->thread = std::make_unique<platform::Thread>("com.dirarovazovo.standin.server",
                                                     [impl](std::stop_token stop) { impl->run(stop); });
  return platform::Status::success();
}

std::string NodeServer::listeningAddress() const { return describeAddress(impl_->boundAddress); }

std::uint16_t NodeServer::port() const { return portOf(impl_->boundAddress); }

void NodeServer::stop() {
  if (!impl_->thread) return;
  impl_->thread->requestStop();
  impl_->wake();
  impl_->thread.reset();  // joins
  impl_->clockObserver.reset();
  impl_->listener.reset();
  impl_->wakeEvent.reset();
  impl_->spareDescriptor.reset();
  impl_->acceptPaused = false;
}

std::size_t NodeServer::clientCountForTesting() const { return impl_->clientCount.load(); }

std::size_t NodeServer::bufferedBytesForTesting() const { return impl_->bufferedBytes.load(); }

}  // namespace standin
