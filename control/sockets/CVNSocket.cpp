#include "control/sockets/CVNSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "control/sockets/CVNSocketInternal.h"
#include "platform/Reactor.h"
#include "platform/StrandQueue.h"

namespace control {

namespace detail {

bool setNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void closeDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace detail

namespace {

Bytes peerOrLocalAddress(int fd, bool peer) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  int result = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length)
                    : ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
  if (result != 0) return {};
  const auto* p = reinterpret_cast<const std::uint8_t*>(&storage);
  return Bytes(p, p + length);
}

}  // namespace

std::shared_ptr<CVNSocket> CVNSocket::create(DelegatePtr delegate, QueuePtr delegateQueue, QueuePtr socketQueue) {
  return std::shared_ptr<CVNSocket>(new CVNSocket(std::move(delegate), std::move(delegateQueue), std::move(socketQueue)));
}

CVNSocket::CVNSocket(DelegatePtr delegate, QueuePtr delegateQueue, QueuePtr socketQueue)
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue_(socketQueue ? std::move(socketQueue) : std::make_shared<platform::StrandQueue>("CVNSocket")),
      resolver_(HostResolver::system()) {}

CVNSocket::~CVNSocket() {
  // Nothing else can reach the socket any more (handlers hold it weakly and
  // fail to lock it now), so closing here cannot race with its queue.
  flags_ |= kDeallocating;
  closeWithError(std::nullopt);
}

platform::Result<std::shared_ptr<CVNSocket>> CVNSocket::socketFromConnectedSocketFD(int fd, DelegatePtr delegate,
                                                                                    QueuePtr delegateQueue,
                                                                                    QueuePtr socketQueue) {
  auto socket = create(std::move(delegate), std::move(delegateQueue), std::move(socketQueue));
  std::optional<platform::Error> error;
  socket->performBlock([&] {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      error = socket_errors::otherError("Attempt to create socket from socket FD failed. getpeername() failed");
      return;
    }
    if (address.ss_family == AF_INET) {
      socket->socket4FD_ = fd;
    } else if (address.ss_family == AF_INET6) {
      socket->socket6FD_ = fd;
    } else if (address.ss_family == AF_UNIX) {
      // A connected Unix-domain pair (socketpair) works like any other stream.
      socket->socketUN_ = fd;
    } else {
      error = socket_errors::otherError("Attempt to create socket from socket FD failed. socket FD is neither IPv4 nor IPv6");
      return;
    }
    socket->flags_ = kStarted;
    socket->didConnect(socket->stateIndex_);
  });
  if (error) return *error;
  return socket;
}

// --- queue discipline -------------------------------------------------------

bool CVNSocket::onSocketQueue() const { return socketQueue_->isCurrent(); }

void CVNSocket::performBlock(const std::function<void()>& block) const {
  if (onSocketQueue()) {
    block();
  } else {
    socketQueue_->sync(block, detail::kSocketQueueWait);
  }
}

void CVNSocket::setOnQueue(std::function<void()> setter, bool synchronously) {
  if (onSocketQueue()) {
    setter();
  } else if (synchronously) {
    socketQueue_->sync(setter, detail::kSocketQueueWait);
  } else {
    socketQueue_->async(std::move(setter));
  }
}

void CVNSocket::async(std::function<void(CVNSocket&)> work) {
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  socketQueue_->async([weak, work = std::move(work)] {
    if (auto self = weak.lock()) work(*self);
  });
}

// --- configuration ----------------------------------------------------------

