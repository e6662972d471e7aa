#pragma once
// CVNSocket: the system's one stream socket (TCP over IPv4 and IPv6, or a
// Unix-domain socket). Every operation is asynchronous and carried out on the
// socket queue (a strand labelled "CVNSocket" unless the owner gives a queue);
// readiness comes from the process's reactor, so no socket owns a thread.
// Results reach the delegate as calls queued on the delegate queue.
//
// Made with create() and held by shared_ptr; handlers, timers and lookups hold
// it weakly. Public members are safe from any thread: queries, accept, connect,
// disconnect and performBlock run inline on the socket queue or wait for it;
// setters run inline there or are queued; reads, writes, startTLS and the
// disconnect-after requests are always queued. Every time limit (connect, read,
// write, the 0.3 s family delay) runs on platform::Clock.
//
// A descriptor is closed exactly once, by the socket: the cancel handler of
// its last source, or close directly when it has none.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "control/sockets/CVNSocketDelegate.h"
#include "control/sockets/CVNSocketPackets.h"
#include "control/sockets/CVNSocketTypes.h"
#include "control/sockets/SocketAddresses.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {
class IoSource;
}

namespace control {

class CVNSocket : public std::enable_shared_from_this<CVNSocket> {
 public:
  using QueuePtr = std::shared_ptr<platform::DispatchQueue>;
  using DelegatePtr = std::weak_ptr<CVNSocketDelegate>;

  static std::shared_ptr<CVNSocket> create(DelegatePtr delegate = {}, QueuePtr delegateQueue = nullptr,
                                           QueuePtr socketQueue = nullptr);
  // Wraps a descriptor that is already connected (IPv4 or IPv6); the socket owns it on success.
  static platform::Result<std::shared_ptr<CVNSocket>> socketFromConnectedSocketFD(int fd, DelegatePtr delegate,
                                                                                  QueuePtr delegateQueue,
                                                                                  QueuePtr socketQueue = nullptr);
  virtual ~CVNSocket();
  CVNSocket(const CVNSocket&) = delete;
  CVNSocket& operator=(const CVNSocket&) = delete;

  // Configuration.
  std::shared_ptr<CVNSocketDelegate> delegate() const;
  void setDelegate(DelegatePtr delegate);
  void synchronouslySetDelegate(DelegatePtr delegate);
  QueuePtr delegateQueue() const;
  void setDelegateQueue(QueuePtr queue);
  void synchronouslySetDelegateQueue(QueuePtr queue);
  void setDelegate(DelegatePtr delegate, QueuePtr queue);
  void synchronouslySetDelegate(DelegatePtr delegate, QueuePtr queue);
  bool isIPv4Enabled() const;
  void setIPv4Enabled(bool enabled);
  bool isIPv6Enabled() const;
  void setIPv6Enabled(bool enabled);
  bool isIPv4PreferredOverIPv6() const;
  void setIPv4PreferredOverIPv6(bool preferred);
  double alternateAddressDelay() const;
  void setAlternateAddressDelay(double seconds);
  std::shared_ptr<void> userData() const;
  void setUserData(std::shared_ptr<void> data);
  bool autoDisconnectOnClosedReadStream() const;
  void setAutoDisconnectOnClosedReadStream(bool enabled);
  // The resolver for connectToHost (the system's by default).
  void setHostResolver(std::shared_ptr<HostResolver> resolver);

  // Listening.
  platform::Status acceptOnPort(std::uint16_t port);
  platform::Status acceptOnInterface(const std::string& interface, std::uint16_t port);
  platform::Status acceptOnUrl(const std::filesystem::path& path);

  // Connecting; a negative time-out means none.
  platform::Status connectToHost(const std::string& host, std::uint16_t port, double timeout = -1,
                                 const std::string& interface = {});
  platform::Status connectToAddress(const Bytes& address, double timeout = -1, const std::string& interface = {});
  platform::Status connectToUrl(const std::filesystem::path& path, double timeout = -1);
  platform::Status connectToNetService(const std::vector<Bytes>& resolvedAddresses);

  // Disconnecting.
  void disconnect();
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();

  // State.
  bool isDisconnected() const;
  bool isConnected() const;
  std::string connectedHost() const;
  std::uint16_t connectedPort() const;
  std::optional<std::filesystem::path> connectedUrl() const;
  std::string localHost() const;
  std::uint16_t localPort() const;
  Bytes connectedAddress() const;
  Bytes localAddress() const;
  bool isIPv4() const;
  bool isIPv6() const;
  bool isSecure() const;
  // Generation counter of connect attempts (see the README).
  int stateIndex() const;

  // Runs `block` on the socket queue and waits for it (inline when already there).
  void performBlock(const std::function<void()>& block) const;
  // The descriptor (IPv4, else IPv6, else Unix-domain), -1 unless on the socket queue.
  int socketFD() const;
  int socket4FD() const;
  int socket6FD() const;
  // Platform queues never target one another, so no other queue can stand in
  // for the socket queue: these stay no-ops.
  void markSocketQueueTargetQueue(platform::DispatchQueue&) {}
  void unmarkSocketQueueTargetQueue(platform::DispatchQueue&) {}

