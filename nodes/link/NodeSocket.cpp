#include "nodes/link/NodeSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

namespace nodes::detail {

std::string describeErrno(int error) { return std::string(std::strerror(error)); }

platform::Result<std::vector<SocketAddress>> resolveHost(const std::string& host, int port) {
  if (host.empty() || port <= 0 || port > 65535) {
    return platform::Error(kNodeSocketErrorDomain, NodeSocketErrorCode::ResolveFailed,
                           "No address for \"" + host + "\" port " + std::to_string(port));
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (status != 0) {
    return platform::Error(kNodeSocketErrorDomain, NodeSocketErrorCode::ResolveFailed,
                           "Cannot resolve \"" + host + "\": " + gai_strerror(status));
  }
  std::vector<SocketAddress> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  if (addresses.empty()) {
    return platform::Error(kNodeSocketErrorDomain, NodeSocketErrorCode::ResolveFailed,
                           "No usable address for \"" + host + "\"");
  }
  return addresses;
}

NodeSocket::NodeSocket(int fd) : fd_(fd) {
  if (fd_ >= 0) {
    const int flags = fcntl(fd_, F_GETFL, 0);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  }
}

NodeSocket::~NodeSocket() { close(); }

NodeSocket::NodeSocket(NodeSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

NodeSocket& NodeSocket::operator=(NodeSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void NodeSocket::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

platform::Result<NodeSocket> NodeSocket::startConnect(const SocketAddress& address) {
  const int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return platform::Error(kNodeSocketErrorDomain, NodeSocketErrorCode::ConnectFailed,
                           "socket: " + describeErrno(errno));
  }
  NodeSocket socket(fd);
  // Commands are short and answered one at a time: send each at once.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 &&
      errno != EINPROGRESS) {
    return platform::Error(kNodeSocketErrorDomain, NodeSocketErrorCode::ConnectFailed,
                           "connect: " + describeErrno(errno));
  }
  return socket;
}

platform::Status NodeSocket::finishConnect() const {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) {
    return platform::Error(kNodeSocketErrorDomain, NodeSocketErrorCode::ConnectFailed,
                           "connect: " + describeErrno(error));
  }
  return platform::Status::success();
}

IoResult NodeSocket::readSome(char* buffer, std::size_t capacity) const {
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, capacity, 0);
    if (n > 0) return {IoOutcome::Progress, static_cast<std::size_t>(n), 0};
    if (n == 0) return {IoOutcome::Closed, 0, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoOutcome::WouldBlock, 0, 0};
    return {IoOutcome::Failed, 0, errno};
  }
}

IoResult NodeSocket::writeSome(std::string_view bytes) const {
  if (bytes.empty()) return {IoOutcome::Progress, 0, 0};
  for (;;) {
    // MSG_NOSIGNAL: a peer that went away is an error here, not a SIGPIPE.
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) return {IoOutcome::Progress, static_cast<std::size_t>(n), 0};
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {IoOutcome::WouldBlock, 0, 0};
    // A write that accepts nothing without saying why would repeat forever.
    return {IoOutcome::Failed, 0, n < 0 ? errno : EIO};
  }
}

WakeupEvent::WakeupEvent() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeupEvent::~WakeupEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeupEvent::signal() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing to do on failure.
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeupEvent::drain() {
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t read = ::read(fd_, &value, sizeof value);
}

}  // namespace nodes::detail
