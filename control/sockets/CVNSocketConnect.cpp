// Connecting: host lookup, the race of the two families, Unix-domain paths and
// the connect time-out. Every connect() is non-blocking and finishes on the
// socket queue (writability, then SO_ERROR), so a close or time-out can never
// meet a connect() still running elsewhere with the descriptor.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "control/sockets/CVNSocket.h"
#include "control/sockets/CVNSocketInternal.h"
#include "platform/Reactor.h"

namespace control {

platform::Status CVNSocket::preConnectWithInterface(const std::string& interface) {
  if (!delegate_.lock()) return socket_errors::badConfigError("Attempting to connect without a delegate. Set a delegate first.");
  if (!delegateQueue_) {
    return socket_errors::badConfigError("Attempting to connect without a delegate queue. Set a delegate queue first.");
  }
  if (flags_ & kStarted) {
    return socket_errors::badConfigError("Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  const bool v4Disabled = config_ & kIPv4Disabled;
  const bool v6Disabled = config_ & kIPv6Disabled;
  if (v4Disabled && v6Disabled) {
    return socket_errors::badConfigError("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  }
  if (!interface.empty()) {
    auto addresses = socket_addresses::interfaceAddresses(interface, 0);
    if (!addresses.address4 && !addresses.address6) {
      return socket_errors::badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    }
    if (v4Disabled && !addresses.address6) {
      return socket_errors::badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
    }
    if (v6Disabled && !addresses.address4) {
      return socket_errors::badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
    }
    connectInterface4_ = addresses.address4;
    connectInterface6_ = addresses.address6;
  }
  readQueue_.clear();
  writeQueue_.clear();
  return platform::Status::success();
}

platform::Status CVNSocket::connectToHost(const std::string& host, std::uint16_t port, double timeout,
                                          const std::string& interface) {
  platform::Status result;
  performBlock([&] {
    if (host.empty()) {
      result = socket_errors::badParamError(
          "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");
      return;
    }
    if (auto checks = preConnectWithInterface(interface); !checks) {
      result = checks;
      return;
    }
    flags_ |= kStarted;
    const int index = stateIndex_;
    std::weak_ptr<CVNSocket> weak = weak_from_this();
    std::shared_ptr<HostResolver> resolver = resolver_;
    platform::DispatchQueue::global().async([weak, index, host, port, resolver, queue = socketQueue_] {
      if (weak.expired()) return;
      auto addresses = socket_addresses::lookupHost(host, port, *resolver);
      queue->async([weak, index, addresses = std::move(addresses)]() mutable {
        auto self = weak.lock();
        if (!self) return;
        if (!addresses) {
          self->lookupDidFail(index, addresses.error());
          return;
        }
        std::optional<Bytes> address4, address6;
        for (const Bytes& a : *addresses) {
          if (!address4 && socket_addresses::isIPv4Address(a)) address4 = a;
          if (!address6 && socket_addresses::isIPv6Address(a)) address6 = a;
        }
        self->lookupDidSucceed(index, std::move(address4), std::move(address6));
      });
    });
    startConnectTimeout(timeout);
  });
  return result;
}

void CVNSocket::lookupDidSucceed(int index, std::optional<Bytes> address4, std::optional<Bytes> address6) {
  if (index != stateIndex_) return;
  if ((config_ & kIPv4Disabled) && !address6) {
    closeWithError(socket_errors::otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
    return;
  }
  if ((config_ & kIPv6Disabled) && !address4) {
    closeWithError(socket_errors::otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
    return;
  }
  // Addresses of a disabled family are not tried.
  if (config_ & kIPv4Disabled) address4.reset();
  if (config_ & kIPv6Disabled) address6.reset();
  if (auto status = connectWithAddress4(address4, address6); !status) closeWithError(status.error());
}

void CVNSocket::lookupDidFail(int index, platform::Error error) {
  if (index != stateIndex_) return;
  endConnectTimeout();
  closeWithError(std::move(error));
}

platform::Result<int> CVNSocket::createSocket(int family, const std::optional<Bytes>& connectInterface) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return socket_errors::errorWithErrno(errno, "Error in socket() function");
  if (connectInterface) {
    if (socket_addresses::portFromAddress(*connectInterface) != 0) {
      int on = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(connectInterface->data()),
               static_cast<socklen_t>(connectInterface->size())) != 0) {
      int error = errno;
      detail::closeDescriptor(fd);
      return socket_errors::errorWithErrno(error, "Error in bind() function");
    }
  }
  // Writes use MSG_NOSIGNAL; nothing to set per descriptor here.
  return fd;
}

platform::Status CVNSocket::connectWithAddress4(const std::optional<Bytes>& address4,
                                                const std::optional<Bytes>& address6) {
  if (address4) {
    auto fd = createSocket(AF_INET, connectInterface4_);
    if (!fd) return fd.error();
    socket4FD_ = *fd;
  }
  if (address6) {
    auto fd = createSocket(AF_INET6, connectInterface6_);
    if (!fd) {
      closeSocket(socket4FD_);
      return fd.error();
    }
    socket6FD_ = *fd;
  }
  if (socket4FD_ < 0 && socket6FD_ < 0) return socket_errors::badParamError("A valid IPv4 or IPv6 address was not given");
  const bool preferIPv6 = ((config_ & kPreferIPv6) && socket6FD_ >= 0) || socket4FD_ < 0;
  const int index = stateIndex_;
  connectSocket(preferIPv6 ? socket6FD_ : socket4FD_, preferIPv6 ? *address6 : *address4, index);
  const bool hasAlternate = preferIPv6 ? socket4FD_ >= 0 : socket6FD_ >= 0;
  if (hasAlternate) {
    const int alternateFD = preferIPv6 ? socket4FD_ : socket6FD_;
    Bytes alternate = preferIPv6 ? *address4 : *address6;
    std::weak_ptr<CVNSocket> weak = weak_from_this();
    alternateConnect_ = socketQueue_->after(detail::seconds(alternateAddressDelay_), [weak, alternateFD, alternate, index] {
      if (auto self = weak.lock()) {
        if (index == self->stateIndex_) self->connectSocket(alternateFD, alternate, index);
      }
    });
  }
  return platform::Status::success();
}

void CVNSocket::connectSocket(int fd, Bytes address, int index) {
  if (flags_ & kConnected) {
    closeSocket(fd);
    return;
  }
  if (fd != socket4FD_ && fd != socket6FD_) return;  // already given up
  int result = ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()), static_cast<socklen_t>(address.size()));
  if (result == 0 || errno != EINPROGRESS) {
    connectFinished(fd, index, result == 0 ? 0 : errno);
    return;
  }
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  auto source = platform::IoSource::create(
      fd, platform::IoSource::Kind::Write, socketQueue_,
      [weak, fd, index](std::size_t) {
        auto self = weak.lock();
        if (!self) return;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        auto& slot = fd == self->socket4FD_ ? self->connect4Source_ : self->connect6Source_;
        if (slot) {
          slot->cancel();
          slot.reset();
        }
        self->connectFinished(fd, index, error);
      },
      nullptr);
  if (!source) {
    connectFinished(fd, index, EBADF);
    return;
  }
  (fd == socket4FD_ ? connect4Source_ : connect6Source_) = source;
  source->resume();
}

void CVNSocket::connectFinished(int fd, int index, int error) {
  if (flags_ & kConnected) {
    closeSocket(fd);
    return;
  }
  if (index != stateIndex_) return;
  if (error != 0) {
    closeSocket(fd);
    // The other family may still succeed; only the last failure is reported.
    if (socket4FD_ < 0 && socket6FD_ < 0) didNotConnect(index, socket_errors::errorWithErrno(error, "Error in connect() function"));
    return;
  }
  // The loser's descriptor goes now.
  closeSocket(fd == socket4FD_ ? socket6FD_ : socket4FD_);
  alternateConnect_.cancel();
  didConnect(index);
}

void CVNSocket::closeSocket(int fd) {
  if (fd < 0) return;
  if (fd == socket4FD_ || fd == socket6FD_) {
    auto& source = fd == socket4FD_ ? connect4Source_ : connect6Source_;
    if (source) {
      source->cancel();
      source.reset();
    }
    detail::closeDescriptor(fd);
    (fd == socket4FD_ ? socket4FD_ : socket6FD_) = -1;
  }
}

platform::Status CVNSocket::connectToAddress(const Bytes& address, double timeout, const std::string& interface) {
  platform::Status result;
  performBlock([&] {
    std::optional<Bytes> address4, address6;
    if (address.size() == 28 && socket_addresses::isIPv6Address(address)) {
      address6 = address;
    } else if (address.size() == 16 && socket_addresses::isIPv4Address(address)) {
      address4 = address;
    } else {
      result = socket_errors::badParamError("A valid IPv4 or IPv6 address was not given");
      return;
    }
    if (address4 && (config_ & kIPv4Disabled)) {
      result = socket_errors::badParamError("IPv4 has been disabled and an IPv4 address was passed.");
      return;
    }
    if (address6 && (config_ & kIPv6Disabled)) {
      result = socket_errors::badParamError("IPv6 has been disabled and an IPv6 address was passed.");
      return;
    }
    if (auto checks = preConnectWithInterface(interface); !checks) {
      result = checks;
      return;
    }
    if (auto status = connectWithAddress4(address4, address6); !status) {
      result = status;
      return;
    }
    flags_ |= kStarted;
    startConnectTimeout(timeout);
  });
  return result;
}

platform::Status CVNSocket::connectToNetService(const std::vector<Bytes>& resolvedAddresses) {
  platform::Status last = socket_errors::badParamError("A valid IPv4 or IPv6 address was not given");
  for (const Bytes& address : resolvedAddresses) {
    last = connectToAddress(address);
    if (last) return last;
  }
  return last;
}

platform::Status CVNSocket::connectToUrl(const std::filesystem::path& path, double timeout) {
  platform::Status result;
  performBlock([&] {
    if (path.empty()) {
      result = socket_errors::badParamError("Invalid unix domain socket url.");
      return;
    }
    if (!delegate_.lock()) {
      result = socket_errors::badConfigError("Attempting to connect without a delegate. Set a delegate first.");
      return;
    }
    if (!delegateQueue_) {
      result = socket_errors::badConfigError("Attempting to connect without a delegate queue. Set a delegate queue first.");
      return;
    }
    if (flags_ & kStarted) {
      result = socket_errors::badConfigError(
          "Attempting to connect while connected or accepting connections. Disconnect first.");
      return;
    }
    auto address = socket_addresses::unixAddress(path);
    if (!address) {
      result = socket_errors::badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    connectInterfaceUN_ = address;
    readQueue_.clear();
    writeQueue_.clear();
    flags_ |= kStarted;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      closeWithError(socket_errors::errorWithErrno(errno, "Error in socket() function"));
      return;
    }
    socketUN_ = fd;
    const int index = stateIndex_;
    // A Unix-domain connect() finishes at once: connected, or refused (EAGAIN:
    // the listener's backlog is full, also a refusal).
    const int error = ::connect(fd, reinterpret_cast<const sockaddr*>(address->data()),
                                static_cast<socklen_t>(address->size())) == 0
                          ? 0
                          : errno;
    std::weak_ptr<CVNSocket> weak = weak_from_this();
    socketQueue_->async([weak, index, error] {
      auto self = weak.lock();
      if (!self) return;
      if (error == 0) {
        self->didConnect(index);
      } else {
        self->didNotConnect(index, socket_errors::errorWithErrno(error, "Error in connect() function"));
      }
    });
    startConnectTimeout(timeout);
  });
  return result;
}

void CVNSocket::didConnect(int index) {
  if (index != stateIndex_) return;
  flags_ |= kConnected;
  endConnectTimeout();
  const int fd = connectedFD();
  if (delegateQueue_) {
    if (auto delegate = delegate_.lock()) {
      auto self = shared_from_this();
      if (socket4FD_ >= 0 || socket6FD_ >= 0) {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&storage);
        const Bytes peer(p, p + length);
        const std::string host = socket_addresses::hostFromAddress(peer);
        const std::uint16_t port = socket_addresses::portFromAddress(peer);
        delegateQueue_->async([delegate, self, host, port] { delegate->socketDidConnectToHost(self, host, port); });
      } else if (socketUN_ >= 0) {
        sockaddr_un peer{};
        socklen_t length = sizeof peer;
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&peer);
        auto url = socket_addresses::pathFromUnixAddress(Bytes(p, p + sizeof peer), length);
        // An unnamed peer (one end of a socketpair) has no URL to tell.
        if (!url.empty()) delegateQueue_->async([delegate, self, url] { delegate->socketDidConnectToUrl(self, url); });
      }
    }
  }
  if (!detail::setNonBlocking(fd)) {
    closeWithError(socket_errors::otherError("Error enabling non-blocking IO on socket (fcntl)"));
    return;
  }
  setupReadAndWriteSourcesForNewlyConnectedSocket(fd);
  maybeDequeueRead();
  maybeDequeueWrite();
}

void CVNSocket::didNotConnect(int index, platform::Error error) {
  if (index != stateIndex_) return;
  closeWithError(std::move(error));
}

void CVNSocket::startConnectTimeout(double timeout) {
  if (timeout < 0) return;
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  connectTimer_ = socketQueue_->after(detail::seconds(timeout), [weak] {
    if (auto self = weak.lock()) self->doConnectTimeout();
  });
}

void CVNSocket::endConnectTimeout() {
  connectTimer_.cancel();
  connectTimer_ = {};
  ++stateIndex_;
  connectInterface4_.reset();
  connectInterface6_.reset();
}

void CVNSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(socket_errors::connectTimeoutError());
}

}  // namespace control
