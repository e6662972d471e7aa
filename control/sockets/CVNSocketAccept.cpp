// Listening and accepting.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "control/sockets/CVNSocket.h"
#include "control/sockets/CVNSocketInternal.h"
#include "platform/Diagnostics.h"
#include "platform/Reactor.h"
#include "platform/StrandQueue.h"

namespace control {
namespace {

constexpr int kListenBacklog = 1024;
// A listener event does not say how many connections wait: accept until
// EAGAIN, at most this many per event so one listener cannot hog its queue.
constexpr int kAcceptsPerEvent = 64;
// Out of descriptors: the listener rests this long (on the clock) instead of
// being woken for the same pending connection again and again.
constexpr std::chrono::milliseconds kDescriptorShortagePause{100};

// True when something listens on the Unix-domain socket at `path`. The probe
// never blocks: a listener with a full backlog (EAGAIN) is alive too.
bool unixSocketAnswers(const std::filesystem::path& path) {
  auto address = socket_addresses::unixAddress(path);
  if (!address) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool answers =
      ::connect(fd, reinterpret_cast<const sockaddr*>(address->data()), address->size()) == 0 || errno == EAGAIN;
  detail::closeDescriptor(fd);
  return answers;
}

}  // namespace

platform::Status CVNSocket::acceptChecks() const {
  if (!delegate_.lock()) return socket_errors::badConfigError("Attempting to accept without a delegate. Set a delegate first.");
  if (!delegateQueue_) {
    return socket_errors::badConfigError("Attempting to accept without a delegate queue. Set a delegate queue first.");
  }
  if (flags_ & kStarted) {
    return socket_errors::badConfigError("Attempting to accept while connected or accepting connections. Disconnect first.");
  }
  return platform::Status::success();
}

platform::Status CVNSocket::acceptOnPort(std::uint16_t port) { return acceptOnInterface({}, port); }

platform::Status CVNSocket::acceptOnInterface(const std::string& interface, std::uint16_t port) {
  platform::Status result;
  performBlock([&] {
    if (!delegate_.lock()) {
      result = socket_errors::badConfigError("Attempting to accept without a delegate. Set a delegate first.");
      return;
    }
    if (!delegateQueue_) {
      result = socket_errors::badConfigError("Attempting to accept without a delegate queue. Set a delegate queue first.");
      return;
    }
    const bool v4Disabled = config_ & kIPv4Disabled;
    const bool v6Disabled = config_ & kIPv6Disabled;
    if (v4Disabled && v6Disabled) {
      result = socket_errors::badConfigError("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
      return;
    }
    if (flags_ & kStarted) {
      result = socket_errors::badConfigError("Attempting to accept while connected or accepting connections. Disconnect first.");
      return;
    }
    readQueue_.clear();
    writeQueue_.clear();

    auto addresses = socket_addresses::interfaceAddresses(interface, port);
    if (!addresses.address4 && !addresses.address6) {
      result = socket_errors::badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    if (v4Disabled && !addresses.address6) {
      result = socket_errors::badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
      return;
    }
    if (v6Disabled && !addresses.address4) {
      result = socket_errors::badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
      return;
    }
    const bool use4 = !v4Disabled && addresses.address4;
    const bool use6 = !v6Disabled && addresses.address6;
    if (use4) {
      auto fd = createListener(AF_INET, *addresses.address4);
      if (!fd) {
        result = fd.error();
        return;
      }
      socket4FD_ = *fd;
    }
    if (use6) {
      if (use4 && socket_addresses::portFromAddress(*addresses.address6) == 0) {
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        ::getsockname(socket4FD_, reinterpret_cast<sockaddr*>(&bound), &length);
        socket_addresses::setPort(*addresses.address6, ntohs(bound.sin_port));
      }
      auto fd = createListener(AF_INET6, *addresses.address6);
      if (!fd) {
        detail::closeDescriptor(socket4FD_);
        socket4FD_ = -1;
        result = fd.error();
        return;
      }
      socket6FD_ = *fd;
    }
    if (socket4FD_ >= 0) startAcceptSource(socket4FD_, AF_INET);
    if (socket6FD_ >= 0) startAcceptSource(socket6FD_, AF_INET6);
    flags_ |= kStarted;
  });
  return result;
}

platform::Status CVNSocket::acceptOnUrl(const std::filesystem::path& path) {
  platform::Status result;
  performBlock([&] {
    if (auto checks = acceptChecks(); !checks) {
      result = checks;
      return;
    }
    readQueue_.clear();
    writeQueue_.clear();
    // A missing path is fine; a socket file is taken over only when nothing
    // answers on it (a stale one); any other file is never removed.
    struct stat info{};
    if (::lstat(path.c_str(), &info) == 0) {
      std::error_code removeError;
      if (!S_ISSOCK(info.st_mode) || unixSocketAnswers(path) || !std::filesystem::remove(path, removeError)) {
        result = socket_errors::otherError("Could not remove previous unix domain socket at given url.");
        return;
      }
    }
    auto address = socket_addresses::unixAddress(path);
    if (!address) {
      result = socket_errors::badParamError(
          "Invalid unix domain url. Specify a valid file url that does not exist (e.g. \"file:///tmp/socket\")");
      return;
    }
    auto fd = createListener(AF_UNIX, *address);
    if (!fd) {
      result = fd.error();
      return;
    }
    socketUN_ = *fd;
    socketUrl_ = path;
    startAcceptSource(socketUN_, AF_UNIX);
    flags_ |= kStarted;
  });
  return result;
}

platform::Result<int> CVNSocket::createListener(int domain, const Bytes& address) {
  int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return socket_errors::errorWithErrno(errno, "Error in socket() function");
  auto fail = [fd](const char* reason) {
    int error = errno;
    detail::closeDescriptor(fd);
    return socket_errors::errorWithErrno(error, reason);
  };
  if (!detail::setNonBlocking(fd)) return fail("Error enabling non-blocking IO on socket (fcntl)");
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    return fail("Error enabling address reuse (setsockopt)");
  }
  // Without it the IPv6 listener would claim the IPv4 port too and the second bind fail.
  if (domain == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
    return fail("Error enabling address reuse (setsockopt)");
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()), static_cast<socklen_t>(address.size())) != 0) {
    return fail("Error in bind() function");
  }
  if (::listen(fd, kListenBacklog) != 0) return fail("Error in listen() function");
  return fd;
}