  // Reads (dropped without notice when invalid, not started, or after a
  // disconnect-after request).
  void readDataWithTimeout(double timeout, std::int64_t tag);
  void readDataWithTimeout(double timeout, SharedBytes buffer, std::size_t offset, std::size_t maxLength,
                           std::int64_t tag);
  void readDataToLength(std::size_t length, double timeout, std::int64_t tag);
  void readDataToLength(std::size_t length, double timeout, SharedBytes buffer, std::size_t offset, std::int64_t tag);
  void readDataToData(const Bytes& terminator, double timeout, std::int64_t tag);
  void readDataToData(const Bytes& terminator, double timeout, std::size_t maxLength, std::int64_t tag);
  void readDataToData(const Bytes& terminator, double timeout, SharedBytes buffer, std::size_t offset,
                      std::size_t maxLength, std::int64_t tag);
  // Writes (empty data is ignored).
  void writeData(ConstBytes data, double timeout, std::int64_t tag);
  // Upgrades the stream to TLS where the queues stand now (see CVNSocketTLS.cpp
  // for the settings keys); dropped unless started and not yet queued.
  void startTLS(platform::Dictionary settings = {});

  struct Progress {
    float fraction = 0;
    std::int64_t tag = 0;
    std::size_t bytesDone = 0;
    std::size_t total = 0;
  };
  Progress progressOfReadReturningTag() const;
  Progress progressOfWriteReturningTag() const;

  static const Bytes& CRLFData();
  static const Bytes& CRData();
  static const Bytes& LFData();
  static const Bytes& ZeroData();

 protected:
  CVNSocket(DelegatePtr delegate, QueuePtr delegateQueue, QueuePtr socketQueue);

 private:
  using ReadEntry = std::variant<std::unique_ptr<CVNSocketReadPacket>, std::unique_ptr<CVNSocketSpecialPacket>>;
  using WriteEntry = std::variant<std::unique_ptr<CVNSocketWritePacket>, std::unique_ptr<CVNSocketSpecialPacket>>;

  enum Flag : std::uint32_t {
    kStarted = 1 << 0,
    kConnected = 1 << 1,
    kForbidReadsWrites = 1 << 2,
    kReadsPaused = 1 << 3,
    kWritesPaused = 1 << 4,
    kDisconnectAfterReads = 1 << 5,
    kDisconnectAfterWrites = 1 << 6,
    kSocketCanAcceptBytes = 1 << 7,
    kReadSourceSuspended = 1 << 8,
    kWriteSourceSuspended = 1 << 9,
    kQueuedTLS = 1 << 10,
    kStartingReadTLS = 1 << 11,
    kStartingWriteTLS = 1 << 12,
    kSocketSecure = 1 << 13,
    kReadEOF = 1 << 14,
    kReadStreamClosed = 1 << 15,
    kDeallocating = 1 << 16,
  };
  enum Config : std::uint16_t {
    kIPv4Disabled = 1 << 0,
    kIPv6Disabled = 1 << 1,
    kPreferIPv6 = 1 << 2,
    kAllowHalfDuplexConnection = 1 << 3,
  };

  // Queue discipline.
  bool onSocketQueue() const;
  template <typename T>
  T readOnQueue(const std::function<T()>& getter) const;
  void setOnQueue(std::function<void()> setter, bool synchronously);
  void async(std::function<void(CVNSocket&)> work);
  template <typename Call>
  void notifyDelegate(Call&& call);

  // Listening (CVNSocketAccept.cpp).
  platform::Result<int> createListener(int domain, const Bytes& address);
  void startAcceptSource(int fd, int family);
  bool doAccept(int listenerFD, int family);
  void pauseAcceptingAfterDescriptorShortage(int family);
  platform::Status acceptChecks() const;

  // Connecting (CVNSocketConnect.cpp).
  platform::Status preConnectWithInterface(const std::string& interface);
  void lookupDidSucceed(int index, std::optional<Bytes> address4, std::optional<Bytes> address6);
  void lookupDidFail(int index, platform::Error error);
  platform::Status connectWithAddress4(const std::optional<Bytes>& address4, const std::optional<Bytes>& address6);
  platform::Result<int> createSocket(int family, const std::optional<Bytes>& connectInterface);
  void connectSocket(int fd, Bytes address, int index);
  void connectFinished(int fd, int index, int error);
  void closeSocket(int fd);
  void didConnect(int index);
  void didNotConnect(int index, platform::Error error);
  void startConnectTimeout(double timeout);
  void endConnectTimeout();
  void doConnectTimeout();

