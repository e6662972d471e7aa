#pragma once
// Helpers for the socket tests: a delegate that records what it is told, a
// scripted resolver, raw peer descriptors and a close() recorder.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/sockets/CVNSocket.h"
#include "platform/DispatchQueue.h"

namespace control_testing {

using control::Bytes;
using control::CVNSocket;

// Records every delegate call as a line ("read 7 hello"), keeps accepted
// sockets, and answers time-out questions from a script.
class RecordingDelegate : public control::CVNSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>&, const std::shared_ptr<CVNSocket>& newSocket) override;
  void socketDidConnectToHost(const std::shared_ptr<CVNSocket>&, const std::string& host, std::uint16_t port) override;
  void socketDidConnectToUrl(const std::shared_ptr<CVNSocket>&, const std::filesystem::path& url) override;
  void socketDidReadData(const std::shared_ptr<CVNSocket>&, const control::CVNSocketData& data, std::int64_t tag) override;
  void socketDidReadPartialDataOfLength(const std::shared_ptr<CVNSocket>&, std::size_t length, std::int64_t tag) override;
  std::optional<double> socketShouldTimeoutReadWithTag(const std::shared_ptr<CVNSocket>&, std::int64_t tag,
                                                       double elapsed, std::size_t bytesDone) override;
  void socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>&, std::int64_t tag) override;
  void socketDidCloseReadStream(const std::shared_ptr<CVNSocket>&) override;
  void socketDidDisconnect(const std::shared_ptr<CVNSocket>&, const std::optional<platform::Error>& error) override;
  void socketDidSecure(const std::shared_ptr<CVNSocket>&) override;
  bool handlesTrustEvaluation() const override { return trustAnswer.has_value(); }
  void socketDidReceiveTrust(const std::shared_ptr<CVNSocket>&, const std::shared_ptr<control::CVNSocketTrust>& trust,
                             std::function<void(bool)> completion) override;

  // Accepted sockets start TLS with these settings first.
  std::optional<platform::Dictionary> acceptTLS;
  // The answer to a manual trust question (none: the delegate does not judge).
  std::optional<bool> trustAnswer;
  // Echo mode: accepted sockets read whatever comes and write it back.
  bool echo = false;
  // Answers to read time-out questions, in order (then 0).
  std::deque<double> readExtensions;

  std::vector<std::string> events() const;
  bool has(const std::string& prefix) const;
  std::size_t count(const std::string& prefix) const;
  // Waits (real time, bounded generously for loaded machines) until an event starting with `prefix` is recorded.
  bool waitFor(const std::string& prefix, std::size_t occurrences = 1) const;
  std::optional<platform::Error> disconnectError() const;
  std::vector<std::shared_ptr<CVNSocket>> acceptedSockets() const;

 private:
  void record(std::string event);
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> events_;                       // guarded by mutex_
  std::optional<platform::Error> disconnectError_;         // guarded by mutex_
  std::vector<std::shared_ptr<CVNSocket>> accepted_;       // guarded by mutex_
};

// Answers every lookup with `addresses`, after `release()` when `blocking`.
class ScriptedResolver : public control::HostResolver {
 public:
  explicit ScriptedResolver(std::vector<Bytes> addresses, bool blocking = false)
      : addresses_(std::move(addresses)), blocking_(blocking) {}
  platform::Result<std::vector<Bytes>> resolve(const std::string& host, std::uint16_t port) override;
  void release();
  bool waitUntilAnswered() const;
  int calls() const { return calls_.load(); }

 private:
  std::vector<Bytes> addresses_;
  bool blocking_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool released_ = false;  // guarded by mutex_
  bool answered_ = false;  // guarded by mutex_
  std::atomic<int> calls_{0};
};

std::shared_ptr<platform::DispatchQueue> makeDelegateQueue();
// A connected pair: a socket wrapping one end and the raw other end.
struct SocketPair {
  SocketPair() = default;
  SocketPair(SocketPair&& other) noexcept : socket(std::move(other.socket)), peer(std::exchange(other.peer, -1)) {}
  SocketPair& operator=(SocketPair&& other) noexcept {
    std::swap(socket, other.socket);
    std::swap(peer, other.peer);
    return *this;
  }
  ~SocketPair();
  std::shared_ptr<CVNSocket> socket;
  int peer = -1;
};
SocketPair makeSocketPair(const std::shared_ptr<RecordingDelegate>& delegate,
                          const std::shared_ptr<platform::DispatchQueue>& queue);
void writeAll(int fd, std::string_view bytes);
// Reads until `count` bytes came or the peer closed (bounded by a poll limit).
std::string readExactly(int fd, std::size_t count);
// Runs an empty task on the socket queue and waits, so earlier tasks are done.
void flushSocketQueue(CVNSocket& socket);

// Descriptors closed by the socket library, and how many closes hit a
// descriptor that was not open (a double close).
struct CloseRecord {
  std::atomic<int> badCloses{0};
  std::atomic<int> closes{0};
};
CloseRecord& closeRecord();

}  // namespace control_testing