void CVNSocket::startAcceptSource(int fd, int family) {
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  auto source = platform::IoSource::create(
      fd, platform::IoSource::Kind::Read, socketQueue_,
      [weak, fd, family](std::size_t) {
        auto self = weak.lock();
        if (!self) return;
        for (int i = 0; i < kAcceptsPerEvent; ++i) {
          if (!self->doAccept(fd, family)) break;
        }
      },
      [fd] { detail::closeDescriptor(fd); });
  if (!source) return;
  source->resume();
  (family == AF_INET ? accept4Source_ : family == AF_INET6 ? accept6Source_ : acceptUNSource_) = source;
}

bool CVNSocket::doAccept(int listenerFD, int family) {
  sockaddr_storage address{};
  socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_un);
  int fd = ::accept4(listenerFD, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE) pauseAcceptingAfterDescriptorShortage(family);
    return false;
  }
  acceptPaused_ = false;
  if (!delegateQueue_) {
    // Nobody to hand it to.
    detail::closeDescriptor(fd);
    return true;
  }
  const auto* p = reinterpret_cast<const std::uint8_t*>(&address);
  Bytes peer(p, p + std::min<std::size_t>(length, sizeof address));
  auto delegate = delegate_.lock();
  auto delegateQueue = delegateQueue_;
  std::shared_ptr<CVNSocket> listener = shared_from_this();
  // The descriptor is owned by this task until a socket takes it; a refused
  // task closes it through the guard.
  auto owned = std::shared_ptr<int>(new int(fd), [](int* d) {
    detail::closeDescriptor(*d);
    delete d;
  });
  delegateQueue->async([listener, delegate, delegateQueue, owned, peer, family] {
    QueuePtr queue = delegate ? delegate->newSocketQueueForConnectionFromAddress(peer, *listener) : nullptr;
    auto accepted = create(listener->delegate_, delegateQueue, queue);
    const int descriptor = std::exchange(*owned, -1);
    // Nobody else holds the new socket yet, so its fields can be set here;
    // everything after this happens on its queue.
    (family == AF_INET ? accepted->socket4FD_ : family == AF_INET6 ? accepted->socket6FD_ : accepted->socketUN_) =
        descriptor;
    accepted->flags_ = kStarted | kConnected;
    // Its sources too: they deliver on its queue, and the reads and writes
    // the delegate asks for below are queued there after this. Setting them
    // up in a task of their own cost every accepted connection one more trip
    // through the pool before its first byte could move.
    accepted->setupReadAndWriteSourcesForNewlyConnectedSocket(descriptor);
    if (delegate) delegate->socketDidAcceptNewSocket(listener, accepted);
  });
  return true;
}

void CVNSocket::pauseAcceptingAfterDescriptorShortage(int family) {
  auto& source = family == AF_INET ? accept4Source_ : family == AF_INET6 ? accept6Source_ : acceptUNSource_;
  if (!source) return;
  if (!acceptPaused_) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                               "CVNSocket: out of descriptors while accepting; pausing the listener");
  }
  acceptPaused_ = true;
  source->suspend();
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  std::weak_ptr<platform::IoSource> weakSource = source;
  socketQueue_->after(kDescriptorShortagePause, [weak, weakSource] {
    auto self = weak.lock();
    auto s = weakSource.lock();
    if (!self || !s) return;
    // Only a listener that then accepts again ends the episode (see doAccept).
    s->resume();
  });
}

}  // namespace control