  // Sources and closing (CVNSocket.cpp).
  void setupReadAndWriteSourcesForNewlyConnectedSocket(int fd);
  void suspendReadSource();
  void resumeReadSource();
  void suspendWriteSource();
  void resumeWriteSource();
  void closeWithError(std::optional<platform::Error> error);
  void maybeClose();
  int connectedFD() const;

  // Reading (CVNSocketReading.cpp).
  void queueRead(std::unique_ptr<CVNSocketReadPacket> packet);
  void maybeDequeueRead();
  void doReadData();
  void doReadEOF();
  void completeCurrentRead();
  void endCurrentRead();
  CVNSocketReadPacket* currentReadPacket() const;

  // Writing (CVNSocketWriting.cpp).
  void maybeDequeueWrite();
  void doWriteData();
  void completeCurrentWrite();
  void endCurrentWrite();
  bool delegateWantsWriteProgress(std::int64_t tag) const;
  CVNSocketWritePacket* currentWritePacket() const;

  // Read and write time-outs with the delegate's extensions (CVNSocketTimeouts.cpp).
  enum class PacketKind { Read, Write };
  void startPacketTimer(PacketKind kind, double timeout);
  void doPacketTimeout(PacketKind kind);
  void doPacketTimeoutWithExtension(PacketKind kind, double extension);

  // TLS (CVNSocketTLS.cpp).
  void maybeStartTLS();
  void sslFlushSSLBuffers();
  std::size_t sslBufferedBytes() const;
  bool sslHandshakeWouldBlock() const;
  void sslContinueHandshake();
  void sslReadIntoPacket(CVNSocketReadPacket& packet, std::size_t estimated, bool& done, bool& waiting, bool& eof,
                         std::optional<platform::Error>& error, std::size_t& totalBytesRead);
  void sslWritePacket(CVNSocketWritePacket& packet, std::size_t& written, bool& waiting,
                      std::optional<platform::Error>& error);
  std::optional<platform::Error> sslEndOfStreamError() const;
  void sslStartTLS();
  void sslSetUpFailed(std::string message);
  void sslTrustDecided(bool trusted, int stateIndex);
  void sslEndSession();
  // The TLS engine's I/O, on the socket's descriptor: a status (0, would-block
  // or closed-abort) and the count moved.
  int sslReadWithBuffer(std::uint8_t* buffer, std::size_t length, std::size_t& processed);
  int sslWriteWithBuffer(const std::uint8_t* buffer, std::size_t length, std::size_t& processed);
  friend struct TLSBridge;

  std::uint32_t flags_ = 0;
  std::uint16_t config_ = 0;
  DelegatePtr delegate_;
  QueuePtr delegateQueue_;
  int socket4FD_ = -1;
  int socket6FD_ = -1;
  int socketUN_ = -1;
  std::optional<std::filesystem::path> socketUrl_;
  int stateIndex_ = 0;
  std::optional<Bytes> connectInterface4_;
  std::optional<Bytes> connectInterface6_;
  std::optional<Bytes> connectInterfaceUN_;
  const QueuePtr socketQueue_;
  std::shared_ptr<platform::IoSource> accept4Source_;
  std::shared_ptr<platform::IoSource> accept6Source_;
  std::shared_ptr<platform::IoSource> acceptUNSource_;
  platform::TaskHandle connectTimer_;
  std::shared_ptr<platform::IoSource> connect4Source_;  // writability of a non-blocking connect
  std::shared_ptr<platform::IoSource> connect6Source_;
  platform::TaskHandle alternateConnect_;
  std::shared_ptr<platform::IoSource> readSource_;
  std::shared_ptr<platform::IoSource> writeSource_;
  platform::TaskHandle readTimer_;
  platform::TaskHandle writeTimer_;
  std::deque<ReadEntry> readQueue_;
  std::deque<WriteEntry> writeQueue_;
  std::optional<ReadEntry> currentRead_;
  std::optional<WriteEntry> currentWrite_;
  std::size_t socketFDBytesAvailable_ = 0;
  CVNSocketPreBuffer preBuffer_{4096};
  std::shared_ptr<void> userData_;
  double alternateAddressDelay_ = 0.3;
  std::shared_ptr<HostResolver> resolver_;
  bool acceptPaused_ = false;  // EMFILE/ENFILE episode in progress
  struct TLSSession;
  std::shared_ptr<TLSSession> tls_;  // from the start of the handshake to the close
};

template <typename T>
inline T CVNSocket::readOnQueue(const std::function<T()>& getter) const {
  if (onSocketQueue()) return getter();
  T value{};
  socketQueue_->sync([&] { value = getter(); }, std::chrono::seconds(60));
  return value;
}

template <typename Call>
inline void CVNSocket::notifyDelegate(Call&& call) {
  if (!delegateQueue_) return;
  auto delegate = delegate_.lock();
  if (!delegate) return;
  delegateQueue_->async([delegate, self = shared_from_this(), call = std::forward<Call>(call)] { call(*delegate, self); });
}

}  // namespace control