std::shared_ptr<CVNSocketDelegate> CVNSocket::delegate() const {
  return readOnQueue<std::shared_ptr<CVNSocketDelegate>>([this] { return delegate_.lock(); });
}
void CVNSocket::setDelegate(DelegatePtr delegate) {
  setOnQueue([this, delegate] { delegate_ = delegate; }, false);
}
void CVNSocket::synchronouslySetDelegate(DelegatePtr delegate) {
  setOnQueue([this, delegate] { delegate_ = delegate; }, true);
}
CVNSocket::QueuePtr CVNSocket::delegateQueue() const {
  return readOnQueue<QueuePtr>([this] { return delegateQueue_; });
}
void CVNSocket::setDelegateQueue(QueuePtr queue) {
  setOnQueue([this, queue] { delegateQueue_ = queue; }, false);
}
void CVNSocket::synchronouslySetDelegateQueue(QueuePtr queue) {
  setOnQueue([this, queue] { delegateQueue_ = queue; }, true);
}
void CVNSocket::setDelegate(DelegatePtr delegate, QueuePtr queue) {
  setOnQueue([this, delegate, queue] { delegate_ = delegate, delegateQueue_ = queue; }, false);
}
void CVNSocket::synchronouslySetDelegate(DelegatePtr delegate, QueuePtr queue) {
  setOnQueue([this, delegate, queue] { delegate_ = delegate, delegateQueue_ = queue; }, true);
}
bool CVNSocket::isIPv4Enabled() const {
  return readOnQueue<bool>([this] { return !(config_ & kIPv4Disabled); });
}
void CVNSocket::setIPv4Enabled(bool enabled) {
  setOnQueue([this, enabled] { enabled ? config_ &= ~kIPv4Disabled : config_ |= kIPv4Disabled; }, false);
}
bool CVNSocket::isIPv6Enabled() const {
  return readOnQueue<bool>([this] { return !(config_ & kIPv6Disabled); });
}
void CVNSocket::setIPv6Enabled(bool enabled) {
  setOnQueue([this, enabled] { enabled ? config_ &= ~kIPv6Disabled : config_ |= kIPv6Disabled; }, false);
}
bool CVNSocket::isIPv4PreferredOverIPv6() const {
  return readOnQueue<bool>([this] { return !(config_ & kPreferIPv6); });
}
void CVNSocket::setIPv4PreferredOverIPv6(bool preferred) {
  setOnQueue([this, preferred] { preferred ? config_ &= ~kPreferIPv6 : config_ |= kPreferIPv6; }, false);
}
double CVNSocket::alternateAddressDelay() const {
  return readOnQueue<double>([this] { return alternateAddressDelay_; });
}
void CVNSocket::setAlternateAddressDelay(double seconds) {
  setOnQueue([this, seconds] { alternateAddressDelay_ = seconds; }, false);
}
std::shared_ptr<void> CVNSocket::userData() const {
  return readOnQueue<std::shared_ptr<void>>([this] { return userData_; });
}
void CVNSocket::setUserData(std::shared_ptr<void> data) {
  setOnQueue([this, data] { userData_ = data; }, false);
}
bool CVNSocket::autoDisconnectOnClosedReadStream() const {
  return readOnQueue<bool>([this] { return !(config_ & kAllowHalfDuplexConnection); });
}
void CVNSocket::setAutoDisconnectOnClosedReadStream(bool enabled) {
  setOnQueue(
      [this, enabled] { enabled ? config_ &= ~kAllowHalfDuplexConnection : config_ |= kAllowHalfDuplexConnection; },
      false);
}
void CVNSocket::setHostResolver(std::shared_ptr<HostResolver> resolver) {
  setOnQueue([this, resolver] { resolver_ = resolver ? resolver : HostResolver::system(); }, true);
}

// --- state ------------------------------------------------------------------

bool CVNSocket::isDisconnected() const {
  return readOnQueue<bool>([this] { return !(flags_ & kStarted); });
}
bool CVNSocket::isConnected() const {
  return readOnQueue<bool>([this] { return (flags_ & kConnected) != 0; });
}
std::string CVNSocket::connectedHost() const {
  return readOnQueue<std::string>([this] {
    int fd = socket4FD_ >= 0 ? socket4FD_ : socket6FD_;
    return fd >= 0 ? socket_addresses::hostFromAddress(peerOrLocalAddress(fd, true)) : std::string();
  });
}
std::uint16_t CVNSocket::connectedPort() const {
  return readOnQueue<std::uint16_t>([this] {
    int fd = socket4FD_ >= 0 ? socket4FD_ : socket6FD_;
    return fd >= 0 ? socket_addresses::portFromAddress(peerOrLocalAddress(fd, true)) : std::uint16_t{0};
  });
}
std::optional<std::filesystem::path> CVNSocket::connectedUrl() const {
  return readOnQueue<std::optional<std::filesystem::path>>([this]() -> std::optional<std::filesystem::path> {
    if (socketUN_ < 0) return std::nullopt;
    Bytes address = peerOrLocalAddress(socketUN_, true);
    return socket_addresses::pathFromUnixAddress(address, address.size());
  });
}
std::string CVNSocket::localHost() const {
  return readOnQueue<std::string>([this] {
    int fd = socket4FD_ >= 0 ? socket4FD_ : socket6FD_;
    return fd >= 0 ? socket_addresses::hostFromAddress(peerOrLocalAddress(fd, false)) : std::string();
  });
}
std::uint16_t CVNSocket::localPort() const {
  return readOnQueue<std::uint16_t>([this] {
    int fd = socket4FD_ >= 0 ? socket4FD_ : socket6FD_;
    return fd >= 0 ? socket_addresses::portFromAddress(peerOrLocalAddress(fd, false)) : std::uint16_t{0};
  });
}
Bytes CVNSocket::connectedAddress() const {
  return readOnQueue<Bytes>([this] {
    int fd = socket6FD_ >= 0 ? socket6FD_ : socket4FD_;
    return fd >= 0 ? peerOrLocalAddress(fd, true) : Bytes();
  });
}
Bytes CVNSocket::localAddress() const {
  return readOnQueue<Bytes>([this] {
    int fd = socket6FD_ >= 0 ? socket6FD_ : socket4FD_;
    return fd >= 0 ? peerOrLocalAddress(fd, false) : Bytes();
  });
}
bool CVNSocket::isIPv4() const {
  return readOnQueue<bool>([this] { return socket4FD_ >= 0; });
}
bool CVNSocket::isIPv6() const {
  return readOnQueue<bool>([this] { return socket6FD_ >= 0; });
}
bool CVNSocket::isSecure() const {
  return readOnQueue<bool>([this] { return (flags_ & kSocketSecure) != 0; });
}
int CVNSocket::stateIndex() const {
  return readOnQueue<int>([this] { return stateIndex_; });
}
int CVNSocket::socketFD() const {
  if (!onSocketQueue()) return -1;
  return socket4FD_ >= 0 ? socket4FD_ : socket6FD_;
}
int CVNSocket::socket4FD() const { return onSocketQueue() ? socket4FD_ : -1; }
int CVNSocket::socket6FD() const { return onSocketQueue() ? socket6FD_ : -1; }

int CVNSocket::connectedFD() const {
  if (socket4FD_ >= 0) return socket4FD_;
  if (socket6FD_ >= 0) return socket6FD_;
  return socketUN_;
}

const Bytes& CVNSocket::CRLFData() {
  static const Bytes bytes{0x0D, 0x0A};
  return bytes;
}
const Bytes& CVNSocket::CRData() {
  static const Bytes bytes{0x0D};
  return bytes;
}
const Bytes& CVNSocket::LFData() {
  static const Bytes bytes{0x0A};
  return bytes;
}
const Bytes& CVNSocket::ZeroData() {
  static const Bytes bytes{0x00};
  return bytes;
}

// --- sources and closing ----------------------------------------------------

void CVNSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int fd) {
  std::weak_ptr<CVNSocket> weak = weak_from_this();
  // The descriptor is closed once, after both sources were cancelled.
  auto remaining = std::make_shared<int>(2);
  auto closeAfterBoth = [remaining, fd] {
    if (--*remaining == 0) detail::closeDescriptor(fd);
  };
  readSource_ = platform::IoSource::create(
      fd, platform::IoSource::Kind::Read, socketQueue_,
      [weak](std::size_t available) {
        auto self = weak.lock();
        if (!self) return;
        self->socketFDBytesAvailable_ = available;
        if (available > 0) {
          self->doReadData();
        } else {
          self->doReadEOF();
        }
      },
      closeAfterBoth);
  writeSource_ = platform::IoSource::create(
      fd, platform::IoSource::Kind::Write, socketQueue_,
      [weak](std::size_t) {
        auto self = weak.lock();
        if (!self) return;
        self->flags_ |= kSocketCanAcceptBytes;
        self->doWriteData();
      },
      closeAfterBoth);
  socketFDBytesAvailable_ = 0;
  flags_ &= ~kReadSourceSuspended;
  flags_ |= kSocketCanAcceptBytes | kWriteSourceSuspended;
  // Last: an accepted socket is set up off its queue, whose events may run from here on.
  if (readSource_) readSource_->resume();
}

void CVNSocket::suspendReadSource() {
  if (!(flags_ & kReadSourceSuspended)) {
    if (readSource_) readSource_->suspend();
    flags_ |= kReadSourceSuspended;
  }
}
void CVNSocket::resumeReadSource() {
  if (flags_ & kReadSourceSuspended) {
    if (readSource_) readSource_->resume();
    flags_ &= ~kReadSourceSuspended;
  }
}
void CVNSocket::suspendWriteSource() {
  if (!(flags_ & kWriteSourceSuspended)) {
    if (writeSource_) writeSource_->suspend();
    flags_ |= kWriteSourceSuspended;
  }
}
void CVNSocket::resumeWriteSource() {
  if (flags_ & kWriteSourceSuspended) {
    if (writeSource_) writeSource_->resume();
    flags_ &= ~kWriteSourceSuspended;
  }
}

void CVNSocket::closeWithError(std::optional<platform::Error> error) {
  endConnectTimeout();
  if (currentRead_) endCurrentRead();
  if (currentWrite_) endCurrentWrite();
  readQueue_.clear();
  writeQueue_.clear();
  preBuffer_.reset();
  alternateConnect_.cancel();
  sslEndSession();

  // Connect attempts still waiting own their descriptors through their sources.
  for (auto* source : {&connect4Source_, &connect6Source_}) {
    if (*source) {
      (*source)->cancel();
      source->reset();
    }
  }
  const bool hadSources = accept4Source_ || accept6Source_ || acceptUNSource_ || readSource_ || writeSource_;
  if (hadSources) {
    for (auto* source : {&accept4Source_, &accept6Source_, &acceptUNSource_, &readSource_, &writeSource_}) {
      if (*source) {
        (*source)->cancel();
        source->reset();
      }
    }
    if (socketUN_ >= 0 && socketUrl_ && !(flags_ & kConnected)) {
      std::error_code ignored;
      std::filesystem::remove(*socketUrl_, ignored);
    }
  } else {
    for (int fd : {socket4FD_, socket6FD_, socketUN_}) detail::closeDescriptor(fd);
    if (socketUN_ >= 0 && socketUrl_) {
      std::error_code ignored;
      std::filesystem::remove(*socketUrl_, ignored);
    }
  }
  socket4FD_ = socket6FD_ = socketUN_ = -1;
  socketUrl_.reset();

  const bool wasStarted = flags_ & kStarted;
  const bool deallocating = flags_ & kDeallocating;
  socketFDBytesAvailable_ = 0;
  flags_ = 0;
  acceptPaused_ = false;

  if (wasStarted && delegateQueue_) {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    std::shared_ptr<CVNSocket> self = deallocating ? nullptr : shared_from_this();
    delegateQueue_->async([delegate, self, error] { delegate->socketDidDisconnect(self, error); });
  }
}

void CVNSocket::disconnect() {
  performBlock([this] {
    if (flags_ & kStarted) closeWithError(std::nullopt);
  });
}

void CVNSocket::disconnectAfterReading() {
  async([](CVNSocket& s) {
    if (!(s.flags_ & kStarted)) return;
    s.flags_ |= kForbidReadsWrites | kDisconnectAfterReads;
    s.maybeClose();
  });
}
void CVNSocket::disconnectAfterWriting() {
  async([](CVNSocket& s) {
    if (!(s.flags_ & kStarted)) return;
    s.flags_ |= kForbidReadsWrites | kDisconnectAfterWrites;
    s.maybeClose();
  });
}
void CVNSocket::disconnectAfterReadingAndWriting() {
  async([](CVNSocket& s) {
    if (!(s.flags_ & kStarted)) return;
    s.flags_ |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
    s.maybeClose();
  });
}

void CVNSocket::maybeClose() {
  bool shouldClose = false;
  const bool readsDone = readQueue_.empty() && !currentRead_;
  const bool writesDone = writeQueue_.empty() && !currentWrite_;
  if (flags_ & kDisconnectAfterReads) {
    shouldClose = readsDone && (!(flags_ & kDisconnectAfterWrites) || writesDone);
  } else if (flags_ & kDisconnectAfterWrites) {
    shouldClose = writesDone;
  }
  if (shouldClose) closeWithError(std::nullopt);
}

}  // namespace control
